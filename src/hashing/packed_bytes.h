// Short byte strings as 64-bit keys, for lookups that compare up to eight
// bytes at once.
#ifndef TESSUL_HASHING_PACKED_BYTES_H_
#define TESSUL_HASHING_PACKED_BYTES_H_

#include <cstdint>
#include <cstring>

namespace tessul {

// The first `length` (at most 8) bytes of `text` as one key, in memory order:
// the first byte is the key's lowest on the little-endian machines the
// engine runs on. The other bytes of the key are 0, so a key of text that
// holds no NUL is never 0.
inline uint64_t packBytes(const char* text, int length) {
  uint64_t key = 0;
  memcpy(&key, text, length);
  return key;
}

}  // namespace tessul

#endif  // TESSUL_HASHING_PACKED_BYTES_H_
