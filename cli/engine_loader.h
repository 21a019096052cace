// The engine of one run, built from the filter lists and the engine image
// named on the command line, or from the bundled lists.
#ifndef TESSUL_CLI_ENGINE_LOADER_H_
#define TESSUL_CLI_ENGINE_LOADER_H_

#include <optional>
#include <string>
#include <vector>

#include "engine/tessul_client.h"

namespace tessul {
namespace cli {

struct EngineSources {
  std::vector<std::string> lists;    // parsed in this order
  std::optional<std::string> image;  // loaded before the lists
  bool showParsing = true;  // the line on a terminal while a list parses
  // The mode lists are parsed in; an image brings its own.
  MatchingMode mode = MatchingMode::kExact;
};

// An engine together with the image bytes its loaded rules point into.
class LoadedEngine {
 public:
  // Loads the image, if any, then parses each list into the same engine;
  // with neither, parses the bundled lists. With `preserveRules`, parsed
  // rules keep their lines for printing (at a cost in memory). The notes on
  // the user's lists (rules dropped for an unknown option) go to standard
  // error as "FILE:LINE: message", those on the bundled lists nowhere; none
  // mixes with the answers. A list that adds no rule gets a
  // warning there, and on a terminal a line tells which list is being
  // parsed while that takes long. Throws Failure for a file that cannot be
  // read and for an image that does not load.
  LoadedEngine(const EngineSources& sources, bool preserveRules);

  TessulClient& client() { return client_; }

 private:
  void loadImage(const std::string& path);
  void parseList(const std::string& path, bool bundled, bool preserveRules,
                 bool showParsing);

  std::string image_;  // declared first, so that it outlives client_
  TessulClient client_;
};

// The bundled lists, EasyList then EasyPrivacy: installed beside the
// program (<prefix>/share/tessul), or in the source tree's data/ when the
// program runs from its build tree.
std::vector<std::string> bundledListPaths();

}  // namespace cli
}  // namespace tessul

#endif  // TESSUL_CLI_ENGINE_LOADER_H_
