// JSON string literals for text that may hold any bytes: URLs and filter
// rules can contain quotes, backslashes, control bytes and bytes that are
// not UTF-8.
#ifndef TESSUL_CLI_JSON_TEXT_H_
#define TESSUL_CLI_JSON_TEXT_H_

#include <string>
#include <string_view>

namespace tessul {
namespace cli {

// Appends `text` as a quoted JSON string. Quotes, backslashes and control
// bytes are escaped; valid UTF-8 sequences are copied; every byte that is
// not part of one becomes U+FFFD, so the result is always valid JSON.
void appendJsonString(std::string* out, std::string_view text);

}  // namespace cli
}  // namespace tessul

#endif  // TESSUL_CLI_JSON_TEXT_H_
