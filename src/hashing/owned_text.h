// Heap copies of texts, released with delete[]. Records that own their texts
// (parsed rules, set elements) use these; borrowed texts are never freed.
#ifndef TESSUL_HASHING_OWNED_TEXT_H_
#define TESSUL_HASHING_OWNED_TEXT_H_

#include <cstddef>
#include <cstring>

namespace tessul {

// A NUL-terminated copy of the first `length` bytes of `text`.
inline char* copyText(const char* text, size_t length) {
  char* copy = new char[length + 1];
  memcpy(copy, text, length);
  copy[length] = '\0';
  return copy;
}

// A copy of a NUL-terminated text, terminator included.
inline char* copyText(const char* text) {
  return copyText(text, strlen(text));
}

}  // namespace tessul

#endif  // TESSUL_HASHING_OWNED_TEXT_H_
