// TessulClient::hidingSelectors: which element-hiding selectors apply on a
// page, by the domains of the rules, their exceptions and the $elemhide and
// $generichide exception rules; over small lists of real EasyList lines,
// over the whole of EasyList, and after an image round trip.

#include <algorithm>
#include <set>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

#include "engine/tessul_client.h"
#include "image_test_support.h"
#include "test_support.h"

namespace tessul {
namespace {

using Selectors = std::vector<std::string>;

Selectors selectorsOn(TessulClient& engine, std::string_view page,
                      HidingScope scope = HidingScope::kAll) {
  const std::vector<std::string_view> found =
      engine.hidingSelectors(page, scope);
  return Selectors(found.begin(), found.end());
}

bool contains(const Selectors& selectors, std::string_view selector) {
  return std::find(selectors.begin(), selectors.end(), selector) !=
         selectors.end();
}

struct HidingCase {
  const char* what;
  const char* list;
  const char* page;
  HidingScope scope;
  Selectors expected;
};

constexpr HidingScope kAll = HidingScope::kAll;
constexpr HidingScope kSpecific = HidingScope::kSpecific;

// Lines from EasyList where it has them; it has no rule with excluded
// domains, no scriptlet and no HTML filter, so those are written after it.
const HidingCase kCases[] = {
    {"a generic rule applies everywhere", "###ad-carousel\n", "example.org",
     kAll, {"#ad-carousel"}},
    {"a generic rule is not site-specific", "###ad-carousel\n", "example.org",
     kSpecific, {}},
    {"a site's rule applies on the site and under it",
     "imagebam.com###aad-header-2\n", "www.imagebam.com", kSpecific,
     {"#aad-header-2"}},
    {"a site's rule needs the site's own labels",
     "imagebam.com###aad-header-2\n", "notimagebam.com", kAll, {}},
    {"a site's rule does not apply on a parent domain",
     "mail.google.com##.nH.PS\n", "google.com", kAll, {}},
    {"any of several domains", "kshow123.tv,travelpulse.com###ab_container\n",
     "travelpulse.com", kAll, {"#ab_container"}},
    {"a page URL stands for its host",
     "mail.google.com##.nH.PS\n", "https://mail.google.com/mail/u/0/#inbox",
     kAll, {".nH.PS"}},
    {"hosts compare in lower case", "mail.google.com##.nH.PS\n",
     "https://Mail.Google.COM/", kAll, {".nH.PS"}},
    {"an excluded subdomain", "a.test,~b.a.test##.ad\n", "c.b.a.test", kAll,
     {}},
    {"beside an excluded subdomain", "a.test,~b.a.test##.ad\n", "c.a.test",
     kSpecific, {".ad"}},
    {"exclusion-only: everywhere but under it", "~a.test##.ad\n", "b.test",
     kAll, {".ad"}},
    {"exclusion-only: not under it", "~a.test##.ad\n", "x.a.test", kAll, {}},
    {"exclusion-only rules are generic", "~a.test##.ad\n", "b.test",
     kSpecific, {}},
    {"a site's exception cancels a generic rule there",
     "###ad-carousel\ndez.ro#@##ad-carousel\n", "www.dez.ro", kAll, {}},
    {"a site's exception leaves other sites alone",
     "###ad-carousel\ndez.ro#@##ad-carousel\n", "so-net.ne.jp", kAll,
     {"#ad-carousel"}},
    {"an exception cancels a site's rule of the same selector",
     "so-net.ne.jp##.ad-notice\nso-net.ne.jp#@#.ad-notice\n", "so-net.ne.jp",
     kSpecific, {}},
    {"an exception without domains cancels everywhere",
     "###ad-carousel\nimagebam.com###ad-carousel\n#@##ad-carousel\n",
     "imagebam.com", kAll, {}},
    {"an exclusion-only exception", "##.ad\n~a.test#@#.ad\n", "b.test", kAll,
     {}},
    {"an exclusion-only exception spares its domains",
     "##.ad\n~a.test#@#.ad\n", "a.test", kAll, {".ad"}},
    {"each selector once, in list order",
     "##.b\nimagebam.com##.a\n##.a\nimagebam.com##.b\n##.c\n", "imagebam.com",
     kAll, {".b", ".a", ".c"}},
    {"name.* under any public suffix",
     "read.amazon.*##.kw-ads-ftue-container\n", "read.amazon.co.uk", kSpecific,
     {".kw-ads-ftue-container"}},
    {"name.* needs the name", "read.amazon.*##.kw-ads-ftue-container\n",
     "amazon.co.uk", kAll, {}},
    {"$generichide turns off rules that name no included domain",
     "##.ad\n~a.test##.ad2\njetzt.de##.ad3\n@@||jetzt.de^$generichide\n",
     "www.jetzt.de", kAll, {".ad3"}},
    {"$generichide by path", "##.ad\n@@||bing.com/search?$generichide\n",
     "https://www.bing.com/search?q=tessul", kAll, {}},
    {"$generichide by path, elsewhere on the site",
     "##.ad\n@@||bing.com/search?$generichide\n", "https://www.bing.com/maps",
     kAll, {".ad"}},
    {"$generichide by domain=",
     "##.ad\n@@$generichide,domain=cbr.com|collider.com\n", "collider.com",
     kAll, {}},
    {"$elemhide turns off all hiding",
     "##.ad\na.test##.ad2\n@@||a.test^$elemhide\n", "a.test", kAll, {}},
    {"a blocking rule with $elemhide turns nothing off",
     "##.ad\n||a.test^$elemhide\n", "a.test", kAll, {".ad"}},
    {"$generichide on other request types turns nothing off",
     "##.ad\n@@||a.test^$generichide,image\n", "a.test", kAll, {".ad"}},
    {"rules that hide nothing",
     "a.test##+js(nowebrtc)\na.test##^script:has-text(ad)\n"
     "a.test#@?#.x:-abp-has(.y)\na.test#@$#.z { color: red; }\n"
     "a.test#?#.w:-abp-has(.v)\na.test##.real\n",
     "a.test", kAll, {".real"}},
    {"a page without a host gets the generic rules",
     "##.ad\na.test##.ad2\n", "about:blank", kAll, {".ad"}},
};

TEST(ElementHidingTest, TheSelectorsOfAPage) {
  for (const HidingCase& c : kCases) {
    TessulClient engine;
    engine.parse(c.list);
    EXPECT_EQ(selectorsOn(engine, c.page, c.scope), c.expected)
        << c.what << ": " << c.page;
  }
}

TEST(ElementHidingTest, LaterListsAddAndClearForgets) {
  TessulClient engine;
  engine.parse("##.one\n");
  engine.parse("a.test##.two\n@@||b.test^$generichide\n");
  EXPECT_EQ(selectorsOn(engine, "a.test"), (Selectors{".one", ".two"}));
  EXPECT_EQ(selectorsOn(engine, "b.test"), Selectors{});
  engine.clear();
  EXPECT_EQ(selectorsOn(engine, "a.test"), Selectors{});
  engine.parse("##.three\n");
  EXPECT_EQ(selectorsOn(engine, "b.test"), Selectors{".three"});
}

TEST(ElementHidingTest, StyleSheetGroupsSelectors) {
  EXPECT_EQ(hidingStyleSheet({}), "");
  EXPECT_EQ(hidingStyleSheet({".a", "#b"}),
            ".a,#b { display: none !important; }\n");
  // A brace would close the rule and style the page with what follows.
  EXPECT_EQ(hidingStyleSheet({".a", "x{} body{display:none", ".c"}),
            ".a,.c { display: none !important; }\n");
  std::vector<std::string> many;
  for (size_t i = 0; i <= kSelectorsPerStyleRule; ++i) {
    many.push_back(".s" + std::to_string(i));
  }
  const std::string sheet =
      hidingStyleSheet(std::vector<std::string_view>(many.begin(), many.end()));
  const std::string end =
      ",.s999 { display: none !important; }\n"
      ".s1000 { display: none !important; }\n";
  EXPECT_EQ(std::count(sheet.begin(), sheet.end(), '\n'), 2);
  EXPECT_EQ(sheet.substr(sheet.size() - end.size()), end);
}

class EasyListHidingTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    engine_ = new TessulClient;
    engine_->setNoteSink([](int, std::string_view) {});
    engine_->parse(testing::readDataFile("easylist.txt").c_str());
  }
  static void TearDownTestSuite() {
    delete engine_;
    engine_ = nullptr;
  }
  static TessulClient* engine_;
};

