#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engine/engine_internals.h"
#include "engine/tessul_client.h"
#include "hashing/bloom_filter.h"
#include "image_test_support.h"
#include "test_support.h"

namespace tessul {
namespace {

using testing::totalCount;

using testing::ExactCopy;
using testing::patternOf;
using testing::savedImage;

bool inside(const char* p, const ExactCopy& image) {
  return p >= image.data() && p < image.data() + image.size();
}

// One rule for every store, a tagged one, and the rules that decide them.
const char* const kRules =
    "/banner/ads/*\n"                       // fingerprinted block
    "@@/banner/ads/ok.\n"                   // fingerprinted exception
    "##.ad-box\n"                           // element hiding
    "news.test#@#.ad-box\n"
    "news.test$$script[tag-content=\"ad\"]\n"  // HTML rule
    "/pop.\n"                               // unfingerprinted block
    "@@/pop.$script\n"                      // unfingerprinted exception
    "/tr.$domain=news.test|shop.test\n"     // include-domain block
    "/px.$domain=~safe.test\n"              // exclude-domain block
    "@@/tr.$domain=shop.test\n"             // include-domain exception
    "@@/px.$domain=~other.test\n"           // exclude-domain exception
    "||ads.test^\n"                         // host block
    "||ads.test^$popup\n"                   // dropped
    "||tagged.test^$tag=extra\n"
    "||cdn.test^$third-party\n"
    "||cdn.test^$image\n"                   // same host, kept too
    "@@||ok.ads.test^\n";                   // host exception

struct Probe {
  const char* url;
  FilterOption type;
  const char* page;
};

const Probe kProbes[] = {
    {"https://x.test/banner/ads/1.png", OptImage, "news.test"},
    {"https://x.test/banner/ads/ok.png", OptImage, "news.test"},
    {"https://x.test/pop.html", OptImage, "news.test"},
    {"https://x.test/pop.js", OptScript, "news.test"},
    {"https://x.test/tr.gif", OptImage, "news.test"},
    {"https://x.test/tr.gif", OptImage, "shop.test"},
    {"https://x.test/px.gif", OptImage, "news.test"},
    {"https://x.test/px.gif", OptImage, "safe.test"},
    {"https://x.test/px.gif", OptImage, "other.test"},
    {"https://ads.test/a.js", OptScript, "news.test"},
    {"https://ok.ads.test/a.js", OptScript, "news.test"},
    {"https://tagged.test/a.js", OptScript, "news.test"},
    {"https://cdn.test/a.js", OptScript, "news.test"},
    {"https://cdn.test/a.png", OptImage, "cdn.test"},
    {"https://cdn.test/a.js", OptScript, "cdn.test"},
    {"ftp://ads.test/a.js", OptScript, nullptr},
};

// The decision and the deciding rules' patterns, one line per probe.
std::vector<std::string> answers(TessulClient& engine) {
  std::vector<std::string> lines;
  for (const Probe& probe : kProbes) {
    Filter* block = nullptr;
    Filter* exception = nullptr;
    const bool blocked =
        engine.matches(probe.url, probe.type, probe.page, &block, &exception);
    lines.push_back(std::string(blocked ? "block " : "allow ") + probe.url +
                    " " + patternOf(block) + " " + patternOf(exception));
  }
  return lines;
}

class SmallEngineImageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    parsed_.parse(kRules);
    image_ = savedImage(parsed_);
  }

  TessulClient parsed_;
  std::string image_;
};

TEST(EngineImageTest, ParsedEmptyEngineHasTheExactLayout) {
  TessulClient engine;
  engine.parse("");
  const std::string image = savedImage(engine);
  ASSERT_EQ(image.size(), 197295u);
  const std::string header =
      "0,0,0,0,0,0,0,0,0,0,0,0,249f1,61a9,4657,7d6,3ee,69,3ee,69";
  ASSERT_EQ(header.size(), 57u);
  EXPECT_EQ(image.compare(0, 58, header + '\0'), 0);
  EXPECT_EQ(image.find_first_not_of('\0', 58), 58u + 150001 + 25001)
      << "the Bloom filters are all zero";
  // Host sets allow duplicates, domain sets do not.
  size_t offset = 58 + 150001 + 25001;
  for (const auto& [sectionHeader, length] :
       std::vector<std::pair<std::string, size_t>>{{"4650,1", 18007},
                                                   {"7d0,1", 2006},
                                                   {"3e8,0", 1006},
                                                   {"64,0", 105},
                                                   {"3e8,0", 1006},
                                                   {"64,0", 105}}) {
    EXPECT_EQ(image.compare(offset, sectionHeader.size() + 1,
                            sectionHeader + '\0'),
              0)
        << sectionHeader;
    offset += length;
  }
  EXPECT_EQ(offset, image.size());

  ExactCopy copy(image);
  TessulClient loaded;
  ASSERT_TRUE(loaded.deserialize(copy.data(), copy.size()));
  EXPECT_EQ(totalCount(loaded), 0);
  EXPECT_TRUE(loaded.hostBlockSet->allowDuplicates);
  EXPECT_FALSE(loaded.includeDomainBlockSet->allowDuplicates);
  EXPECT_EQ(loaded.exceptionFingerprintBloom->byteCount, 25001u);
  EXPECT_EQ(savedImage(loaded), image);
}

