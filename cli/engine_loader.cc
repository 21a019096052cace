#include "cli/engine_loader.h"

#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>

#include "cli/cli_error.h"
#include "cli/file_io.h"

namespace tessul {
namespace cli {

namespace {

constexpr const char* kBundledListNames[] = {"easylist.txt", "easyprivacy.txt"};

// Where the notes on one list go: those on the user's lists to standard
// error as "FILE:LINE: message"; those on the bundled lists, which are
// known and of no use to the user, nowhere.
NoteSink notesOn(const std::string& path, bool bundled) {
  if (bundled) return [](int, std::string_view) {};
  return [&path](int line, std::string_view message) {
    fprintf(stderr, "%s:%d: %.*s\n", path.c_str(), line,
            static_cast<int>(message.size()), message.data());
  };
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
    const std::string text = readWholeFile(path, "list");
    // Parsing ends at the first NUL: the rules after it would be lost
    // without a word. Such a file is not a filter list (UTF-16 text, say).
    const size_t nul = text.find('\0');
    if (nul != std::string::npos) {
      throw Failure("list " + path + " is not a text file: a NUL byte at offset " +
                    std::to_string(nul));
    }
    client_.setNoteSink(notesOn(path, bundled));
    client_.parse(text.c_str(), preserveRules);
  }
  client_.setNoteSink(nullptr);  // it refers to `path`
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
