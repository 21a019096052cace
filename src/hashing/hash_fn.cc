#include "hashing/hash_fn.h"

#include <cstring>

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

namespace {

constexpr uint64_t kLow7Bits = 0x7F7F7F7F7F7F7F7Full;

// The eight bytes at `text` with the first byte in the lowest bits.
uint64_t littleEndianWord(const char* text) {
  uint64_t word;
  memcpy(&word, text, sizeof(word));
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
  word = __builtin_bswap64(word);
#endif
  return word;
}

// The high bit of each zero byte of `word`, and no other bit.
uint64_t zeroBytesOf(uint64_t word) {
  return ~(((word & kLow7Bits) + kLow7Bits) | word | kLow7Bits);
}

// Sums of bytes weighted by powers of a prime below 255, computed in lanes
// of one 64-bit word: the sums of two, then four bytes fit in lanes of 16
// and 32 bits, so that one multiplication weighs every lane at once and no
// lane carries into the next.
struct WordWeights {
  explicit WordWeights(uint64_t prime)
      : p(prime), p2(prime * prime), p4(p2 * p2) {}

  // The eight bytes' sum, the first weighted prime^7, the last 1.
  uint64_t sum(uint64_t word) const {
    constexpr uint64_t kEvenBytes = 0x00FF00FF00FF00FFull;
    constexpr uint64_t kEvenPairs = 0x0000FFFF0000FFFFull;
    const uint64_t pairs = (word & kEvenBytes) * p + ((word >> 8) & kEvenBytes);
    const uint64_t quads =
        (pairs & kEvenPairs) * p2 + ((pairs >> 16) & kEvenPairs);
    return (quads & 0xFFFFFFFFull) * p4 + (quads >> 32);
  }
  uint64_t p, p2, p4;
};

}  // namespace

bool HashFn::polynomialToZero(const char* text, size_t limit, size_t* length,
                              uint64_t* hash) const {
  const auto* bytes = reinterpret_cast<const unsigned char*>(text);
  uint64_t total = 0;
  size_t i = 0;
  if (prime > 0 && prime < 255) {
    const WordWeights weights(multiplier());
    const uint64_t p8 = weights.p4 * weights.p4;
    for (; limit - i >= 8; i += 8) {
      const uint64_t word = littleEndianWord(text + i);
      const uint64_t zeros = zeroBytesOf(word);
      if (zeros == 0) {
        total = total * p8 + weights.sum(word);
        continue;
      }
      // The bytes before the zero byte, moved to the top of the word, sum
      // with the weights of a text that ends there.
      const unsigned before = static_cast<unsigned>(__builtin_ctzll(zeros)) / 8;
      if (before > 0) {
        total = total * customPow(&powerTable, usePowerTable, weights.p,
                                  static_cast<int>(before)) +
                weights.sum(word << (64 - 8 * before));
      }
      *length = i + before;
      *hash = total;
      return true;
    }
  }
  const uint64_t p = multiplier();
  for (; i < limit; ++i) {
    if (bytes[i] == 0) {
      *length = i;
      *hash = total;
      return true;
    }
    total = total * p + bytes[i];
  }
  return false;
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
