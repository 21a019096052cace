// tessul: checks URLs against ad- and tracker-blocking filter lists, and
// compiles the lists into engine images. See `tessul --help`.
//
// Exit status: 0 when the command did its work, 1 when it could not (the
// message names the problem), 2 when the command line is wrong.

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

}  // namespace

int main(int argc, char** argv) {
  try {
    return run(tessul::cli::parseCommandLine(argc, argv));
  } catch (const tessul::cli::UsageError& error) {
    fprintf(stderr, "tessul: %s\n%s\n", error.what(),
            error.usageLine().c_str());
    return kExitUsage;
  } catch (const tessul::cli::Failure& error) {
    fprintf(stderr, "tessul: %s\n", error.what());
    return kExitFailure;
  } catch (const std::bad_alloc&) {
    fprintf(stderr, "tessul: out of memory\n");
    return kExitFailure;
  } catch (const std::exception& error) {
    fprintf(stderr, "tessul: %s\n", error.what());
    return kExitFailure;
  }
}
