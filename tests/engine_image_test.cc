#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engine/engine_internals.h"
#include "engine/tessul_client.h"
#include "hashing/bloom_filter.h"
#include "image/image_layout.h"
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

// The image's header fields, and the image with field `index` replaced.
std::vector<std::string> headerFields(const std::string& image) {
  std::vector<std::string> fields;
  const std::string header = image.substr(0, image.find('\0'));
  for (size_t start = 0;;) {
    const size_t comma = header.find(',', start);
    fields.push_back(header.substr(start, comma - start));
    if (comma == std::string::npos) return fields;
    start = comma + 1;
  }
}

std::string withHeaderField(const std::string& image, int index,
                            const std::string& value) {
  std::vector<std::string> fields = headerFields(image);
  fields[index] = value;
  std::string header;
  for (const std::string& field : fields)
    header += (header.empty() ? "" : ",") + field;
  return header + image.substr(image.find('\0'));
}

uint32_t headerValue(const std::string& image, int index) {
  return static_cast<uint32_t>(
      std::stoul(headerFields(image)[index], nullptr, 16));
}

std::string hex(uint32_t value) {
  char text[16];
  snprintf(text, sizeof text, "%x", value);
  return text;
}

// `image` with the first `text` replaced by `replacement`.
std::string replaced(std::string image, const std::string& text,
                     const std::string& replacement) {
  const size_t at = image.find(text);
  EXPECT_NE(at, std::string::npos) << text;
  if (at != std::string::npos) image.replace(at, text.size(), replacement);
  return image;
}

// What a load must not change: the engine's stores (through its image), the
// image it points into, its statistics and bad-fingerprint detection.
struct EngineState {
  explicit EngineState(TessulClient& engine)
      : image(savedImage(engine)),
        imageBuffer(engine.imageBuffer),
        tracker(engine.badFingerprintTracker),
        statistics{engine.blockBloomFalseHits, engine.exceptionBloomFalseHits,
                   engine.blockBloomSkips,     engine.exceptionBloomSkips,
                   engine.blockHostSetSkips,   engine.exceptionHostSetSkips} {}
  bool operator==(const EngineState& other) const {
    return image == other.image && imageBuffer == other.imageBuffer &&
           tracker == other.tracker && statistics == other.statistics;
  }

  std::string image;
  const char* imageBuffer;
  const BadFingerprintsHashSet* tracker;
  std::vector<uint32_t> statistics;
};

