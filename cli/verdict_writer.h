// Writes the program's answers to standard output, one line per request:
// tab-separated
//
//   block|allow <TAB> url <TAB> blocking rule <TAB> exception rule
//
// where a backslash, tab or line break in a field is written \\, \t, \n or
// \r, so that every field reads back as it was; or, with JSON, one object
// per line (JSON Lines):
//
//   {"decision":"block","url":...,"type":...,"page":...,"rule":...,
//    "exception":...}
//
// where a missing type, page or rule is null.
#ifndef TESSUL_CLI_VERDICT_WRITER_H_
#define TESSUL_CLI_VERDICT_WRITER_H_

#include <string>
#include <string_view>
#include <unordered_map>

#include "cli/request_file.h"
#include "filter/filter.h"

namespace tessul {
namespace cli {

// The engine's answer for one request and the rules that decided it; the
// rules are the engine's and are only borrowed: the engine must outlive the
// writer and keep them.
struct Verdict {
  bool blocked = false;
  const Filter* rule = nullptr;       // the blocking rule that matched
  const Filter* exception = nullptr;  // the exception that cancelled it
};

class VerdictWriter {
 public:
  explicit VerdictWriter(bool json) : json_(json) {}

  // Buffers the answer; throws Failure as soon as standard output refuses
  // a write.
  void write(const Request& request, const Verdict& verdict);
  // Writes what is buffered; throws Failure when that fails.
  void flush();

 private:
  void appendTsv(const Request& request, const Verdict& verdict);
  void appendJson(const Request& request, const Verdict& verdict);
  void appendJsonRule(const Filter* rule);
  // The rule as a line of its list (ruleText); empty for none.
  std::string_view textOf(const Filter* rule);

  const bool json_;
  std::string buffer_;
  // The rules written so far (they live as long as the engine, which
  // outlives the writer).
  std::unordered_map<const Filter*, std::string> ruleTexts_;
};

}  // namespace cli
}  // namespace tessul

#endif  // TESSUL_CLI_VERDICT_WRITER_H_
