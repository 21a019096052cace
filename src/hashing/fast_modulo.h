// Exact remainders by a fixed 32-bit divisor without a division instruction:
// the Bloom filters reduce every hash to a bit index this way. A 64-bit
// division costs tens of cycles; this costs three multiplications.
#ifndef TESSUL_HASHING_FAST_MODULO_H_
#define TESSUL_HASHING_FAST_MODULO_H_

#include <cstdint>

namespace tessul {

class FastModulo {
 public:
  // `divisor` must be at least 1.
  explicit FastModulo(uint32_t divisor)
      : divisor_(divisor)
#ifdef __SIZEOF_INT128__
        , inverse_(~static_cast<unsigned __int128>(0) / divisor + 1),
        smallInverse_(~uint64_t{0} / divisor + 1)
#endif
  {
  }

  // value % divisor, for every 64-bit value.
  uint32_t operator()(uint64_t value) const {
#ifdef __SIZEOF_INT128__
    // The low 128 bits of inverse * value are the fraction value / divisor;
    // multiplying the fraction by the divisor gives the remainder in the
    // bits above 128 (exact since 128 >= 64 + 32).
    const unsigned __int128 fraction = inverse_ * value;
    const unsigned __int128 high =
        static_cast<unsigned __int128>(static_cast<uint64_t>(fraction >> 64)) *
        divisor_;
    const unsigned __int128 low =
        static_cast<unsigned __int128>(static_cast<uint64_t>(fraction)) *
        divisor_;
    return static_cast<uint32_t>((high + (low >> 64)) >> 64);
#else
    return static_cast<uint32_t>(value % divisor_);
#endif
  }

  // value % divisor for values below 2^32, with one multiplication less.
  uint32_t ofSmall(uint32_t value) const {
#ifdef __SIZEOF_INT128__
    const uint64_t fraction = smallInverse_ * value;
    return static_cast<uint32_t>(
        (static_cast<unsigned __int128>(fraction) * divisor_) >> 64);
#else
    return value % divisor_;
#endif
  }

 private:
  uint32_t divisor_;
#ifdef __SIZEOF_INT128__
  unsigned __int128 inverse_;
  uint64_t smallInverse_;
#endif
};

}  // namespace tessul

#endif  // TESSUL_HASHING_FAST_MODULO_H_