// Every check of the loader, each with a damage that fails it and only it:
// the load fails with the check's reason and leaves the engine as it was.
TEST_F(SmallEngineImageTest, EachDamageFailsItsCheckAndChangesNothing) {
  const std::string& good = image_;
  const int lastSetLength = kHeaderValueCount - 1;
  const size_t setsLength = [&] {
    size_t length = 0;
    for (int i = 14; i < kHeaderValueCount; ++i) length += headerValue(good, i);
    return length;
  }();
  const size_t blockBloomStart =
      good.size() - setsLength - headerValue(good, 12) - headerValue(good, 13);
  std::string noBlockBloom = good;
  std::fill_n(noBlockBloom.begin() + blockBloomStart, headerValue(good, 12),
              '\0');
  const std::string firstRecord = good.substr(good.find('\0') + 1, 6);
  ASSERT_EQ(firstRecord, std::string("0,0,0\0/", 6));
  const size_t hostAnchor = good.find("ads.test^ads.test") + 9;
  std::string otherBucket = good;
  otherBucket[hostAnchor] = 'b';  // anchor host "bds.test"

  struct Case {
    std::string image;
    std::string reason;  // how the reason begins
  };
  const Case cases[] = {
      {"", "image: empty"},
      {std::string(1, '\0'), "header: not 20 lower-case hexadecimal numbers"},
      {std::string(100, '\0'), "header: not 20"},
      {withHeaderField(good, 12, "249F1"), "header: not 20"},
      {withHeaderField(good, 0, "01"), "header: not 20"},
      {withHeaderField(good, lastSetLength,
                       headerFields(good)[lastSetLength] + ",0"),
       "header: not 20"},
      {withHeaderField(good, 0, "ffffffff"),
       "header: fingerprintedBlockCount is negative"},
      {withHeaderField(good, 4, "fffff"), " rules cannot fit in the image"},
      {good + "x", "image: its last section ends at byte " +
                       std::to_string(good.size()) + " of " +
                       std::to_string(good.size() + 1)},
      {good + good, "image: its last section ends at byte"},
      {good.substr(0, good.size() - 1),
       "excludeDomainExceptionSet: its " +
           std::to_string(headerValue(good, lastSetLength)) +
           " bytes run past the end of the image"},
      {replaced(good, firstRecord, std::string("0,0,0,0\0/", 8)),
       "fingerprintedBlockRules: a header does not hold exactly its numbers "
       "(at byte " +
           std::to_string(good.find('\0') + 1) + ")"},
      {otherBucket,
       "hostBlockSet: an element lies outside the bucket of its hash"},
      {replaced(good, "~#extra,", std::string("~#extra\0", 8)),
       "hostBlockSet: no comma ends a tag"},
      {replaced(good, "~#extra,", "~#,xtra,"),
       "hostBlockSet: an empty tag comes before no domain text that needs it"},
      {replaced(good, "3e8,0", "3e8,2"),
       "includeDomainBlockSet: the duplicates flag is neither 0 nor 1"},
      {replaced(good, std::string("ax\0other.test\0", 14),
                std::string("ax\0other.testZ", 14)),
       "excludeDomainExceptionSet: a record does not end in its zero byte"},
      {withHeaderField(good, lastSetLength,
                       hex(headerValue(good, lastSetLength) + 1)) +
           '\0',
       "excludeDomainExceptionSet: bytes follow the last bucket"},
      {withHeaderField(good, 10, hex(headerValue(good, 10) - 1)),
       "header: hostBlockCount is 3, but hostBlockSet holds 4 rules"},
      {withHeaderField(good, 11, "0"),
       "header: hostExceptionCount is 0, but hostExceptionSet holds 1 rules"},
      {replaced(good, "news.test|shop.test", "nexs.test|shop.test"),
       "includeDomainBlockRules: rule 0 names a domain that "
       "includeDomainBlockSet lacks"},
      {replaced(good, "/banner/ads/*", "/ba*ner/a*s/*"),
       "fingerprintedBlockRules: rule 0 has no fingerprint"},
      {noBlockBloom,
       "fingerprintedBlockRules: rule 0 has a fingerprint that "
       "blockFingerprintBloom lacks"},
  };

  const ExactCopy earlier(image_);
  TessulClient engine;
  ASSERT_TRUE(engine.deserialize(earlier.data(), earlier.size()));
  engine.parse("||extra.test^\n");
  engine.addTag("extra");
  engine.enableBadFingerprintDetection();
  const std::vector<std::string> expectedAnswers = answers(engine);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.reason);
    const EngineState before(engine);
    const ExactCopy damaged(c.image);
    std::string reason;
    EXPECT_FALSE(engine.deserialize(damaged.data(), damaged.size(), &reason));
    EXPECT_NE(reason.find(c.reason), std::string::npos) << reason;
    EXPECT_TRUE(EngineState(engine) == before);
    EXPECT_TRUE(engine.tagExists("extra"));
    EXPECT_EQ(answers(engine), expectedAnswers);
    EXPECT_TRUE(engine.matches("https://extra.test/", OptScript, nullptr));
  }
}

// The pointer-only form trusts the image to end where its sections do, but
// checks the rest alike.
TEST_F(SmallEngineImageTest, TrustingFormChecksAllButTheEnd) {
  const ExactCopy extended(image_ + "more");
  TessulClient engine;
  ASSERT_TRUE(engine.deserialize(extended.data()));
  EXPECT_EQ(answers(engine), answers(parsed_));

  std::string damaged = image_;
  damaged[damaged.find("ads.test^ads.test") + 9] = 'b';
  const ExactCopy otherBucket(damaged);
  EXPECT_FALSE(engine.deserialize(otherBucket.data()));
  EXPECT_EQ(engine.imageBuffer, extended.data());
  EXPECT_EQ(answers(engine), answers(parsed_));
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
