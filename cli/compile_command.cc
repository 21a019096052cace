// tessul compile: the engine image of the lists, for apps to load.

#include <cstdio>
#include <memory>

#include "cli/commands.h"
#include "cli/engine_loader.h"
#include "cli/file_io.h"

namespace tessul {
namespace cli {

int runCompile(const CommandLine& line) {
  LoadedEngine engine({line.lists, line.image, /*showParsing=*/true,
                       line.mode()},
                      /*preserveRules=*/false);
  // The Java bridge leaves out the element-hiding and HTML rules, which
  // request matching never reads; by default the image is the same.
  const bool omitCosmetic = !line.keepCosmetic;
  int size = 0;
  const std::unique_ptr<char[]> image(
      engine.client().serialize(&size, omitCosmetic, omitCosmetic));
  writeWholeFile(*line.output, "image", image.get(), static_cast<size_t>(size));
  fprintf(stderr, "tessul: wrote engine image %s (%d bytes)\n",
          line.output->c_str(), size);
  return 0;
}

}  // namespace cli
}  // namespace tessul
