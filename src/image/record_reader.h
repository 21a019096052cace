// Bounded reading of engine image fields. Images come from files and may be
// truncated or damaged, so every read checks the bytes that remain before it
// looks at them: no byte at or past the limit is ever read.
#ifndef TESSUL_IMAGE_RECORD_READER_H_
#define TESSUL_IMAGE_RECORD_READER_H_

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace tessul {

// Lengths and counts are int32 values written as unsigned numbers; a value
// above this one stands for a negative length or count, which is damage.
constexpr uint32_t kMaxImageLength = INT32_MAX;

// Whether a zero byte occurs among the first `limit` bytes of `text` (the
// name is historical: records end in zero bytes, not newlines). Stops at the
// first zero byte, so `limit` may exceed the buffer of a trusted image.
bool hasNewlineBefore(const char* text, size_t limit);

// A read position in [text, text + limit). A read that fails leaves the
// position unspecified and the out-arguments possibly changed; the caller
// then abandons the record.
class RecordReader {
 public:
  RecordReader(const char* text, size_t limit) : text_(text), limit_(limit) {}

  size_t position() const { return position_; }
  size_t remaining() const { return limit_ - position_; }
  const char* current() const { return text_ + position_; }
  bool atZeroByte() const { return position_ < limit_ && *current() == '\0'; }

  // Steps over `length` bytes; false when fewer remain.
  bool skip(size_t length);

  // A header: up to `count` lower- or upper-case hexadecimal numbers of at
  // most 32 bits, separated by commas, then anything up to a zero byte,
  // which is consumed. Parsing stops at the first number that is missing;
  // it and the later ones keep the values they had. False when fewer than
  // `required` numbers are present, when no zero byte comes before the limit
  // or when a number does not fit in 32 bits.
  bool readHeader(uint32_t* values, int count, int required);

  // A zero-terminated string, consumed with its zero byte. An empty string
  // reads as absent (null). False when it runs to the limit.
  bool readString(const char** text);

  // `length` bytes without terminator; false when fewer remain.
  bool readBytes(size_t length, const char** bytes);

  // An optional tag: the marker "~#", then the tag bytes up to a comma,
  // which is consumed. When a zero byte comes before any comma, the tag
  // runs up to it and the position stays at the tag's first byte. Without
  // the marker nothing is read and the out-arguments keep their values.
  // False when the tag runs to the limit.
  bool readTag(const char** tagText, int32_t* tagLen);

 private:
  // The first zero byte at or after the position, or null when none comes
  // before the limit. memchr stops at the first match, so a trusted image's
  // unbounded limit is never read past that byte.
  const char* zeroByteAhead() const {
    return static_cast<const char*>(memchr(current(), '\0', remaining()));
  }

  const char* text_;
  size_t limit_;
  size_t position_ = 0;
};

}  // namespace tessul

#endif  // TESSUL_IMAGE_RECORD_READER_H_