TessulClient* EasyListHidingTest::engine_ = nullptr;

TEST_F(EasyListHidingTest, GenericHideSitesGetTheirOwnSelectorsOnly) {
  const Selectors elsewhere = selectorsOn(*engine_, "example.org");
  EXPECT_GT(elsewhere.size(), 13000u);
  EXPECT_TRUE(contains(elsewhere, "#ad-carousel"));
  for (const char* page : {"gmail.com", "www.jetzt.de", "en.wikipedia.org",
                           "https://www.bing.com/search?q=x"}) {
    const Selectors all = selectorsOn(*engine_, page);
    EXPECT_EQ(all, selectorsOn(*engine_, page, kSpecific)) << page;
    EXPECT_FALSE(contains(all, "#ad-carousel")) << page;
  }
  EXPECT_TRUE(contains(selectorsOn(*engine_, "https://www.bing.com/"),
                       "#ad-carousel"));
}

TEST_F(EasyListHidingTest, SelectorsAreUniqueAndSpecificOnesAreAPart) {
  const Selectors all = selectorsOn(*engine_, "mail.google.com");
  EXPECT_EQ(std::set<std::string>(all.begin(), all.end()).size(), all.size());
  const Selectors specific = selectorsOn(*engine_, "mail.google.com", kSpecific);
  EXPECT_TRUE(contains(specific, ".nH.PS"));
  EXPECT_FALSE(contains(specific, "#ad-carousel"));
  for (const std::string& selector : specific) {
    EXPECT_TRUE(contains(all, selector)) << selector;
  }
  EXPECT_FALSE(contains(selectorsOn(*engine_, "www.dez.ro"), "#ad-carousel"));
}

