// The store table against what parsing does with real lists: every rule
// that parse() keeps in a rule array is one of the class that the array's
// row of kRuleStores says it keeps, and the domain sets hold the domains of
// their arrays' rules.

#include <set>
#include <string>

#include <gtest/gtest.h>

#include "engine/rule_stores.h"
#include "engine/tessul_client.h"
#include "filter/domain_list.h"
#include "filter/rule_class.h"
#include "test_support.h"

namespace tessul {
namespace {

class RuleStoresTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    engine = new TessulClient;
    // The bundled lists have no HTML rule and no exception bound to
    // excluded domains only; the last lines add some, and an empty entry of
    // a domain list.
    engine->parse((testing::bundledLists() +
                   "\na.test$$script[src]\n@@ad$domain=~c.test\n"
                   "@@qq$domain=~d.test|~\nad$domain=e.test|\n")
                      .c_str());
  }
  static void TearDownTestSuite() { delete engine; }

  static TessulClient* engine;
};

TessulClient* RuleStoresTest::engine = nullptr;

TEST_F(RuleStoresTest, EveryArrayHoldsRulesOfItsClass) {
  for (const RuleStore& store : kRuleStores) {
    Filter* rules = engine->*store.rules.member;
    const int count = engine->*store.count.member;
    EXPECT_GT(count, 0) << store.rules.name << ": the lists fill every array";
    for (int i = 0; i < count; ++i) {
      ASSERT_TRUE(classifyRule(rules[i]) == store.keeps)
          << store.rules.name << " holds " << testing::patternOf(&rules[i]);
    }
  }
}

TEST_F(RuleStoresTest, DomainSetsHoldTheDomainsOfTheirArrays) {
  for (const RuleStore& store : kRuleStores) {
    if (store.domains.set.member == nullptr) continue;
    const HashSet<NoFingerprintDomain>* set = engine->*store.domains.set.member;
    ASSERT_NE(set, nullptr) << store.domains.set.name;
    std::set<std::string> named;
    Filter* rules = engine->*store.rules.member;
    for (int i = 0; i < engine->*store.count.member; ++i) {
      forEachListedDomain(rules[i].domainText,
                          [&](const char* domain, int length, bool excluded) {
                            // An empty entry names no domain, "~" the
                            // empty one.
                            if (length > 0 || excluded) {
                              named.emplace(domain, length);
                            }
                          });
    }
    for (const std::string& domain : named) {
      EXPECT_TRUE(set->Exists(NoFingerprintDomain(
          domain.data(), static_cast<int>(domain.size()))))
          << store.domains.set.name << " lacks " << domain;
    }
    EXPECT_EQ(set->elementCount, named.size()) << store.domains.set.name;
  }
}

}  // namespace
}  // namespace tessul
