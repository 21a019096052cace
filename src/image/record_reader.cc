#include "image/record_reader.h"

#include <cstring>

namespace tessul {

namespace {

// The values of lower-case hexadecimal digits by byte, -1 for other bytes.
struct HexDigits {
  constexpr HexDigits() : value() {
    for (int& v : value) v = -1;
    for (int d = 0; d < 10; ++d) value['0' + d] = d;
    for (int d = 0; d < 6; ++d) value['a' + d] = 10 + d;
  }
  int value[256];
};
constexpr HexDigits kHexDigits;

int hexDigitValue(char c) {
  return kHexDigits.value[static_cast<unsigned char>(c)];
}

// Eight digits hold every 32-bit number.
constexpr int kMaxDigits = 8;

constexpr char kNotItsNumbers[] = "a header does not hold exactly its numbers";
constexpr char kRunsPastTheEnd[] = "a record runs past the end of its section";

}  // namespace

bool hasNewlineBefore(const char* text, size_t limit) {
  return memchr(text, '\0', limit) != nullptr;
}

bool RecordReader::failAt(size_t position, const char* why) {
  if (failure_ == nullptr) {
    failure_ = why;
    failedAt_ = position;
  }
  return false;
}

bool RecordReader::skip(size_t length) {
  if (length > remaining()) return fail(kRunsPastTheEnd);
  position_ += length;
  return true;
}

// As the writer writes them: at least one digit, no leading zero, at most
// eight digits. The text ends in a zero byte, which is no digit, so the scan
// stops in time.
bool RecordReader::readNumber(uint32_t* value) {
  const char* p = current();
  uint32_t number = 0;
  int digits = 0;
  for (int digit; (digit = hexDigitValue(p[digits])) >= 0; ++digits) {
    if (digits == kMaxDigits || (digits == 1 && number == 0)) return false;
    number = number * 16 + static_cast<uint32_t>(digit);
  }
  if (digits == 0) return false;
  position_ += digits;
  *value = number;
  return true;
}

// Numbers stop at the first byte that is no digit, so a text that ends in a
// zero byte needs no search for it first: the header must end where its
// numbers do.
int RecordReader::readHeader(uint32_t* values, int minCount, int maxCount) {
  const char* end = nullptr;
  if (!endsInZeroByte_ && (end = zeroByteAhead()) == nullptr) {
    fail("a header runs past the end of its section");
    return -1;
  }
  const size_t start = position_;
  bool wellFormed = maxCount > 0 && readNumber(&values[0]);
  int count = wellFormed ? 1 : 0;
  while (wellFormed && *current() == ',' && count < maxCount) {
    ++position_;
    wellFormed = readNumber(&values[count]);
    count += wellFormed ? 1 : 0;
  }
  const bool atEnd = endsInZeroByte_ ? *current() == '\0' : current() == end;
  if (!wellFormed || !atEnd || count < minCount) {
    position_ = start;
    fail(kNotItsNumbers);
    return -1;
  }
  ++position_;  // the zero byte
  return count;
}

bool RecordReader::readNumberWithSuffix(uint32_t* value, char suffix) {
  const char* end = zeroByteAhead();
  if (end == nullptr) return fail("a header runs past the end of its section");
  const size_t start = position_;
  if (!readNumber(value) || current() + 1 != end || *current() != suffix) {
    position_ = start;
    return fail(kNotItsNumbers);
  }
  position_ += 2;
  return true;
}

bool RecordReader::readString(const char** text) {
  const char* end = zeroByteAhead();
  if (end == nullptr) return fail("a text runs past the end of its section");
  *text = end == current() ? nullptr : current();
  position_ = end - text_ + 1;
  return true;
}

bool RecordReader::readBytes(size_t length, const char** bytes) {
  *bytes = current();
  return skip(length);
}

bool RecordReader::readZeroByte() {
  if (remaining() == 0) return fail(kRunsPastTheEnd);
  if (*current() != '\0') return fail("a record does not end in its zero byte");
  ++position_;
  return true;
}

bool RecordReader::readTag(const char** tagText, int32_t* tagLen) {
  if (remaining() < 2 || current()[0] != '~' || current()[1] != '#') {
    return true;
  }
  const size_t start = position_ + 2;
  for (size_t end = start; end < limit_; ++end) {
    const char c = text_[end];
    if (c == '\0') break;
    if (c == ',') {
      *tagText = text_ + start;
      *tagLen = static_cast<int32_t>(end - start);
      position_ = end + 1;
      return true;
    }
  }
  return fail("no comma ends a tag");
}

}  // namespace tessul
