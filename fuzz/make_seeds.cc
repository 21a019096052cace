// Writes the fuzz targets' seed corpora, made from the bundled lists and the
// request files, into one directory per target under the given directory:
//
//   filter_line/       single lines of the lists
//   filter_list/       runs of consecutive lines, after a flags byte
//   engine_image/      images of such runs, with tiny Bloom filters and hash
//                      sets: a few kilobytes each
//   engine_image_big/  images with the stores the engine makes for itself,
//                      of a run and of a sample of both lists (200 and 320
//                      kilobytes), for the longer runs of scripts/fuzz --big
//   request/           every request of the request files
//
// Seeds are made at fuzzing time rather than kept in the repository, where
// they would take megabytes.

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "image_test_support.h"
#include "test_support.h"
#include "engine/tessul_client.h"
#include "fuzz_support.h"

namespace tessul {
namespace {

namespace fs = std::filesystem;

constexpr size_t kLineStride = 61;
constexpr size_t kListStride = 2000;
constexpr size_t kListLines = 12;
constexpr size_t kImageStride = 4000;
constexpr size_t kImageLines = 60;
constexpr size_t kSampleStride = 50;

class Corpus {
 public:
  Corpus(const fs::path& root, const char* name) : directory_(root / name) {
    fs::create_directories(directory_);
  }

  void add(const std::string& bytes) {
    char name[32];
    snprintf(name, sizeof name, "seed-%05d", count_++);
    std::ofstream(directory_ / name, std::ios::binary) << bytes;
  }

 private:
  fs::path directory_;
  int count_ = 0;
};

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> result;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) result.push_back(line);
  return result;
}

std::string joined(const std::vector<std::string>& lines, size_t first,
                   size_t count, size_t stride) {
  std::string text;
  for (size_t i = first; i < lines.size() && count > 0; i += stride, --count) {
    text += lines[i] + "\n";
  }
  return text;
}

std::string imageOf(const std::string& list) {
  TessulClient engine;
  engine.parse(list.c_str(), /*preserveRules=*/false);
  return testing::savedImage(engine);
}

// The engine's image made with tiny Bloom filters and hash sets: a few
// kilobytes where a normal image, sized for whole lists, takes 200.
// Mutations then mostly hit records.
std::string compactImageOf(const std::string& list) {
  TessulClient engine;
  fuzzing::giveSmallStores(engine);
  engine.parse(list.c_str(), /*preserveRules=*/false);
  return testing::savedImage(engine);
}

std::string requestSeed(const testing::Request& request) {
  const uint32_t options = testing::requestTypeOption(request.type);
  std::string seed;
  for (int i = 0; i < 4; ++i) seed += static_cast<char>(options >> (8 * i));
  seed += request.url;
  if (!request.pageHost.empty()) seed += "\t" + request.pageHost;
  return seed;
}

void writeSeeds(const fs::path& root) {
  const std::vector<std::string> listLines = lines(testing::bundledLists());

  Corpus lineSeeds(root, "filter_line");
  for (size_t i = 0; i < listLines.size(); i += kLineStride) {
    lineSeeds.add(listLines[i]);
  }

  Corpus listSeeds(root, "filter_list");
  for (size_t i = 0; i < listLines.size(); i += kListStride) {
    const char flags = static_cast<char>(i / kListStride % 8);
    listSeeds.add(flags + joined(listLines, i, kListLines, 1));
  }

  Corpus imageSeeds(root, "engine_image");
  for (size_t i = 0; i < listLines.size(); i += kImageStride) {
    imageSeeds.add(compactImageOf(joined(listLines, i, kImageLines, 1)));
  }
  Corpus bigImageSeeds(root, "engine_image_big");
  bigImageSeeds.add(imageOf(joined(listLines, 0, kImageLines, 1)));
  bigImageSeeds.add(imageOf(joined(listLines, 0, SIZE_MAX, kSampleStride)));

  Corpus requestSeeds(root, "request");
  for (const char* file : {"pageloads.tsv", "peer-dev.tsv"}) {
    for (const testing::Request& request : testing::readRequests(file)) {
      requestSeeds.add(requestSeed(request));
    }
  }
}

}  // namespace
}  // namespace tessul

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: %s OUTPUT_DIRECTORY\n", argv[0]);
    return 2;
  }
  tessul::writeSeeds(argv[1]);
  return 0;
}
