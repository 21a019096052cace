// Requests to check, as the program reads them from a file: one request a
// line, tab-separated
//
//   url <TAB> request type keyword <TAB> host of the page
//
// where the type and the page host may be left out or empty, and lines
// that are empty or start with '#' are skipped.
#ifndef TESSUL_CLI_REQUEST_FILE_H_
#define TESSUL_CLI_REQUEST_FILE_H_

#include <string>
#include <string_view>
#include <vector>

#include "cli/file_io.h"
#include "filter/filter.h"

namespace tessul {
namespace cli {

// One request. The texts are borrowed; `url` and `page` are followed by a
// NUL byte, as the engine wants them.
struct Request {
  std::string_view url;
  std::string_view typeKeyword;  // as written; empty: the kind is unknown
  FilterOption type = OptNone;   // the keyword's bit
  std::string_view page;         // empty: no page
};

// Reads a request file ("-": standard input) one line at a time, so that
// memory stays flat whatever the file's size and each request can be
// answered before the next line arrives. A line that is not a request is
// reported and skipped; the lines after it are still read.
class RequestReader {
 public:
  enum class Step { kRequest, kBadLine, kEnd };

  // Opens the file; throws Failure when it cannot.
  explicit RequestReader(const std::string& path);

  // The next request (its texts valid until the next call), or a bad line,
  // whose problem() is "FILE:LINE: what is wrong" (an empty URL, more than
  // three fields, an unknown request type, a NUL byte), or the end. Throws
  // Failure when the file cannot be read.
  Step next(Request* request);

  // Whether next() can answer from the input read so far; when not, it
  // reads more, which may wait: the moment to write the answers out.
  bool lineReady();

  const std::string& problem() const { return problem_; }
  // How the messages name the file.
  const std::string& source() const { return source_; }

 private:
  bool nextLine(char** line, size_t* length);
  void readMore();
  Step parseLine(char* line, size_t length, Request* request);
  Step bad(const std::string& what);

  const std::string path_;
  const std::string source_;
  FileDescriptor file_;
  std::vector<char> buffer_;
  size_t begin_ = 0;  // the unread bytes are [begin_, end_)
  size_t end_ = 0;
  char* newline_ = nullptr;  // the end of the next line, once looked for
  bool ended_ = false;
  int lineNumber_ = 0;
  std::string problem_;
};

}  // namespace cli
}  // namespace tessul

#endif  // TESSUL_CLI_REQUEST_FILE_H_
