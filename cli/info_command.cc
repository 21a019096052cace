// tessul info: the header and sections of an engine image.

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "cli/cli_error.h"
#include "cli/commands.h"
#include "cli/file_io.h"
#include "cli/image_report.h"

namespace tessul {
namespace cli {

int runInfo(const CommandLine& line) {
  const std::string& path = line.operands[0];
  const std::string image = readWholeFile(path, "image");
  const ImageReport report = describeImage(path, image);
  if (!writeAll(STDOUT_FILENO, report.text.data(), report.text.size())) {
    throw Failure(std::string("cannot write the report: ") + strerror(errno));
  }
  if (!report.loads) {
    throw Failure("engine image " + path + " is damaged: " + report.failure);
  }
  return 0;
}

}  // namespace cli
}  // namespace tessul
