#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "engine/tessul_client.h"
#include "filter/filter_parser.h"
#include "hashing/bloom_filter.h"

namespace tessul {
namespace {

std::unique_ptr<Filter> parsed(const std::string& line, bool preserve = false) {
  auto rule = std::make_unique<Filter>();
  parseFilter(line.c_str(), rule.get(), nullptr, nullptr, nullptr, nullptr,
              nullptr, preserve);
  return rule;
}

std::string patternOf(const std::string& line) {
  auto rule = parsed(line);
  return rule->pattern ? rule->pattern : "<none>";
}

TEST(FilterSyntaxTest, CommentsAndEmptyLines) {
  for (const char* line : {"", "   ", "\t "}) {
    auto rule = parsed(line);
    EXPECT_EQ(rule->type, TypeEmpty) << "'" << line << "'";
    EXPECT_EQ(rule->pattern, nullptr);
  }
  for (const char* line : {"! text", "[Adblock Plus 2.0]", "# text", "@@! text",
                           "  ! indented", "#\ttab"}) {
    auto rule = parsed(line);
    EXPECT_EQ(rule->type, TypeComment) << line;
    EXPECT_EQ(rule->pattern, nullptr) << line;
  }
  EXPECT_EQ(parsed("#text")->type, TypeNone);
  EXPECT_EQ(patternOf("#text"), "#text");
  EXPECT_EQ(patternOf("a# b"), "a# b") << "a comment only at the start";
  EXPECT_EQ(patternOf("a!b[c"), "a!b[c");
}

TEST(FilterSyntaxTest, ExceptionsAndAnchors) {
  struct Case {
    const char* line;
    FilterType type;
    const char* pattern;
  } cases[] = {
      {"@@ads", TypeException, "ads"},
      {"|a.test/x", TypeLeftAnchor, "a.test/x"},
      {"a.test/x|", TypeRightAnchor, "a.test/x"},
      {"|a.test/x|", TypeLeftAnchor | TypeRightAnchor, "a.test/x"},
      {"a|b", TypeRightAnchor, "ab"},
      {"|", TypeNone, ""},
      {"@@|a.test|", TypeException | TypeLeftAnchor | TypeRightAnchor, "a.test"},
      {"  ads  x", TypeNone, "ads  x"},
  };
  for (const Case& c : cases) {
    auto rule = parsed(c.line);
    EXPECT_EQ(rule->type, c.type) << c.line;
    EXPECT_STREQ(rule->pattern, c.pattern) << c.line;
  }
}

TEST(FilterSyntaxTest, HostAnchors) {
  struct Case {
    const char* line;
    FilterType type;
    const char* anchorHost;
    const char* pattern;
  } cases[] = {
      {"||a.test^", TypeHostAnchor | TypeHostOnly, "a.test", "a.test^"},
      {"||a.test^$image", TypeHostAnchor | TypeHostOnly, "a.test", "a.test^"},
      {"||a.test$image", TypeHostAnchor | TypeHostOnly, "a.test", "a.test"},
      {"||a.test", TypeHostAnchor | TypeHostOnly, "a.test", "a.test"},
      {"||a.test/ads", TypeHostAnchor, "a.test", "a.test/ads"},
      {"||a.test^x", TypeHostAnchor, "a.test", "a.test^x"},
      {"||a.test:8080^", TypeHostAnchor, "a.test", "a.test:8080^"},
      {"||a.test|", TypeHostAnchor | TypeRightAnchor, "a.test", "a.test"},
      {"||", TypeHostAnchor | TypeHostOnly, "", ""},
      {"@@||a.test^", TypeException | TypeHostAnchor | TypeHostOnly, "a.test",
       "a.test^"},
  };
  for (const Case& c : cases) {
    auto rule = parsed(c.line);
    EXPECT_EQ(rule->type, c.type) << c.line;
    EXPECT_STREQ(rule->anchorHost, c.anchorHost) << c.line;
    EXPECT_STREQ(rule->pattern, c.pattern) << c.line;
    EXPECT_EQ(rule->anchorHostLen, -1) << "measured on first use";
  }
  EXPECT_EQ(parsed("||a.test^$image")->options, OptImage);
}

TEST(FilterSyntaxTest, RegexRules) {
  auto regex = parsed("/ad[0-9]+/", true);
  EXPECT_EQ(regex->type, TypeRegex);
  EXPECT_STREQ(regex->pattern, "ad[0-9]+");
  EXPECT_STREQ(regex->sourceText, "ad[0-9]+");
  auto exception = parsed("@@/ad/");
  EXPECT_EQ(exception->type, TypeRegex) << "@@ does not survive";
  EXPECT_STREQ(exception->pattern, "ad");
  EXPECT_EQ(parsed("/")->type, TypeNone);
  EXPECT_EQ(patternOf("/"), "/");
  auto withOptions = parsed("/ads/$script");
  EXPECT_EQ(withOptions->type, TypeNone);
  EXPECT_STREQ(withOptions->pattern, "/ads/");
  EXPECT_EQ(withOptions->options, OptScript);
}

TEST(FilterSyntaxTest, ElementHidingAndHtmlRules) {
  auto hide = parsed("a.test##.banner");
  EXPECT_EQ(hide->type, TypeElementHide);
  EXPECT_STREQ(hide->domainText, "a.test");
  EXPECT_STREQ(hide->pattern, ".banner");
  EXPECT_EQ(parsed("##.banner")->domainText, nullptr);
  EXPECT_EQ(patternOf("a.test##a[href$=x]"), "a[href$=x]");
  auto exception = parsed("a.test#@#.banner");
  EXPECT_EQ(exception->type, TypeElementHideException);
  EXPECT_STREQ(exception->pattern, ".banner") << "#@# cancels what ## hides";
  EXPECT_EQ(patternOf("#@.x"), ".x");
  auto html = parsed("a.test$$script[data-ad]");
  EXPECT_EQ(html->type, TypeHtmlRule);
  EXPECT_STREQ(html->domainText, "a.test");
  EXPECT_STREQ(html->pattern, "script[data-ad]");
  auto empty = parsed("$script");
  EXPECT_EQ(empty->type, TypeEmpty);
  EXPECT_EQ(empty->options, OptScript) << "options are parsed all the same";
}

TEST(FilterSyntaxTest, LongLines) {
  const std::string line2047(2047, 'a');
  EXPECT_EQ(patternOf(line2047), line2047);
  EXPECT_EQ(patternOf(std::string(2048, 'a')), "<none>");
  std::string withOptions(100, 'b');
  withOptions += "$image," + std::string(2900, 'x');
  auto rule = parsed(withOptions);
  EXPECT_EQ(std::string(rule->pattern), std::string(100, 'b'));
  EXPECT_EQ(rule->options, OptImage | OptUnknown);
  auto selector = parsed("##" + std::string(3000, 'c'));
  EXPECT_EQ(selector->type, TypeElementHide);
  EXPECT_EQ(selector->pattern, nullptr);
}

TEST(FilterSyntaxTest, PreservedRuleText) {
  EXPECT_STREQ(parsed("a.test##.ad", true)->sourceText, "a.test##.ad");
  EXPECT_STREQ(parsed("  ||a.test^$image", true)->sourceText, "||a.test^$image");
  EXPECT_EQ(parsed("||a.test^$image")->sourceText, nullptr);
  // Options that begin before `end` run to the end of the line.
  const char* text = "ads$image\nnext";
  Filter rule;
  parseFilter(text, text + 5, &rule, nullptr, nullptr, nullptr, nullptr,
              nullptr, true);
  EXPECT_STREQ(rule.sourceText, "ads$image");
  EXPECT_EQ(rule.options, OptImage);
}

class FilingTest : public ::testing::Test {
 protected:
  FilingTest()
      : block(15, 80000, fingerprintHashFns, 5),
        exception(10, 20000, fingerprintHashFns, 5),
        hosts(true),
        exceptionHosts(true) {
    hosts.Init(10);
    exceptionHosts.Init(10);
    selectors.Init(10);
  }
  void file(const char* line, bool withExceptionBloom = true) {
    Filter rule;
    parseFilter(line, &rule, &block, withExceptionBloom ? &exception : nullptr,
                &hosts, &exceptionHosts, &selectors);
  }
  BloomFilter block, exception;
  HashSet<Filter> hosts, exceptionHosts;
  HashSet<CosmeticFilter> selectors;
};

TEST_F(FilingTest, HostOnlyRulesGoToTheirHostSet) {
  file("||a.test^");
  EXPECT_EQ(hosts.elementCount, 1u);
  file("@@||b.test^");
  EXPECT_EQ(exceptionHosts.elementCount, 1u);
  file("@@||c.test^", /*withExceptionBloom=*/false);
  EXPECT_EQ(hosts.elementCount, 2u) << "no exception Bloom filter given";
  EXPECT_EQ(exceptionHosts.elementCount, 1u);
}

TEST_F(FilingTest, FingerprintsGoToTheRuleSide) {
  file("qwerty");
  EXPECT_TRUE(block.exists("qwerty"));
  file("@@asdfgh");
  EXPECT_TRUE(exception.exists("asdfgh"));
  EXPECT_FALSE(block.exists("asdfgh"));
  file("@@zxcvbn", /*withExceptionBloom=*/false);
  EXPECT_TRUE(block.exists("zxcvbn"));
  file("a.test$$poiuyt");
  EXPECT_TRUE(block.exists("poiuyt")) << "HTML rules use the block filter";
}

// Rules with unsupported options are dropped by the engine; nothing of them
// may stay behind in its stores.
TEST_F(FilingTest, DroppedRulesAreFiledNowhere) {
  file("||a.test^$popup");
  file("@@||b.test^$csp=x");
  file("lkjhgf$popup");
  file("##.ad$$elemhide");  // selector text, not options
  EXPECT_EQ(hosts.elementCount, 0u);
  EXPECT_EQ(exceptionHosts.elementCount, 0u);
  EXPECT_FALSE(block.exists("lkjhgf"));
}

TEST_F(FilingTest, SelectorsOfGenericHidingRules) {
  file("##.ad");
  file("a.test##.other");
  file("#@#.ad");
  EXPECT_EQ(selectors.elementCount, 1u);
  EXPECT_TRUE(selectors.Exists(CosmeticFilter(".ad")));
  file("a.test#@#.ad");
  EXPECT_EQ(selectors.elementCount, 0u);
}

}  // namespace
}  // namespace tessul
