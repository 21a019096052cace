// A fixed-size Bloom filter over byte strings that can also tell, in one
// rolling pass, whether any window of a longer string may have been added.
#ifndef TESSUL_HASHING_BLOOM_FILTER_H_
#define TESSUL_HASHING_BLOOM_FILTER_H_

#include <cstdint>

#include "hashing/fast_modulo.h"
#include "hashing/hash_fn.h"

namespace tessul {

// Bit k lives in byte k / 8 under the mask 1 << (k % 8). Engine images store
// the bytes in exactly this layout.
//
// Not thread-safe for writers: substringExists() uses the scratch array
// `rollingHashes`, so it must not overlap any other call on the same filter.
class BloomFilter {
 public:
  // An empty filter of (bitsPerItem * expectedItemCount) / 8 + 1 bytes,
  // computed in 32-bit unsigned arithmetic. `hashFunctions` is borrowed and
  // must outlive the filter; the first `hashFunctionCount` are used.
  BloomFilter(unsigned int bitsPerItem, unsigned int expectedItemCount,
              const HashFn* hashFunctions, int hashFunctionCount);
  // A filter whose bits are a copy of `byteCount` (at least 1) bytes.
  BloomFilter(const char* source, int byteCount, const HashFn* hashFunctions,
              int hashFunctionCount);
  virtual ~BloomFilter();

  BloomFilter(const BloomFilter&) = delete;
  BloomFilter& operator=(const BloomFilter&) = delete;

  // `k` must be below bitCount.
  void setBit(unsigned int k) {
    bits[k / 8] = static_cast<char>(bits[k / 8] | (1 << (k % 8)));
  }
  bool isBitSet(unsigned int k) const {
    return (bits[k / 8] & (1 << (k % 8))) != 0;
  }

  void add(const char* input, int len);
  void add(const char* input);  // NUL-terminated
  // False when the string was certainly never added.
  bool exists(const char* input, int len) const {
    for (int i = 0; i < hashFunctionCount; ++i) {
      if (!isBitSet(bitIndex(hash(i, input, len)))) return false;
    }
    return true;
  }
  bool exists(const char* input) const;  // NUL-terminated

  // One hash per function into windowHashes: string form when
  // previousHashes is null, else rolled from previousHashes (which may be
  // windowHashes itself).
  void getHashesForCharCodes(const char* input, int len,
                             const uint64_t* previousHashes,
                             uint64_t* windowHashes,
                             unsigned char leavingByte) const;

  // Whether any window of `windowLength` (at least 1) bytes of `data` may
  // have been added. Stops at the first window whose bits are all set.
  bool substringExists(const char* data, int dataLength, int windowLength);
  bool substringExists(const char* data, int windowLength);  // NUL-terminated

  // Zeroes every bit; the size stays.
  void clear();

  const HashFn* hashFunctions;  // borrowed
  uint64_t* rollingHashes;      // scratch of substringExists, one per function
  int hashFunctionCount;
  uint32_t byteCount;
  uint32_t bitCount;            // byteCount * 8
  char* bits;

 private:
  uint32_t bitIndex(uint64_t hash) const {
    return kind_ == HashKind::kPair ? modulo_.ofSmall(static_cast<uint32_t>(hash))
                                    : modulo_(hash);
  }
  uint64_t hash(int function, const char* input, int len) const {
    switch (kind_) {
      case HashKind::kPair:
        return static_cast<unsigned char>(input[0]) +
               256u * static_cast<unsigned char>(input[1]);
      case HashKind::kPolynomial:
        return hashFunctions[function].polynomial(input, len);
      default:
        return hashFunctions[function](input, len);
    }
  }
  // Whether the bits of hash functions [first, hashFunctionCount) are set
  // for the window at `input`.
  bool bitsSetFrom(int first, const char* input, int len);

  bool substringExistsPolynomial(const char* data, int dataLength,
                                 int windowLength);

  enum class HashKind { kPair, kPolynomial, kAny };
  static HashKind kindOf(const HashFn* functions, int count);

  FastModulo modulo_;  // reduces hashes modulo bitCount
  // The engine's filters are asked for every pair of rule text and every
  // window of a URL; when their functions are known to be the plain
  // polynomial hash or the pair hash, they are computed inline rather than
  // called through the virtual interface.
  HashKind kind_;
};

}  // namespace tessul

#endif  // TESSUL_HASHING_BLOOM_FILTER_H_
