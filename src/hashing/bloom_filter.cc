#include "hashing/bloom_filter.h"

#include <cstring>

namespace tessul {

BloomFilter::BloomFilter(unsigned int bitsPerItem,
                         unsigned int expectedItemCount,
                         const HashFn* hashFunctions, int hashFunctionCount)
    : hashFunctions(hashFunctions),
      rollingHashes(new uint64_t[hashFunctionCount]),
      hashFunctionCount(hashFunctionCount),
      byteCount(bitsPerItem * expectedItemCount / 8 + 1),
      bitCount(byteCount * 8),
      bits(new char[byteCount]()) {}

BloomFilter::BloomFilter(const char* source, int byteCount,
                         const HashFn* hashFunctions, int hashFunctionCount)
    : hashFunctions(hashFunctions),
      rollingHashes(new uint64_t[hashFunctionCount]),
      hashFunctionCount(hashFunctionCount),
      byteCount(byteCount),
      bitCount(this->byteCount * 8),
      bits(new char[byteCount]) {
  memcpy(bits, source, byteCount);
}

BloomFilter::~BloomFilter() {
  delete[] bits;
  delete[] rollingHashes;
}

void BloomFilter::setBit(unsigned int k) {
  bits[k / 8] = static_cast<char>(bits[k / 8] | (1 << (k % 8)));
}

bool BloomFilter::isBitSet(unsigned int k) const {
  return (bits[k / 8] & (1 << (k % 8))) != 0;
}

void BloomFilter::add(const char* input, int len) {
  for (int i = 0; i < hashFunctionCount; ++i) {
    setBit(bitIndex(hashFunctions[i](input, len)));
  }
}

void BloomFilter::add(const char* input) { add(input, strlen(input)); }

bool BloomFilter::exists(const char* input, int len) const {
  for (int i = 0; i < hashFunctionCount; ++i) {
    if (!isBitSet(bitIndex(hashFunctions[i](input, len)))) return false;
  }
  return true;
}

bool BloomFilter::exists(const char* input) const {
  return exists(input, strlen(input));
}

void BloomFilter::getHashesForCharCodes(const char* input, int len,
                                        const uint64_t* previousHashes,
                                        uint64_t* windowHashes,
                                        unsigned char leavingByte) const {
  for (int i = 0; i < hashFunctionCount; ++i) {
    windowHashes[i] = previousHashes == nullptr
                          ? hashFunctions[i](input, len)
                          : hashFunctions[i](input, len, leavingByte,
                                             previousHashes[i]);
  }
}

bool BloomFilter::allBitsSet(const uint64_t* hashes) const {
  for (int i = 0; i < hashFunctionCount; ++i) {
    if (!isBitSet(bitIndex(hashes[i]))) return false;
  }
  return true;
}

bool BloomFilter::substringExists(const char* data, int dataLength,
                                  int windowLength) {
  unsigned char leaving = 0;
  for (int i = 0; i <= dataLength - windowLength; ++i) {
    getHashesForCharCodes(data + i, windowLength,
                          i == 0 ? nullptr : rollingHashes, rollingHashes,
                          leaving);
    if (allBitsSet(rollingHashes)) return true;
    leaving = static_cast<unsigned char>(data[i]);
  }
  return false;
}

bool BloomFilter::substringExists(const char* data, int windowLength) {
  return substringExists(data, strlen(data), windowLength);
}

void BloomFilter::clear() { memset(bits, 0, byteCount); }

}  // namespace tessul