TEST(EngineImageTest, FreshEngineImageIsFortyBytes) {
  TessulClient fresh;
  const std::string image = savedImage(fresh);
  EXPECT_EQ(image, std::string("0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0\0", 40));

  ExactCopy copy(image);
  TessulClient loaded;
  loaded.parse("||ads.test^");
  ASSERT_TRUE(loaded.deserialize(copy.data(), copy.size()));
  EXPECT_EQ(totalCount(loaded), 0);
  EXPECT_NE(loaded.fingerprintedBlockRules, nullptr) << "arrays of none";
  EXPECT_EQ(loaded.blockFingerprintBloom, nullptr);
  EXPECT_EQ(loaded.hostBlockSet, nullptr);
  EXPECT_FALSE(loaded.matches("https://ads.test/", OptScript, nullptr));
  EXPECT_EQ(savedImage(loaded), image);
}

TEST(EngineImageTest, HeaderWithoutNumbersLoadsEmptyAndEmptyImageFails) {
  TessulClient engine;
  engine.parse("||ads.test^");
  const ExactCopy zeroByte(std::string(1, '\0'));
  EXPECT_TRUE(engine.deserialize(zeroByte.data(), zeroByte.size()));
  EXPECT_EQ(totalCount(engine), 0);
  EXPECT_FALSE(engine.matches("https://ads.test/", OptScript, nullptr));

  engine.parse("||ads.test^");
  EXPECT_FALSE(engine.deserialize(nullptr, 0)) << "nothing is read";
  EXPECT_EQ(totalCount(engine), 0);
  EXPECT_FALSE(engine.matches("https://ads.test/", OptScript, nullptr));
  engine.parse("||ads.test^");
  EXPECT_TRUE(engine.matches("https://ads.test/", OptScript, nullptr));
}

TEST_F(SmallEngineImageTest, LoadedEngineSavesTheSameBytesAndAnswersAlike) {
  ASSERT_GT(parsed_.hostBlockSet->elementCount, 3u);
  ExactCopy image(image_);
  TessulClient loaded;
  ASSERT_TRUE(loaded.deserialize(image.data(), image.size()));
  EXPECT_EQ(savedImage(loaded), image_);
  EXPECT_EQ(answers(loaded), answers(parsed_));
  EXPECT_EQ(savedImage(loaded), image_) << "matching changed nothing saved";
  EXPECT_EQ(savedImage(parsed_), image_);

  // The trusting form reads the same image the same way.
  TessulClient trusting;
  ASSERT_TRUE(trusting.deserialize(image.data()));
  EXPECT_EQ(answers(trusting), answers(parsed_));
}

TEST_F(SmallEngineImageTest, LoadedTextsPointIntoTheImage) {
  ExactCopy image(image_);
  TessulClient loaded;
  ASSERT_TRUE(loaded.deserialize(image.data(), image.size()));
  EXPECT_EQ(loaded.imageBuffer, image.data());
  ASSERT_EQ(loaded.fingerprintedBlockCount, 1);
  const Filter& arrayRule = loaded.fingerprintedBlockRules[0];
  EXPECT_TRUE(arrayRule.isBorrowed);
  EXPECT_TRUE(inside(arrayRule.pattern, image));
  EXPECT_STREQ(arrayRule.pattern, "/banner/ads/*");

  Filter probe(nullptr, 0, nullptr, "ads.test", 8, nullptr, 0);
  const Filter* hostRule = loaded.hostBlockSet->Find(probe);
  ASSERT_NE(hostRule, nullptr);
  EXPECT_TRUE(inside(hostRule->pattern, image));
  EXPECT_TRUE(inside(hostRule->anchorHost, image));
  EXPECT_EQ(patternOf(hostRule), "ads.test^");

  const HashSet<NoFingerprintDomain>& domains = *loaded.includeDomainBlockSet;
  const NoFingerprintDomain* domain =
      domains.Find(NoFingerprintDomain("shop.test", 9));
  ASSERT_NE(domain, nullptr);
  EXPECT_TRUE(inside(domain->domain, image));

  EXPECT_NE(loaded.blockFingerprintBloom->bits, parsed_.blockFingerprintBloom->bits);
  EXPECT_FALSE(inside(loaded.blockFingerprintBloom->bits, image))
      << "Bloom filters hold copies";
}

