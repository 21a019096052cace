// The bundled EasyList and EasyPrivacy against real requests. Each expected
// answer below was checked by reading the rules that decide it.

#include <cstdio>
#include <cstring>
#include <utility>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "engine/engine_internals.h"
#include "engine/tessul_client.h"
#include "filter/url_text.h"
#include "hashing/bloom_filter.h"
#include "hashing/hash_fn.h"
#include "test_support.h"

namespace tessul {
namespace {

using testing::bundledLists;
using testing::readRequests;
using testing::requestTypeOption;

class RealListsTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    engine_ = new TessulClient;
    engine_->parse(bundledLists().c_str(), /*preserveRules=*/true);
  }
  static void TearDownTestSuite() {
    delete engine_;
    engine_ = nullptr;
  }
  static TessulClient* engine_;
};

TessulClient* RealListsTest::engine_ = nullptr;

struct Expected {
  const char* url;
  FilterOption type;
  const char* page;
  bool blocked;
  const char* blockingRule;   // the rule's line, "" for none
  const char* exceptionRule;  // "" for none
};

const Expected kRequests[] = {
    // Blocked by a plain rule, a host-only rule or a host-anchored path.
    {"https://ssl.google-analytics.com/ga.js", OptOther, "www.izettle.com", true,
     ".google-analytics.com/", ""},
    {"https://connect.facebook.net/en_US/fbevents.js", OptOther,
     "www.zdnet.com", true, "/fbevents.js", ""},
    {"http://cdn.clicktale.net/www/ChangeMonitor-latest.js", OptOther,
     "www.zdnet.com", true, "||clicktale.net^$third-party", ""},
    {"https://pixel.mathtag.com/sync/js?sync=auto&mt_lim=5", OptOther, nullptr,
     true, "/pixel.mathtag.com/*", ""},
    {"http://sync.upravel.com", OptSubdocument, "foo.com", true,
     "||upravel.com^$third-party", ""},
    {"https://s0.2mdn.net/1635909/1x1image.jpg?&ad_url=", OptImage, "foo.com",
     true, "||2mdn.net^$~media,third-party", ""},
    {"https://www.delta.com/content/www/_jcr_content/analytics.sitecatalyst.js",
     OptScript, "foo.com", true, "/analytics.sitecatalyst.js", ""},
    {"https://cdn.retailrocket.ru/content/javascript/tracking.js", OptScript,
     "foo.com", true, "||retailrocket.ru/content/javascript/tracking.js", ""},
    // Rules bound to excluded domains, tried for a page they do not exclude.
    {"https://player.vgtrk.com/js/ads.adfox.weborama.advert.banner.js",
     OptScript, "foo.com", true,
     ".advert.$domain=~advert.ae|~advert.ge|~advert.io|~advert.ly|"
     "~advert.media|~advert.org.pl",
     ""},
    {"https://rolloid.net/wp-content/plugins/advanced-ads-responsive",
     OptScript, "foo.com", true,
     "/advanced-ads-$script,stylesheet,domain=~transinfo.pl|~wordpress.org",
     ""},
    // Blocked, then cancelled by an exception.
    {"https://gatr.hit.gemius.pl/gstream.js", OptScript, "foo.com", false,
     "||gemius.pl^$third-party", "@@||gemius.pl/gstream.js"},
    {"http://ws-eu.amazon-adsystem.com/widgets/q?", OptImage, "foo.com", false,
     "||amazon-adsystem.com^", "@@||amazon-adsystem.com/widgets/q?$image,third-party"},
    {"https://track.adform.net/serving/scripts/trackpoint", OptScript,
     "www.sky.it", false, "||adform.net^",
     "@@||track.adform.net/serving/scripts/trackpoint$script,domain=sky.it"},
    {"https://nexus.ensighten.com/symantec/cp1/serverComponent.php?", OptScript,
     "foo.com", false, "||ensighten.com^$third-party",
     "@@||ensighten.com^*/serverComponent.php?$script"},
    // The same exceptions do not apply to other pages or types.
    {"https://track.adform.net/serving/scripts/trackpoint", OptScript,
     "foo.com", true, "||adform.net^", ""},
    {"http://ws-eu.amazon-adsystem.com/widgets/q?", OptScript, "foo.com", true,
     "||amazon-adsystem.com^", ""},
    {"https://js-agent.newrelic.com/nr-1099.min.js", OptScript, "foo.com", true,
     "||newrelic.com^$third-party", ""},
    {"https://mc.yandex.ru/metrika/watch.js", OptScript, "foo.com", true,
     "||mc.yandex.ru^", ""},
    {"https://www.google-analytics.com/analytics.js", OptScript, "foo.com",
     true, ".google-analytics.com/", ""},
    // Allowed: nothing blocks them.
    {"https://cdnjs.cloudflare.com/ajax/libs/angular-scroll/1.0.2/"
     "angular-scroll.min.js",
     OptScript, "www.ryanair.com", false, "", ""},
    {"https://www.wikipedia.org/", OptSubdocument, "www.wikipedia.org", false,
     "", ""},
    {"https://www.google.com/ads/", OptImage, "ads.google.com", false, "", ""},
    {"https://http2.akamai.com/demo/tile-36.png", OptImage, "http2.akamai.com",
     false, "", ""},
    // Not a web scheme.
    {"ftp://connect.facebook.net/en_US/fbevents.js", OptScript, "foo.com",
     false, "", ""},
};

