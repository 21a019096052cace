#include "cli/engine_loader.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>

#include "cli/cli_error.h"
#include "cli/file_io.h"
#include "cli/progress_line.h"
#include "engine/rule_stores.h"

namespace tessul {
namespace cli {

namespace {

constexpr const char* kBundledListNames[] = {"easylist.txt", "easyprivacy.txt"};

// Where the notes on one list go: those on the user's lists to standard
// error as "FILE:LINE: message", past the waiting line; those on the
// bundled lists, which are known and of no use to the user, nowhere.
NoteSink notesOn(const std::string& path, bool bundled, WaitingLine* waiting) {
  if (bundled) return [](int, std::string_view) {};
  return [&path, waiting](int line, std::string_view message) {
    waiting->print(path + ":" + std::to_string(line) + ": " +
                   std::string(message));
  };
}

// Every rule the engine holds: in its rule arrays and its host sets.
int64_t ruleCount(const TessulClient& engine) {
  int64_t count = 0;
  for (const RuleStore& store : kRuleStores) count += engine.*store.count.member;
  for (const SideStores& side : kSides) count += engine.*side.hostCount.member;
  return count;
}

std::filesystem::path bundledDataDir() {
  namespace fs = std::filesystem;
  std::error_code error;
  const fs::path program = fs::read_symlink("/proc/self/exe", error);
  if (!error) {
    const fs::path installed =
        (program.parent_path() / TESSUL_INSTALLED_DATA_DIR).lexically_normal();
    if (fs::exists(installed / kBundledListNames[0], error)) return installed;
  }
  return TESSUL_SOURCE_DATA_DIR;
}

}  // namespace

std::vector<std::string> bundledListPaths() {
  const std::filesystem::path directory = bundledDataDir();
  std::vector<std::string> paths;
  for (const char* name : kBundledListNames) {
    paths.push_back((directory / name).string());
  }
  return paths;
}

LoadedEngine::LoadedEngine(const EngineSources& sources, bool preserveRules)
    : client_(sources.mode) {
  if (sources.image) loadImage(*sources.image);
  const bool bundled = sources.lists.empty() && !sources.image;
  for (const std::string& path : bundled ? bundledListPaths() : sources.lists) {
    parseList(path, bundled, preserveRules, sources.showParsing);
  }
}

void LoadedEngine::parseList(const std::string& path, bool bundled,
                             bool preserveRules, bool showParsing) {
  const std::string text = readWholeFile(path, "list");
  // Parsing ends at the first NUL: the rules after it would be lost
  // without a word. Such a file is not a filter list (UTF-16 text, say).
  const size_t nul = text.find('\0');
  if (nul != std::string::npos) {
    throw Failure("list " + path + " is not a text file: a NUL byte at offset " +
                  std::to_string(nul));
  }
  const int64_t rulesBefore = ruleCount(client_);
  {
    const size_t lines = std::count(text.begin(), text.end(), '\n');
    WaitingLine waiting(
        "parsing " + path + " (" + std::to_string(lines) + " lines)",
        showParsing);
    client_.setNoteSink(notesOn(path, bundled, &waiting));
    client_.parse(text.c_str(), preserveRules);
    client_.setNoteSink(nullptr);  // it refers to `waiting`
  }
  // An empty download, or a list whose every rule the engine drops, would
  // answer "allow" for everything without a word.
  if (ruleCount(client_) == rulesBefore) {
    fprintf(stderr, "tessul: warning: list %s holds no rule\n", path.c_str());
  }
}

void LoadedEngine::loadImage(const std::string& path) {
  image_ = readWholeFile(path, "image");
  if (image_.empty()) throw Failure("engine image " + path + " is empty");
  std::string reason;
  if (!client_.deserialize(image_.data(), image_.size(), &reason)) {
    throw Failure("engine image " + path + " is damaged: " + reason);
  }
}

}  // namespace cli
}  // namespace tessul
