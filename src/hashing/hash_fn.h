// Polynomial string hashes modulo 2^64, with a rolling form for sliding
// windows. Bloom filters and hash sets of engine images store positions
// computed by these functions, so their primes, the unsigned reading of bytes
// and the wrapping arithmetic are part of the image format.
#ifndef TESSUL_HASHING_HASH_FN_H_
#define TESSUL_HASHING_HASH_FN_H_

#include <cstddef>
#include <cstdint>

namespace tessul {

// Number of powers of the prime kept precomputed by a HashFn.
constexpr int kPowerTableSize = 30;

// base^exponent modulo 2^64. Exponents below kPowerTableSize come from
// `powerTable` when `usePowerTable` is set; others are computed by squaring.
// `exponent` must not be negative.
uint64_t customPow(const uint64_t (*powerTable)[kPowerTableSize],
                   bool usePowerTable, uint64_t base, int exponent);

// hash(s) = sum of byte(s[i]) * prime^(len - 1 - i), modulo 2^64, bytes read
// as unsigned values. Instances are immutable and safe to share between
// threads.
class HashFn {
 public:
  // constexpr so that the global instances are ready before any static
  // initialiser of a program that links the library could use them.
  constexpr HashFn(int prime, bool usePowerTable)
      : prime(prime), usePowerTable(usePowerTable), powerTable{} {
    uint64_t power = 1;
    for (int i = 0; usePowerTable && i < kPowerTableSize; ++i) {
      powerTable[i] = power;
      power *= static_cast<uint64_t>(static_cast<int64_t>(prime));
    }
  }

  // Rolling form: the hash of the `len` bytes at `input`, given the hash of
  // the window that started one byte earlier and that window's first byte.
  // Reads only input[len - 1]. `len` must be at least 1.
  virtual uint64_t operator()(const char* input, int len,
                              unsigned char leavingByte,
                              uint64_t previousHash) const;

  // String form: the hash of the `len` bytes at `input`; 0 when len <= 0.
  virtual uint64_t operator()(const char* input, int len) const;

  // The polynomial hash itself, without virtual dispatch, for callers that
  // know they hold a plain HashFn. Horner's rule gives the same sum of
  // byte * prime^(len - 1 - i) modulo 2^64 as the power table would; taken
  // four bytes a step, the four products are independent of each other and
  // only one multiplication a step waits for the previous one. The len % 4
  // bytes that do not fill a step come first, weighted without a branch:
  // texts of every length follow one another (hosts, as an image loads),
  // and a branch on the length would be mispredicted for most of them.
  uint64_t polynomial(const char* input, int len) const {
    const auto* bytes = reinterpret_cast<const unsigned char*>(input);
    const uint64_t p = multiplier();
    uint64_t total = 0;
    if (len < 4) {
      for (int i = 0; i < len; ++i) total = total * p + bytes[i];
      return total;
    }
    const uint64_t p2 = p * p;
    const uint64_t p3 = p2 * p;
    const uint64_t p4 = p2 * p2;
    const int head = len & 3;
    const uint64_t weights[4][3] = {{0, 0, 0}, {1, 0, 0}, {p, 1, 0}, {p2, p, 1}};
    total = bytes[0] * weights[head][0] + bytes[1] * weights[head][1] +
            bytes[2] * weights[head][2];
    for (int i = head; i < len; i += 4) {
      total = total * p4 + bytes[i] * p3 + bytes[i + 1] * p2 +
              bytes[i + 2] * p + bytes[i + 3];
    }
    return total;
  }
  // The polynomial hash of the bytes of [text, text + limit) before the
  // first zero byte, found in the same pass: *length is their count. False
  // when no zero byte comes before the limit. Reads no byte past that zero
  // byte's word of eight, and none at or past the limit.
  bool polynomialToZero(const char* text, size_t limit, size_t* length,
                        uint64_t* hash) const;
  // prime^(len - 1): the weight of the byte that leaves a window of `len`.
  uint64_t leavingWeight(int len) const {
    return customPow(&powerTable, usePowerTable, multiplier(), len - 1);
  }
  // The next window's hash: one byte leaves on the left, one enters on the
  // right.
  uint64_t roll(uint64_t previousHash, unsigned char leavingByte,
                unsigned char enteringByte, uint64_t leavingWeight) const {
    return (previousHash - leavingByte * leavingWeight) * multiplier() +
           enteringByte;
  }

  // The prime widened with its sign, as all arithmetic uses it.
  uint64_t multiplier() const {
    return static_cast<uint64_t>(static_cast<int64_t>(prime));
  }

  int prime;
  bool usePowerTable;
  uint64_t powerTable[kPowerTableSize];  // prime^i; filled when usePowerTable
};

// The first two bytes of the input as a number: byte0 + 256 * byte1. Serves
// the per-request Bloom filter of adjacent byte pairs. Reads exactly two
// bytes; the length and the rolling arguments play no part.
class HashFn2Byte : public HashFn {
 public:
  constexpr HashFn2Byte() : HashFn(0, false) {}

  uint64_t operator()(const char* input, int len, unsigned char leavingByte,
                      uint64_t previousHash) const override;
  uint64_t operator()(const char* input, int len) const override;
};

// The fingerprint Bloom filters use all five, in this order.
constexpr int kFingerprintHashFnCount = 5;
extern const HashFn fingerprintHashFns[kFingerprintHashFnCount];

// Hashes every element kept in a hash set (prime 19).
extern const HashFn elementHashFn;

extern const HashFn2Byte twoByteHashFn;

}  // namespace tessul

#endif  // TESSUL_HASHING_HASH_FN_H_
