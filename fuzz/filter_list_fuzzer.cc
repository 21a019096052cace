// A whole filter list into TessulClient::parse, then the round trip through
// an engine image: the loaded engine must write the very same image and
// answer every request exactly as the parsed one. The requests are made
// from the list's first lines, so that its rules have a chance to match.
//
// Input: one byte of flags (bit 0: preserve rule text; bit 1: parse the
// list in two calls, the second appending; bit 2: hash sets of one bucket
// rather than seven), then the list. The stores are tiny either way: the
// ones the engine makes for itself, sized for whole lists, would cost most
// of every execution to write and read.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "engine_answers.h"
#include "image_test_support.h"
#include "engine/tessul_client.h"
#include "fuzz_support.h"

namespace tessul {
namespace {

constexpr int kDerivedUrlCount = 4;
constexpr size_t kMaxUrlLength = 160;

bool isLineEnd(char c) { return c == '\0' || c == '\n' || c == '\r'; }

// Parses the list in one call, or in two that split it at a line end near
// its middle.
void parseList(TessulClient& engine, const char* list, bool preserveRules,
               bool inTwoCalls) {
  if (!inTwoCalls) {
    engine.parse(list, preserveRules);
    return;
  }
  const char* cut = list + strlen(list) / 2;
  while (!isLineEnd(*cut)) ++cut;
  engine.parse(std::string(list, cut).c_str(), preserveRules);
  engine.parse(cut, preserveRules);
}

// The URLs of the list's first lines, then two that rules of real lists
// often match.
std::vector<std::string> requestUrls(const char* list) {
  std::vector<std::string> urls;
  const char* line = list;
  while (urls.size() < kDerivedUrlCount) {
    const char* end = line;
    while (!isLineEnd(*end)) ++end;
    // A rule's first bytes decide whether it may match; a URL of the
    // whole of a long line would only make every request slow.
    if (end > line) {
      urls.push_back(
          fuzzing::urlFromRuleLine(line, end).substr(0, kMaxUrlLength));
    }
    if (*end == '\0') break;
    line = end + 1;
  }
  urls.emplace_back("https://example.com/");
  urls.emplace_back("http://ads.example.net:81/ad/banner.js?a=b");
  return urls;
}

// The first domain named by a domain= option of the list, or "".
std::string firstOptionDomain(const char* list) {
  const char* value = strstr(list, "domain=");
  if (value == nullptr) return "";
  value += strlen("domain=");
  if (*value == '~') ++value;
  return std::string(value, strcspn(value, "|,$\n\r"));
}

// Each URL is asked for once: as a script or, every other URL, as a
// third-party image; the first two on the page, the next two on no page,
// and so on. The first line's URL meets the page its rule may name.
void requireSameAnswers(TessulClient& parsed, TessulClient& loaded,
                        const char* list) {
  // The page a domain= option names, or any page.
  std::string optionDomain = firstOptionDomain(list);
  if (optionDomain.empty()) optionDomain = "example.com";
  const std::vector<std::string> urls = requestUrls(list);
  for (size_t i = 0; i < urls.size(); ++i) {
    const FilterOption options =
        i % 2 == 0 ? OptScript : OptImage | OptThirdParty;
    const char* pageHost = (i / 2) % 2 == 0 ? optionDomain.c_str() : nullptr;
    fuzzing::require(
        testing::ask(parsed, urls[i].c_str(), options, pageHost) ==
            testing::ask(loaded, urls[i].c_str(), options, pageHost),
        "a loaded engine answers as the parsed one");
  }
}

}  // namespace
}  // namespace tessul

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace tessul;
  if (size == 0) return 0;
  const uint8_t flags = data[0];
  const fuzzing::TerminatedCopy list(data + 1, size - 1);

  TessulClient parsed;
  // Without a sink, every option name the mutations invent would join the
  // process-wide report for good; libFuzzer runs each input that leaves
  // memory allocated a second time, to look for a leak.
  parsed.setNoteSink([](int, std::string_view) {});
  fuzzing::giveSmallStores(parsed, (flags & 4) != 0 ? 1 : 7);
  parseList(parsed, list.c_str(), flags & 1, flags & 2);
  const std::string image = testing::savedImage(parsed);
  const testing::ExactCopy loadedImage(image);
  TessulClient loaded;
  fuzzing::require(loaded.deserialize(loadedImage.data(), loadedImage.size()),
                   "the image of a parsed engine loads");
  fuzzing::require(testing::savedImage(loaded) == image,
                   "a loaded engine writes the image it was loaded from");
  requireSameAnswers(parsed, loaded, list.c_str());
  return 0;
}
