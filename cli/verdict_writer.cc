#include "cli/verdict_writer.h"

#include <unistd.h>

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
// as the two characters \t, \n or \r. Everything else is kept byte for
// byte.
void appendTsvField(std::string* out, std::string_view text) {
  for (char c : text) {
    switch (c) {
      case '\t': *out += "\\t"; break;
      case '\n': *out += "\\n"; break;
      case '\r': *out += "\\r"; break;
      default: *out += c;
    }
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

// A rule as a line of its list (ruleText); empty for none.
std::string textOf(const Filter* rule) {
  return rule == nullptr ? std::string() : ruleText(*rule);
}

// No rule is null.
void appendJsonRule(std::string* out, const Filter* rule) {
  if (rule == nullptr) {
    *out += "null";
  } else {
    appendJsonString(out, ruleText(*rule));
  }
}

}  // namespace

void VerdictWriter::write(const Request& request, const Verdict& verdict) {
  if (json_) {
    appendJson(request, verdict);
  } else {
    appendTsv(request, verdict);
  }
  if (buffer_.size() >= kFlushThreshold) flush();
}

void VerdictWriter::finish() { flush(); }

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
  appendJsonRule(&buffer_, verdict.rule);
  buffer_ += ",\"exception\":";
  appendJsonRule(&buffer_, verdict.exception);
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
