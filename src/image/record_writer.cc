#include "image/record_writer.h"

#include <algorithm>
#include <cstring>

namespace tessul {

void RecordWriter::writeBytes(const char* bytes, size_t length) {
  const size_t copied = buffer_ != nullptr ? std::min(length, room()) : 0;
  if (copied > 0) memcpy(buffer_ + length_, bytes, copied);
  length_ += length;
}

void RecordWriter::writeNumber(uint32_t value) {
  char digits[8];
  int count = 0;
  do {
    digits[count++] = "0123456789abcdef"[value % 16];
    value /= 16;
  } while (value != 0);
  std::reverse(digits, digits + count);
  writeBytes(digits, count);
}

void RecordWriter::writeHeader(const uint32_t* values, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    if (i > 0) writeByte(',');
    writeNumber(values[i]);
  }
  writeByte('\0');
}

void RecordWriter::writeString(const char* text) {
  if (text != nullptr) writeBytes(text, strlen(text));
  writeByte('\0');
}

}  // namespace tessul
