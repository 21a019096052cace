#include "image/record_reader.h"

#include <cstring>

namespace tessul {

using record_reading::kNotItsNumbers;
using record_reading::kRunsPastTheEnd;

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

// Numbers stop at the first byte that is no digit, so a text that ends in a
// zero byte needs no search for it first: the header must end where its
// numbers do.
int RecordReader::readHeader(uint32_t* values, int minCount, int maxCount) {
  // The zero byte that ends the text lies at or after the position only
  // while bytes remain.
  const char* end = nullptr;
  if ((!endsInZeroByte_ || remaining() == 0) &&
      (end = zeroByteAhead()) == nullptr) {
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
  const bool atEnd = end == nullptr ? *current() == '\0' : current() == end;
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
