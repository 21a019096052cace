#include <string>

#include <gtest/gtest.h>

#include "engine/tessul_client.h"
#include "hashing/bloom_filter.h"
#include "hashing/hash_set.h"
#include "hashing/set_elements.h"
#include "test_support.h"

namespace tessul {
namespace {

using testing::totalCount;

const char* const kRules =
    "||ads.test^\n@@||good.ads.test^\n/banner/*\nqwerty$domain=a.test\n"
    "##.ad\na.test$$script\n";

TEST(EngineStateTest, NewAndClearedEnginesBlockNothing) {
  TessulClient engine;
  EXPECT_EQ(totalCount(engine), 0);
  EXPECT_EQ(engine.hostBlockSet, nullptr);
  EXPECT_FALSE(engine.matches("https://ads.test/x", OptScript, nullptr));
  engine.parse(kRules);
  EXPECT_TRUE(engine.matches("https://ads.test/x", OptScript, nullptr));
  EXPECT_GT(totalCount(engine), 0);
  engine.clear();
  EXPECT_EQ(totalCount(engine), 0);
  EXPECT_EQ(engine.fingerprintedBlockRules, nullptr);
  EXPECT_EQ(engine.blockFingerprintBloom, nullptr);
  EXPECT_EQ(engine.hostBlockSet, nullptr);
  EXPECT_EQ(engine.blockBloomSkips, 0u);
  EXPECT_FALSE(engine.matches("https://ads.test/x", OptScript, nullptr));
  // The image of an engine without stores.
  const char image[] = "0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0";
  ASSERT_TRUE(engine.deserialize(image, sizeof image));
  engine.clear();
  EXPECT_EQ(engine.imageBuffer, image) << "clear keeps the last image's address";
  engine.clear();  // twice is harmless
  EXPECT_EQ(totalCount(engine), 0);
}

TEST(EngineStateTest, ParseCreatesEveryStore) {
  TessulClient engine;
  engine.parse("");
  EXPECT_NE(engine.fingerprintedBlockRules, nullptr);
  EXPECT_NE(engine.excludeDomainExceptionRules, nullptr);
  EXPECT_EQ(engine.blockFingerprintBloom->byteCount, 150001u);
  EXPECT_EQ(engine.exceptionFingerprintBloom->byteCount, 25001u);
  EXPECT_EQ(engine.hostBlockSet->bucketCount, 18000u);
  EXPECT_EQ(engine.hostExceptionSet->bucketCount, 2000u);
  EXPECT_EQ(engine.includeDomainBlockSet->bucketCount, 1000u);
  EXPECT_EQ(engine.excludeDomainBlockSet->bucketCount, 100u);
  EXPECT_EQ(engine.includeDomainExceptionSet->bucketCount, 1000u);
  EXPECT_EQ(engine.excludeDomainExceptionSet->bucketCount, 100u);
  EXPECT_EQ(totalCount(engine), 0);
}

TEST(EngineStateTest, TagsAreCaseSensitiveAndSurviveClear) {
  TessulClient engine;
  engine.addTag("x");
  engine.addTag("x");
  EXPECT_TRUE(engine.tagExists("x"));
  EXPECT_FALSE(engine.tagExists("X"));
  engine.removeTag("x");
  EXPECT_FALSE(engine.tagExists("x")) << "a set, not a counter";
  engine.removeTag("never-added");
  EXPECT_TRUE(engine.enabledTags.empty());
  engine.addTag("kept");
  engine.parse(kRules);
  engine.clear();
  EXPECT_TRUE(engine.tagExists("kept"));
}

TEST(EngineStateTest, InitBloomFilterCopiesOrEmptiesTheSlot) {
  TessulClient engine;
  const char bits[4] = {1, 2, 3, 4};
  engine.initBloomFilter(&engine.blockFingerprintBloom, bits, 4);
  ASSERT_NE(engine.blockFingerprintBloom, nullptr);
  EXPECT_EQ(engine.blockFingerprintBloom->byteCount, 4u);
  EXPECT_NE(engine.blockFingerprintBloom->bits, bits);
  EXPECT_EQ(engine.blockFingerprintBloom->bits[3], 4);
  EXPECT_EQ(engine.blockFingerprintBloom->hashFunctionCount, 5);
  engine.initBloomFilter(&engine.blockFingerprintBloom, bits, 0);
  EXPECT_EQ(engine.blockFingerprintBloom, nullptr);
}

}  // namespace
}  // namespace tessul
