#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "engine/tessul_client.h"
#include "hashing/bloom_filter.h"
#include "hashing/hash_set.h"
#include "hashing/set_elements.h"

namespace tessul {
namespace {

std::vector<std::string> patterns(const Filter* rules, int count) {
  std::vector<std::string> result;
  for (int i = 0; i < count; ++i) {
    result.push_back(rules[i].pattern ? rules[i].pattern : "<none>");
  }
  return result;
}

TEST(ListParsingTest, EachRuleGoesToItsStore) {
  TessulClient engine;
  EXPECT_TRUE(engine.parse(
      "! comment\n"
      "[Adblock Plus 2.0]\n"
      "\n"
      "/qwerty/\n"               // regex: no fingerprint, unfingerprinted
      "asdfgh\n"                 // fingerprinted block
      "@@zxcvbn\n"               // fingerprinted exception
      "ad$domain=a.test\n"       // include-domain block
      "ads$domain=~a.test|~b.test\n"  // exclude-domain block
      "@@ad$domain=a.test\n"     // include-domain exception
      "@@ad$domain=~c.test\n"    // exclude-domain exception
      "ad$domain=a.test|~b.a.test\n"  // both kinds: unfingerprinted
      "@@ad\n"                   // unfingerprinted exception
      "||host.test^\n"           // host-only block
      "@@||good.test^\n"         // host-only exception
      "##.ad\n"
      "a.test#@#.ad\n"
      "a.test$$script\n"
      "ad$popup\n"               // unsupported: dropped
      "||pop.test^$popup\n"));
  EXPECT_EQ(patterns(engine.fingerprintedBlockRules, engine.fingerprintedBlockCount),
            std::vector<std::string>{"asdfgh"});
  EXPECT_EQ(patterns(engine.fingerprintedExceptionRules,
                     engine.fingerprintedExceptionCount),
            std::vector<std::string>{"zxcvbn"});
  EXPECT_EQ(patterns(engine.unfingerprintedBlockRules,
                     engine.unfingerprintedBlockCount),
            (std::vector<std::string>{"qwerty", "ad"}));
  EXPECT_EQ(patterns(engine.unfingerprintedExceptionRules,
                     engine.unfingerprintedExceptionCount),
            std::vector<std::string>{"ad"});
  EXPECT_EQ(engine.includeDomainBlockCount, 1);
  EXPECT_EQ(engine.excludeDomainBlockCount, 1);
  EXPECT_EQ(engine.includeDomainExceptionCount, 1);
  EXPECT_EQ(engine.excludeDomainExceptionCount, 1);
  EXPECT_EQ(patterns(engine.elementHideRules, engine.elementHideCount),
            (std::vector<std::string>{".ad", ".ad"}));
  EXPECT_EQ(patterns(engine.htmlRules, engine.htmlRuleCount),
            std::vector<std::string>{"script"});
  EXPECT_EQ(engine.hostBlockCount, 1);
  EXPECT_EQ(engine.hostExceptionCount, 1);
  EXPECT_EQ(engine.hostBlockSet->elementCount, 1u) << "the popup rule is not filed";
  EXPECT_EQ(engine.hostExceptionSet->elementCount, 1u);
  // Domain sets hold the domains without '~'.
  EXPECT_TRUE(engine.includeDomainBlockSet->Exists(NoFingerprintDomain("a.test", 6)));
  EXPECT_TRUE(engine.excludeDomainBlockSet->Exists(NoFingerprintDomain("a.test", 6)));
  EXPECT_TRUE(engine.excludeDomainBlockSet->Exists(NoFingerprintDomain("b.test", 6)));
  EXPECT_TRUE(engine.includeDomainExceptionSet->Exists(NoFingerprintDomain("a.test", 6)));
  EXPECT_TRUE(engine.excludeDomainExceptionSet->Exists(NoFingerprintDomain("c.test", 6)));
  EXPECT_EQ(engine.excludeDomainBlockSet->elementCount, 2u);
}

TEST(ListParsingTest, LineBreaks) {
  TessulClient engine;
  engine.parse("aaaaaa\r\nbbbbbb\rcccccc\n\n\ndddddd");
  EXPECT_EQ(patterns(engine.fingerprintedBlockRules, engine.fingerprintedBlockCount),
            (std::vector<std::string>{"aaaaaa", "bbbbbb", "cccccc", "dddddd"}));
  TessulClient cut;
  const char text[] = "eeeeee\0ffffff\n";
  cut.parse(text);
  EXPECT_EQ(cut.fingerprintedBlockCount, 1) << "text after a NUL is never read";
}

TEST(ListParsingTest, FurtherListsAppend) {
  TessulClient engine;
  engine.parse("aaaaaa\nbbbbbb\n||a.test^");
  engine.parse("cccccc\n||a.test^");
  EXPECT_EQ(patterns(engine.fingerprintedBlockRules, engine.fingerprintedBlockCount),
            (std::vector<std::string>{"aaaaaa", "bbbbbb", "cccccc"}));
  EXPECT_EQ(engine.hostBlockCount, 2) << "lines are counted";
  EXPECT_EQ(engine.hostBlockSet->elementCount, 1u) << "the same rule is kept once";
  engine.parse("");
  EXPECT_EQ(engine.fingerprintedBlockCount, 3);
  EXPECT_TRUE(engine.matches("https://x.test/cccccc", OptImage, nullptr));
}

TEST(ListParsingTest, PreservedRulesKeepTheirLine) {
  TessulClient engine;
  engine.parse("||a.test/ads$image\nqwerty$domain=b.test", true);
  EXPECT_STREQ(engine.fingerprintedBlockRules[0].sourceText, "||a.test/ads$image");
  EXPECT_STREQ(engine.fingerprintedBlockRules[1].sourceText,
               "qwerty$domain=b.test");
  TessulClient lean;
  lean.parse("||a.test/ads$image");
  EXPECT_EQ(lean.fingerprintedBlockRules[0].sourceText, nullptr);
}

// Every distinct host-only rule is kept, so one that does not apply never
// hides a later one that does.
TEST(ListParsingTest, HostOnlyRulesOfOneHostAreAllKept) {
  TessulClient engine;
  engine.parse("||a.test^$image\n||a.test^\n||a.test^$image\n@@||b.test^$script\n"
               "@@||b.test^");
  EXPECT_EQ(engine.hostBlockCount, 3);
  EXPECT_EQ(engine.hostBlockSet->elementCount, 2u);
  EXPECT_TRUE(engine.hostBlockSet->allowDuplicates);
  EXPECT_EQ(engine.hostExceptionSet->elementCount, 2u);
  EXPECT_TRUE(engine.matches("https://a.test/x.js", OptScript, nullptr));
}

using Note = std::pair<int, std::string>;

// Each note reaches the sink with the number of its line in the list that
// parse() was given; a line ends at a line feed or a carriage return.
TEST(ListNotesTest, NotesReachTheSinkWithTheirLines) {
  ::testing::internal::CaptureStdout();
  TessulClient engine;
  std::vector<Note> notes;
  engine.setNoteSink([&notes](int line, std::string_view message) {
    notes.emplace_back(line, message);
  });
  engine.parse(
      "||a.test^$zznote\r\n"
      "||b.test^$~zzother,third-party,zznote\n"
      "\n"
      "||c.test^\n"
      "||d.test^$zznote");
  EXPECT_EQ(notes, (std::vector<Note>{
                       {1, "unrecognised option 'zznote'"},
                       {3, "unrecognised option 'zzother'"},
                       {3, "unrecognised option 'zznote'"},
                       {6, "unrecognised option 'zznote'"},
                   }));
  notes.clear();
  engine.parse("x\n||e.test^$zznote\n");
  EXPECT_EQ(notes, (std::vector<Note>{{2, "unrecognised option 'zznote'"}}))
      << "each list counts from 1";
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
  // The rules with unknown options are dropped, the others kept.
  EXPECT_FALSE(engine.matches("https://a.test/", OptScript, nullptr));
  EXPECT_TRUE(engine.matches("https://c.test/", OptScript, nullptr));
}

// Without a sink, any engine of the process writes the line for an option
// the first time it meets it, and never again.
TEST(ListNotesTest, WithoutASinkEachOptionIsWrittenOncePerProcess) {
  ::testing::internal::CaptureStdout();
  TessulClient first;
  first.parse("a$zzonce\nb$zzonce,zztwice\n");
  TessulClient second;
  second.setNoteSink([](int, std::string_view) { FAIL(); });
  second.setNoteSink(nullptr);
  second.parse("c$zztwice\nd$zzonce\n");
  EXPECT_EQ(::testing::internal::GetCapturedStdout(),
            "Unrecognized filter option: zzonce\n"
            "Unrecognized filter option: zztwice\n");
}

// Notes come before the engine changes: a sink that throws leaves the
// rules as they were.
TEST(ListNotesTest, ASinkThatThrowsLeavesTheRulesAsTheyWere) {
  TessulClient engine;
  engine.parse("||a.test^\n");
  engine.setNoteSink(
      [](int, std::string_view) { throw std::runtime_error("refused"); });
  EXPECT_THROW(engine.parse("||b.test^\n||c.test^$zzthrow\n"),
               std::runtime_error);
  EXPECT_TRUE(engine.matches("https://a.test/", OptScript, nullptr));
  EXPECT_FALSE(engine.matches("https://b.test/", OptScript, nullptr));
  EXPECT_EQ(engine.hostBlockCount, 1);
}

// Many host rules and many domains of one rule: the sets grow their bucket
// arrays, answer as before, and a grown set's image says its bucket count
// and loads with it.
TEST(ListParsingTest, SetsGrowWithTheirRules) {
  std::string list;
  for (int i = 0; i < 200000; ++i)
    list += "||h" + std::to_string(i) + ".test^\n";
  std::string rule = "/ad.$domain=";
  for (int i = 0; i < 5000; ++i)
    rule += (i ? "|~d" : "~d") + std::to_string(i) + ".test";
  list += rule + "\n";
  TessulClient engine;
  engine.parse(list.c_str());
  EXPECT_EQ(engine.hostBlockSet->elementCount, 200000u);
  EXPECT_EQ(engine.hostBlockSet->bucketCount, 18000u * 2);
  EXPECT_EQ(engine.excludeDomainBlockSet->bucketCount, 100u * 8);
  ASSERT_EQ(engine.excludeDomainBlockCount, 1);
  EXPECT_EQ(engine.excludeDomainBlockRules[0].excludedDomains->bucketCount,
            5u * 128);

  int size = 0;
  std::unique_ptr<char[]> image(engine.serialize(&size));
  TessulClient loaded;
  ASSERT_TRUE(loaded.deserialize(image.get(), size));
  EXPECT_EQ(loaded.hostBlockSet->bucketCount, 36000u);
  for (TessulClient* e : {&engine, &loaded}) {
    EXPECT_TRUE(e->matches("https://h199999.test/", OptScript, nullptr));
    EXPECT_TRUE(e->matches("https://x.h7.test/", OptScript, nullptr));
    EXPECT_FALSE(e->matches("https://h200000.test/", OptScript, nullptr));
    EXPECT_TRUE(e->matches("https://x.test/ad.js", OptScript, "news.test"));
    EXPECT_FALSE(e->matches("https://x.test/ad.js", OptScript, "d4999.test"));
  }
}

}  // namespace
}  // namespace tessul