TEST_F(SmallEngineImageTest, OmittedRulesAreLeftOut) {
  ASSERT_EQ(parsed_.elementHideCount, 2);
  ASSERT_EQ(parsed_.htmlRuleCount, 1);
  for (const bool omitElementHide : {false, true}) {
    for (const bool omitHtml : {false, true}) {
      const std::string image = savedImage(parsed_, omitElementHide, omitHtml);
      EXPECT_EQ(image.size() < image_.size(), omitElementHide || omitHtml);
      ExactCopy copy(image);
      TessulClient loaded;
      ASSERT_TRUE(loaded.deserialize(copy.data(), copy.size()));
      EXPECT_EQ(loaded.elementHideCount, omitElementHide ? 0 : 2);
      EXPECT_EQ(loaded.htmlRuleCount, omitHtml ? 0 : 1);
      EXPECT_EQ(answers(loaded), answers(parsed_));
      EXPECT_EQ(savedImage(loaded), image);
    }
  }
}

TEST_F(SmallEngineImageTest, FailingSixthSetLeavesTheOthersLoaded) {
  ASSERT_EQ(parsed_.excludeDomainExceptionSet->elementCount, 1u);
  std::string damaged = image_;
  damaged.back() = 'Z';  // the last bucket terminator of the sixth set
  ExactCopy image(damaged);
  ExactCopy cut(image_.data(), image_.size() - 1);
  TessulClient loaded;
  EXPECT_FALSE(loaded.deserialize(image.data(), image.size()));
  EXPECT_EQ(loaded.hostBlockSet->elementCount,
            parsed_.hostBlockSet->elementCount);
  EXPECT_EQ(loaded.hostExceptionSet->elementCount, 1u);
  EXPECT_EQ(loaded.includeDomainBlockSet->elementCount, 2u);
  EXPECT_EQ(loaded.excludeDomainBlockSet->elementCount, 1u);
  EXPECT_EQ(loaded.includeDomainExceptionSet->elementCount, 1u);
  ASSERT_NE(loaded.excludeDomainExceptionSet, nullptr);
  EXPECT_EQ(loaded.excludeDomainExceptionSet->elementCount, 1u)
      << "the failing set keeps what it read";
  EXPECT_EQ(loaded.fingerprintedBlockCount, 1) << "arrays stay loaded";
  EXPECT_TRUE(loaded.matches("https://ads.test/a.js", OptScript, nullptr));

  // Cut by one byte, the sixth section no longer fits: it stays empty.
  EXPECT_FALSE(loaded.deserialize(cut.data(), cut.size()));
  EXPECT_NE(loaded.includeDomainExceptionSet, nullptr);
  EXPECT_EQ(loaded.excludeDomainExceptionSet, nullptr);
  EXPECT_TRUE(loaded.matches("https://ads.test/a.js", OptScript, nullptr));
}

TEST_F(SmallEngineImageTest, DamageBeforeTheSetsEmptiesTheEngine) {
  const size_t setsStart = image_.size() - 18007 - 2006 - 1006 - 105 - 1006 - 105;
  const size_t bloomStart = setsStart - 150001 - 25001;
  std::string moreRules = image_;
  moreRules.replace(0, 1, "9");  // more fingerprinted rules than written
  for (const std::string& damaged :
       {image_.substr(0, bloomStart - 1),  // inside the rule arrays
        image_.substr(0, bloomStart + 10),  // inside a Bloom filter
        image_.substr(0, 30),              // inside the header
        moreRules}) {
    ExactCopy image(damaged);
    TessulClient loaded;
    EXPECT_FALSE(loaded.deserialize(image.data(), image.size()));
    EXPECT_EQ(totalCount(loaded), 0);
    EXPECT_EQ(loaded.fingerprintedBlockRules, nullptr);
    EXPECT_EQ(loaded.blockFingerprintBloom, nullptr);
    EXPECT_EQ(loaded.hostBlockSet, nullptr);
    EXPECT_FALSE(loaded.matches("https://ads.test/a.js", OptScript, nullptr));
  }
}