std::set<std::string> pageHostsOfRequestFiles() {
  std::set<std::string> hosts;
  for (const char* file : {"pageloads.tsv", "peer-dev.tsv"}) {
    for (const testing::Request& request : testing::readRequests(file)) {
      hosts.insert(request.pageHost);
    }
  }
  return hosts;
}

// What images carry: the element-hiding rules and exceptions when they are
// kept, not the $generichide rules, which parsing drops from the stores. So
// the round trip is compared on EasyList without them.
TEST(ElementHidingImageTest, ImagesKeepTheRulesUnlessOmitted) {
  std::istringstream lines(testing::readDataFile("easylist.txt"));
  std::string list;
  for (std::string line; std::getline(lines, line);) {
    if (line.find("generichide") == std::string::npos) list += line + "\n";
  }
  TessulClient parsed;
  parsed.setNoteSink([](int, std::string_view) {});
  parsed.parse(list.c_str());
  const std::string kept = testing::savedImage(parsed);
  TessulClient loaded;
  ASSERT_TRUE(loaded.deserialize(kept.data(), kept.size()));
  EXPECT_EQ(loaded.elementHideCount, parsed.elementHideCount);
  for (const std::string& host : pageHostsOfRequestFiles()) {
    for (HidingScope scope : {kAll, kSpecific}) {
      EXPECT_EQ(selectorsOn(loaded, host, scope),
                selectorsOn(parsed, host, scope))
          << host;
    }
  }

  TessulClient withPageExceptions;
  withPageExceptions.parse("##.ad\n@@||gmail.com^$generichide\n");
  const std::string image = testing::savedImage(withPageExceptions);
  ASSERT_TRUE(loaded.deserialize(image.data(), image.size()));
  EXPECT_EQ(selectorsOn(withPageExceptions, "gmail.com"), Selectors{});
  EXPECT_EQ(selectorsOn(loaded, "gmail.com"), Selectors{".ad"});

  const std::string omitted =
      testing::savedImage(parsed, /*omitElementHideRules=*/true);
  ASSERT_TRUE(loaded.deserialize(omitted.data(), omitted.size()));
  EXPECT_EQ(selectorsOn(loaded, "example.org"), Selectors{});
}

}  // namespace
}  // namespace tessul
