// Writing of engine image fields. Every writer first measures (no buffer),
// then writes into a buffer of exactly the measured size; one writer class
// serves both passes so that they cannot disagree.
#ifndef TESSUL_IMAGE_RECORD_WRITER_H_
#define TESSUL_IMAGE_RECORD_WRITER_H_

#include <cstddef>
#include <cstdint>
#include <initializer_list>

namespace tessul {

// Appends fields at the end of what was written so far. With a null buffer
// it only counts; with a buffer it never writes past `capacity` bytes.
class RecordWriter {
 public:
  RecordWriter(char* buffer, size_t capacity)
      : buffer_(buffer), capacity_(capacity) {}

  // Bytes written (or counted) so far.
  size_t length() const { return length_; }
  // Where the next byte goes, or null while measuring.
  char* position() const { return buffer_ ? buffer_ + length_ : nullptr; }
  // Room left in the buffer.
  size_t room() const { return capacity_ > length_ ? capacity_ - length_ : 0; }
  // Accounts for `length` bytes that someone else wrote at position().
  void advance(size_t length) { length_ += length; }

  void writeBytes(const char* bytes, size_t length);
  void writeByte(char c) { writeBytes(&c, 1); }
  // Lower-case hexadecimal digits, no prefix: 0 is "0", -1 is "ffffffff".
  void writeNumber(uint32_t value);
  // Numbers separated by commas, then a zero byte.
  void writeHeader(const uint32_t* values, size_t count);
  void writeHeader(std::initializer_list<uint32_t> values) {
    writeHeader(values.begin(), values.size());
  }
  // The text and its zero byte; a lone zero byte when it is null.
  void writeString(const char* text);

 private:
  char* buffer_;
  size_t capacity_;
  size_t length_ = 0;
};

}  // namespace tessul

#endif  // TESSUL_IMAGE_RECORD_WRITER_H_
