// Host sets that keep their rules as image records and make a chain only
// when a lookup finds its host there: loaded sets (borrowing the image) and
// a parsed engine's own sets.
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engine/tessul_client.h"
#include "filter/filter.h"
#include "hashing/hash_set.h"
#include "image_test_support.h"

namespace tessul {
namespace {

using testing::ExactCopy;

const FilterType kHostOnly = TypeHostAnchor | TypeHostOnly;

Filter hostRule(const char* host, FilterOption options = OptNone) {
  return Filter(kHostOnly, options, OptNone, host, static_cast<int>(strlen(host)),
                nullptr, host, -1, nullptr, 0);
}

Filter probe(const char* host) {
  return Filter(nullptr, 0, nullptr, host, static_cast<int>(strlen(host)),
                nullptr, 0);
}

std::string section(const HashSet<Filter>& set) {
  unsigned int size = 0;
  std::unique_ptr<char[]> bytes(set.Serialize(&size));
  return std::string(bytes.get(), size);
}

uint32_t bucketOf(const HashSet<Filter>& set, const char* host) {
  return static_cast<uint32_t>(probe(host).hash() % set.bucketCount);
}

int keptChains(const HashSet<Filter>& set) {
  int kept = 0;
  for (uint32_t b = 0; b < set.bucketCount; ++b) kept += set.isKept(b);
  return kept;
}

const char* const kHosts[] = {"ads.test", "b.test", "c.example", "d.example",
                              "e.net", "f.net", "g.org"};

// A section of kHosts in three buckets, several hosts a bucket.
std::string hostSection() {
  HashSet<Filter> written;
  written.Init(3);
  for (const char* host : kHosts) written.Add(hostRule(host), true);
  return section(written);
}

TEST(KeptRecordsTest, LoadedSetMakesOnlyTheChainsItsLookupsFind) {
  const std::string bytes = hostSection();
  ExactCopy image(bytes);
  HashSet<Filter> set;
  ASSERT_TRUE(set.Deserialize(image.data(), image.size(), nullptr, nullptr,
                              /*keepRecords=*/true));
  EXPECT_EQ(set.elementCount, 7u);
  EXPECT_EQ(keptChains(set), 3);

  // A host that is not there leaves its chain kept, though it shares it.
  EXPECT_EQ(set.Find(probe("absent.test")), nullptr);
  EXPECT_EQ(keptChains(set), 3);

  const Filter* found = set.Find(probe("e.net"));
  ASSERT_NE(found, nullptr);
  EXPECT_TRUE(found->isBorrowed);
  EXPECT_GE(found->pattern, image.data());
  EXPECT_LT(found->pattern, image.data() + image.size());
  EXPECT_FALSE(set.isKept(bucketOf(set, "e.net")));
  EXPECT_EQ(keptChains(set), 2);
  EXPECT_EQ(section(set), bytes) << "made and kept chains write alike";

  // Every host is found, and a kept chain refuses an equal rule.
  for (const char* host : kHosts) {
    EXPECT_FALSE(set.Add(hostRule(host, OptThirdParty), true)) << host;
    ASSERT_NE(set.Find(probe(host)), nullptr) << host;
    EXPECT_EQ(set.Find(probe(host))->options, OptNone) << host;
  }
  EXPECT_TRUE(set.Add(hostRule("new.test"), true));
  EXPECT_TRUE(set.Remove(probe("ads.test")));
  EXPECT_EQ(set.Find(probe("ads.test")), nullptr);
  EXPECT_EQ(set.elementCount, 7u);
}

TEST(KeptRecordsTest, KeptSetGrowsWithEveryRule) {
  const std::string bytes = hostSection();
  ExactCopy image(bytes);
  HashSet<Filter> set;
  ASSERT_TRUE(set.Deserialize(image.data(), image.size(), nullptr, nullptr,
                              /*keepRecords=*/true));
  std::vector<std::string> added;
  for (int i = 0; i < 40; ++i) added.push_back("h" + std::to_string(i) + ".test");
  for (const std::string& host : added) {
    ASSERT_TRUE(set.Add(hostRule(host.c_str()), true));
  }
  EXPECT_GT(set.bucketCount, 3u);
  EXPECT_EQ(keptChains(set), 0);
  for (const char* host : kHosts) EXPECT_NE(set.Find(probe(host)), nullptr);
  for (const std::string& host : added) {
    EXPECT_NE(set.Find(probe(host.c_str())), nullptr) << host;
  }
}

// What a parsed engine reports of its host rules, whether or not it keeps
// them as records.
struct ParsedHostRule {
  const char* list;
  MatchingMode mode;
  bool preserveRules;
  bool keeps;
  const char* ruleText;
};

TEST(KeptRecordsTest, ParsedEngineKeepsItsHostRulesWhenTheyReadBack) {
  const ParsedHostRule cases[] = {
      {"||ads.test^\n||b.test^$third-party\n", MatchingMode::kExact, false,
       true, "||ads.test^"},
      // Kept rules would lose their lines.
      {"||ads.test^\n", MatchingMode::kExact, true, false, "||ads.test^"},
      // An empty domain list would read back as "|".
      {"||ads.test^$domain=\n||b.test^\n", MatchingMode::kExact, false, false,
       "||ads.test^$domain="},
      {"||ads.test^\n", MatchingMode::kCompatible, false, false, "||ads.test^"},
  };
  for (const ParsedHostRule& c : cases) {
    TessulClient engine(c.mode);
    engine.parse(c.list, c.preserveRules);
    ASSERT_NE(engine.hostBlockSet, nullptr);
    EXPECT_EQ(engine.hostBlockSet->keepsRecords(), c.keeps) << c.list;
    Filter* rule = nullptr;
    engine.matches("https://ads.test/x", OptScript, nullptr, &rule, nullptr);
    ASSERT_NE(rule, nullptr) << c.list;
    EXPECT_FALSE(rule->isBorrowed) << c.list;
    EXPECT_EQ(ruleText(*rule), c.ruleText) << c.list;
    EXPECT_STREQ(rule->pattern, "ads.test^") << "a parsed rule's own text";
  }
}

TEST(KeptRecordsTest, ParseAfterLoadAddsToTheKeptSet) {
  TessulClient parsed;
  parsed.parse("||ads.test^\n||b.test^\n");
  ExactCopy image(testing::savedImage(parsed));
  TessulClient engine;
  ASSERT_TRUE(engine.deserialize(image.data(), image.size()));
  // A rule stored already is kept once; another rule of its host is added.
  engine.parse("||c.test^\n||ads.test^\n||ads.test^$image\n");
  EXPECT_EQ(engine.hostBlockSet->elementCount, 4u);
  for (const char* url : {"https://ads.test/", "https://b.test/",
                          "https://c.test/"}) {
    EXPECT_TRUE(engine.matches(url, OptScript, nullptr, nullptr, nullptr))
        << url;
  }
}

}  // namespace
}  // namespace tessul
