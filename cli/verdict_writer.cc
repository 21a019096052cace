#include "cli/verdict_writer.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string_view>

#include "cli/cli_error.h"
#include "cli/file_io.h"
#include "cli/json_text.h"

namespace tessul {
namespace cli {

namespace {

constexpr size_t kFlushThreshold = 1 << 16;

// Tab-separated fields cannot hold tabs or line breaks; they are written
// as the two characters \t, \n or \r, and a backslash as two, so that
// reading the escapes back gives every field as it was. Everything else is
// kept byte for byte.
const char* tsvEscape(char c) {
  switch (c) {
    case '\\': return "\\\\";
    case '\t': return "\\t";
    case '\n': return "\\n";
    case '\r': return "\\r";
    default: return nullptr;
  }
}

// `text` is followed by a NUL byte, as URLs and rule texts are, which lets
// strcspn find the bytes to escape many at a time; a NUL inside the text
// (none is expected) is copied like any other byte.
void appendTsvField(std::string* out, std::string_view text) {
  const char* next = text.data();
  const char* const end = text.data() + text.size();
  while (next < end) {
    const size_t plain = std::min<size_t>(strcspn(next, "\\\t\n\r"), end - next);
    out->append(next, plain);
    next += plain;
    if (next == end) break;
    const char* escape = tsvEscape(*next);
    if (escape != nullptr) {
      *out += escape;
    } else {
      *out += *next;  // a NUL byte
    }
    ++next;
  }
}

// Requests without a type or a page have null there.
void appendJsonStringOrNull(std::string* out, std::string_view text) {
  if (text.empty()) {
    *out += "null";
  } else {
    appendJsonString(out, text);
  }
}

}  // namespace

// Rules decide many requests of a batch; each is written out once.
std::string_view VerdictWriter::textOf(const Filter* rule) {
  if (rule == nullptr) return {};
  auto [entry, added] = ruleTexts_.try_emplace(rule);
  if (added) entry->second = ruleText(*rule);
  return entry->second;
}

// No rule is null.
void VerdictWriter::appendJsonRule(const Filter* rule) {
  if (rule == nullptr) {
    buffer_ += "null";
  } else {
    appendJsonString(&buffer_, textOf(rule));
  }
}

void VerdictWriter::write(const Request& request, const Verdict& verdict) {
  if (json_) {
    appendJson(request, verdict);
  } else {
    appendTsv(request, verdict);
  }
  if (buffer_.size() >= kFlushThreshold) flush();
}

void VerdictWriter::appendTsv(const Request& request, const Verdict& verdict) {
  buffer_ += verdict.blocked ? "block\t" : "allow\t";
  appendTsvField(&buffer_, request.url);
  buffer_ += '\t';
  appendTsvField(&buffer_, textOf(verdict.rule));
  buffer_ += '\t';
  appendTsvField(&buffer_, textOf(verdict.exception));
  buffer_ += '\n';
}

void VerdictWriter::appendJson(const Request& request, const Verdict& verdict) {
  buffer_ += verdict.blocked ? "{\"decision\":\"block\",\"url\":"
                             : "{\"decision\":\"allow\",\"url\":";
  appendJsonString(&buffer_, request.url);
  buffer_ += ",\"type\":";
  appendJsonStringOrNull(&buffer_, request.typeKeyword);
  buffer_ += ",\"page\":";
  appendJsonStringOrNull(&buffer_, request.page);
  buffer_ += ",\"rule\":";
  appendJsonRule(verdict.rule);
  buffer_ += ",\"exception\":";
  appendJsonRule(verdict.exception);
  buffer_ += "}\n";
}

void VerdictWriter::flush() {
  if (!writeAll(STDOUT_FILENO, buffer_.data(), buffer_.size())) {
    throw Failure(std::string("cannot write the answers: ") + strerror(errno));
  }
  buffer_.clear();
}

}  // namespace cli
}  // namespace tessul