std::string lineOf(const Filter* rule) {
  return rule && rule->sourceText ? rule->sourceText : "";
}

TEST_F(RealListsTest, RealRequestsGetTheirVerifiedAnswers) {
  for (const Expected& e : kRequests) {
    Filter* rule = nullptr;
    Filter* exception = nullptr;
    EXPECT_EQ(engine_->matches(e.url, e.type, e.page, &rule, &exception),
              e.blocked)
        << e.url;
    EXPECT_EQ(lineOf(rule), e.blockingRule) << e.url;
    EXPECT_EQ(lineOf(exception), e.exceptionRule) << e.url;
  }
}

// Prints how the rules of the two lists are stored, and checks the broad
// shape: most network rules are host-only, few are scanned for every request.
TEST_F(RealListsTest, StoresOfTheBundledLists) {
  const TessulClient& e = *engine_;
  printf("fingerprinted block %d, fingerprinted exception %d, element hiding %d,"
         " html %d,\nunfingerprinted block %d, unfingerprinted exception %d,"
         " include-domain block %d,\nexclude-domain block %d, include-domain "
         "exception %d, exclude-domain exception %d,\nhost-only block lines %d "
         "(rules %u), host-only exception lines %d (rules %u)\n",
         e.fingerprintedBlockCount, e.fingerprintedExceptionCount,
         e.elementHideCount, e.htmlRuleCount, e.unfingerprintedBlockCount,
         e.unfingerprintedExceptionCount, e.includeDomainBlockCount,
         e.excludeDomainBlockCount, e.includeDomainExceptionCount,
         e.excludeDomainExceptionCount, e.hostBlockCount,
         e.hostBlockSet->elementCount, e.hostExceptionCount,
         e.hostExceptionSet->elementCount);
  EXPECT_GT(e.hostBlockCount, 50000);
  EXPECT_GT(e.fingerprintedBlockCount, 5000);
  EXPECT_GT(e.elementHideCount, 10000);
  EXPECT_LT(e.unfingerprintedBlockCount, 1000);
  EXPECT_GE(e.hostBlockSet->elementCount + 10u,
            static_cast<uint32_t>(e.hostBlockCount))
      << "distinct host-only rules are all kept";
}

// The search of matches() as a plain walk over the stores, rule by rule in
// array order, with the per-request filter of the URL's byte pairs that
// rules may use to reject it. matches() answers from rule indexes and bit
// sets instead; it must report the same rules and count the same events.
class PlainSearch {
 public:
  struct Counters {
    uint32_t bloomFalseHits[2] = {};
    uint32_t bloomSkips[2] = {};
    uint32_t hostSetSkips[2] = {};
  };

