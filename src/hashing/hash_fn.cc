#include "hashing/hash_fn.h"

namespace tessul {

uint64_t customPow(const uint64_t (*powerTable)[kPowerTableSize],
                   bool usePowerTable, uint64_t base, int exponent) {
  if (usePowerTable && exponent < kPowerTableSize) {
    return (*powerTable)[exponent];
  }
  uint64_t result = 1;
  while (exponent != 0) {
    if (exponent & 1) result *= base;
    base *= base;
    exponent >>= 1;
  }
  return result;
}

uint64_t HashFn::operator()(const char* input, int len,
                            unsigned char leavingByte,
                            uint64_t previousHash) const {
  const uint64_t p = static_cast<uint64_t>(static_cast<int64_t>(prime));
  const uint64_t leavingWeight = customPow(&powerTable, usePowerTable, p, len - 1);
  return (previousHash - leavingByte * leavingWeight) * p +
         static_cast<unsigned char>(input[len - 1]);
}

// Horner's rule gives the same sum of byte * prime^(len - 1 - i) modulo 2^64
// with one multiplication per byte and no power lookups.
uint64_t HashFn::operator()(const char* input, int len) const {
  const uint64_t p = static_cast<uint64_t>(static_cast<int64_t>(prime));
  uint64_t total = 0;
  for (int i = 0; i < len; ++i) {
    total = total * p + static_cast<unsigned char>(input[i]);
  }
  return total;
}

uint64_t HashFn2Byte::operator()(const char* input, int /*len*/,
                                 unsigned char /*leavingByte*/,
                                 uint64_t /*previousHash*/) const {
  return (*this)(input, 2);
}

uint64_t HashFn2Byte::operator()(const char* input, int /*len*/) const {
  return static_cast<unsigned char>(input[0]) +
         256u * static_cast<unsigned char>(input[1]);
}

constexpr HashFn fingerprintHashFns[kFingerprintHashFnCount] = {
    HashFn(13, true), HashFn(17, true), HashFn(31, true), HashFn(41, true),
    HashFn(53, true)};
constexpr HashFn elementHashFn(19, true);
constexpr HashFn2Byte twoByteHashFn;

}  // namespace tessul
