// The engine's stores, described once. kRuleStores lists the ten rule
// arrays with their counts, the rules each keeps (its class), its domain set
// and its place in the engine image; kSides lists, for the blocking and the
// exception side, the stores beside its rule arrays: the fingerprint Bloom
// filter, the host set of host-only rules and the matching statistics.
//
// Clearing, list parsing, request matching, the engine image and
// `tessul info` all walk these tables, so adding a store or moving one in the
// image is a change here (and, for a new kind of rule, in classifyRule).
#ifndef TESSUL_ENGINE_RULE_STORES_H_
#define TESSUL_ENGINE_RULE_STORES_H_

#include <cstdint>

#include "engine/tessul_client.h"
#include "filter/filter.h"
#include "filter/rule_class.h"
#include "hashing/bloom_filter.h"
#include "hashing/hash_set.h"
#include "hashing/set_elements.h"

namespace tessul {

// A member of TessulClient with its name, as reports and images name it.
template <typename T>
struct EngineField {
  T TessulClient::*member;
  const char* name;
};

// Ties a member to its own name.
#define TESSUL_ENGINE_FIELD(member) \
  { &TessulClient::member, #member }

// The set of the domains that the rules of a domain-bound array name.
struct DomainSetField {
  EngineField<HashSet<NoFingerprintDomain>*> set;
  unsigned int buckets;  // of a new set
};

// One rule array.
struct RuleStore {
  EngineField<Filter*> rules;  // made with new[], exactly `count` rules
  EngineField<int32_t> count;
  RuleClass keeps;         // the class of the rules filed here
  int imagePosition;       // among the image's rule array sections
  DomainSetField domains;  // null set: not domain-bound
};

constexpr int kRuleStoreCount = 10;

// In the order of TessulClient's members.
inline constexpr RuleStore kRuleStores[kRuleStoreCount] = {
    {TESSUL_ENGINE_FIELD(fingerprintedBlockRules),
     TESSUL_ENGINE_FIELD(fingerprintedBlockCount),
     {RulePlace::kFingerprinted, RuleSide::kBlock},
     0,
     {}},
    {TESSUL_ENGINE_FIELD(elementHideRules),
     TESSUL_ENGINE_FIELD(elementHideCount),
     {RulePlace::kElementHide, RuleSide::kNone},
     2,
     {}},
    {TESSUL_ENGINE_FIELD(htmlRules),
     TESSUL_ENGINE_FIELD(htmlRuleCount),
     {RulePlace::kHtml, RuleSide::kNone},
     3,
     {}},
    {TESSUL_ENGINE_FIELD(fingerprintedExceptionRules),
     TESSUL_ENGINE_FIELD(fingerprintedExceptionCount),
     {RulePlace::kFingerprinted, RuleSide::kException},
     1,
     {}},
    {TESSUL_ENGINE_FIELD(unfingerprintedBlockRules),
     TESSUL_ENGINE_FIELD(unfingerprintedBlockCount),
     {RulePlace::kUnfingerprinted, RuleSide::kBlock},
     4,
     {}},
    {TESSUL_ENGINE_FIELD(unfingerprintedExceptionRules),
     TESSUL_ENGINE_FIELD(unfingerprintedExceptionCount),
     {RulePlace::kUnfingerprinted, RuleSide::kException},
     5,
     {}},
    {TESSUL_ENGINE_FIELD(includeDomainBlockRules),
     TESSUL_ENGINE_FIELD(includeDomainBlockCount),
     {RulePlace::kIncludeDomain, RuleSide::kBlock},
     6,
     {TESSUL_ENGINE_FIELD(includeDomainBlockSet), 1000}},
    {TESSUL_ENGINE_FIELD(excludeDomainBlockRules),
     TESSUL_ENGINE_FIELD(excludeDomainBlockCount),
     {RulePlace::kExcludeDomain, RuleSide::kBlock},
     7,
     {TESSUL_ENGINE_FIELD(excludeDomainBlockSet), 100}},
    {TESSUL_ENGINE_FIELD(includeDomainExceptionRules),
     TESSUL_ENGINE_FIELD(includeDomainExceptionCount),
     {RulePlace::kIncludeDomain, RuleSide::kException},
     8,
     {TESSUL_ENGINE_FIELD(includeDomainExceptionSet), 1000}},
    {TESSUL_ENGINE_FIELD(excludeDomainExceptionRules),
     TESSUL_ENGINE_FIELD(excludeDomainExceptionCount),
     {RulePlace::kExcludeDomain, RuleSide::kException},
     9,
     {TESSUL_ENGINE_FIELD(excludeDomainExceptionSet), 100}},
};

// The stores of one side beside its rule arrays.
struct SideStores {
  RuleSide side;
  EngineField<BloomFilter*> fingerprintBloom;
  // A new filter's size: bits per fingerprint and fingerprints expected.
  unsigned int bloomBitsPerItem;
  unsigned int bloomExpectedItems;
  EngineField<HashSet<Filter>*> hostSet;
  unsigned int hostSetBuckets;  // of a new set
  // Host-only rule lines filed into the host set.
  EngineField<int32_t> hostCount;
  // Matching statistics.
  uint32_t TessulClient::*bloomSkips;
  uint32_t TessulClient::*hostSetSkips;
  uint32_t TessulClient::*bloomFalseHits;
  bool hostSetHitIsSkip;  // a host-set hit counts in hostSetSkips too
};

// Indexed by RuleSide.
inline constexpr SideStores kSides[kRuleSideCount] = {
    {RuleSide::kBlock,
     TESSUL_ENGINE_FIELD(blockFingerprintBloom),
     15,
     80000,
     TESSUL_ENGINE_FIELD(hostBlockSet),
     18000,
     TESSUL_ENGINE_FIELD(hostBlockCount),
     &TessulClient::blockBloomSkips,
     &TessulClient::blockHostSetSkips,
     &TessulClient::blockBloomFalseHits,
     false},
    {RuleSide::kException,
     TESSUL_ENGINE_FIELD(exceptionFingerprintBloom),
     10,
     20000,
     TESSUL_ENGINE_FIELD(hostExceptionSet),
     2000,
     TESSUL_ENGINE_FIELD(hostExceptionCount),
     &TessulClient::exceptionBloomSkips,
     &TessulClient::exceptionHostSetSkips,
     &TessulClient::exceptionBloomFalseHits,
     true},
};

#undef TESSUL_ENGINE_FIELD

constexpr const SideStores& sideStores(RuleSide side) {
  return kSides[static_cast<int>(side)];
}

// The row of kRuleStores that keeps rules of class `rule`, or -1 when none
// does (host-only rules, which live in a host set, and rules of no place).
constexpr int ruleStoreOf(RuleClass rule) {
  for (int i = 0; i < kRuleStoreCount; ++i) {
    if (kRuleStores[i].keeps == rule) return i;
  }
  return -1;
}

// The rule array of one place and side, for code that names it.
constexpr const RuleStore& ruleStore(RulePlace place, RuleSide side) {
  return kRuleStores[ruleStoreOf({place, side})];
}

namespace rule_store_checks {

constexpr bool isDomainBound(RulePlace place) {
  return place == RulePlace::kIncludeDomain ||
         place == RulePlace::kExcludeDomain;
}

// Element hiding and HTML rules are kept but never matched; every other
// kept rule is on a side. Host-only rules and rules of no place have no
// array.
constexpr bool keepsArrayRules(RuleClass rule) {
  const bool unmatched = rule.place == RulePlace::kElementHide ||
                         rule.place == RulePlace::kHtml;
  return rule.place != RulePlace::kNone &&
         rule.place != RulePlace::kHostOnly &&
         unmatched == (rule.side == RuleSide::kNone);
}

// Each class has one store, each store its own image position, and a
// store has a domain set exactly when it is domain-bound.
constexpr bool rowsAreConsistent() {
  bool positionTaken[kRuleStoreCount] = {};
  for (int i = 0; i < kRuleStoreCount; ++i) {
    const RuleStore& store = kRuleStores[i];
    const int position = store.imagePosition;
    if (!keepsArrayRules(store.keeps) || ruleStoreOf(store.keeps) != i ||
        isDomainBound(store.keeps.place) !=
            (store.domains.set.member != nullptr) ||
        position < 0 || position >= kRuleStoreCount ||
        positionTaken[position]) {
      return false;
    }
    positionTaken[position] = true;
  }
  for (int side = 0; side < kRuleSideCount; ++side) {
    if (static_cast<int>(kSides[side].side) != side) return false;
  }
  return true;
}

}  // namespace rule_store_checks

static_assert(rule_store_checks::rowsAreConsistent(),
              "one store per rule class, with its own image position");

}  // namespace tessul

#endif  // TESSUL_ENGINE_RULE_STORES_H_
