// The command line of the tessul program: which command runs, with which
// options. Parsing checks only the syntax; whether the named files exist
// or a request type is known is found out when the command runs.
#ifndef TESSUL_CLI_COMMAND_LINE_H_
#define TESSUL_CLI_COMMAND_LINE_H_

#include <optional>
#include <string>
#include <vector>

#include "filter/filter.h"

namespace tessul {
namespace cli {

enum class Command { kNone, kCheck, kCompile, kInfo, kVersion, kHide };

struct CommandLine {
  Command command = Command::kNone;
  bool help = false;
  std::vector<std::string> lists;       // --list, in the order given
  std::optional<std::string> image;     // --image
  std::optional<std::string> type;      // --type
  std::string page;                     // --page; empty: no page
  std::optional<std::string> requests;  // --requests; "-" is standard input
  std::optional<std::string> output;    // -o; "-" is standard output
  bool json = false;
  bool quiet = false;  // -q: no output, only the exit status
  bool stats = false;
  bool keepCosmetic = false;
  bool specific = false;  // hide --specific
  bool css = false;       // hide --css
  bool compatible = false;              // --compatible
  MatchingMode mode() const {
    return compatible ? MatchingMode::kCompatible : MatchingMode::kExact;
  }
  std::vector<std::string> operands;  // check's URLs, info's IMAGE
};

// Throws UsageError for an unknown command or option, a missing or
// repeated value, or a combination that makes no sense. With --help
// anywhere, only the command is known for sure.
CommandLine parseCommandLine(int argc, const char* const* argv);

// One line saying how the command is called.
std::string usageLine(Command command);

// What --help prints for the command (for kNone: the whole program).
std::string helpText(Command command);

}  // namespace cli
}  // namespace tessul

#endif  // TESSUL_CLI_COMMAND_LINE_H_
