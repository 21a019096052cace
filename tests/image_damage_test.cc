// Truncated and damaged engine images, as a broken or tampered file would
// give them: each loads or fails without reading outside the image (run
// under AddressSanitizer to check that), and leaves an engine that can still
// match, parse and clear.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <random>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "engine/tessul_client.h"
#include "hashing/bloom_filter.h"
#include "hashing/hash_fn.h"
#include "hashing/hash_set.h"
#include "hashing/set_elements.h"
#include "image_test_support.h"
#include "test_support.h"

namespace tessul {
namespace {

using testing::ExactCopy;
using testing::savedImage;

const char* const kUrls[] = {
    "https://ads.example.com/banner/ad.js",
    "https://www.google-analytics.com/analytics.js",
    "https://cdn.example.org/static/app.css",
    "https://pagead2.googlesyndication.com/pagead/js/adsbygoogle.js",
};

// Loads `length` bytes at `image`, which must be a heap block of exactly
// that size, matches a few requests, saves what was loaded when asked to,
// and clears. Returns what the load returned.
bool loadAndUse(const char* image, size_t length, bool save) {
  TessulClient engine;
  const bool loaded = engine.deserialize(image, length);
  for (const char* url : kUrls) {
    engine.matches(url, OptScript, "news.example.com");
    engine.matches(url, OptImage, nullptr);
  }
  if (save) savedImage(engine);
  engine.clear();
  EXPECT_EQ(engine.hostBlockSet, nullptr);
  return loaded;
}

template <typename T>
void shrink(HashSet<T>*& set, unsigned int bucketCount) {
  auto* smaller = new HashSet<T>(set->allowDuplicates);
  smaller->Init(bucketCount);
  for (uint32_t b = 0; b < set->bucketCount; ++b) {
    for (HashItem<T>* item = set->buckets[b]; item != nullptr; item = item->next) {
      smaller->Add(*item->element, /*rejectEqual=*/false);
    }
  }
  delete set;
  set = smaller;
}

void shrink(BloomFilter*& bloom, const Filter* rules, int count) {
  delete bloom;
  bloom = new BloomFilter(8, 32, fingerprintHashFns, kFingerprintHashFnCount);
  char fingerprint[TessulClient::kFingerprintSize + 1];
  for (int i = 0; i < count; ++i) {
    if (TessulClient::getFingerprint(fingerprint, rules[i])) bloom->add(fingerprint);
  }
}

class ImageDamageTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    lists_ = new TessulClient;
    lists_->parse(testing::bundledLists().c_str(), /*preserveRules=*/true);
  }
  static void TearDownTestSuite() { delete lists_; }

  // An engine of about 170 real lines: every 900th line of the bundled
  // lists and the shortest rule of each domain-bound array, with its Bloom
  // filters and sets made small so that every byte of its image can be
  // damaged in turn.
  static std::string smallRealImage() {
    std::istringstream lines(testing::bundledLists());
    std::string sample;
    std::string line;
    for (int i = 0; std::getline(lines, line); ++i) {
      if (i % 900 == 0) sample += line + "\n";
    }
    for (const auto& [rules, count] :
         {std::pair{lists_->includeDomainBlockRules, lists_->includeDomainBlockCount},
          {lists_->excludeDomainBlockRules, lists_->excludeDomainBlockCount},
          {lists_->includeDomainExceptionRules, lists_->includeDomainExceptionCount}}) {
      const Filter* shortest = std::min_element(
          rules, rules + count, [](const Filter& a, const Filter& b) {
            return strlen(a.sourceText) < strlen(b.sourceText);
          });
      sample += std::string(shortest->sourceText) + "\n";
    }
    TessulClient engine;
    engine.parse(sample.c_str());
    EXPECT_GT(engine.hostBlockSet->elementCount, 5u);
    EXPECT_GT(engine.includeDomainExceptionSet->elementCount, 0u);
    shrink(engine.blockFingerprintBloom, engine.fingerprintedBlockRules,
           engine.fingerprintedBlockCount);
    shrink(engine.exceptionFingerprintBloom, engine.fingerprintedExceptionRules,
           engine.fingerprintedExceptionCount);
    shrink(engine.hostBlockSet, 13);
    shrink(engine.hostExceptionSet, 3);
    for (HashSet<NoFingerprintDomain>** set :
         {&engine.includeDomainBlockSet, &engine.excludeDomainBlockSet,
          &engine.includeDomainExceptionSet, &engine.excludeDomainExceptionSet}) {
      shrink(*set, 5);
    }
    return savedImage(engine);
  }

