// The engine image round trip on random rule sets drawn from the bundled
// lists: parse, write the image, load it, write it again. The two images
// must be byte for byte the same, and the parsed and the loaded engine must
// answer every request of the request files alike, down to the patterns of
// the deciding rules.
//
// Each set mixes the rules that decide some request under the full lists
// with rules drawn at random, so that many requests are blocked or excepted
// and the answers compared are not merely "allowed".

#include <cstdint>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engine/tessul_client.h"
#include "engine_answers.h"
#include "image_test_support.h"
#include "test_support.h"

namespace tessul {
namespace {

using testing::Answer;
using testing::ask;
using testing::ExactCopy;
using testing::readRequests;
using testing::Request;
using testing::requestTypeOption;
using testing::savedImage;

std::vector<std::string> linesOf(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

class RoundTripTest : public ::testing::TestWithParam<uint32_t> {
 protected:
  static void SetUpTestSuite() {
    lines_ = new std::vector<std::string>(linesOf(testing::bundledLists()));
    requests_ = new std::vector<Request>(readRequests("pageloads.tsv"));
    for (const Request& request : readRequests("peer-dev.tsv")) {
      requests_->push_back(request);
    }
    decidingRules_ = new std::vector<std::string>(decidingRules());
  }
  static void TearDownTestSuite() {
    delete lines_;
    delete requests_;
    delete decidingRules_;
  }

  // The lines of the rules that decide a request under the full lists.
  static std::vector<std::string> decidingRules() {
    TessulClient full;
    full.parse(testing::bundledLists().c_str(), /*preserveRules=*/true);
    std::set<std::string> rules;
    for (const Request& request : *requests_) {
      Filter* rule = nullptr;
      Filter* exception = nullptr;
      full.matches(request.url.c_str(), requestTypeOption(request.type),
                   pageHostOf(request), &rule, &exception);
      for (const Filter* decider : {rule, exception}) {
        if (decider != nullptr && decider->sourceText != nullptr) {
          rules.insert(decider->sourceText);
        }
      }
    }
    return {rules.begin(), rules.end()};
  }

  static const char* pageHostOf(const Request& request) {
    return request.pageHost.empty() ? nullptr : request.pageHost.c_str();
  }

  // Half of the deciding rules and kRandomLines random lines, shuffled; the
  // same for the same seed on every platform (no standard distributions).
  static std::string ruleSet(uint32_t seed) {
    std::mt19937 random(seed);
    std::vector<std::string> chosen;
    for (const std::string& rule : *decidingRules_) {
      if (random() % 2 == 0) chosen.push_back(rule);
    }
    for (int i = 0; i < kRandomLines; ++i) {
      chosen.push_back((*lines_)[random() % lines_->size()]);
    }
    for (size_t i = chosen.size() - 1; i > 0; --i) {
      std::swap(chosen[i], chosen[random() % (i + 1)]);
    }
    std::string list;
    for (const std::string& line : chosen) list += line + "\n";
    return list;
  }

  static constexpr int kRandomLines = 3000;
  static std::vector<std::string>* lines_;
  static std::vector<Request>* requests_;
  static std::vector<std::string>* decidingRules_;
};

std::vector<std::string>* RoundTripTest::lines_ = nullptr;
std::vector<Request>* RoundTripTest::requests_ = nullptr;
std::vector<std::string>* RoundTripTest::decidingRules_ = nullptr;

TEST_P(RoundTripTest, LoadedEngineWritesTheSameImageAndAnswersAlike) {
  const std::string list = ruleSet(GetParam());
  TessulClient parsed;
  // Kept rule texts are no part of an image and must change nothing.
  parsed.parse(list.c_str(), /*preserveRules=*/GetParam() % 2 == 1);
  const ExactCopy image(savedImage(parsed));
  TessulClient loaded;
  ASSERT_TRUE(loaded.deserialize(image.data(), image.size()));
  EXPECT_TRUE(savedImage(loaded) == std::string(image.data(), image.size()))
      << "the loaded engine wrote a different image";

  int blocked = 0;
  int excepted = 0;
  int differences = 0;
  for (const Request& request : *requests_) {
    const FilterOption type = requestTypeOption(request.type);
    const Answer expected =
        ask(parsed, request.url.c_str(), type, pageHostOf(request));
    const Answer actual =
        ask(loaded, request.url.c_str(), type, pageHostOf(request));
    blocked += expected.blocked;
    excepted += !expected.exception.empty();
    if (actual != expected && ++differences <= 5) {
      ADD_FAILURE() << request.url << " (" << request.type << ", page '"
                    << request.pageHost << "'): parsed " << expected
                    << ", loaded " << actual;
    }
  }
  EXPECT_EQ(differences, 0);
  // The comparison means something only when rules decided requests.
  EXPECT_GT(blocked, 100);
  EXPECT_GT(excepted, 5);
}

INSTANTIATE_TEST_SUITE_P(Seeds, RoundTripTest,
                         ::testing::Values(1u, 7u, 42u, 1234u, 99991u));

}  // namespace
}  // namespace tessul
