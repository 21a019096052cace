// Requests with arbitrary URLs, option bits and page hosts against an engine
// parsed from the bundled lists, and against the engine loaded from its
// image, which must answer every request the same way.
//
// Input: four bytes of option bits (little-endian; missing bytes are 0),
// then the URL, then optionally a tab and the host of the page.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "engine_answers.h"
#include "test_support.h"
#include "engine/tessul_client.h"
#include "fuzz_support.h"

namespace tessul {
namespace {

TessulClient* parsedEngine = nullptr;
TessulClient* loadedEngine = nullptr;
char* loadedImage = nullptr;  // the loaded engine's rules point into it

FilterOption optionBits(const uint8_t* data, size_t size) {
  uint32_t bits = 0;
  for (size_t i = 0; i < 4 && i < size; ++i) bits |= uint32_t{data[i]} << (8 * i);
  return static_cast<FilterOption>(bits);
}

}  // namespace
}  // namespace tessul

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  using namespace tessul;
  parsedEngine = new TessulClient;
  parsedEngine->parse(testing::bundledLists().c_str());
  int size = 0;
  loadedImage = parsedEngine->serialize(&size);
  loadedEngine = new TessulClient;
  fuzzing::require(loadedEngine->deserialize(loadedImage, size),
                   "the bundled lists' image loads");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace tessul;
  const FilterOption options = optionBits(data, size);
  const size_t skipped = size < 4 ? size : 4;
  const fuzzing::TerminatedCopy request(data + skipped, size - skipped);
  char* tab = strchr(request.begin(), '\t');
  const char* pageHost = nullptr;
  if (tab != nullptr) {
    *tab = '\0';
    pageHost = tab + 1;
  }
  const char* url = request.c_str();
  fuzzing::require(testing::ask(*parsedEngine, url, options, pageHost) ==
                       testing::ask(*loadedEngine, url, options, pageHost),
                   "the loaded engine answers as the parsed one");
  return 0;
}
