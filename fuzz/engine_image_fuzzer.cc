// An engine image, damaged or not, into the bounded deserialize. Whatever
// the bytes, loading reads nothing outside them, and the engine is safe to
// use afterwards: it answers requests and writes an image of its own.
//
// An image that loads need not be byte for byte what this library writes
// (hexadecimal digits may be upper case, headers may carry trailing bytes),
// but the image the engine writes then is canonical: loading it gives an
// engine that writes exactly it again and answers every request the same.

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "engine_answers.h"
#include "image_test_support.h"
#include "engine/tessul_client.h"
#include "fuzz_support.h"

namespace tessul {
namespace {

struct Request {
  std::string url;
  FilterOption options;
  std::string pageHost;  // "" for none
};

// Fixed requests, and requests made from the first rule of the arrays that
// request matching searches, on the page of the rule's first domain.
std::vector<Request> requestsFor(const TessulClient& engine) {
  std::vector<Request> requests = {
      {"https://example.com/ads/banner.js", OptScript, "news.example.org"},
      {"http://tracker.example.net:8080/p.gif?id=1", OptImage, ""}};
  const std::pair<const Filter*, int> arrays[] = {
      {engine.fingerprintedBlockRules, engine.fingerprintedBlockCount},
      {engine.unfingerprintedBlockRules, engine.unfingerprintedBlockCount},
      {engine.includeDomainBlockRules, engine.includeDomainBlockCount},
      {engine.excludeDomainBlockRules, engine.excludeDomainBlockCount}};
  for (const auto& [rule, count] : arrays) {
    if (count < 1) continue;
    const std::string pattern = testing::patternText(rule);
    const std::string domains = rule->domainText ? rule->domainText : "";
    requests.push_back({fuzzing::urlFromRuleLine(
                            pattern.data(), pattern.data() + pattern.size()),
                        rule->options & kRequestTypeMask,
                        domains.substr(0, domains.find('|'))});
  }
  return requests;
}

std::vector<testing::Answer> answersOf(TessulClient& engine,
                                       const std::vector<Request>& requests) {
  std::vector<testing::Answer> answers;
  for (const Request& request : requests) {
    answers.push_back(testing::ask(
        engine, request.url.c_str(), request.options,
        request.pageHost.empty() ? nullptr : request.pageHost.c_str()));
  }
  return answers;
}

}  // namespace
}  // namespace tessul

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace tessul;
  TessulClient engine;
  const bool loaded =
      engine.deserialize(reinterpret_cast<const char*>(data), size);
  const std::vector<Request> requests = requestsFor(engine);
  const std::string image = testing::savedImage(engine);
  const std::vector<testing::Answer> answers = answersOf(engine, requests);
  if (!loaded) return 0;

  const testing::ExactCopy canonical(image);
  TessulClient reloaded;
  fuzzing::require(reloaded.deserialize(canonical.data(), canonical.size()),
                   "the image of a loaded engine loads");
  fuzzing::require(testing::savedImage(reloaded) == image,
                   "a reloaded engine writes the image it was loaded from");
  fuzzing::require(answersOf(reloaded, requests) == answers,
                   "a reloaded engine answers as the engine it came from");
  return 0;
}
