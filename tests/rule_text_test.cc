// ruleText: every rule written as a line of its list, the line that parses
// back to the same rule, for rules parsed with and without their lines and
// for rules loaded from an image.

#include <functional>
#include <string>
#include <string_view>

#include <gtest/gtest.h>

#include "engine/rule_stores.h"
#include "engine/tessul_client.h"
#include "filter/filter.h"
#include "filter/filter_parser.h"
#include "filter/option_keywords.h"
#include "hashing/hash_set.h"
#include "image_test_support.h"
#include "test_support.h"

namespace tessul {
namespace {

std::string_view textOf(const char* text, int32_t length) {
  if (text == nullptr) return {};
  return length >= 0 ? std::string_view(text, length) : std::string_view(text);
}

// Whether two rules are the same rule: type, options, negated options,
// pattern, anchor host, domain text and tag. An image cannot tell an absent
// anchor host from an empty one, so neither does this.
::testing::AssertionResult sameRule(const Filter& a, const Filter& b) {
  const bool same =
      a.type == b.type && a.options == b.options &&
      a.negatedOptions == b.negatedOptions &&
      (a.pattern == nullptr) == (b.pattern == nullptr) &&
      textOf(a.pattern, a.patternLen) == textOf(b.pattern, b.patternLen) &&
      textOf(a.anchorHost, a.anchorHostLen) ==
          textOf(b.anchorHost, b.anchorHostLen) &&
      (a.domainText == nullptr) == (b.domainText == nullptr) &&
      textOf(a.domainText, -1) == textOf(b.domainText, -1) &&
      textOf(a.tagText, a.tagLen) == textOf(b.tagText, b.tagLen);
  if (same) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure()
         << "types " << a.type << "/" << b.type << ", options " << a.options
         << "/" << b.options << ", negated " << a.negatedOptions << "/"
         << b.negatedOptions << ", patterns '"
         << textOf(a.pattern, a.patternLen) << "'/'"
         << textOf(b.pattern, b.patternLen) << "', domains '"
         << textOf(a.domainText, -1) << "'/'" << textOf(b.domainText, -1)
         << "'";
}

// Parsing the rule's text gives the rule again.
::testing::AssertionResult readsBack(const Filter& rule) {
  const std::string text = ruleText(rule);
  Filter again;
  parseFilter(text.c_str(), &again);
  ::testing::AssertionResult same = sameRule(again, rule);
  if (!same) same << " for the text " << text;
  return same;
}

TEST(RuleTextTest, RulesWithoutTheirLinesAreWrittenFromTheirFields) {
  const struct {
    const char* line;
    const char* text;
  } kCases[] = {
      {"||ads.example^", "||ads.example^"},
      {"@@||ads.example/ok/$script,domain=a.test|~b.test",
       "@@||ads.example/ok/$script,domain=a.test|~b.test"},
      // Options by their full keywords, in the order of their bits.
      {"/banner/*$~third-party,im", "/banner/*$image,~third-party"},
      {"ads$", "ads$script"},
      {"ads$s,~s,tag=t1,domain=", "ads$script,~script,domain=,tag=t1"},
      {"@@||a.test^$redirect=x.js,important",
       "@@||a.test^$redirect=,important"},
      {"|https://x.test/a|", "|https://x.test/a|"},
      {"a|b", "ab|"},
      {"  ad  ", "ad  "},
      {"@@$script", "@@$script"},
      {"/ad[0-9]+\\.js$/", "/ad[0-9]+\\.js$/"},
      {"news.test,~a.news.test##.ad > div",
       "news.test,~a.news.test##.ad > div"},
      {"##.ad", "##.ad"},
      {"news.test#@.ad", "news.test#@#.ad"},
      {"news.test$$script[data-src]", "news.test$$script[data-src]"},
      {"! a comment", "!"},
      {"", ""},
      // Patterns that a '@' let the parser read where a rule begins.
      {"@!ad", "@!ad"},
      {"@@@[ad", "@@@[ad"},
      {"@# ad", "@# ad"},
      {"@ ad", "@ ad"},
      {"@/ad/", "@/ad/"},
      {"@/ad/$domain=a/", "@/ad/$domain=a/"},
      {"@@ ad", "@@ ad"},
      {"@", "@"},
      {"@|", "@|"},
      {"@@@|$script", "@@@|$script"},
      {"|", "@"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.line);
    Filter rule;
    parseFilter(c.line, &rule);
    EXPECT_EQ(ruleText(rule), c.text);
    EXPECT_TRUE(readsBack(rule));
  }
}

TEST(RuleTextTest, RulesWithTheirLinesAreWrittenAsTheirLines) {
  for (const char* line : {"||ads.example^$third-party,s", "a.test##.ad",
                           "@@||x.test^$domain=a.test"}) {
    Filter rule;
    parseFilter(line, &rule, nullptr, nullptr, nullptr, nullptr, nullptr,
                /*preserveRules=*/true);
    EXPECT_EQ(ruleText(rule), line);
  }
  // A regex rule keeps only its body.
  Filter regex;
  parseFilter("  /ad[0-9]/", &regex, nullptr, nullptr, nullptr, nullptr,
              nullptr, true);
  EXPECT_EQ(ruleText(regex), "/ad[0-9]/");
}

// Every keyword that rule text writes names its own option again.
TEST(RuleTextTest, EachOptionKeywordNamesItsBit) {
  int named = 0;
  for (int i = 0; i < 32; ++i) {
    const auto bit = static_cast<FilterOption>(uint32_t{1} << i);
    const char* keyword = optionKeyword(bit);
    if (keyword == nullptr) continue;
    ++named;
    EXPECT_EQ(optionKeywordBit(keyword, static_cast<int>(strlen(keyword))), bit)
        << keyword;
  }
  EXPECT_EQ(named, 28);
  EXPECT_EQ(optionKeyword(OptUnknown), nullptr);
}

// Calls visit(rule) for every rule the engine keeps: the rule arrays and
// the host sets.
void forEveryRule(TessulClient& engine,
                  const std::function<void(const Filter&)>& visit) {
  for (const RuleStore& store : kRuleStores) {
    const Filter* rules = engine.*store.rules.member;
    for (int i = 0; i < engine.*store.count.member; ++i) visit(rules[i]);
  }
  for (const SideStores& side : kSides) {
    const HashSet<Filter>* set = engine.*side.hostSet.member;
    for (uint32_t b = 0; set != nullptr && b < set->bucketCount; ++b) {
      for (HashItem<Filter>* item = set->chain(b); item; item = item->next) {
        visit(*item->element);
      }
    }
  }
}

// Every rule of the bundled lists, parsed without its line and loaded
// from an image, reads back as itself.
TEST(RuleTextTest, EveryRuleOfTheBundledListsReadsBack) {
  TessulClient parsed;
  parsed.setNoteSink([](int, std::string_view) {});
  parsed.parse(testing::bundledLists().c_str());
  int rules = 0;
  int failures = 0;
  auto check = [&](const Filter& rule) {
    ++rules;
    if (failures < 10 && !readsBack(rule)) {
      ++failures;
      ADD_FAILURE() << readsBack(rule).message();
    }
  };
  forEveryRule(parsed, check);
  const int parsedRules = rules;
  EXPECT_GT(parsedRules, 50000);

  const testing::ExactCopy image(testing::savedImage(parsed));
  TessulClient loaded;
  ASSERT_TRUE(loaded.deserialize(image.data(), image.size()));
  rules = 0;
  forEveryRule(loaded, check);
  EXPECT_EQ(rules, parsedRules);
  EXPECT_GT(loaded.hostBlockSet->elementCount, 10000u);
}

}  // namespace
}  // namespace tessul
