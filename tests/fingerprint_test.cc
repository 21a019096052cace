#include <cstring>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engine/tessul_client.h"
#include "filter/filter_parser.h"
#include "filter/fingerprint.h"

namespace tessul {
namespace {

std::string fingerprintOf(const char* text) {
  char output[TessulClient::kFingerprintSize + 1];
  memset(output, 'Z', sizeof output);
  if (!TessulClient::getFingerprint(output, text)) {
    EXPECT_EQ(output[0], '\0') << text;
    return "<none>";
  }
  return output;
}

TEST(FingerprintTest, LeftmostUsableWindow) {
  EXPECT_EQ(fingerprintOf("abcdefgh"), "abcdef");
  EXPECT_EQ(fingerprintOf("ab*cdefghij"), "cdefgh");
  EXPECT_EQ(fingerprintOf("a^bcdefg|hijklmn"), "bcdefg");
  EXPECT_EQ(fingerprintOf("xhttpabcdef"), "ttpabc");
  EXPECT_EQ(fingerprintOf("wwwabcdefg"), "wwabcd");
  EXPECT_EQ(fingerprintOf("banner1234"), "anner1");
  EXPECT_EQ(fingerprintOf("adverts"), "<none>");
  EXPECT_EQ(fingerprintOf("abcde"), "<none>");
  EXPECT_EQ(fingerprintOf(""), "<none>");
  EXPECT_TRUE(TessulClient::getFingerprint(nullptr, "abcdefgh"));
  EXPECT_FALSE(TessulClient::getFingerprint(nullptr, static_cast<const char*>(nullptr)));
}

TEST(FingerprintTest, RulesUseTheirLiteralText) {
  auto ruleFingerprint = [](const char* line) -> std::string {
    Filter rule;
    parseFilter(line, &rule);
    char output[TessulClient::kFingerprintSize + 1] = {};
    return TessulClient::getFingerprint(output, rule) ? output : "<none>";
  };
  EXPECT_EQ(ruleFingerprint("/ad[0-9]+qwerty/"), "<none>") << "regex";
  EXPECT_EQ(ruleFingerprint("||a.test/qwerty1"), "/qwert")
      << "after the host first";
  EXPECT_EQ(ruleFingerprint("||abcdefgh.test^"), "abcdef")
      << "else from the host";
  EXPECT_EQ(ruleFingerprint("||a.b^*^"), "<none>");
  // A '|' inside the host span is not part of the pattern; the search must
  // not start past the pattern's end.
  EXPECT_EQ(ruleFingerprint("||a|bcdefgh"), "abcdef");
  EXPECT_EQ(ruleFingerprint("@@|qwerty-x|"), "qwerty");
}

TEST(BadFingerprintTableTest, FormOfTheEntries) {
  std::set<std::string> distinct;
  for (const char* entry : badFingerprints) {
    ASSERT_EQ(strlen(entry), 6u) << entry;
    for (const char* c = entry; *c; ++c) {
      const bool allowed = isalnum(static_cast<unsigned char>(*c)) ||
                           strchr("#%&()+,-./:;=?[]_~", *c) != nullptr;
      EXPECT_TRUE(allowed) << entry;
    }
    EXPECT_FALSE(hasBadSubstring(entry, entry + 6)) << entry;
    EXPECT_TRUE(isBadFingerprint(entry, entry + 6)) << entry;
    distinct.insert(entry);
  }
  EXPECT_EQ(distinct.size(), static_cast<size_t>(kBadFingerprintCount));
  for (const char* quoted : {"banner", "direct", "advert", "dverts", "/pixel",
                             "/click", "/track", "/stati", "300x25"}) {
    EXPECT_TRUE(distinct.count(quoted)) << quoted;
  }
  EXPECT_FALSE(isBadFingerprint("abcdef", "abcdef" + 6));
  // Exact lookup: an entry with any one byte changed is not an entry.
  for (int i = 0; i < 6; ++i) {
    char nearMiss[] = "banner";
    nearMiss[i] = nearMiss[i] == 'Q' ? 'R' : 'Q';
    EXPECT_FALSE(isBadFingerprint(nearMiss, nearMiss + 6)) << nearMiss;
  }
  EXPECT_FALSE(isBadFingerprint("banner", "banner" + 5)) << "six bytes only";
}

TEST(BadSubstringTest, OnlyWhollyInsideTheWindow) {
  const char* text = "xhttpabc";
  EXPECT_FALSE(hasBadSubstring(text, text + 4));  // "xhtt"
  EXPECT_TRUE(hasBadSubstring(text, text + 5));   // "xhttp"
  EXPECT_TRUE(hasBadSubstring(text + 1, text + 5));
  EXPECT_FALSE(hasBadSubstring(text + 2, text + 8));
  const char* www = "awwwb";
  EXPECT_TRUE(hasBadSubstring(www, www + 4));
  EXPECT_FALSE(hasBadSubstring(www, www + 3));
  const char withNul[] = "ab\0http";
  EXPECT_FALSE(hasBadSubstring(withNul, withNul + 7)) << "the text ends at NUL";
}

std::vector<std::string> trackerChain(const BadFingerprintsHashSet& tracker) {
  std::vector<std::string> chain;
  for (auto* item = tracker.chain(0); item; item = item->next) {
    chain.push_back(item->element->fingerprint);
  }
  return chain;
}

TEST(BadFingerprintDetectionTest, StartsWithTheTableInOrder) {
  TessulClient engine;
  EXPECT_EQ(engine.badFingerprintTracker, nullptr);
  engine.enableBadFingerprintDetection();
  ASSERT_NE(engine.badFingerprintTracker, nullptr);
  EXPECT_EQ(engine.badFingerprintTracker->elementCount,
            static_cast<uint32_t>(kBadFingerprintCount));
  const std::vector<std::string> chain = trackerChain(*engine.badFingerprintTracker);
  ASSERT_EQ(chain.size(), static_cast<size_t>(kBadFingerprintCount));
  for (int i = 0; i < kBadFingerprintCount; ++i) {
    ASSERT_EQ(chain[i], badFingerprints[i]) << i;
  }
  BadFingerprintsHashSet* tracker = engine.badFingerprintTracker;
  engine.enableBadFingerprintDetection();
  EXPECT_EQ(engine.badFingerprintTracker, tracker);
  EXPECT_EQ(tracker->elementCount, static_cast<uint32_t>(kBadFingerprintCount));
  engine.clear();
  EXPECT_EQ(engine.badFingerprintTracker, nullptr) << "clear switches it off";
}

TEST(BadFingerprintDetectionTest, RecordsTheFirstWindowThatRaisedTheAlarm) {
  BloomFilter bloom(15, 80000, fingerprintHashFns, kFingerprintHashFnCount);
  bloom.add("qwerty", 6);
  bloom.add("zxcvbn", 6);
  BadFingerprintsHashSet tracker;
  tracker.Add(BadFingerprint("banner"), true);
  discoverMatchingPrefix(&tracker, "https://a.test/zxcvbn/qwerty", &bloom, 6);
  discoverMatchingPrefix(&tracker, "https://a.test/zxcvbn", &bloom, 6);
  discoverMatchingPrefix(&tracker, "https://a.test/nothing", &bloom, 6);
  discoverMatchingPrefix(&tracker, "https://a.test/qwerty", &bloom, 6);
  EXPECT_EQ(trackerChain(tracker),
            (std::vector<std::string>{"banner", "zxcvbn", "qwerty"}));
  discoverMatchingPrefix(nullptr, "https://a.test/qwerty", &bloom, 6);
}

// A false alarm in a parsed engine: the rule's fingerprint is in the URL,
// but the rule does not match it.
TEST(BadFingerprintDetectionTest, MatchingRecordsFalseAlarms) {
  TessulClient engine;
  engine.parse("qwerty$image\n");
  engine.enableBadFingerprintDetection();
  const uint32_t before = engine.badFingerprintTracker->elementCount;
  EXPECT_FALSE(engine.matches("https://a.test/qwerty.js", OptScript, nullptr));
  EXPECT_EQ(engine.blockBloomFalseHits, 1u);
  ASSERT_EQ(engine.badFingerprintTracker->elementCount, before + 1);
  EXPECT_EQ(trackerChain(*engine.badFingerprintTracker).back(), "qwerty");
  EXPECT_FALSE(engine.matches("https://a.test/qwerty.js", OptScript, nullptr));
  EXPECT_EQ(engine.badFingerprintTracker->elementCount, before + 1)
      << "a window is recorded once";
  EXPECT_EQ(engine.blockBloomFalseHits, 2u);
}

}  // namespace
}  // namespace tessul
