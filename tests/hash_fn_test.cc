#include "hashing/hash_fn.h"

#include <cstring>
#include <memory>
#include <random>
#include <string>

#include <gtest/gtest.h>

namespace tessul {
namespace {

const int kPrimes[] = {13, 17, 19, 31, 41, 53};

TEST(HashFnTest, KnownValues) {
  for (int prime : kPrimes) {
    HashFn fn(prime, true);
    EXPECT_EQ(fn("", 0), 0u) << prime;
    EXPECT_EQ(fn("\xE9", 1), 233u) << "bytes are unsigned, prime " << prime;
  }
  EXPECT_EQ(HashFn(13, true)("ab", 2), 1359u);
  EXPECT_EQ(HashFn(19, true)("abc", 3), 36978u);
  EXPECT_EQ(elementHashFn("abc", 3), 36978u);
}

TEST(HashFnTest, LongStringsWrapAndNeedNoTable) {
  const std::string text = "abcdefghijklmnopqrstuvwxyz0123456789";
  ASSERT_EQ(text.size(), 36u);
  EXPECT_EQ(HashFn(19, true)(text.data(), 36), 12191022727706376606ull);
  EXPECT_EQ(HashFn(19, false)(text.data(), 36), 12191022727706376606ull);
}

// Texts of every length up to 40, of every byte value, in buffers that end
// right after the zero byte (or the limit), so that AddressSanitizer reports
// a read past either; primes up to 254 are summed a word at a time, larger
// ones a byte at a time.
TEST(HashFnTest, HashToZeroIsTheHashOfTheTextBeforeIt) {
  std::mt19937 random(7);
  for (const HashFn& fn : {HashFn(19, true), HashFn(53, false),
                           HashFn(251, false), HashFn(257, false)}) {
    for (size_t length = 0; length <= 40; ++length) {
      std::string text(length, '\0');
      for (char& c : text) c = static_cast<char>(1 + random() % 255);
      std::unique_ptr<char[]> ended(new char[length + 1]);
      memcpy(ended.get(), text.data(), length);
      ended[length] = '\0';
      size_t found = 99;
      uint64_t hash = 0;
      ASSERT_TRUE(fn.polynomialToZero(ended.get(), length + 1, &found, &hash));
      EXPECT_EQ(found, length);
      EXPECT_EQ(hash, fn(text.data(), static_cast<int>(length)))
          << "prime " << fn.prime << ", length " << length;

      std::unique_ptr<char[]> unended(new char[length]);
      memcpy(unended.get(), text.data(), length);
      EXPECT_FALSE(fn.polynomialToZero(unended.get(), length, &found, &hash))
          << "no zero byte before the limit";
    }
  }
}

TEST(HashFnTest, CustomPowTableAgreesWithSquaring) {
  HashFn fn(31, true);
  for (int exponent = 0; exponent < 80; ++exponent) {
    EXPECT_EQ(customPow(&fn.powerTable, true, 31, exponent),
              customPow(&fn.powerTable, false, 31, exponent))
        << exponent;
  }
  EXPECT_EQ(customPow(&fn.powerTable, false, 7, 0), 1u);
  EXPECT_EQ(customPow(&fn.powerTable, false, 3, 5), 243u);
}

// Rolling a window along a string must give the string-form hash of every
// window; the Bloom filters depend on it to find added fingerprints.
TEST(HashFnTest, RollingFormEqualsStringForm) {
  std::mt19937 random(12345);
  std::uniform_int_distribution<int> byte(0, 255);
  const HashFn withoutTable(19, false);
  const HashFn* functions[] = {&fingerprintHashFns[0], &fingerprintHashFns[1],
                               &fingerprintHashFns[2], &fingerprintHashFns[3],
                               &fingerprintHashFns[4], &elementHashFn,
                               &withoutTable};
  for (int trial = 0; trial < 200; ++trial) {
    std::string data(20 + trial, '\0');
    for (char& c : data) c = static_cast<char>(byte(random));
    for (int window : {1, 6, 29, 31}) {
      if (window > static_cast<int>(data.size())) continue;
      for (const HashFn* fn : functions) {
        uint64_t rolling = (*fn)(data.data(), window);
        for (size_t start = 1; start + window <= data.size(); ++start) {
          rolling = (*fn)(data.data() + start, window,
                          static_cast<unsigned char>(data[start - 1]), rolling);
          ASSERT_EQ(rolling, (*fn)(data.data() + start, window))
              << "prime " << fn->prime << " window " << window << " at "
              << start;
        }
      }
    }
  }
}

TEST(HashFnTest, FingerprintPrimesInOrder) {
  const int expected[] = {13, 17, 31, 41, 53};
  for (int i = 0; i < kFingerprintHashFnCount; ++i) {
    EXPECT_EQ(fingerprintHashFns[i].prime, expected[i]);
  }
  EXPECT_EQ(elementHashFn.prime, 19);
}

TEST(HashFn2ByteTest, FirstTwoBytesOnly) {
  const HashFn& fn = twoByteHashFn;
  EXPECT_EQ(fn("ab", 2), 25185u);
  EXPECT_EQ(fn("abcdef", 6), 25185u);
  EXPECT_EQ(fn("ab", 2, 'z', 999), 25185u);
  EXPECT_EQ(fn("ab", 17, 0, 0), 25185u);
  EXPECT_EQ(fn("\xFF\xFF", 2), 65535u);
}

}  // namespace
}  // namespace tessul
