// TessulClient::hidingSelectors: which element-hiding selectors apply on a
// page, by the domains of the rules, their exceptions and the $elemhide and
// $generichide exception rules; over small lists of real EasyList lines,
// over the whole of EasyList, and after an image round trip.

#include <algorithm>
#include <set>
#include <sstream>
#include <string>
#include <string_view>
#include <unordered_set>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "engine/tessul_client.h"
#include "filter/public_suffix.h"
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

// Lines longer than the line parser reads: the long domain lists of some
// element-hiding rules. Only a domain list before the marker makes one.
TEST(ElementHidingTest, LongLinesOfElementHidingRules) {
  std::string domains;
  while (domains.size() < 2100) {
    domains += "site" + std::to_string(domains.size()) + ".test,";
  }
  domains += "a.test";
  const struct {
    std::string list;
    Selectors onATest;
  } kCases[] = {
      {domains + "##.long\n", {".long"}},
      {"##.ad\n" + domains + "#@#.ad\n", {}},
      {"||" + domains + "##.long\n", {}},
      {domains + "/x##.long\n", {}},
      {"@@" + domains + "##.long\n", {}},
  };
  for (const auto& c : kCases) {
    TessulClient engine;
    engine.parse(c.list.c_str());
    EXPECT_EQ(selectorsOn(engine, "www.a.test"), c.onATest)
        << c.list.substr(0, 20);
  }
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
  const Selectors specific =
      selectorsOn(*engine_, "mail.google.com", kSpecific);
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

// An independent reading of a list's element-hiding lines: every rule is
// tried on every page, by the meaning of the lines alone.
class ListReading {
 public:
  explicit ListReading(const std::string& text) {
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) read(line);
  }

  // The selectors on the host: all of them, and the site-specific ones.
  std::pair<Selectors, Selectors> on(const std::string& name) const {
    const Host host(name);
    bool noGeneric = false;
    for (const Domains& sites : genericHideSites_) {
      noGeneric = noGeneric || applies(sites, host);
    }
    std::unordered_set<std::string> cancelled;
    for (const Rule& rule : rules_) {
      if (rule.exception && applies(rule.domains, host)) {
        cancelled.insert(rule.selector);
      }
    }
    std::pair<Selectors, Selectors> selectors;
    std::unordered_set<std::string> seen[2];
    for (const Rule& rule : rules_) {
      const bool generic = rule.domains.included.empty();
      if (rule.exception || (generic && noGeneric) ||
          !applies(rule.domains, host) || cancelled.count(rule.selector) > 0) {
        continue;
      }
      if (seen[0].insert(rule.selector).second) {
        selectors.first.push_back(rule.selector);
      }
      if (!generic && seen[1].insert(rule.selector).second) {
        selectors.second.push_back(rule.selector);
      }
    }
    return selectors;
  }

 private:
  struct Domains {
    std::vector<std::string> included;
    std::vector<std::string> excluded;
  };
  struct Rule {
    Domains domains;
    std::string selector;
    bool exception;
  };
  // A host, and for "name.*" domains the host without its public suffix.
  struct Host {
    explicit Host(const std::string& host) : name(host) {
      const size_t site = registrableDomainOffset(host.data(), host.size());
      const size_t dot = host.find('.', site);
      if (dot != std::string::npos) withoutSuffix = host.substr(0, dot);
    }
    std::string name;
    std::string withoutSuffix;
  };

  static bool isOrIsUnder(const std::string& host, const std::string& domain) {
    return host == domain ||
           (host.size() > domain.size() &&
            host.compare(host.size() - domain.size(), domain.size(), domain) ==
                0 &&
            host[host.size() - domain.size() - 1] == '.');
  }

  static bool isUnder(const Host& host, const std::string& domain) {
    if (domain.size() > 2 && domain.substr(domain.size() - 2) == ".*") {
      return !host.withoutSuffix.empty() &&
             isOrIsUnder(host.withoutSuffix,
                         domain.substr(0, domain.size() - 2));
    }
    return isOrIsUnder(host.name, domain);
  }

  static bool applies(const Domains& domains, const Host& host) {
    bool included = domains.included.empty();
    for (const std::string& domain : domains.included) {
      included = included || isUnder(host, domain);
    }
    for (const std::string& domain : domains.excluded) {
      if (isUnder(host, domain)) return false;
    }
    return included;
  }

  static Domains split(const std::string& list, char separator) {
    Domains domains;
    std::istringstream entries(list);
    for (std::string entry; std::getline(entries, entry, separator);) {
      if (entry.size() > 1 && entry[0] == '~') {
        domains.excluded.push_back(entry.substr(1));
      } else if (!entry.empty() && entry[0] != '~') {
        domains.included.push_back(entry);
      }
    }
    return domains;
  }

  void read(const std::string& line) {
    const std::string hostRule = "@@||";
    const std::string genericHide = "^$generichide";
    const std::string byDomain = "@@$generichide,domain=";
    if (line.rfind(hostRule, 0) == 0 && line.size() > genericHide.size() &&
        line.substr(line.size() - genericHide.size()) == genericHide) {
      genericHideSites_.push_back(
          {{line.substr(hostRule.size(), line.size() - hostRule.size() -
                                              genericHide.size())},
           {}});
      return;
    }
    if (line.rfind(byDomain, 0) == 0) {
      genericHideSites_.push_back(split(line.substr(byDomain.size()), '|'));
      return;
    }
    const size_t mark = line.find('#');
    if (mark == std::string::npos || line[0] == '!' ||
        line.find_first_not_of("abcdefghijklmnopqrstuvwxyz0123456789.-,~*") <
            mark) {
      return;
    }
    Rule rule;
    rule.domains = split(line.substr(0, mark), ',');
    if (line.compare(mark, 2, "##") == 0) {
      rule.exception = false;
      rule.selector = line.substr(mark + 2);
    } else if (line.compare(mark, 3, "#@#") == 0) {
      rule.exception = true;
      rule.selector = line.substr(mark + 3);
    } else {
      return;  // #?#, #$#, #@?# and the like
    }
    if (rule.selector.empty() || rule.selector.rfind("+js(", 0) == 0 ||
        rule.selector[0] == '^') {
      return;
    }
    rules_.push_back(rule);
  }

  std::vector<Rule> rules_;
  std::vector<Domains> genericHideSites_;
};

