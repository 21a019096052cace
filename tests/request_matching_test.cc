#include <cstring>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "engine/engine_internals.h"
#include "engine/tessul_client.h"
#include "hashing/hash_set.h"
#include "hashing/set_elements.h"
#include "test_support.h"

namespace tessul {
namespace {

using testing::patternOf;

TEST(BlockableProtocolTest, OnlyWebSchemes) {
  auto blockable = [](const std::string& url) {
    return isBlockableProtocol(url.c_str(), static_cast<int>(url.size()));
  };
  for (const char* url : {"http://a.test/", "https://a.test/", "ws://a.test/x",
                          "wss://a.test/x", "WS://a.test/x", "HtTpS://a.test",
                          "blob:ws://a.test/x", "BLOB:https://a.test/"}) {
    EXPECT_TRUE(blockable(url)) << url;
  }
  for (const char* url : {"ftp://a.test/ads.js", "ws://", "http", "ws:/a.test",
                          "wsx://a.test", "data:image/png", "blob:blob:ws://a",
                          "blob:ftp://a.test", "https:/a.test", "ws:x//a.test",
                          "about:blank"}) {
    EXPECT_FALSE(blockable(url)) << url;
  }
  EXPECT_FALSE(isBlockableProtocol("ws://a.test", 5)) << "bounded by the length";
}

TEST(CandidateDomainTest, ParentDomainsAreLookedUp) {
  HashSet<NoFingerprintDomain> set;
  set.Init(10);
  set.Add(NoFingerprintDomain("c.test", 6), true);
  auto miss = [&](const char* host) {
    return isNoFingerprintDomainHashSetMiss(&set, host, strlen(host));
  };
  EXPECT_FALSE(miss("c.test"));
  EXPECT_FALSE(miss("a.b.c.test"));
  EXPECT_TRUE(miss("b.test"));
  EXPECT_TRUE(miss("xc.test"));
  EXPECT_TRUE(miss("test"));
  EXPECT_TRUE(miss(""));
  EXPECT_FALSE(isNoFingerprintDomainHashSetMiss(nullptr, "a.test", 6));
}

class RequestMatchingTest : public ::testing::Test {
 protected:
  bool blocked(const char* url, FilterOption options = OptNone,
               const char* page = nullptr) {
    return engine.matches(url, options, page, &rule, &exception);
  }
  TessulClient engine;
  Filter* rule = nullptr;
  Filter* exception = nullptr;
};

TEST_F(RequestMatchingTest, NonWebUrlsAreNeverBlocked) {
  engine.parse("ads.js\n|ftp:\n");
  EXPECT_FALSE(blocked("ftp://a.test/ads.js"));
  EXPECT_EQ(rule, nullptr);
  EXPECT_TRUE(blocked("WS://a.test/ads.js"));
  EXPECT_TRUE(blocked("blob:ws://a.test/ads.js"));
  EXPECT_FALSE(blocked("ws:/a.test/ads.js"));
  // The diagnostic search has no scheme check.
  EXPECT_TRUE(engine.findMatchingFilters("ftp://a.test/ads.js", OptNone,
                                         nullptr, &rule, &exception));
  EXPECT_EQ(patternOf(rule), "ads.js");
}

TEST_F(RequestMatchingTest, HostOnlyRulesAndExceptions) {
  engine.parse("||ads.test^");
  EXPECT_TRUE(blocked("ws://x.ads.test/p"));
  EXPECT_EQ(patternOf(rule), "ads.test^");
  EXPECT_EQ(exception, nullptr);
  EXPECT_FALSE(blocked("ws://xads.test/p"));
  EXPECT_EQ(rule, nullptr);
  engine.parse("@@||ads.test^");
  EXPECT_FALSE(blocked("ws://x.ads.test/p"));
  EXPECT_EQ(patternOf(rule), "ads.test^") << "the block it cancelled";
  EXPECT_EQ(patternOf(exception), "ads.test^");
}

// The indexes hand over a URL's candidates from several runs (the rules
// without key, each key found); whatever their order in the URL, the first
// rule of the list that applies decides.
TEST(IndexedRuleOrderTest, TheFirstRuleOfTheListDecides) {
  struct Case {
    const char* list;
    const char* url;
    const char* rule;
  };
  const Case kCases[] = {
      {"ad*js\n-ads-\n", "https://x.test/-ads-a.js", "ad*js"},  // unkeyed first
      {"-ads-\nad*js\n", "https://x.test/-ads-a.js", "-ads-"},
      {"-ban-\n-ads-\n", "https://x.test/-ads-ban-", "-ban-"},  // keys reversed
      {"-ads*b\n-ads-\n", "https://x.test/-ads--ads-b", "-ads*b"},  // key twice
      {"-ads-\n", "https://x.test/-ads--ads-", "-ads-"},
      {"qwerty1\nqwerty\n", "https://x.test/qwerty12", "qwerty1"},
      {"zxcvbn\nqwerty\n", "https://x.test/qwerty/zxcvbn", "zxcvbn"},
  };
  for (const Case& c : kCases) {
    TessulClient engine;
    engine.parse(c.list);
    Filter* rule = nullptr;
    EXPECT_TRUE(engine.matches(c.url, OptNone, nullptr, &rule, nullptr))
        << c.list;
    EXPECT_EQ(patternOf(rule), c.rule) << c.list;
  }
}

TEST_F(RequestMatchingTest, ExceptionsWinOverImportant) {
  engine.parse("qwerty$important\n@@qwerty$image");
  EXPECT_FALSE(blocked("https://a.test/qwerty.png", OptImage));
  EXPECT_TRUE(blocked("https://a.test/qwerty.js", OptScript));
  EXPECT_EQ(exception, nullptr);
}

// A host-only rule that does not apply must not hide one that does.
TEST_F(RequestMatchingTest, EveryHostOnlyRuleOfAHostIsTried) {
  engine.parse("||propbn.test^$popup\n||propbn.test^$third-party\n"
               "||a.test^$image\n||a.test^\n||b.test^$domain=x.test\n"
               "||b.test^$document");
  EXPECT_TRUE(blocked("https://propbn.test/x", OptScript, "page.test"));
  EXPECT_FALSE(blocked("https://propbn.test/x", OptScript, "propbn.test"));
  EXPECT_TRUE(blocked("https://a.test/x.js", OptScript));
  EXPECT_EQ(patternOf(rule), "a.test^");
  EXPECT_TRUE(blocked("https://a.test/x.png", OptImage));
  EXPECT_EQ(rule->options, OptImage) << "the first that applies";
  EXPECT_TRUE(blocked("https://b.test/", OptDocument, "y.test"));
  EXPECT_EQ(rule->options, OptDocument);
}

// The rules of a host set replaced through initHashSet decide at once, even
// when the new set takes the old one's address and size.
TEST_F(RequestMatchingTest, AReplacedHostSetDecides) {
  TessulClient other;
  other.parse("||bbbb.test^");
  unsigned int length = 0;
  std::unique_ptr<char[]> section(other.hostBlockSet->Serialize(&length));
  engine.parse("||aaaa.test^");
  EXPECT_TRUE(blocked("ws://aaaa.test/x"));
  ASSERT_TRUE(engine.initHashSet(&engine.hostBlockSet, section.get(),
                                 static_cast<int>(length)));
  EXPECT_TRUE(blocked("ws://bbbb.test/x"));
  EXPECT_FALSE(blocked("ws://aaaa.test/x"));
}

// A host-only rule found under a candidate host still has to match the URL,
// whatever host the caller says it has.
TEST_F(RequestMatchingTest, HostSetLookupsMatchTheUrlItself) {
  engine.parse("||a.test^");
  const char* url = "ws://b.test/a.test/";
  EXPECT_TRUE(engine.isHostAnchoredHashSetMiss(url, strlen(url),
                                               engine.hostBlockSet, "a.test", 6,
                                               OptNone, nullptr, &rule));
  EXPECT_FALSE(engine.isHostAnchoredHashSetMiss(
      "ws://x.a.test/", 14, engine.hostBlockSet, "x.a.test", 8, OptNone,
      nullptr, &rule));
  EXPECT_EQ(patternOf(rule), "a.test^");
}

TEST_F(RequestMatchingTest, PartyIsCompletedFromThePageHost) {
  engine.parse("qwerty$third-party\nasdfgh$~third-party");
  EXPECT_FALSE(blocked("ws://cdn.a.test/qwerty", OptScript, "a.test"));
  EXPECT_TRUE(blocked("ws://b.test/qwerty", OptScript, "a.test"));
  EXPECT_TRUE(blocked("ws://cdn.a.test/asdfgh", OptScript, "a.test"));
  EXPECT_FALSE(blocked("ws://b.test/asdfgh", OptScript, "a.test"));
  // A party given by the caller is kept, whatever the hosts.
  EXPECT_TRUE(blocked("ws://cdn.a.test/qwerty", OptScript | OptThirdParty,
                      "a.test"));
  // Without a page host no party is known.
  EXPECT_TRUE(blocked("ws://b.test/qwerty", OptScript));
  EXPECT_TRUE(blocked("ws://b.test/asdfgh", OptScript));
}

TEST_F(RequestMatchingTest, DocumentRequests) {
  engine.parse("||a.test^\n||b.test^$document\nqwerty");
  EXPECT_FALSE(blocked("https://a.test/", OptDocument));
  EXPECT_TRUE(blocked("https://b.test/", OptDocument));
  EXPECT_FALSE(blocked("https://c.test/qwerty", OptDocument));
}

TEST_F(RequestMatchingTest, TaggedRulesNeedTheirTag) {
  engine.parse("qwerty$tag=t\n||tagged.test^$tag=t");
  EXPECT_FALSE(blocked("ws://a.test/qwerty"));
  EXPECT_FALSE(blocked("ws://tagged.test/"));
  engine.addTag("t");
  EXPECT_TRUE(blocked("ws://a.test/qwerty"));
  EXPECT_TRUE(blocked("ws://tagged.test/"));
  engine.removeTag("t");
  EXPECT_FALSE(blocked("ws://a.test/qwerty"));
}

TEST_F(RequestMatchingTest, DomainBoundRulesAreGatedByTheirDomainSets) {
  engine.parse("ads$domain=~a.test\nban$domain=~b.test\ncat$domain=c.test");
  // Once one exclude-domain rule excludes the page, none is tried.
  EXPECT_FALSE(blocked("ws://x.test/ban", OptNone, "a.test"));
  EXPECT_TRUE(blocked("ws://x.test/ban", OptNone, "z.test"));
  EXPECT_TRUE(blocked("ws://x.test/ads", OptNone, nullptr))
      << "without a page, exclude-domain rules are tried";
  EXPECT_TRUE(blocked("ws://x.test/cat", OptNone, "w.c.test"));
  EXPECT_FALSE(blocked("ws://x.test/cat", OptNone, nullptr))
      << "without a page, include-domain rules are not";
}

TEST_F(RequestMatchingTest, StatisticsCountEachShortcut) {
  engine.parse("qwerty$image\n@@asdfgh\n@@||ok.test^\n||ads.test^");
  EXPECT_FALSE(blocked("https://nothing.test/plain"));
  EXPECT_EQ(engine.blockBloomSkips, 1u);
  EXPECT_EQ(engine.blockHostSetSkips, 1u);
  EXPECT_EQ(engine.blockBloomFalseHits, 0u);
  EXPECT_EQ(engine.exceptionBloomSkips + engine.exceptionHostSetSkips +
                engine.exceptionBloomFalseHits,
            0u);
  EXPECT_FALSE(blocked("https://a.test/qwerty.js", OptScript));
  EXPECT_EQ(engine.blockBloomFalseHits, 1u);
  EXPECT_TRUE(blocked("https://ads.test/x"));
  EXPECT_EQ(engine.exceptionBloomSkips, 1u);
  EXPECT_EQ(engine.exceptionHostSetSkips, 1u);
  EXPECT_FALSE(blocked("https://ads.test/asdfgh", OptImage));
  EXPECT_EQ(engine.exceptionBloomSkips, 1u) << "the exception was found";
  EXPECT_EQ(engine.exceptionBloomFalseHits, 0u);
  EXPECT_FALSE(blocked("https://ok.test/qwerty", OptImage));
  EXPECT_EQ(engine.exceptionHostSetSkips, 2u) << "a host-set hit counts too";
  EXPECT_EQ(engine.exceptionBloomSkips, 1u);
  engine.parse("@@zxcvbn$script");
  EXPECT_TRUE(blocked("https://ads.test/zxcvbn", OptImage));
  EXPECT_EQ(engine.exceptionBloomFalseHits, 1u);
  // The counters wrap around instead of overflowing.
  engine.blockBloomSkips = 0xFFFFFFFFu;
  blocked("https://nothing.test/plain");
  EXPECT_EQ(engine.blockBloomSkips, 0u);
}

TEST_F(RequestMatchingTest, FindMatchingFiltersAgreesOnDecisions) {
  engine.parse("||ads.test^\n@@||ok.ads.test^\nqwerty\n@@qwerty$image\n"
               "ban$domain=a.test");
  const char* urls[] = {"https://ads.test/", "https://ok.ads.test/x",
                        "https://b.test/qwerty", "https://x.test/ban",
                        "https://x.test/none"};
  for (const char* url : urls) {
    for (FilterOption options : {OptScript, OptImage}) {
      Filter* fullRule = nullptr;
      Filter* fullException = nullptr;
      const bool full = engine.findMatchingFilters(url, options, "a.test",
                                                   &fullRule, &fullException);
      EXPECT_EQ(blocked(url, options, "a.test"), full) << url;
      EXPECT_EQ(fullRule == nullptr, rule == nullptr) << url;
    }
  }
}

}  // namespace
}  // namespace tessul
