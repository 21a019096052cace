// tessul: checks URLs against ad- and tracker-blocking filter lists, and
// compiles the lists into engine images. See `tessul --help`.
//
// Exit status: 0 when the command did its work, 1 when it could not (the
// message names the problem), 2 when the command line is wrong. With
// check -q, as grep -q: 0 when a request is blocked, 1 when none is, 2 on
// any error.

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <new>
#include <string>

#include "cli/cli_error.h"
#include "cli/command_line.h"
#include "cli/commands.h"

namespace {

using tessul::cli::Command;
using tessul::cli::CommandLine;

constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

int run(const CommandLine& line) {
  if (line.help) {
    const std::string text = tessul::cli::helpText(line.command);
    if (fputs(text.c_str(), stdout) < 0 || fflush(stdout) != 0) {
      throw tessul::cli::Failure(std::string("cannot write the help text: ") +
                                 strerror(errno));
    }
    return 0;
  }
  switch (line.command) {
    case Command::kCheck: return tessul::cli::runCheck(line);
    case Command::kCompile: return tessul::cli::runCompile(line);
    case Command::kInfo: return tessul::cli::runInfo(line);
    case Command::kVersion: return tessul::cli::runVersion(line);
    case Command::kHide: return tessul::cli::runHide(line);
    case Command::kNone: break;
  }
  return kExitUsage;
}

// Runs the command; a failure is reported and gives `failureStatus`.
int runReportingFailures(const CommandLine& line, int failureStatus) {
  try {
    return run(line);
  } catch (const tessul::cli::Failure& error) {
    fprintf(stderr, "tessul: %s\n", error.what());
  } catch (const std::bad_alloc&) {
    fprintf(stderr, "tessul: out of memory\n");
  } catch (const std::exception& error) {
    fprintf(stderr, "tessul: %s\n", error.what());
  }
  return failureStatus;
}

}  // namespace

int main(int argc, char** argv) {
  CommandLine line;
  try {
    line = tessul::cli::parseCommandLine(argc, argv);
  } catch (const tessul::cli::UsageError& error) {
    fprintf(stderr, "tessul: %s\n%s\n", error.what(),
            error.usageLine().c_str());
    return kExitUsage;
  }
  // Under -q, 1 means "nothing blocked": a failure is 2, as for grep.
  return runReportingFailures(line, line.quiet ? kExitUsage : kExitFailure);
}
