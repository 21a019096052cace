#include "filter/filter.h"

#include <cstring>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "filter/filter_parser.h"
#include "hashing/owned_text.h"

namespace tessul {
namespace {

TEST(FilterRecordTest, DefaultFilterIsEmptyAndOwning) {
  Filter filter;
  EXPECT_FALSE(filter.isBorrowed);
  EXPECT_EQ(filter.type, TypeNone);
  EXPECT_EQ(filter.patternLen, -1);
  EXPECT_EQ(filter.anchorHostLen, -1);
  EXPECT_EQ(filter.tagLen, 0);
  EXPECT_EQ(filter.hash(), 0u);
  Filter other;
  parseFilter("ads", &other);
  EXPECT_TRUE(filter == other) << "no anchor host on either side";
}

TEST(FilterRecordTest, HashAndEqualityFollowTheAnchorHost) {
  Filter rule;
  parseFilter("||a.test^$image", &rule);
  Filter probe("a.test", 6, nullptr, "a.test", 6, nullptr, 0);
  EXPECT_TRUE(probe.isBorrowed);
  EXPECT_TRUE(rule == probe);
  EXPECT_EQ(rule.hash(), probe.hash());
  Filter other("a.test", 6, nullptr, "b.test", 6, nullptr, 0);
  EXPECT_FALSE(rule == other);
  // Without anchor host the pattern is hashed.
  Filter plain;
  parseFilter("abc", &plain);
  EXPECT_EQ(plain.hash(), 36978u);
}

TEST(FilterRecordTest, CopyOfABorrowedFilterSharesItsTexts) {
  const char* text = "pattern";
  Filter borrowed(TypeLeftAnchor, OptImage, OptNone, text, -1, "a.test",
                  nullptr, -1, "tg", 2);
  borrowed.getDomainCount(false);  // builds the source's domain sets
  {
    Filter copy(borrowed);
    EXPECT_TRUE(copy.isBorrowed);
    EXPECT_EQ(copy.pattern, text);
    EXPECT_EQ(copy.patternLen, 7) << "the copy measures the pattern";
    EXPECT_EQ(copy.domainText, borrowed.domainText);
    EXPECT_EQ(copy.tagText, borrowed.tagText);
    EXPECT_EQ(copy.includedDomains, nullptr);
    EXPECT_FALSE(copy.domainsReady);
    EXPECT_EQ(copy.getDomainCount(false), 1);
  }  // destroying the copy frees only its own domain sets
  EXPECT_STREQ(borrowed.domainText, "a.test");
}

TEST(FilterRecordTest, CopyOfAnOwningFilterOwnsEverything) {
  auto* original = new Filter;
  parseFilter("||a.test/ads$domain=b.test|~c.b.test,tag=t1", original,
              nullptr, nullptr, nullptr, nullptr, nullptr, true);
  EXPECT_EQ(original->getDomainCount(false), 1);
  Filter copy(*original);
  EXPECT_FALSE(copy.isBorrowed);
  EXPECT_NE(copy.pattern, original->pattern);
  delete original;
  EXPECT_STREQ(copy.pattern, "a.test/ads");
  EXPECT_EQ(copy.patternLen, 10);
  EXPECT_STREQ(copy.anchorHost, "a.test");
  EXPECT_EQ(copy.anchorHostLen, 6) << "host sets compare it on every lookup";
  EXPECT_STREQ(copy.domainText, "b.test|~c.b.test");
  EXPECT_STREQ(copy.sourceText, "||a.test/ads$domain=b.test|~c.b.test,tag=t1");
  EXPECT_EQ(std::string(copy.tagText, copy.tagLen), "t1");
  EXPECT_EQ(copy.includedDomains, nullptr) << "sets are rebuilt on demand";
  EXPECT_EQ(copy.getDomainCount(false), 1);
  EXPECT_EQ(copy.getDomainCount(true), 1);
}

TEST(FilterRecordTest, SwapDataKeepsEachBorrowedFlag) {
  Filter owning;
  parseFilter("ads$image", &owning);
  Filter borrowed("x", 1, nullptr, nullptr, -1, nullptr, 0);
  owning.swapData(&borrowed);
  EXPECT_FALSE(owning.isBorrowed);
  EXPECT_TRUE(borrowed.isBorrowed);
  EXPECT_STREQ(owning.pattern, "x");
  EXPECT_EQ(owning.options, OptNone);
  EXPECT_STREQ(borrowed.pattern, "ads");
  EXPECT_EQ(borrowed.options, OptImage);
  // Hand the texts back so that each filter frees only what it owns.
  owning.swapData(&borrowed);
}

TEST(FilterRecordTest, DomainOnlyAndAntiDomainOnly) {
  struct Case {
    const char* line;
    int included, excluded;
    bool domainOnly, antiDomainOnly;
  } cases[] = {
      {"ads", 0, 0, false, false},
      {"ads$domain=a.test|~b.a.test", 1, 1, false, false},
      {"ads$domain=a.test|b.test", 2, 0, true, false},
      {"ads$domain=~a.test|~b.test", 0, 2, false, true},
      {"ads$domain=a.test|a.test", 1, 0, true, false},
      {"ads$domain=a.test||b.test", 3, 0, true, false},  // one empty domain
      {"a.test,b.test##.ad", 1, 0, true, false},
  };
  for (const Case& c : cases) {
    Filter rule;
    parseFilter(c.line, &rule);
    EXPECT_EQ(rule.getDomainCount(false), c.included) << c.line;
    EXPECT_EQ(rule.getDomainCount(true), c.excluded) << c.line;
    EXPECT_EQ(rule.isDomainOnlyFilter(), c.domainOnly) << c.line;
    EXPECT_EQ(rule.isAntiDomainOnlyFilter(), c.antiDomainOnly) << c.line;
  }
}

TEST(FilterRecordTest, UnsupportedOptionsLookOnlyAtOptions) {
  for (const char* line : {"a$popup", "a$elemhide", "a$csp=x", "a$generichide",
                           "a$genericblock", "a$empty", "a$zzunknown"}) {
    Filter rule;
    parseFilter(line, &rule);
    EXPECT_TRUE(rule.hasUnsupportedOptions()) << line;
  }
  for (const char* line : {"a$~popup", "a$~zzunknown2", "a$image,third-party",
                           "a$redirect=x,important"}) {
    Filter rule;
    parseFilter(line, &rule);
    EXPECT_FALSE(rule.hasUnsupportedOptions()) << line;
  }
}

TEST(FilterRecordTest, SameRuleComparesEverythingButTheSourceText) {
  auto parsed = [](const char* line) {
    auto* rule = new Filter;
    parseFilter(line, rule);
    return std::unique_ptr<Filter>(rule);
  };
  EXPECT_TRUE(parsed("||a.test^$image")->isSameRule(*parsed("||a.test^$image")));
  EXPECT_FALSE(parsed("||a.test^$image")->isSameRule(*parsed("||a.test^")));
  EXPECT_FALSE(parsed("||a.test^")->isSameRule(*parsed("||a.test")));
  EXPECT_FALSE(parsed("||a.test^$domain=b.test")
                   ->isSameRule(*parsed("||a.test^$domain=c.test")));
  EXPECT_FALSE(parsed("||a.test^$tag=x")->isSameRule(*parsed("||a.test^$tag=y")));
  EXPECT_FALSE(parsed("@@||a.test^")->isSameRule(*parsed("||a.test^")));
}

}  // namespace
}  // namespace tessul
