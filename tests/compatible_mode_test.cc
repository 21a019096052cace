// Compatible mode, through TessulClient: each way it reads lists otherwise
// than exact mode, with the rules of EasyList, EasyPrivacy and uBlock
// Origin's lists that showed it, side by side with exact mode's answer,
// which stays as it was.
#include <algorithm>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "engine/tessul_client.h"
#include "filter/option_keywords.h"
#include "test_support.h"

namespace tessul {
namespace {

struct Case {
  const char* why;
  const char* rules;
  const char* url;
  FilterOption type;
  const char* page;  // null: a request without a page
  bool compatible;   // blocked in compatible mode
  bool exact;        // blocked in exact mode
};

const std::string kManyA = "https://x.test/" + std::string(10000, 'a');
// A rule of EasyList: every match holds "http" (its longest literal) and
// ".me/".
const char kMeRule[] =
    "/(https?:\\/\\/)\\w{30,}\\.me\\/\\w{30,}\\./$script,third-party";

const Case kCases[] = {
    // The party is the site: a registrable domain.
    {"a subdomain of the page's site is first-party",
     ".com/ad/$~image,third-party,domain=~espn.com",
     "https://ad2018.nownews.com/ad/x.js", OptScript, "www.nownews.com",
     false, true},
    {"another site is third-party",
     ".com/ad/$~image,third-party,domain=~espn.com",
     "https://ads.example.com/ad/x.js", OptScript, "www.nownews.com", true,
     true},
    {"co.uk is a public suffix", "||cdn.test^$third-party\n||a.co.uk^$3p",
     "https://x.a.co.uk/", OptScript, "b.co.uk", true, false},
    {"one site under co.uk", "||example.co.uk^$third-party",
     "https://ads.example.co.uk/", OptScript, "www.example.co.uk", false,
     true},
    {"github.io names sites", "||github.io^$third-party",
     "https://a.github.io/x.js", OptScript, "b.github.io", true, true},
    {"IP hosts compare whole", "||10.0.0.1^$third-party",
     "http://10.0.0.1/x", OptScript, "0.0.1", true, false},
    // Letter case.
    {"the pattern ignores case", "/logclick.js",
     "https://a.test/js/logClick.js", OptScript, "a.test", true, false},
    {"the URL ignores case", "/PageTracker.js",
     "https://a.test/pagetracker.js", OptScript, "a.test", true, false},
    {"match-case keeps it", "/PageTracker.js$match-case",
     "https://a.test/pagetracker.js", OptScript, "a.test", false, false},
    {"match-case matches its case", "/PageTracker.js$match-case",
     "https://a.test/PageTracker.js", OptScript, "a.test", true, false},
    {"domains ignore case", "/ads.js$domain=Example.COM",
     "https://a.test/ads.js", OptScript, "WWW.example.com", true, false},
    {"hosts ignore case", "||Ads.Example^", "https://ADS.example/x",
     OptScript, "a.test", true, false},
    // The || host.
    {"'*' inside the host", "||yandex.*/count/",
     "https://yabs.yandex.kz/count/1", OptImage, "a.test", true, false},
    {"an exception with '*' in its host",
     "/eluminate.js\n@@||coremetrics.com*/eluminate.js",
     "https://data.coremetrics.com/eluminate.js", OptScript, "a.test", false,
     true},
    {"a trailing dot", "||adservice.google.",
     "https://adservice.google.ru/ddm/x", OptImage, "a.test", true, false},
    {"the host starts at a label", "||google.",
     "https://adservice.notgoogle.ru/x", OptImage, "a.test", false, false},
    // Separators and anchors.
    {"'^' after a '|' anchor matches the end", "|http://r.i.ua^",
     "http://r.i.ua", OptImage, "a.test", true, false},
    {"'^' is no letter", "|http://r.i.ua^", "http://r.i.uab/", OptImage,
     "a.test", false, false},
    {"'*' before an end anchor", "/ads/*.js|", "https://x.test/ads/a/b.js",
     OptScript, "a.test", true, false},
    {"an end anchor holds", "/ads/*.js|", "https://x.test/ads/a/b.js?x",
     OptScript, "a.test", false, false},
    // Rules of options alone.
    {"options alone", "$ping,third-party", "https://x.test/p", OptPing,
     "a.test", true, false},
    {"options alone, first-party", "$ping,third-party", "https://a.test/p",
     OptPing, "a.test", false, false},
    // domain= needs a page.
    {"no page, no domain", "/adsbanner.js$domain=a.test",
     "https://x.test/adsbanner.js", OptScript, nullptr, false, true},
    {"no page, an excluded domain", "/adsbanner.js$domain=~a.test",
     "https://x.test/adsbanner.js", OptScript, nullptr, true, true},
    // Regex rules.
    {"a regex rule with options",
     "/^https?:\\/\\/[a-z]+\\.test\\/ad[0-9]+\\.js/$script",
     "https://x.test/ad12.js", OptScript, "a.test", true, false},
    {"its options apply",
     "/^https?:\\/\\/[a-z]+\\.test\\/ad[0-9]+\\.js/$script",
     "https://x.test/ad12.js", OptImage, "a.test", false, false},
    {"a regex exception", "/ads/\n@@/ad[s]\\/ok/", "https://x.test/ads/ok",
     OptScript, "a.test", false, false},
    {"a hostile regex answers", "/(a+)+b/", kManyA.c_str(), OptScript,
     "a.test", false, false},
    // Regex rules are found through the literals they require: the rarest,
    // here ".me/" rather than "http", and beside the plain rules.
    {"a regex found by its rarest literal", kMeRule,
     "https://aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa.me/"
     "bbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbb.js",
     OptScript, "a.test", true, false},
    {"a regex without its rarest literal", kMeRule,
     "https://aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa.mx/"
     "bbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbb.js",
     OptScript, "a.test", false, false},
    {"a regex beside plain rules",
     "/banner/ads/\n/^https?:\\/\\/x\\.test\\/ad[0-9]+\\.gif/",
     "https://x.test/ad7.gif", OptImage, "a.test", true, false},
    {"a regex exception beside plain ones",
     "/ads/\n@@/other/\n@@||y.test^\n@@/ad[s]\\/ok/",
     "https://x.test/ads/ok", OptScript, "a.test", false, false},
    // uBlock Origin's option names.
    {"3p", "||t.test^$3p", "https://t.test/x", OptScript, "a.test", true,
     false},
    {"1p", "||t.test^$1p", "https://t.test/x", OptScript, "a.test", false,
     false},
    {"~third-party by site", "||example.com^$~third-party",
     "https://www.example.com/x", OptScript, "example.com", true, true},
    {"xhr", "||t.test^$xhr", "https://t.test/x", OptXmlHttpRequest, "a.test",
     true, false},
    {"css", "||t.test^$css", "https://t.test/x", OptStylesheet, "a.test",
     true, false},
    {"frame", "||t.test^$frame", "https://t.test/x", OptSubdocument, "a.test",
     true, false},
    {"all", "||t.test^$all", "https://t.test/x", OptFont, "a.test", true,
     false},
    {"a rule that does not block stays dropped", "||t.test^$redirect-rule=x",
     "https://t.test/x", OptScript, "a.test", false, false},
    {"a negated unknown option drops the rule (exact mode keeps it)", "||t.test^$~frobnicate",
     "https://t.test/x", OptScript, "a.test", false, true},
    // important and badfilter.
    {"important outlives exceptions", "||imp.test^$important\n@@||imp.test^",
     "https://imp.test/x", OptScript, "a.test", true, false},
    {"an exception still cancels the others",
     "||imp.test^$important,image\n/x.js\n@@||imp.test^",
     "https://imp.test/x.js", OptScript, "a.test", false, false},
    {"badfilter cancels its rule", "||bad.test^$badfilter\n||bad.test^",
     "https://bad.test/", OptScript, "a.test", false, true},
    {"badfilter cancels no other", "||bad.test^$badfilter\n||bad.test^$image",
     "https://bad.test/", OptImage, "a.test", true, true},
};

bool blockedIn(MatchingMode mode, const Case& c, std::string* deciding) {
  TessulClient engine(mode);
  engine.setNoteSink([](int, std::string_view) {});
  engine.parse(c.rules);
  Filter* rule = nullptr;
  Filter* exception = nullptr;
  const bool blocked = engine.matches(c.url, c.type, c.page, &rule, &exception);
  if (deciding != nullptr && rule != nullptr) *deciding = ruleText(*rule);
  return blocked;
}

TEST(CompatibleModeTest, EachReadingAgainstExactMode) {
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.why);
    std::string deciding;
    EXPECT_EQ(blockedIn(MatchingMode::kCompatible, c, &deciding),
              c.compatible)
        << c.rules << " / " << std::string(c.url).substr(0, 60);
    EXPECT_EQ(blockedIn(MatchingMode::kExact, c, nullptr), c.exact) << c.rules;
  }
}

