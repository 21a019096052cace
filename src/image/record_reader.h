// Bounded reading of engine image fields. Images come from files and may be
// truncated or damaged, so every read checks the bytes that remain before it
// looks at them: no byte at or past the limit is ever read.
//
// The reader accepts fields only in the form the writer gives them (numbers
// in lower-case hexadecimal without leading zeros, headers of exactly their
// numbers), so that an image it reads is byte for byte one the writer could
// have written. A read that fails records why, for the error that the load
// reports.
#ifndef TESSUL_IMAGE_RECORD_READER_H_
#define TESSUL_IMAGE_RECORD_READER_H_

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "hashing/hash_fn.h"

namespace tessul {

// Lengths and counts are int32 values written as unsigned numbers; a value
// above this one stands for a negative length or count, which is damage.
constexpr uint32_t kMaxImageLength = INT32_MAX;

// Whether a zero byte occurs among the first `limit` bytes of `text` (the
// name is historical: records end in zero bytes, not newlines). Stops at the
// first zero byte, so `limit` may exceed the buffer of a trusted image.
bool hasNewlineBefore(const char* text, size_t limit);

namespace record_reading {

// The values of lower-case hexadecimal digits by byte, -1 for other bytes.
struct HexDigits {
  constexpr HexDigits() : value() {
    for (int& v : value) v = -1;
    for (int d = 0; d < 10; ++d) value['0' + d] = d;
    for (int d = 0; d < 6; ++d) value['a' + d] = 10 + d;
  }
  int value[256];
};
inline constexpr HexDigits kHexDigits;

// Eight digits hold every 32-bit number.
constexpr int kMaxDigits = 8;

inline constexpr char kNotItsNumbers[] =
    "a header does not hold exactly its numbers";
inline constexpr char kRunsPastTheEnd[] =
    "a record runs past the end of its section";
inline constexpr char kTextRunsPastTheEnd[] =
    "a text runs past the end of its section";

}  // namespace record_reading

// A read position in [text, text + limit). The reads of every record are
// defined here, so that they compile into the record readers: an image
// holds a hundred thousand records, each a few short fields. A read that fails leaves the
// position unspecified and the out-arguments possibly changed; the caller
// then abandons the record.
class RecordReader {
 public:
  RecordReader(const char* text, size_t limit)
      : text_(text),
        limit_(limit),
        endsInZeroByte_(limit > 0 && limit != SIZE_MAX &&
                        text[limit - 1] == '\0') {}

  size_t position() const { return position_; }
  size_t remaining() const { return limit_ - position_; }
  const char* current() const { return text_ + position_; }
  bool atZeroByte() const { return position_ < limit_ && *current() == '\0'; }

  // Steps over `length` bytes; false when fewer remain.
  bool skip(size_t length) {
    if (length > remaining()) return fail(record_reading::kRunsPastTheEnd);
    position_ += length;
    return true;
  }

  // A header of `minCount` to `maxCount` numbers separated by commas, then
  // its zero byte, which is consumed. Returns how many numbers it held, or
  // -1 (and records the failure) when it is not such a header.
  int readHeader(uint32_t* values, int minCount, int maxCount);
  // A header of exactly `count` numbers. Numbers stop at the first byte
  // that is no digit, so in a text that ends in a zero byte the header is
  // read without a search for its end first.
  bool readHeader(uint32_t* values, int count) {
    if (!endsInZeroByte_ || remaining() == 0) {
      return readHeader(values, count, count) == count;
    }
    const size_t start = position_;
    for (int i = 0; i < count; ++i) {
      const char expected = i + 1 < count ? ',' : '\0';
      if (!readNumber(&values[i]) || *current() != expected) {
        position_ = start;
        return fail(record_reading::kNotItsNumbers);
      }
      ++position_;
    }
    return true;
  }
  // A number directly followed by `suffix` and a zero byte, all consumed.
  bool readNumberWithSuffix(uint32_t* value, char suffix);

  // A zero-terminated string, consumed with its zero byte. An empty string
  // reads as absent (null). False when it runs to the limit.
  bool readString(const char** text) {
    // An absent text, the most common one, needs no search.
    if (remaining() > 0 && *current() == '\0') {
      *text = nullptr;
      ++position_;
      return true;
    }
    const char* end = zeroByteAhead();
    if (end == nullptr) return fail(record_reading::kTextRunsPastTheEnd);
    *text = end == current() ? nullptr : current();
    position_ = end - text_ + 1;
    return true;
  }

  // readString, for a text that is wanted only as its length (0 when it
  // reads as absent) and its hash under `hashFn`, found in the same pass.
  bool readHashedString(const HashFn& hashFn, int32_t* length,
                        uint64_t* hash) {
    size_t found = 0;
    if (limit_ != SIZE_MAX) {
      if (!hashFn.polynomialToZero(current(), remaining(), &found, hash)) {
        return fail(record_reading::kTextRunsPastTheEnd);
      }
    } else {
      const char* end = zeroByteAhead();
      if (end == nullptr) return fail(record_reading::kTextRunsPastTheEnd);
      found = static_cast<size_t>(end - current());
      *hash = hashFn.polynomial(current(), static_cast<int>(found));
    }
    *length = static_cast<int32_t>(found);
    position_ += found + 1;
    return true;
  }

  // `length` bytes without terminator; false when fewer remain.
  bool readBytes(size_t length, const char** bytes) {
    *bytes = current();
    return skip(length);
  }

  // The zero byte that writers leave for a field they skip.
  bool readZeroByte();

  // An optional tag: the marker "~#", then the tag bytes up to a comma,
  // which is consumed. Without the marker nothing is read and the
  // out-arguments keep their values. False when no comma ends the tag
  // before a zero byte or the limit.
  bool readTag(const char** tagText, int32_t* tagLen);

  // Records why the read failed, at the position it failed at, unless an
  // earlier failure is recorded already (the first one names the cause).
  // Returns false, for `return in.fail(...)`.
  bool fail(const char* why) { return failAt(position_, why); }
  bool failAt(size_t position, const char* why);
  const char* failure() const { return failure_; }
  size_t failedAt() const { return failedAt_; }

 private:
  // The first zero byte at or after the position, or null when none comes
  // before the limit. memchr stops at the first match, so a trusted image's
  // unbounded limit is never read past that byte.
  const char* zeroByteAhead() const {
    return static_cast<const char*>(memchr(current(), '\0', remaining()));
  }
  // A number at the position, inside text known to end in a zero byte, as
  // the writer writes them: at least one digit, no leading zero, at most
  // eight digits. The zero byte is no digit, so the scan stops in time.
  bool readNumber(uint32_t* value) {
    const char* p = current();
    uint32_t number = 0;
    int digits = 0;
    for (int digit; (digit = hexDigitValue(p[digits])) >= 0; ++digits) {
      if (digits == record_reading::kMaxDigits || (digits == 1 && number == 0)) {
        return false;
      }
      number = number * 16 + static_cast<uint32_t>(digit);
    }
    if (digits == 0) return false;
    position_ += digits;
    *value = number;
    return true;
  }
  static int hexDigitValue(char c) {
    return record_reading::kHexDigits.value[static_cast<unsigned char>(c)];
  }

  const char* text_;
  size_t limit_;
  // Whether the last byte before the limit is a zero byte, which every scan
  // for one then stops at, at the latest.
  bool endsInZeroByte_;
  size_t position_ = 0;
  const char* failure_ = nullptr;
  size_t failedAt_ = 0;
};

}  // namespace tessul

#endif  // TESSUL_IMAGE_RECORD_READER_H_
