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
  return roll(previousHash, leavingByte,
              static_cast<unsigned char>(input[len - 1]), leavingWeight(len));
}

uint64_t HashFn::operator()(const char* input, int len) const {
  return polynomial(input, len);
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
