// A one-hash bit set over 64-bit keys: a quick "certainly absent" before a
// costlier lookup. Keys that were added always test present; others test
// present with a probability of about (keys added) / (bits).
#ifndef TESSUL_HASHING_PRESENCE_BITS_H_
#define TESSUL_HASHING_PRESENCE_BITS_H_

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tessul {

class PresenceBits {
 public:
  // Without bits: every key tests absent until reset() sizes the set. Owners
  // size it for what they hold, so that an empty or small owner costs no
  // large block to make and zero.
  PresenceBits() = default;
  // 2^log2Bits bits, at least 64.
  explicit PresenceBits(int log2Bits) { reset(log2Bits); }

  // The log2Bits that gives `keys` keys about `bitsPerKey` bits each (a
  // power of two, at least 64 bits), capped at `maxLog2Bits`.
  static int log2BitsFor(size_t keys, size_t bitsPerKey, int maxLog2Bits) {
    int log2Bits = 6;
    while (log2Bits < maxLog2Bits &&
           (size_t{1} << log2Bits) < keys * bitsPerKey) {
      ++log2Bits;
    }
    return log2Bits;
  }

  // Forgets every key and takes 2^log2Bits bits (at least 64).
  void reset(int log2Bits) {
    if (log2Bits < 6) log2Bits = 6;
    shift_ = 64 - log2Bits;
    words_.assign(size_t{1} << (log2Bits - 6), 0);
  }

  // Only on a set that reset() has sized.
  void add(uint64_t key) {
    const uint64_t bit = bitOf(key);
    words_[bit >> 6] |= uint64_t{1} << (bit & 63);
  }
  bool mayContain(uint64_t key) const {
    if (words_.empty()) return false;
    const uint64_t bit = bitOf(key);
    return (words_[bit >> 6] >> (bit & 63)) & 1;
  }

 private:
  uint64_t bitOf(uint64_t key) const {
    return (key * 0x9E3779B97F4A7C15ull) >> shift_;
  }

  int shift_ = 64;
  std::vector<uint64_t> words_;
};

}  // namespace tessul

#endif  // TESSUL_HASHING_PRESENCE_BITS_H_
