// tessul hide: the element-hiding selectors that apply on a page.

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "cli/cli_error.h"
#include "cli/commands.h"
#include "cli/engine_loader.h"
#include "cli/file_io.h"

namespace tessul {
namespace cli {

int runHide(const CommandLine& line) {
  LoadedEngine engine({line.lists, line.image}, /*preserveRules=*/false);
  const std::vector<std::string_view> selectors =
      engine.client().hidingSelectors(line.page, line.specific
                                                     ? HidingScope::kSpecific
                                                     : HidingScope::kAll);
  std::string text;
  if (line.css) {
    text = hidingStyleSheet(selectors);
  } else {
    for (std::string_view selector : selectors) {
      text += selector;
      text += '\n';
    }
  }
  if (!writeAll(STDOUT_FILENO, text.data(), text.size())) {
    throw Failure(std::string("cannot write the selectors: ") +
                  strerror(errno));
  }
  return 0;
}

}  // namespace cli
}  // namespace tessul