TEST(CompatibleModeTest, ModeIsTheEngines) {
  EXPECT_EQ(TessulClient().matchingMode(), MatchingMode::kExact);
  TessulClient engine(MatchingMode::kCompatible);
  EXPECT_EQ(engine.matchingMode(), MatchingMode::kCompatible);
  engine.parse("/LogClick.js\n");
  engine.clear();
  EXPECT_EQ(engine.matchingMode(), MatchingMode::kCompatible);
}

TEST(CompatibleModeTest, RefusedRegexRulesAreDroppedWithANote) {
  TessulClient engine(MatchingMode::kCompatible);
  std::vector<std::pair<int, std::string>> notes;
  engine.setNoteSink([&](int line, std::string_view message) {
    notes.emplace_back(line, std::string(message));
  });
  engine.parse("/ads/\n/(?=ad)adv/\n/(x)\\1/$script\n");
  const std::vector<std::pair<int, std::string>> expected = {
      {2, "regex rule dropped: look-around is not supported"},
      {3, "regex rule dropped: back-references are not supported"},
  };
  EXPECT_EQ(notes, expected);
  EXPECT_FALSE(engine.matches("https://x.test/adv", OptScript, "a.test"));
  EXPECT_TRUE(engine.matches("https://x.test/ads/", OptScript, "a.test"));
}

