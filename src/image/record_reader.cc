#include "image/record_reader.h"

#include <cstring>

namespace tessul {

namespace {

// The values of hexadecimal digits by byte, -1 for other bytes.
struct HexDigits {
  constexpr HexDigits() : value() {
    for (int& v : value) v = -1;
    for (int d = 0; d < 10; ++d) value['0' + d] = d;
    for (int d = 0; d < 6; ++d) value['a' + d] = value['A' + d] = 10 + d;
  }
  int value[256];
};
constexpr HexDigits kHexDigits;

int hexDigitValue(char c) {
  return kHexDigits.value[static_cast<unsigned char>(c)];
}

// Parses the hexadecimal number at *text and advances past it. Returns 0
// when there is no digit, -1 when the number exceeds 32 bits, 1 otherwise.
// Only called inside a header known to end in a zero byte, which is not a
// digit, so the scan stops in time.
int parseHexNumber(const char** text, uint32_t* value) {
  uint64_t number = 0;
  const char* p = *text;
  for (int digit; (digit = hexDigitValue(*p)) >= 0; ++p) {
    number = number * 16 + digit;
    if (number > UINT32_MAX) return -1;
  }
  if (p == *text) return 0;
  *text = p;
  *value = static_cast<uint32_t>(number);
  return 1;
}

}  // namespace

bool hasNewlineBefore(const char* text, size_t limit) {
  return memchr(text, '\0', limit) != nullptr;
}

bool RecordReader::skip(size_t length) {
  if (length > remaining()) return false;
  position_ += length;
  return true;
}

bool RecordReader::readHeader(uint32_t* values, int count, int required) {
  const char* end = zeroByteAhead();
  if (end == nullptr) return false;
  const char* p = current();
  int parsed = 0;
  for (; parsed < count; ++parsed) {
    if (parsed > 0) {
      if (*p != ',') break;
      ++p;
    }
    const int result = parseHexNumber(&p, &values[parsed]);
    if (result < 0) return false;
    if (result == 0) break;
  }
  if (parsed < required) return false;
  position_ = end - text_ + 1;
  return true;
}

bool RecordReader::readString(const char** text) {
  const char* end = zeroByteAhead();
  if (end == nullptr) return false;
  *text = end == current() ? nullptr : current();
  position_ = end - text_ + 1;
  return true;
}

bool RecordReader::readBytes(size_t length, const char** bytes) {
  *bytes = current();
  return skip(length);
}

bool RecordReader::readTag(const char** tagText, int32_t* tagLen) {
  if (remaining() < 2 || current()[0] != '~' || current()[1] != '#') {
    return true;
  }
  const size_t start = position_ + 2;
  for (size_t end = start; end < limit_; ++end) {
    const char c = text_[end];
    if (c == ',' || c == '\0') {
      *tagText = text_ + start;
      *tagLen = static_cast<int32_t>(end - start);
      position_ = c == ',' ? end + 1 : start;
      return true;
    }
  }
  return false;
}

}  // namespace tessul