  static TessulClient* lists_;  // EasyList and EasyPrivacy
};

TessulClient* ImageDamageTest::lists_ = nullptr;

// Numbers that no image of this size could hold: each fails the load before
// anything of that size is allocated or read.
TEST(ImageHeaderTest, NumbersBeyondTheImageFailBeforeAllocating) {
  const std::string zeros = "0,0,0,0,0,0,0,0,0,0,0,0,";
  const std::string kHeaders[] = {
      "7fffffff,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0",
      "0,0,0,0,0,0,0,0,0,ffffffff,0,0,0,0,0,0,0,0,0,0",
      zeros + "ffffffff,0,0,0,0,0,0,0",
      zeros + "0,7fffffff,0,0,0,0,0,0",
      zeros + "0,0,ffffffff,0,0,0,0,0",
      zeros + "0,0,0,0,0,0,0,80000000",
  };
  for (const std::string& header : kHeaders) {
    const ExactCopy image(header + std::string(64, '\0'));
    EXPECT_FALSE(loadAndUse(image.data(), image.size(), /*save=*/true)) << header;
  }
  // A host set of one record: it loads with the record's true pattern
  // length, and fails when that length is negative.
  for (const std::string patternLen : {"3", "ffffffff"}) {
    const std::string set = std::string("1,1\0", 4) + patternLen +
                            std::string(",208,0,0\0abcabc\0\0\0", 18);
    char setLength[16];
    snprintf(setLength, sizeof setLength, "%zx", set.size());
    const ExactCopy image(zeros + "0,0," + setLength + ",0,0,0,0,0" +
                          std::string(1, '\0') + set);
    EXPECT_EQ(loadAndUse(image.data(), image.size(), /*save=*/true),
              patternLen == "3")
        << patternLen;
  }
}

TEST_F(ImageDamageTest, EveryTruncationAndByteChangeOfASmallImage) {
  const std::string image = smallRealImage();
  ASSERT_LT(image.size(), 20000u);
  ExactCopy whole(image);
  ASSERT_TRUE(loadAndUse(whole.data(), whole.size(), /*save=*/true));
  for (size_t length = 0; length < image.size(); ++length) {
    ExactCopy cut(image.data(), length);
    ASSERT_FALSE(loadAndUse(cut.data(), cut.size(), /*save=*/true))
        << "a cut image lacks its last section: " << length;
  }
  for (size_t i = 0; i < image.size(); ++i) {
    for (const char replacement : {'\0', '7', ','}) {
      whole.data()[i] = replacement;
      loadAndUse(whole.data(), whole.size(), /*save=*/true);
    }
    whole.data()[i] = image[i];
  }
}

TEST_F(ImageDamageTest, SampledTruncationsAndByteChangesOfTheRealImage) {
  const std::string image = savedImage(*lists_);
  std::mt19937 random(20240607);
  std::uniform_int_distribution<size_t> position(0, image.size() - 1);
  for (int trial = 0; trial < 100; ++trial) {
    ExactCopy cut(image.data(), position(random));
    ASSERT_FALSE(loadAndUse(cut.data(), cut.size(), /*save=*/false));
  }
  // A third of the changes hit the header, whose numbers place everything
  // else; the others hit records, Bloom filters and sets.
  std::uniform_int_distribution<size_t> headerPosition(0, 80);
  std::uniform_int_distribution<int> byte(0, 255);
  ExactCopy damaged(image);
  for (int trial = 0; trial < 200; ++trial) {
    const size_t at = trial % 3 == 0 ? headerPosition(random) : position(random);
    damaged.data()[at] = static_cast<char>(
        trial % 2 == 0 ? byte(random) : "\0,0f~#x"[trial % 7]);
    loadAndUse(damaged.data(), damaged.size(), /*save=*/trial % 10 == 0);
    damaged.data()[at] = image[at];
  }
}

}  // namespace
}  // namespace tessul
