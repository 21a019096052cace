#include "cli/json_text.h"

namespace tessul {
namespace cli {

namespace {

// The length of the well-formed UTF-8 sequence at `at` (RFC 3629: no
// overlong forms, no surrogates, nothing above U+10FFFF), or 0 when the
// byte there does not start one.
size_t utf8SequenceLength(std::string_view text, size_t at) {
  const auto byte = [&](size_t i) {
    return static_cast<unsigned char>(text[at + i]);
  };
  const unsigned char lead = byte(0);
  if (lead < 0x80) return 1;
  size_t length = 0;
  unsigned char low = 0x80, high = 0xBF;  // bounds of the second byte
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (text.size() - at < length || byte(1) < low || byte(1) > high) return 0;
  for (size_t i = 2; i < length; ++i) {
    if ((byte(i) & 0xC0) != 0x80) return 0;
  }
  return length;
}

void appendAsciiEscaped(std::string* out, char c) {
  switch (c) {
    case '"': *out += "\\\""; return;
    case '\\': *out += "\\\\"; return;
    case '\b': *out += "\\b"; return;
    case '\f': *out += "\\f"; return;
    case '\n': *out += "\\n"; return;
    case '\r': *out += "\\r"; return;
    case '\t': *out += "\\t"; return;
  }
  if (static_cast<unsigned char>(c) < 0x20) {
    static const char kHex[] = "0123456789abcdef";
    *out += "\\u00";
    *out += kHex[c >> 4];
    *out += kHex[c & 0xF];
    return;
  }
  *out += c;
}

}  // namespace

void appendJsonString(std::string* out, std::string_view text) {
  *out += '"';
  for (size_t at = 0; at < text.size();) {
    const size_t length = utf8SequenceLength(text, at);
    if (length == 0) {
      *out += "\\ufffd";
      ++at;
    } else if (length == 1) {
      appendAsciiEscaped(out, text[at++]);
    } else {
      out->append(text, at, length);
      at += length;
    }
  }
  *out += '"';
}

}  // namespace cli
}  // namespace tessul