TEST(CompatibleModeTest, RuleTextWritesWhatCompatibleModeReads) {
  TessulClient engine(MatchingMode::kCompatible);
  engine.parse("/ad[0-9]/$script,match-case\n@@/ok/$domain=a.test\n");
  Filter* rule = nullptr;
  Filter* exception = nullptr;
  EXPECT_FALSE(engine.matches("https://x.test/ad1/ok", OptScript, "a.test",
                              &rule, &exception));
  ASSERT_NE(rule, nullptr);
  ASSERT_NE(exception, nullptr);
  EXPECT_EQ(ruleText(*rule), "/ad[0-9]/$script,match-case");
  EXPECT_EQ(ruleText(*exception), "@@/ok/$domain=a.test");
}

// The header of an image, up to its zero byte.
std::string headerOf(const char* image) { return std::string(image); }

TEST(CompatibleModeTest, ImagesRecordTheMode) {
  const std::string lists = testing::bundledLists();
  TessulClient compatible(MatchingMode::kCompatible);
  compatible.setNoteSink([](int, std::string_view) {});
  compatible.parse(lists.c_str());
  int size = 0;
  std::unique_ptr<char[]> image(compatible.serialize(&size));
  const std::string header = headerOf(image.get());
  EXPECT_EQ(std::count(header.begin(), header.end(), ','), 20);
  EXPECT_EQ(header.substr(header.size() - 2), ",1");

  // Loading restores the mode, whatever the engine's was.
  TessulClient loaded;
  std::string reason;
  ASSERT_TRUE(loaded.deserialize(image.get(), size, &reason)) << reason;
  EXPECT_EQ(loaded.matchingMode(), MatchingMode::kCompatible);
  for (const testing::Request& r : testing::readRequests("peer-dev.tsv")) {
    const FilterOption type = *requestTypeOption(r.type);
    const char* page = r.pageHost.empty() ? nullptr : r.pageHost.c_str();
    const bool blocked = compatible.matches(r.url.c_str(), type, page);
    ASSERT_EQ(loaded.matches(r.url.c_str(), type, page), blocked) << r.url;
    // Every store searched gives the same decision.
    Filter* rule = nullptr;
    Filter* exception = nullptr;
    ASSERT_EQ(loaded.findMatchingFilters(r.url.c_str(), type, page, &rule,
                                         &exception),
              blocked)
        << r.url;
  }
  int again = 0;
  std::unique_ptr<char[]> second(loaded.serialize(&again));
  EXPECT_EQ(std::string(second.get(), again), std::string(image.get(), size));

  // An exact engine writes twenty values, and its image makes the loading
  // engine exact again.
  TessulClient exact;
  exact.parse("||ads.test^\n");
  int exactSize = 0;
  std::unique_ptr<char[]> exactImage(exact.serialize(&exactSize));
  const std::string exactHeader = headerOf(exactImage.get());
  EXPECT_EQ(std::count(exactHeader.begin(), exactHeader.end(), ','), 19);
  ASSERT_TRUE(loaded.deserialize(exactImage.get(), exactSize));
  EXPECT_EQ(loaded.matchingMode(), MatchingMode::kExact);
}

TEST(CompatibleModeTest, OtherModesAreRefused) {
  TessulClient compatible(MatchingMode::kCompatible);
  compatible.parse("||ads.test^\n");
  int size = 0;
  std::unique_ptr<char[]> image(compatible.serialize(&size));
  std::string damaged(image.get(), size);
  const size_t modeAt = damaged.find('\0') - 1;
  ASSERT_EQ(damaged[modeAt], '1');
  damaged[modeAt] = '2';
  TessulClient engine;
  engine.parse("||kept.test^\n");
  std::string reason;
  EXPECT_FALSE(engine.deserialize(damaged.data(), damaged.size(), &reason));
  EXPECT_EQ(reason, "header: matchingMode is 2, not 0 (exact) or 1 (compatible)");
  EXPECT_EQ(engine.matchingMode(), MatchingMode::kExact);
  EXPECT_TRUE(engine.matches("https://kept.test/", OptScript, nullptr));
}

}  // namespace
}  // namespace tessul
