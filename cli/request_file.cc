#include "cli/request_file.h"

#include <string_view>

#include "cli/cli_error.h"
#include "cli/file_io.h"
#include "filter/option_keywords.h"

namespace tessul {
namespace cli {

namespace {

std::vector<std::string_view> splitAtTabs(std::string_view line) {
  std::vector<std::string_view> fields;
  for (;;) {
    const size_t tab = line.find('\t');
    fields.push_back(line.substr(0, tab));
    if (tab == std::string_view::npos) return fields;
    line.remove_prefix(tab + 1);
  }
}

class RequestParser {
 public:
  explicit RequestParser(const std::string& path)
      : source_(path == "-" ? "standard input" : path) {}

  // Appends the request of one line, if the line holds one.
  void parseLine(std::string_view line, std::vector<Request>* requests) {
    ++lineNumber_;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty() || line[0] == '#') return;
    // The engine reads URLs up to a NUL byte; a line holding one cannot be
    // answered for what it says.
    if (line.find('\0') != std::string_view::npos) fail("a NUL byte");
    const std::vector<std::string_view> fields = splitAtTabs(line);
    if (fields.size() > 3) fail("more than three tab-separated fields");
    Request request;
    request.url = fields[0];
    if (request.url.empty()) fail("no URL before the first tab");
    if (fields.size() > 1) setType(fields[1], &request);
    if (fields.size() > 2) request.page = fields[2];
    requests->push_back(std::move(request));
  }

 private:
  void setType(std::string_view keyword, Request* request) {
    if (keyword.empty()) return;
    const std::optional<FilterOption> type = requestTypeOption(keyword);
    if (!type) fail("unknown request type '" + std::string(keyword) + "'");
    request->typeKeyword = keyword;
    request->type = *type;
  }

  [[noreturn]] void fail(const std::string& problem) const {
    throw Failure(source_ + ":" + std::to_string(lineNumber_) + ": " + problem);
  }

  const std::string source_;
  int lineNumber_ = 0;
};

}  // namespace

std::vector<Request> readRequestFile(const std::string& path) {
  const std::string text = readWholeFile(path, "requests");
  std::vector<Request> requests;
  RequestParser parser(path);
  std::string_view rest = text;
  while (!rest.empty()) {
    const size_t end = rest.find('\n');
    parser.parseLine(rest.substr(0, end), &requests);
    if (end == std::string_view::npos) break;
    rest.remove_prefix(end + 1);
  }
  return requests;
}

}  // namespace cli
}  // namespace tessul
