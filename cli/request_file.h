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
#include <vector>

#include "filter/filter.h"

namespace tessul {
namespace cli {

struct Request {
  std::string url;
  std::string typeKeyword;      // as written; empty: the kind is unknown
  FilterOption type = OptNone;  // the keyword's bit
  std::string page;             // empty: no page
};

// Reads every request of the file ("-": standard input) before any is
// checked, so that a bad line is reported before any answer is written.
// Throws Failure for a file that cannot be read and for a line with an
// empty URL, more than three fields or an unknown request type, naming
// the file and the line.
std::vector<Request> readRequestFile(const std::string& path);

}  // namespace cli
}  // namespace tessul

#endif  // TESSUL_CLI_REQUEST_FILE_H_
