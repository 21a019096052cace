// The commands of the tessul program. Each returns the exit status of a
// run that did its work, and throws Failure when it cannot.
#ifndef TESSUL_CLI_COMMANDS_H_
#define TESSUL_CLI_COMMANDS_H_

#include "cli/command_line.h"

namespace tessul {
namespace cli {

// Answers each request (URL arguments or a requests file) on standard
// output.
int runCheck(const CommandLine& line);

// Writes the engine image of the lists to the -o file.
int runCompile(const CommandLine& line);

// Describes an engine image on standard output; 1 when it does not load.
int runInfo(const CommandLine& line);

// Prints the program's version on standard output.
int runVersion(const CommandLine& line);

// Prints the element-hiding selectors (or style sheet) of the --page.
int runHide(const CommandLine& line);

}  // namespace cli
}  // namespace tessul

#endif  // TESSUL_CLI_COMMANDS_H_
