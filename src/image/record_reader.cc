#include "image/record_reader.h"

#include <cstring>

namespace tessul {

namespace {

// The value of a hexadecimal digit, or -1.
int hexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
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
  for (size_t i = 0; i < limit; ++i) {
    if (text[i] == '\0') return true;
  }
  return false;
}

bool RecordReader::skip(size_t length) {
  if (length > remaining()) return false;
  position_ += length;
  return true;
}

bool RecordReader::readHeader(uint32_t* values, int count, int required) {
  if (!hasNewlineBefore(current(), remaining())) return false;
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
  position_ += strlen(current()) + 1;
  return true;
}

bool RecordReader::readString(const char** text) {
  const char* start = current();
  for (size_t i = 0; i < remaining(); ++i) {
    if (start[i] == '\0') {
      *text = i == 0 ? nullptr : start;
      position_ += i + 1;
      return true;
    }
  }
  return false;
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
