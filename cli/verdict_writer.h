// Writes the program's answers to standard output, one line per request:
// tab-separated
//
//   block|allow <TAB> url <TAB> blocking rule <TAB> exception rule
//
// or, with JSON, one object per line:
//
//   {"decision":"block","url":...,"type":...,"page":...,"rule":...,
//    "exception":...}
//
// where a missing type, page or rule is null.
#ifndef TESSUL_CLI_VERDICT_WRITER_H_
#define TESSUL_CLI_VERDICT_WRITER_H_

#include <string>

#include "cli/request_file.h"
#include "filter/filter.h"

namespace tessul {
namespace cli {

// The engine's answer for one request and the rules that decided it; the
// rules are the engine's and are only borrowed.
struct Verdict {
  bool blocked = false;
  const Filter* rule = nullptr;       // the blocking rule that matched
  const Filter* exception = nullptr;  // the exception that cancelled it
};

class VerdictWriter {
 public:
  explicit VerdictWriter(bool json) : json_(json) {}

  // Throws Failure as soon as standard output refuses a write.
  void write(const Request& request, const Verdict& verdict);
  // Writes what is still buffered; throws Failure when that fails.
  void finish();

 private:
  void appendTsv(const Request& request, const Verdict& verdict);
  void appendJson(const Request& request, const Verdict& verdict);
  void flush();

  const bool json_;
  std::string buffer_;
};

}  // namespace cli
}  // namespace tessul

#endif  // TESSUL_CLI_VERDICT_WRITER_H_