TEST_F(SmallEngineImageTest, TagsSurviveALoadAndStatisticsStartAtZero) {
  ExactCopy image(image_);
  TessulClient loaded;
  loaded.addTag("extra");
  loaded.parse("/banner/\n@@||x.test^\n");
  for (const Probe& probe : kProbes) loaded.matches(probe.url, probe.type, probe.page);
  loaded.enableBadFingerprintDetection();
  ASSERT_GT(loaded.blockBloomSkips + loaded.blockHostSetSkips, 0u);

  ASSERT_TRUE(loaded.deserialize(image.data(), image.size()));
  EXPECT_TRUE(loaded.tagExists("extra"));
  for (uint32_t statistic :
       {loaded.blockBloomFalseHits, loaded.exceptionBloomFalseHits,
        loaded.blockBloomSkips, loaded.exceptionBloomSkips,
        loaded.blockHostSetSkips, loaded.exceptionHostSetSkips}) {
    EXPECT_EQ(statistic, 0u);
  }
  EXPECT_EQ(loaded.badFingerprintTracker, nullptr);
  EXPECT_TRUE(loaded.matches("https://tagged.test/a.js", OptScript, nullptr));
  loaded.removeTag("extra");
  EXPECT_FALSE(loaded.matches("https://tagged.test/a.js", OptScript, nullptr));
}

TEST_F(SmallEngineImageTest, ParsingAfterALoadAddsToTheLoadedRules) {
  ExactCopy image(image_);
  TessulClient engine;
  ASSERT_TRUE(engine.deserialize(image.data(), image.size()));
  engine.parse("||new.test^\n/pop.$domain=extra.test\n");
  EXPECT_TRUE(engine.matches("https://new.test/a.js", OptScript, nullptr));
  EXPECT_TRUE(engine.matches("https://ads.test/a.js", OptScript, nullptr));
  EXPECT_TRUE(engine.matches("https://x.test/banner/ads/1.png", OptImage, nullptr));
  EXPECT_EQ(engine.hostBlockSet->bucketCount, 18000u);

  const std::string saved = savedImage(engine);
  ExactCopy copy(saved);
  TessulClient reloaded;
  ASSERT_TRUE(reloaded.deserialize(copy.data(), copy.size()));
  EXPECT_TRUE(reloaded.matches("https://new.test/a.js", OptScript, nullptr));
  EXPECT_EQ(savedImage(reloaded), saved);
}

// A host set whose image says it keeps one rule per host still keeps every
// host-only rule parsed into it, and then says so.
TEST(EngineImageTest, ParsingIntoALoadedHostSetLosesNoHostOnlyRule) {
  TessulClient written;
  written.parse("||other.test^\n");
  std::string bytes = savedImage(written);
  const size_t flag = bytes.find(std::string("4650,1\0", 7));
  ASSERT_NE(flag, std::string::npos);
  bytes[flag + 5] = '0';
  ExactCopy image(bytes);
  TessulClient engine;
  ASSERT_TRUE(engine.deserialize(image.data(), image.size()));
  EXPECT_FALSE(engine.hostBlockSet->allowDuplicates);
  engine.parse("||propbn.test^$image\n||propbn.test^\n");
  EXPECT_TRUE(engine.matches("https://propbn.test/a.js", OptScript, nullptr));
  EXPECT_TRUE(engine.hostBlockSet->allowDuplicates);
}

// EasyList and EasyPrivacy: the loaded engine is the parsed one.
TEST(RealListsImageTest, LoadedEngineAnswersEveryRequestAsTheParsedOne) {
  TessulClient parsed;
  parsed.parse(testing::bundledLists().c_str());
  const std::string image = savedImage(parsed);
  std::printf("engine image of the bundled lists: %zu bytes\n", image.size());

  ExactCopy copy(image);
  TessulClient loaded;
  ASSERT_TRUE(loaded.deserialize(copy.data(), copy.size()));
  ASSERT_EQ(savedImage(loaded), image);

  int blocked = 0;
  for (const char* file : {"pageloads.tsv", "peer-dev.tsv"}) {
    for (const testing::Request& r : testing::readRequests(file)) {
      const FilterOption type = testing::requestTypeOption(r.type);
      const char* page = r.pageHost.empty() ? nullptr : r.pageHost.c_str();
      Filter* parsedBlock = nullptr;
      Filter* parsedException = nullptr;
      Filter* loadedBlock = nullptr;
      Filter* loadedException = nullptr;
      const bool expected = parsed.matches(r.url.c_str(), type, page,
                                           &parsedBlock, &parsedException);
      ASSERT_EQ(loaded.matches(r.url.c_str(), type, page, &loadedBlock,
                               &loadedException),
                expected)
          << r.url << " on " << r.pageHost;
      ASSERT_EQ(patternOf(loadedBlock), patternOf(parsedBlock)) << r.url;
      ASSERT_EQ(patternOf(loadedException), patternOf(parsedException)) << r.url;
      blocked += expected;
    }
  }
  EXPECT_GT(blocked, 1000) << "the requests exercise the rules";
}

}  // namespace
}  // namespace tessul
