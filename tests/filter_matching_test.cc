#include <cstring>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "filter/filter_parser.h"
#include "filter/url_text.h"
#include "hashing/bloom_filter.h"

namespace tessul {
namespace {

// Matches `url` against the rule on `line`, once without and once with the
// URL's pair Bloom filter, which may only ever reject earlier: both answers
// must agree.
bool ruleMatches(const std::string& line, const std::string& url,
                 FilterOption context = OptNone,
                 const char* contextDomain = nullptr) {
  Filter rule;
  parseFilter(line.c_str(), &rule);
  const bool plain = rule.matches(url.c_str(), context, contextDomain, nullptr,
                                  nullptr, 0);
  BloomFilter pairs(10, 1024, &twoByteHashFn, 1);
  for (size_t i = 0; i + 1 < url.size(); ++i) pairs.add(url.c_str() + i, 2);
  const bool withPairs =
      rule.matches(url.c_str(), context, contextDomain, &pairs, nullptr, 0);
  EXPECT_EQ(plain, withPairs) << line << " on " << url;
  return plain;
}

TEST(UrlTextTest, HostsAndParties) {
  int length = -1;
  const char* url = "ws://a.test:8080/x";
  const char* host = getUrlHost(url, &length);
  EXPECT_EQ(std::string(host, length), "a.test");
  host = getUrlHost("https:///b.test?q", &length);
  EXPECT_EQ(std::string(host, length), "b.test");
  const char* noColon = "a.test/x";
  host = getUrlHost(noColon, &length);
  EXPECT_EQ(length, 0);
  EXPECT_EQ(host, noColon + strlen(noColon));

  EXPECT_FALSE(isThirdPartyHost("a.test", 6, "a.test", 6));
  EXPECT_FALSE(isThirdPartyHost("a.test", 6, "b.a.test", 8));
  EXPECT_TRUE(isThirdPartyHost("a.test", 6, "ba.test", 7));
  EXPECT_TRUE(isThirdPartyHost("a.test", 6, "test", 4));
  EXPECT_TRUE(endsWith("abc", "bc", 3, 2));
  EXPECT_FALSE(endsWith("abc", "bc", 2, 2));
}

TEST(UrlTextTest, Separators) {
  for (char c : std::string("$/:=?^")) EXPECT_TRUE(isSeparatorChar(c)) << c;
  for (char c : std::string("a.-_&#*|\0", 9)) EXPECT_FALSE(isSeparatorChar(c));
  EXPECT_FALSE(isSeparatorChar(static_cast<char>(0xA4)));
  const char* text = "ab.cd/ef";
  EXPECT_EQ(findFirstSeparatorChar(text, text + 8), 5);
  EXPECT_EQ(findFirstSeparatorChar(text, text + 4), 4);
  EXPECT_EQ(getNextPos(text, '/', text + 8), text + 5);
  EXPECT_EQ(getNextPos(text, '*', text + 8), text + 8);
}

TEST(UrlTextTest, SegmentSearch) {
  auto find = [](const char* input, const char* segment) {
    return indexOfFilter(input, strlen(input), segment,
                         segment + strlen(segment));
  };
  EXPECT_EQ(find("a.test/ad", "ad"), 7);
  EXPECT_EQ(find("a.test/ad", "ad^"), 7) << "^ matches the end";
  EXPECT_EQ(find("a.test/ad?x", "ad^"), 7);
  EXPECT_EQ(find("a.test/adx", "ad^"), -1);
  EXPECT_EQ(find("a.test/ad", "ad^x"), -1) << "nothing beyond the end";
  EXPECT_EQ(find("abc", "^"), -1);
  EXPECT_EQ(find("", "a"), -1);
  EXPECT_EQ(find("ab", "abc"), -1);
  EXPECT_EQ(find("ab", ""), 0);
  EXPECT_EQ(find("", ""), -1);
}

TEST(FilterMatchingTest, PlainPatternsAndWildcards) {
  EXPECT_TRUE(ruleMatches("ad", "ws://a.test/ad"));
  EXPECT_FALSE(ruleMatches("ad", "ws://a.test/bd"));
  EXPECT_TRUE(ruleMatches("a*c", "abc"));
  EXPECT_TRUE(ruleMatches("a*c", "ac"));
  EXPECT_FALSE(ruleMatches("a*c", "ca"));
  EXPECT_TRUE(ruleMatches("a*", "a"));
  EXPECT_TRUE(ruleMatches("a*", "ab"));
  EXPECT_TRUE(ruleMatches("a**", "ab"));
  EXPECT_FALSE(ruleMatches("a**", "a"));
  EXPECT_TRUE(ruleMatches("ad^", "a.test/ad"));
  EXPECT_TRUE(ruleMatches("ad^", "a.test/ad/x"));
  EXPECT_TRUE(ruleMatches("ad^", "a.test/ad?x"));
  EXPECT_FALSE(ruleMatches("ad^", "a.test/adx"));
  EXPECT_FALSE(ruleMatches("^", "a.test/"));
  EXPECT_TRUE(ruleMatches("/banner/*/img^", "ws://a.test/banner/big/img?x"));
  EXPECT_FALSE(ruleMatches("/banner/*/img^", "ws://a.test/img/banner/big"));
  EXPECT_FALSE(ruleMatches("AD", "ws://a.test/ad")) << "case-sensitive";
  EXPECT_FALSE(ruleMatches("/ad.*/", "ws://a.test/ad.js")) << "regex";
}

TEST(FilterMatchingTest, AnchoredPatternsCompareLiterally) {
  EXPECT_TRUE(ruleMatches("|a.test", "a.test/x"));
  EXPECT_FALSE(ruleMatches("|a.test^", "a.test/x"));
  EXPECT_TRUE(ruleMatches(".js|", "a.test/x.js"));
  EXPECT_FALSE(ruleMatches(".js|", "a.test/x.jsx"));
  EXPECT_FALSE(ruleMatches("x.test/x.js|", "a.js"));
  EXPECT_TRUE(ruleMatches("|a.test/x|", "a.test/x"));
  EXPECT_FALSE(ruleMatches("|a.test/x|", "a.test/xy"));
  EXPECT_TRUE(ruleMatches("|ws://a.test/*", "ws://a.test/*"));
  EXPECT_FALSE(ruleMatches("|ws://a.test/*", "ws://a.test/x"));
}

TEST(FilterMatchingTest, HostAnchors) {
  for (const char* url : {"ws://a.test/", "ws://b.a.test/", "ws://a.test"}) {
    EXPECT_TRUE(ruleMatches("||a.test^", url)) << url;
  }
  for (const char* url : {"ws://ba.test/", "ws://a.test.b.test/", "a.test/x",
                          "ws://b.test/a.test/"}) {
    EXPECT_FALSE(ruleMatches("||a.test^", url)) << url;
  }
  EXPECT_TRUE(ruleMatches("||a.test/ads", "ws://x.a.test/ads/1"));
  EXPECT_FALSE(ruleMatches("||a.test/ads", "ws://x.a.test/x/ads"))
      << "the path follows the host";
}

TEST(FilterMatchingTest, RequestTypes) {
  EXPECT_TRUE(ruleMatches("ad$image", "ws://a.test/ad", OptImage));
  EXPECT_FALSE(ruleMatches("ad$script", "ws://a.test/ad", OptImage));
  EXPECT_FALSE(ruleMatches("ad$~image", "ws://a.test/ad", OptImage));
  EXPECT_TRUE(ruleMatches("ad$~image", "ws://a.test/ad", OptScript));
  EXPECT_TRUE(ruleMatches("ad", "ws://a.test/ad", OptImage));
  EXPECT_TRUE(ruleMatches("ad$third-party", "ws://a.test/ad", OptImage));
  // A request of unspecified kind only matches rules that name no kind.
  EXPECT_FALSE(ruleMatches("ad$image", "ws://a.test/ad"));
  EXPECT_FALSE(ruleMatches("ad$~image", "ws://a.test/ad"));
  EXPECT_TRUE(ruleMatches("ad$third-party", "ws://a.test/ad"));
  // Documents only match rules that ask for them.
  EXPECT_FALSE(ruleMatches("ad", "ws://a.test/ad", OptDocument));
  EXPECT_FALSE(ruleMatches("ad$image", "ws://a.test/ad", OptDocument));
  EXPECT_TRUE(ruleMatches("ad$document", "ws://a.test/ad", OptDocument));
  // Options that only restrict, and options that are only recorded.
  EXPECT_FALSE(ruleMatches("ad$collapse", "ws://a.test/ad", OptImage));
  EXPECT_TRUE(ruleMatches("ad$important,redirect=x", "ws://a.test/ad", OptImage));
  EXPECT_TRUE(ruleMatches("@@$script", "ws://a.test/anything", OptScript));
}

TEST(FilterMatchingTest, UnsupportedOptionsNeverMatch) {
  for (const char* line : {"ad$popup", "ad$elemhide", "ad$csp=x",
                           "ad$generichide", "ad$genericblock", "ad$empty",
                           "ad$zzunsupported"}) {
    EXPECT_FALSE(ruleMatches(line, "ws://a.test/ad", OptImage)) << line;
  }
}

TEST(FilterMatchingTest, Parties) {
  const auto first = OptImage | OptFirstParty;
  const auto third = OptImage | OptThirdParty;
  EXPECT_FALSE(ruleMatches("ad$third-party", "ws://a.test/ad", first));
  EXPECT_TRUE(ruleMatches("ad$third-party", "ws://a.test/ad", third));
  EXPECT_FALSE(ruleMatches("ad$~third-party", "ws://a.test/ad", third));
  EXPECT_TRUE(ruleMatches("ad$~third-party", "ws://a.test/ad", first));
  // first-party restricts like ~third-party, ~first-party like third-party.
  EXPECT_FALSE(ruleMatches("ad$first-party", "ws://a.test/ad", third));
  EXPECT_TRUE(ruleMatches("ad$first-party", "ws://a.test/ad", first));
  EXPECT_FALSE(ruleMatches("ad$~first-party", "ws://a.test/ad", first));
  EXPECT_TRUE(ruleMatches("ad$~first-party", "ws://a.test/ad", third));
  EXPECT_TRUE(ruleMatches("ad$first-party", "ws://a.test/ad", OptImage))
      << "no party known";
}

TEST(FilterMatchingTest, DomainLists) {
  const char* url = "ws://cdn.test/ad";
  EXPECT_TRUE(ruleMatches("ad$domain=a.test", url, OptNone, "a.test"));
  EXPECT_TRUE(ruleMatches("ad$domain=a.test", url, OptNone, "b.a.test"));
  EXPECT_FALSE(ruleMatches("ad$domain=a.test", url, OptNone, "c.test"));
  EXPECT_FALSE(ruleMatches("ad$domain=a.test", url, OptNone, "atest"));
  EXPECT_TRUE(ruleMatches("ad$domain=a.test", url, OptNone, nullptr))
      << "without a page the list is not consulted";
  EXPECT_FALSE(ruleMatches("ad$domain=~a.test", url, OptNone, "a.test"));
  EXPECT_FALSE(ruleMatches("ad$domain=~a.test", url, OptNone, "b.a.test"));
  EXPECT_TRUE(ruleMatches("ad$domain=~a.test", url, OptNone, "c.test"));
  // The longest listed suffix decides.
  const char* mixed = "ad$domain=a.test|~b.a.test";
  EXPECT_FALSE(ruleMatches(mixed, url, OptNone, "b.a.test"));
  EXPECT_FALSE(ruleMatches(mixed, url, OptNone, "x.b.a.test"));
  EXPECT_TRUE(ruleMatches(mixed, url, OptNone, "c.a.test"));
  const char* reversed = "ad$domain=~a.test|b.a.test";
  EXPECT_TRUE(ruleMatches(reversed, url, OptNone, "x.b.a.test"));
  EXPECT_FALSE(ruleMatches(reversed, url, OptNone, "c.a.test"));
  // Odd dots: every suffix after a '.' that still holds one is a candidate.
  EXPECT_TRUE(ruleMatches("ad$domain=.test", url, OptNone, "a..test"));
  EXPECT_TRUE(ruleMatches("ad$domain=test.", url, OptNone, "a.test."));
  EXPECT_TRUE(ruleMatches("ad$domain=a.test", url, OptNone, ".a.test"));
  EXPECT_FALSE(ruleMatches("ad$domain=~.a.test", url, OptNone, ".a.test"));
  // A last label alone is never looked up.
  EXPECT_FALSE(ruleMatches("ad$domain=test", url, OptNone, "a.test"));
  EXPECT_FALSE(ruleMatches("ad$domain=localhost", url, OptNone, "localhost"));
}

TEST(FilterMatchingTest, PatternLengthIsStoredOnFirstMatch) {
  Filter rule;
  parseFilter("qwerty", &rule);
  EXPECT_EQ(rule.patternLen, -1);
  rule.matches("ws://a.test/qwerty", OptNone, nullptr, nullptr, nullptr, 0);
  EXPECT_EQ(rule.patternLen, 6);
}

}  // namespace
}  // namespace tessul
