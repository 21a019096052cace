// An engine image, damaged or not, into the bounded deserialize of an engine
// that holds rules already. Whatever the bytes, loading reads nothing outside
// them, and:
//
//   - an image that is refused leaves the engine as it was;
//   - an image that loads is exactly what the engine writes again, before
//     and after requests made rules of some of its host records: the loader
//     takes only whole images in the writer's form;
//   - the trusting deserialize loads it the same way, and every engine
//     loaded from it answers requests alike.

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

// The image of a few rules that every execution's engine holds before it
// loads the input.
const testing::ExactCopy* earlierImage = nullptr;

}  // namespace
}  // namespace tessul

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  using namespace tessul;
  TessulClient engine;
  fuzzing::giveSmallStores(engine);
  engine.parse(
      "||ads.example^\n/banner/*$image,domain=news.example\n"
      "@@||ads.example/ok/\n");
  earlierImage = new testing::ExactCopy(testing::savedImage(engine));
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace tessul;
  TessulClient engine;
  fuzzing::require(
      engine.deserialize(earlierImage->data(), earlierImage->size()),
      "the earlier image loads");
  const testing::ExactCopy input(reinterpret_cast<const char*>(data), size);
  std::string reason;
  if (!engine.deserialize(input.data(), input.size(), &reason)) {
    fuzzing::require(!reason.empty(), "a refused image has a reason");
    fuzzing::require(
        engine.imageBuffer == earlierImage->data() &&
            testing::savedImage(engine) ==
                std::string(earlierImage->data(), earlierImage->size()),
        "a refused image changes nothing");
    return 0;
  }
  fuzzing::require(
      testing::savedImage(engine) == std::string(input.data(), input.size()),
      "a loaded image is what the engine writes again");
  const std::vector<Request> requests = requestsFor(engine);
  const std::vector<testing::Answer> answers = answersOf(engine, requests);
  fuzzing::require(
      testing::savedImage(engine) == std::string(input.data(), input.size()),
      "the host rules that requests found write their records again");
  TessulClient trusting;
  fuzzing::require(trusting.deserialize(input.data()),
                   "the trusting load takes a whole image too");
  fuzzing::require(answersOf(trusting, requests) == answers,
                   "engines loaded from one image answer alike");
  return 0;
}
