#include "cli/request_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>

#include "cli/cli_error.h"
#include "filter/option_keywords.h"

namespace tessul {
namespace cli {

namespace {

constexpr size_t kReadSize = 1 << 16;
constexpr size_t kMaxFields = 3;

int openForReading(const std::string& path) {
  if (path == "-") return STDIN_FILENO;
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) throwFileError("read", "requests", path);
  return fd;
}

// Cuts the line at its tabs, each ended by a NUL byte in place; the count
// of fields, which may exceed `maxFields` (the fields past it are not cut).
size_t cutAtTabs(char* line, size_t length, std::string_view* fields,
                 size_t maxFields) {
  size_t count = 0;
  char* const end = line + length;
  for (char* start = line;;) {
    char* tab = static_cast<char*>(memchr(start, '\t', end - start));
    if (count == maxFields) return count + 1;
    fields[count++] = std::string_view(start, (tab ? tab : end) - start);
    if (tab == nullptr) return count;
    *tab = '\0';
    start = tab + 1;
  }
}

}  // namespace

RequestReader::RequestReader(const std::string& path)
    : path_(path),
      source_(path == "-" ? "standard input" : path),
      file_(openForReading(path)),
      buffer_(kReadSize + 1) {}

RequestReader::Step RequestReader::next(Request* request) {
  char* line = nullptr;
  size_t length = 0;
  while (nextLine(&line, &length)) {
    const Step step = parseLine(line, length, request);
    if (step != Step::kEnd) return step;  // kEnd here: a skipped line
  }
  return Step::kEnd;
}

bool RequestReader::lineReady() {
  if (newline_ == nullptr) {
    char* const start = buffer_.data() + begin_;
    newline_ = static_cast<char*>(memchr(start, '\n', end_ - begin_));
    if (newline_ == nullptr && ended_) {
      newline_ = buffer_.data() + end_;  // the last line, or the end
    }
  }
  return newline_ != nullptr;
}

// The next line, without its line break, ended by a NUL byte in place.
bool RequestReader::nextLine(char** line, size_t* length) {
  while (!lineReady()) readMore();
  char* const start = buffer_.data() + begin_;
  char* const newline = newline_;
  newline_ = nullptr;
  if (newline == start && begin_ == end_) return false;  // the end
  *newline = '\0';  // the buffer has a byte to spare past end_
  *line = start;
  *length = newline - start;
  begin_ = std::min(end_, static_cast<size_t>(newline - buffer_.data()) + 1);
  ++lineNumber_;
  return true;
}

// Keeps the unread part of a line and reads more after it, or marks the
// end of the file.
void RequestReader::readMore() {
  memmove(buffer_.data(), buffer_.data() + begin_, end_ - begin_);
  end_ -= begin_;
  begin_ = 0;
  if (buffer_.size() - 1 - end_ < kReadSize / 2) {
    buffer_.resize(2 * buffer_.size());  // a long line
  }
  for (;;) {
    const ssize_t count =
        ::read(file_.get(), buffer_.data() + end_, buffer_.size() - 1 - end_);
    if (count > 0) {
      end_ += count;
      return;
    }
    if (count == 0) break;
    if (errno != EINTR) throwFileError("read", "requests", path_);
  }
  ended_ = true;
}

RequestReader::Step RequestReader::parseLine(char* line, size_t length,
                                             Request* request) {
  if (length > 0 && line[length - 1] == '\r') line[--length] = '\0';
  if (length == 0 || line[0] == '#') return Step::kEnd;
  // The engine reads URLs up to a NUL byte; a line holding one cannot be
  // answered for what it says.
  if (memchr(line, '\0', length) != nullptr) return bad("a NUL byte");
  std::string_view fields[kMaxFields];
  const size_t count = cutAtTabs(line, length, fields, kMaxFields);
  if (count > kMaxFields) return bad("more than three tab-separated fields");
  *request = Request();
  request->url = fields[0];
  if (request->url.empty()) return bad("no URL before the first tab");
  if (count > 1 && !fields[1].empty()) {
    const std::optional<FilterOption> type = requestTypeOption(fields[1]);
    if (!type) {
      return bad("unknown request type '" + std::string(fields[1]) + "'");
    }
    request->typeKeyword = fields[1];
    request->type = *type;
  }
  if (count > 2) request->page = fields[2];
  return Step::kRequest;
}

RequestReader::Step RequestReader::bad(const std::string& what) {
  problem_ = source_ + ":" + std::to_string(lineNumber_) + ": " + what;
  return Step::kBadLine;
}

}  // namespace cli
}  // namespace tessul