TEST_F(EasyListHidingTest, AnswersAsAReadingOfTheListLinesOnEveryPageHost) {
  const ListReading reading(testing::readDataFile("easylist.txt"));
#ifdef TESSUL_SANITIZED_BUILD
  constexpr int kEveryNthHost = 5;
#else
  constexpr int kEveryNthHost = 1;
#endif
  int withSpecific = 0;
  int nth = 0;
  for (const std::string& host : pageHostsOfRequestFiles()) {
    if (host.empty() || nth++ % kEveryNthHost != 0) continue;
    const auto [all, specific] = reading.on(host);
    EXPECT_EQ(selectorsOn(*engine_, host), all) << host;
    EXPECT_EQ(selectorsOn(*engine_, host, kSpecific), specific) << host;
    if (!specific.empty()) ++withSpecific;
  }
  EXPECT_GT(withSpecific, 20 / kEveryNthHost);
}

// What images carry: the element-hiding rules and exceptions when they are
// kept, but neither the $generichide rules, which parsing drops from the
// stores, nor the rules of lines too long for the stores. So the round trip
// is compared on EasyList without them.
TEST(ElementHidingImageTest, ImagesKeepTheRulesUnlessOmitted) {
  std::istringstream lines(testing::readDataFile("easylist.txt"));
  std::string list;
  for (std::string line; std::getline(lines, line);) {
    if (line.find("generichide") == std::string::npos && line.size() < 2048) {
      list += line + "\n";
    }
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

  TessulClient notInImages;
  const std::string longList = std::string(2100, 'a') + ".test##.long\n";
  notInImages.parse(("##.ad\n@@||gmail.com^$generichide\n" + longList).c_str());
  EXPECT_EQ(selectorsOn(notInImages, "gmail.com"), Selectors{});
  const std::string longHost = std::string(2100, 'a') + ".test";
  EXPECT_EQ(selectorsOn(notInImages, longHost), (Selectors{".ad", ".long"}));
  const std::string image = testing::savedImage(notInImages);
  ASSERT_TRUE(loaded.deserialize(image.data(), image.size()));
  EXPECT_EQ(selectorsOn(loaded, "gmail.com"), Selectors{".ad"});
  EXPECT_EQ(selectorsOn(loaded, longHost), Selectors{".ad"});

  const std::string omitted =
      testing::savedImage(parsed, /*omitElementHideRules=*/true);
  ASSERT_TRUE(loaded.deserialize(omitted.data(), omitted.size()));
  EXPECT_EQ(selectorsOn(loaded, "example.org"), Selectors{});
}

}  // namespace
}  // namespace tessul