  explicit PlainSearch(TessulClient& engine) : e_(engine) {}

  bool matches(const char* url, FilterOption options, const char* page,
               Filter** rule, Filter** exception) {
    *rule = *exception = nullptr;
    url_ = url;
    urlLen_ = static_cast<int>(strlen(url));
    if (!isBlockableProtocol(url, urlLen_)) return false;
    host_ = getUrlHost(url, &hostLen_);
    page_ = page;
    pageLen_ = page ? static_cast<int>(strlen(page)) : 0;
    options_ = options;
    if (page && (options & (OptThirdParty | OptFirstParty)) == OptNone) {
      options_ |= isThirdPartyHost(page, pageLen_, host_, hostLen_)
                      ? OptThirdParty
                      : OptFirstParty;
    }
    HashFn2Byte pairHash;
    BloomFilter pairs(10, 1024, &pairHash, 1);
    for (int i = 0; i + 1 < urlLen_; ++i) pairs.add(url + i, 2);
    pairs_ = &pairs;
    const bool blocked =
        searchSide(0, e_.includeDomainBlockSet, e_.includeDomainBlockRules,
                   e_.includeDomainBlockCount, e_.excludeDomainBlockSet,
                   e_.excludeDomainBlockRules, e_.excludeDomainBlockCount,
                   e_.unfingerprintedBlockRules, e_.unfingerprintedBlockCount,
                   e_.blockFingerprintBloom, e_.hostBlockSet,
                   e_.fingerprintedBlockRules, e_.fingerprintedBlockCount, rule);
    return blocked &&
           !searchSide(1, e_.includeDomainExceptionSet,
                       e_.includeDomainExceptionRules,
                       e_.includeDomainExceptionCount,
                       e_.excludeDomainExceptionSet,
                       e_.excludeDomainExceptionRules,
                       e_.excludeDomainExceptionCount,
                       e_.unfingerprintedExceptionRules,
                       e_.unfingerprintedExceptionCount,
                       e_.exceptionFingerprintBloom, e_.hostExceptionSet,
                       e_.fingerprintedExceptionRules,
                       e_.fingerprintedExceptionCount, exception);
  }

  Counters counters;

 private:
  bool tryRules(Filter* rules, int count, Filter** matched) {
    return e_.hasMatchingFilters(rules, count, url_, urlLen_, options_, page_,
                                 pairs_, host_, hostLen_, matched);
  }

  bool searchSide(int side, HashSet<NoFingerprintDomain>* includeSet,
                  Filter* includeRules, int includeCount,
                  HashSet<NoFingerprintDomain>* excludeSet,
                  Filter* excludeRules, int excludeCount, Filter* plainRules,
                  int plainCount, BloomFilter* bloom, HashSet<Filter>* hostSet,
                  Filter* fingerprintedRules, int fingerprintedCount,
                  Filter** matched) {
    bool found = !isNoFingerprintDomainHashSetMiss(includeSet, page_, pageLen_) &&
                 tryRules(includeRules, includeCount, matched);
    if (!found && isNoFingerprintDomainHashSetMiss(excludeSet, page_, pageLen_)) {
      found = tryRules(excludeRules, excludeCount, matched);
    }
    if (!found) found = tryRules(plainRules, plainCount, matched);
    if (found) return true;
    const bool bloomMiss =
        bloom != nullptr && !bloom->substringExists(url_, 6);
    const bool hostMiss =
        e_.isHostAnchoredHashSetMiss(url_, urlLen_, hostSet, host_, hostLen_,
                                     options_, page_, matched);
    if (bloomMiss && hostMiss) {
      ++counters.bloomSkips[side];
      ++counters.hostSetSkips[side];
      return false;
    }
    if (!hostMiss) {
      if (side == 1) ++counters.hostSetSkips[side];
      return true;
    }
    if (tryRules(fingerprintedRules, fingerprintedCount, matched)) return true;
    ++counters.bloomFalseHits[side];
    return false;
  }

