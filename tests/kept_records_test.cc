// Host sets that keep their rules as image records and make a chain only
// when a lookup finds its host there: loaded sets (borrowing the image) and
// a parsed engine's own sets.
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "engine/tessul_client.h"
#include "filter/filter.h"
#include "hashing/hash_set.h"
#include "image/hash_set_image.h"
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

// The hashes a reading hands its visitor, in order, and how often it did
// the visitor's work, if the visitor brings any.
struct SeenHashes final : HashSet<Filter>::Visitor {
  explicit SeenHashes(bool work) : work(work) {}
  void visit(uint64_t hash) override { seen.push_back(hash); }
  bool bringsWork() const override { return work && worked == 0; }
  void doWork() override { ++worked; }
  std::vector<uint64_t> seen;
  bool work;
  int worked = 0;
};

// How a set read from a section turned out.
struct Reading {
  bool read;
  std::string check;
  size_t offset;
  uint32_t elementCount;
  std::vector<uint64_t> hashes;
  int worked;
};

// How a kept section's second part is read: by the reading itself, with
// work to do meanwhile, or ahead of it from a fifth of the section on (or,
// the same, ahead of a reading of another copy, which does not use it).
enum class SecondPart { kOwn, kWithWork, kAhead, kAheadOfAnother };

Reading readSection(const std::string& bytes, bool keepRecords,
                    HashSet<Filter>* set,
                    SecondPart secondPart = SecondPart::kOwn) {
  ExactCopy image(bytes);
  ExactCopy another(bytes);
  SeenHashes hashes(secondPart == SecondPart::kWithWork);
  SectionFault fault;
  std::unique_ptr<SectionReadAhead<Filter>> ahead;
  if (secondPart >= SecondPart::kAhead) {
    const ExactCopy& read =
        secondPart == SecondPart::kAhead ? image : another;
    ahead = std::make_unique<SectionReadAhead<Filter>>(read.data(),
                                                       read.size(), 0.2);
  }
  const bool read = set->Deserialize(image.data(), image.size(), &hashes,
                                     &fault, keepRecords, ahead.get());
  EXPECT_LE(hashes.worked, 1);
  return {read, fault.check ? fault.check : "", fault.offset,
          set->elementCount, hashes.seen, hashes.worked};
}

// Sections large enough to be read in two parts at once, intact or damaged
// in either part, read as they do into chains made in one pass: the same
// elements, hashes and first damage, however the second part is read. In the second set every pattern holds what looks like the
// start of a bucket and a record.
TEST(KeptRecordsTest, LargeSectionsReadInHalvesAsInOnePass) {
  constexpr int kRules = 30000;
  std::vector<std::string> hosts;
  std::vector<std::string> patterns;
  for (int i = 0; i < kRules; ++i) {
    hosts.push_back("h" + std::to_string(i) + ".example");
    patterns.push_back(hosts.back() + "^");
    patterns.push_back(patterns.back() +
                       std::string("\0\0\0" "5,208,0,0\0a.com^a.com\0\0", 27));
  }
  for (int misleading = 0; misleading < 2; ++misleading) {
    HashSet<Filter> written;
    written.Init(1);
    for (int i = 0; i < kRules; ++i) {
      const std::string& pattern = patterns[2 * i + misleading];
      written.Add(Filter(kHostOnly, OptNone, OptNone, pattern.data(),
                         static_cast<int>(pattern.size()), nullptr,
                         hosts[i].c_str(), -1, nullptr, 0),
                  true);
    }
    const std::string bytes = section(written);
    ASSERT_GT(bytes.size(), size_t{1} << 20);
    std::vector<std::string> sections = {bytes, bytes.substr(0, bytes.size() - 1)};
    for (double at : {0.3, 0.8}) {
      // A host changed in its record, which then lies in another bucket.
      std::string damaged = bytes;
      const size_t host = std::string_view(bytes).find(
          std::string_view(".example\0", 9),
          static_cast<size_t>(at * static_cast<double>(bytes.size())));
      damaged[host - 1] ^= 1;
      sections.push_back(damaged);
    }
    for (size_t c = 0; c < 4 * sections.size(); ++c) {
      const size_t i = c / 4;
      const auto secondPart = static_cast<SecondPart>(c % 4);
      HashSet<Filter> made;
      HashSet<Filter> kept;
      const Reading inOnePass = readSection(sections[i], false, &made);
      const Reading inHalves =
          readSection(sections[i], true, &kept, secondPart);
      EXPECT_EQ(inHalves.read, inOnePass.read) << misleading << i;
      EXPECT_EQ(inHalves.read, i == 0) << misleading << i;
      EXPECT_EQ(inHalves.check, inOnePass.check) << misleading << i;
      EXPECT_EQ(inHalves.offset, inOnePass.offset) << misleading << i;
      EXPECT_EQ(inHalves.elementCount, inOnePass.elementCount) << misleading << i;
      EXPECT_TRUE(inHalves.hashes == inOnePass.hashes) << misleading << i;
      // An intact section is read in two parts wherever two cores are.
      if (c == 1 && std::thread::hardware_concurrency() >= 2) {  // kWithWork
        EXPECT_EQ(inHalves.worked, 1) << misleading;
      }
    }
    ExactCopy image(bytes);
    HashSet<Filter> set;
    ASSERT_TRUE(set.Deserialize(image.data(), image.size(), nullptr, nullptr,
                                /*keepRecords=*/true));
    for (const std::string& host : hosts) {
      ASSERT_NE(set.Find(probe(host.c_str())), nullptr) << host;
    }
    EXPECT_EQ(section(set), bytes);
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
