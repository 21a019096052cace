// tessul version (and tessul --version): the project's version, which the
// engine, the Java class and the CMake package report alike.

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "cli/cli_error.h"
#include "cli/commands.h"
#include "cli/file_io.h"
#include "tessul_version.h"

namespace tessul {
namespace cli {

int runVersion(const CommandLine&) {
  const std::string text = std::string("tessul ") + version() + "\n";
  if (!writeAll(STDOUT_FILENO, text.data(), text.size())) {
    throw Failure(std::string("cannot write the version: ") + strerror(errno));
  }
  return 0;
}

}  // namespace cli
}  // namespace tessul
