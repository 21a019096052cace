#include "hashing/bloom_filter.h"

#include <initializer_list>

#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "hashing/fast_modulo.h"

namespace tessul {
namespace {

int countSetBits(const BloomFilter& filter) {
  int count = 0;
  for (uint32_t k = 0; k < filter.bitCount; ++k) count += filter.isBitSet(k);
  return count;
}

// Bit indexes are computed without division; they must equal hash % bits
// exactly, since engine images store the bits.
TEST(FastModuloTest, EqualsTheRemainder) {
  std::mt19937_64 random(7);
  for (uint32_t divisor : {1u, 2u, 3u, 1281u, 10248u, 200008u, 1200008u,
                           65536u, 4294967291u, 4294967295u}) {
    FastModulo modulo(divisor);
    for (uint64_t value : {uint64_t{0}, uint64_t{1}, uint64_t{divisor},
                           uint64_t{divisor} - 1, ~uint64_t{0},
                           uint64_t{divisor} * divisor}) {
      EXPECT_EQ(modulo(value), value % divisor) << value << " % " << divisor;
    }
    for (int i = 0; i < 200000; ++i) {
      const uint64_t value = random() >> (i % 64);
      ASSERT_EQ(modulo(value), value % divisor) << value << " % " << divisor;
      const uint32_t small = static_cast<uint32_t>(value);
      ASSERT_EQ(modulo.ofSmall(small), small % divisor)
          << small << " % " << divisor;
    }
  }
}

TEST(BloomFilterTest, SizesOfTheEngineFilters) {
  BloomFilter block(15, 80000, fingerprintHashFns, 5);
  BloomFilter exception(10, 20000, fingerprintHashFns, 5);
  BloomFilter pairs(10, 1024, &twoByteHashFn, 1);
  EXPECT_EQ(block.byteCount, 150001u);
  EXPECT_EQ(block.bitCount, 1200008u);
  EXPECT_EQ(exception.byteCount, 25001u);
  EXPECT_EQ(exception.bitCount, 200008u);
  EXPECT_EQ(pairs.byteCount, 1281u);
  EXPECT_EQ(pairs.bitCount, 10248u);
}

// These bit positions are stored in engine images: they must never change.
TEST(BloomFilterTest, BitLayoutOfAFingerprint) {
  BloomFilter filter(15, 80000, fingerprintHashFns, 5);
  EXPECT_FALSE(filter.exists("abcdef"));
  filter.add("abcdef");
  for (uint32_t bit : {649961u, 27317u, 162211u, 694789u, 979457u}) {
    EXPECT_TRUE(filter.isBitSet(bit)) << bit;
  }
  EXPECT_EQ(countSetBits(filter), 5);
  EXPECT_TRUE(filter.exists("abcdef"));
  EXPECT_TRUE(filter.exists("abcdef", 6));
}

TEST(BloomFilterTest, BitLayoutOfAPair) {
  BloomFilter filter(10, 1024, &twoByteHashFn, 1);
  filter.add("ab", 2);
  EXPECT_TRUE(filter.isBitSet(4689));
  EXPECT_EQ(filter.bits[586], 0x02);
  EXPECT_EQ(countSetBits(filter), 1);
}

TEST(BloomFilterTest, SubstringExistsFindsAddedWindows) {
  BloomFilter filter(15, 80000, fingerprintHashFns, 5);
  filter.add("abcdef");
  EXPECT_TRUE(filter.substringExists("abcdef", 6));
  EXPECT_TRUE(filter.substringExists("xxabcdefyy", 6));
  EXPECT_TRUE(filter.substringExists("https://a.test/abcdef", 6));
  EXPECT_FALSE(filter.substringExists("abcde", 6));
  EXPECT_FALSE(filter.substringExists("abcdeXf", 6));
  EXPECT_FALSE(filter.substringExists("", 6));
  EXPECT_FALSE(filter.substringExists("abcdefgh", 5, 6));
  EXPECT_TRUE(filter.substringExists("abcdefgh", 6, 6));
}

// Random data against an explicit window-by-window check, with bytes >= 0x80.
TEST(BloomFilterTest, SubstringExistsAgreesWithExistsOnEveryWindow) {
  std::mt19937 random(99);
  std::uniform_int_distribution<int> byte(0, 255);
  BloomFilter filter(1, 200, fingerprintHashFns, 5);  // small: many hits
  for (int i = 0; i < 30; ++i) {
    char window[6];
    for (char& c : window) c = static_cast<char>(byte(random));
    filter.add(window, 6);
  }
  for (int trial = 0; trial < 500; ++trial) {
    std::vector<char> data(6 + trial % 40);
    for (char& c : data) c = static_cast<char>(byte(random));
    bool anyWindow = false;
    for (size_t i = 0; i + 6 <= data.size(); ++i) {
      anyWindow = anyWindow || filter.exists(data.data() + i, 6);
    }
    EXPECT_EQ(filter.substringExists(data.data(), data.size(), 6), anyWindow);
  }
}

TEST(BloomFilterTest, WindowHashesStringOrRolling) {
  BloomFilter filter(15, 80000, fingerprintHashFns, 5);
  const char* text = "xabcdef";
  uint64_t first[5];
  uint64_t next[5];
  filter.getHashesForCharCodes(text, 6, nullptr, first, 0);
  filter.getHashesForCharCodes(text + 1, 6, first, next, 'x');
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(first[i], fingerprintHashFns[i](text, 6));
    EXPECT_EQ(next[i], fingerprintHashFns[i]("abcdef", 6));
  }
}

TEST(BloomFilterTest, PairFilterFindsAddedPairs) {
  BloomFilter filter(10, 1024, &twoByteHashFn, 1);
  const char* url = "ws://a.test/";
  for (int i = 0; url[i + 1] != '\0'; ++i) filter.add(url + i, 2);
  EXPECT_TRUE(filter.exists("a.", 2));
  EXPECT_FALSE(filter.exists("zz", 2));
  EXPECT_TRUE(filter.substringExists("zzst", 2));
  EXPECT_FALSE(filter.substringExists("zqzq", 2));
}

TEST(BloomFilterTest, CopiesItsSource) {
  BloomFilter original(10, 100, fingerprintHashFns, 5);
  original.add("qwerty");
  std::vector<char> source(original.bits, original.bits + original.byteCount);
  BloomFilter copy(source.data(), source.size(), fingerprintHashFns, 5);
  EXPECT_EQ(copy.byteCount, original.byteCount);
  EXPECT_EQ(copy.bitCount, original.bitCount);
  EXPECT_TRUE(copy.exists("qwerty"));
  copy.add("zxcvbn");
  EXPECT_EQ(std::vector<char>(original.bits, original.bits + original.byteCount),
            source);
  EXPECT_NE(std::vector<char>(copy.bits, copy.bits + copy.byteCount), source);
}

TEST(BloomFilterTest, ClearKeepsTheSize) {
  BloomFilter filter(10, 100, fingerprintHashFns, 5);
  filter.add("qwerty");
  filter.setBit(3);
  filter.clear();
  EXPECT_FALSE(filter.exists("qwerty"));
  EXPECT_EQ(countSetBits(filter), 0);
  EXPECT_EQ(filter.byteCount, 126u);
  EXPECT_EQ(filter.bitCount, 1008u);
}

TEST(BloomFilterTest, NoHashFunctionsMeansEverythingMayExist) {
  BloomFilter filter(10, 100, fingerprintHashFns, 0);
  EXPECT_TRUE(filter.exists("anything"));
}

}  // namespace
}  // namespace tessul
