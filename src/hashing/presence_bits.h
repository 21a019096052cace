// A one-hash bit set over 64-bit keys: a quick "certainly absent" before a
// costlier lookup. Keys that were added always test present; others test
// present with a probability of about (keys added) / (bits).
#ifndef TESSUL_HASHING_PRESENCE_BITS_H_
#define TESSUL_HASHING_PRESENCE_BITS_H_

#include <cstdint>
#include <vector>

namespace tessul {

class PresenceBits {
 public:
  // 2^log2Bits bits, at least 64.
  explicit PresenceBits(int log2Bits)
      : shift_(64 - log2Bits), words_(size_t{1} << (log2Bits - 6)) {}

  void add(uint64_t key) {
    const uint64_t bit = bitOf(key);
    words_[bit >> 6] |= uint64_t{1} << (bit & 63);
  }
  bool mayContain(uint64_t key) const {
    const uint64_t bit = bitOf(key);
    return (words_[bit >> 6] >> (bit & 63)) & 1;
  }
  void clear() { words_.assign(words_.size(), 0); }

 private:
  uint64_t bitOf(uint64_t key) const {
    return (key * 0x9E3779B97F4A7C15ull) >> shift_;
  }

  int shift_;
  std::vector<uint64_t> words_;
};

}  // namespace tessul

#endif  // TESSUL_HASHING_PRESENCE_BITS_H_
