#include "cli/engine_loader.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>

#include "cli/cli_error.h"
#include "cli/file_io.h"

namespace tessul {
namespace cli {

namespace {

constexpr const char* kBundledListNames[] = {"easylist.txt", "easyprivacy.txt"};

// While it lives, whatever is written to standard output goes to standard
// error instead, or nowhere. The rule parser reports each unrecognised
// option once per process on standard output; those notes are about the
// lists, not answers, and must not mix with the answers.
class StdoutDiversion {
 public:
  explicit StdoutDiversion(bool discard) {
    fflush(stdout);
    saved_ = dup(STDOUT_FILENO);
    if (saved_ < 0) return;
    const int target =
        discard ? open("/dev/null", O_WRONLY | O_CLOEXEC) : STDERR_FILENO;
    if (target >= 0) dup2(target, STDOUT_FILENO);
    if (discard && target >= 0) close(target);
  }
  ~StdoutDiversion() {
    fflush(stdout);
    if (saved_ < 0) return;
    dup2(saved_, STDOUT_FILENO);
    close(saved_);
  }
  StdoutDiversion(const StdoutDiversion&) = delete;
  StdoutDiversion& operator=(const StdoutDiversion&) = delete;

 private:
  int saved_;
};

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

LoadedEngine::LoadedEngine(const EngineSources& sources, bool preserveRules) {
  if (sources.image) loadImage(*sources.image);
  // The notes on the bundled lists are known and of no use to the user;
  // the notes on the user's own lists go to standard error.
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
    StdoutDiversion notes(/*discard=*/bundled);
    client_.parse(text.c_str(), preserveRules);
  }
}

void LoadedEngine::loadImage(const std::string& path) {
  image_ = readWholeFile(path, "image");
  if (image_.empty()) throw Failure("engine image " + path + " is empty");
  if (!client_.deserialize(image_.data(), image_.size())) {
    throw Failure("engine image " + path + " is damaged: it does not load");
  }
}

}  // namespace cli
}  // namespace tessul