  TessulClient& e_;
  BloomFilter* pairs_ = nullptr;
  const char* url_ = nullptr;
  int urlLen_ = 0;
  const char* host_ = nullptr;
  int hostLen_ = 0;
  const char* page_ = nullptr;
  int pageLen_ = 0;
  FilterOption options_ = OptNone;
};

TEST_F(RealListsTest, MatchesFindsTheRulesAPlainSearchFinds) {
  TessulClient& e = *engine_;
  PlainSearch plain(e);
  const uint32_t* engineCounters[2][3] = {
      {&e.blockBloomFalseHits, &e.blockBloomSkips, &e.blockHostSetSkips},
      {&e.exceptionBloomFalseHits, &e.exceptionBloomSkips,
       &e.exceptionHostSetSkips}};
  uint32_t start[2][3];
  for (int side = 0; side < 2; ++side) {
    for (int i = 0; i < 3; ++i) start[side][i] = *engineCounters[side][i];
  }
  int compared = 0, blocked = 0, excepted = 0;
  for (const char* file : {"pageloads.tsv", "peer-dev.tsv"}) {
    for (const testing::Request& r : readRequests(file)) {
      const char* page = r.pageHost.empty() ? nullptr : r.pageHost.c_str();
      const FilterOption type = requestTypeOption(r.type);
      // As logged, without a page, of no known kind, and forced third-party.
      const std::pair<FilterOption, const char*> variants[] = {
          {type, page}, {type, nullptr}, {OptNone, page},
          {type | OptThirdParty, page}};
      for (const auto& [options, context] : variants) {
        Filter *rule, *exception, *plainRule, *plainException;
        const bool fast =
            e.matches(r.url.c_str(), options, context, &rule, &exception);
        const bool slow = plain.matches(r.url.c_str(), options, context,
                                        &plainRule, &plainException);
        ASSERT_EQ(fast, slow) << r.url;
        ASSERT_EQ(rule, plainRule) << r.url << ": " << testing::patternOf(rule)
                                   << " vs " << testing::patternOf(plainRule);
        ASSERT_EQ(exception, plainException) << r.url;
        ++compared;
        blocked += fast;
        excepted += exception != nullptr;
      }
    }
  }
  const uint32_t* plainCounters[2][3] = {
      {&plain.counters.bloomFalseHits[0], &plain.counters.bloomSkips[0],
       &plain.counters.hostSetSkips[0]},
      {&plain.counters.bloomFalseHits[1], &plain.counters.bloomSkips[1],
       &plain.counters.hostSetSkips[1]}};
  for (int side = 0; side < 2; ++side) {
    for (int i = 0; i < 3; ++i) {
      EXPECT_EQ(*engineCounters[side][i] - start[side][i], *plainCounters[side][i])
          << "side " << side << " counter " << i;
    }
  }
  EXPECT_GT(compared, 24000);
  EXPECT_GT(blocked, 4000);
  EXPECT_GT(excepted, 100);
}

// findMatchingFilters() searches every store without the shortcuts of
// matches(). Without a page host the two differ by design (matches() never
// tries rules bound to included domains then), so only requests with a page
// are compared; on these lists the shortcuts never change a decision.
TEST_F(RealListsTest, ShortcutsNeverChangeADecision) {
  int compared = 0, blocked = 0;
  for (const char* file : {"pageloads.tsv", "peer-dev.tsv"}) {
    for (const testing::Request& r : readRequests(file)) {
      if (r.pageHost.empty()) continue;
      const FilterOption type = requestTypeOption(r.type);
      Filter* rule = nullptr;
      Filter* exception = nullptr;
      const bool fast = engine_->matches(r.url.c_str(), type, r.pageHost.c_str());
      const bool full =
          isBlockableProtocol(r.url.c_str(), static_cast<int>(r.url.size())) &&
          engine_->findMatchingFilters(r.url.c_str(), type, r.pageHost.c_str(),
                                       &rule, &exception);
      ASSERT_EQ(fast, full) << r.url << " on " << r.pageHost;
      ++compared;
      blocked += fast;
    }
  }
  EXPECT_GT(compared, 5000);
  EXPECT_GT(blocked, 1500);
}

}  // namespace
}  // namespace tessul
