#include "hashing/bloom_filter.h"

#include <cstring>
#include <typeinfo>

namespace tessul {

namespace {

bool isPairHash(const HashFn& function) {
  return dynamic_cast<const HashFn2Byte*>(&function) != nullptr;
}

}  // namespace

BloomFilter::HashKind BloomFilter::kindOf(const HashFn* functions, int count) {
  if (count == 1 && isPairHash(functions[0])) return HashKind::kPair;
  for (int i = 0; i < count; ++i) {
    if (typeid(functions[i]) != typeid(HashFn)) return HashKind::kAny;
  }
  return HashKind::kPolynomial;
}

BloomFilter::BloomFilter(unsigned int bitsPerItem,
                         unsigned int expectedItemCount,
                         const HashFn* hashFunctions, int hashFunctionCount)
    : hashFunctions(hashFunctions),
      rollingHashes(new uint64_t[hashFunctionCount]),
      hashFunctionCount(hashFunctionCount),
      byteCount(bitsPerItem * expectedItemCount / 8 + 1),
      bitCount(byteCount * 8),
      bits(new char[byteCount]()),
      modulo_(bitCount),
      kind_(kindOf(hashFunctions, hashFunctionCount)) {}

BloomFilter::BloomFilter(const char* source, int byteCount,
                         const HashFn* hashFunctions, int hashFunctionCount)
    : hashFunctions(hashFunctions),
      rollingHashes(new uint64_t[hashFunctionCount]),
      hashFunctionCount(hashFunctionCount),
      byteCount(byteCount),
      bitCount(this->byteCount * 8),
      bits(new char[byteCount]),
      modulo_(bitCount),
      kind_(kindOf(hashFunctions, hashFunctionCount)) {
  memcpy(bits, source, byteCount);
}

BloomFilter::~BloomFilter() {
  delete[] bits;
  delete[] rollingHashes;
}

void BloomFilter::add(const char* input, int len) {
  for (int i = 0; i < hashFunctionCount; ++i) {
    setBit(bitIndex(hash(i, input, len)));
  }
}

void BloomFilter::add(const char* input) { add(input, strlen(input)); }

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

bool BloomFilter::bitsSetFrom(int first, const char* input, int len) {
  for (int i = first; i < hashFunctionCount; ++i) {
    rollingHashes[i] = hash(i, input, len);
    if (!isBitSet(bitIndex(rollingHashes[i]))) return false;
  }
  return true;
}

// Only the first function's hash is rolled from window to window; the
// others are computed for the few windows whose first bit is set. The answer
// is the same as testing every function's bit of every window.
bool BloomFilter::substringExists(const char* data, int dataLength,
                                  int windowLength) {
  if (dataLength < windowLength) return false;
  if (hashFunctionCount == 0) return true;
  if (kind_ == HashKind::kPolynomial) {
    return substringExistsPolynomial(data, dataLength, windowLength);
  }
  const HashFn& roller = hashFunctions[0];
  uint64_t& hash = rollingHashes[0];
  unsigned char leaving = 0;
  for (int i = 0; i <= dataLength - windowLength; ++i) {
    hash = i == 0 ? roller(data, windowLength)
                  : roller(data + i, windowLength, leaving, hash);
    if (isBitSet(bitIndex(hash)) && bitsSetFrom(1, data + i, windowLength)) {
      return true;
    }
    leaving = static_cast<unsigned char>(data[i]);
  }
  return false;
}

// The same walk with the rolling arithmetic inline, the hash in a local and
// the bit index reduced without asking the kind for every window: most
// windows of a URL stop at their first bit.
bool BloomFilter::substringExistsPolynomial(const char* data, int dataLength,
                                            int windowLength) {
  const HashFn& roller = hashFunctions[0];
  const uint64_t weight = roller.leavingWeight(windowLength);
  const char* const lastWindow = data + (dataLength - windowLength);
  uint64_t hash = roller.polynomial(data, windowLength);
  for (const char* window = data;; ++window) {
    if (isBitSet(modulo_(hash)) && bitsSetFrom(1, window, windowLength)) {
      return true;
    }
    if (window == lastWindow) return false;
    hash = roller.roll(hash, static_cast<unsigned char>(window[0]),
                       static_cast<unsigned char>(window[windowLength]),
                       weight);
  }
}

bool BloomFilter::substringExists(const char* data, int windowLength) {
  return substringExists(data, strlen(data), windowLength);
}

void BloomFilter::clear() { memset(bits, 0, byteCount); }

}  // namespace tessul
