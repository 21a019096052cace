// TessulClient::parse: a filter list into the engine's stores. Each line is
// parsed twice: a counting pass sizes every rule array exactly, and a filling
// pass files each rule. Both passes file a rule by its class (classifyRule,
// which parseFilter returns), through the store table.

#include "engine/engine_internals.h"
#include "engine/rule_stores.h"
#include "engine/tessul_client.h"
#include "filter/domain_list.h"
#include "filter/filter_parser.h"
#include "filter/list_lines.h"

namespace tessul {

namespace {

// How many rules of a list go to each store.
struct Tally {
  int rules[kRuleStoreCount] = {};     // by row of kRuleStores
  int hostRules[kRuleSideCount] = {};  // host-only rules, by side
};

// The stores that parsing fills and a new engine lacks: the Bloom filters,
// host sets and domain sets. Stores that exist (from an earlier parse or an
// image) stay as they are.
void createMissingStores(TessulClient& engine) {
  for (const SideStores& side : kSides) {
    BloomFilter*& bloom = engine.*side.fingerprintBloom.member;
    if (bloom == nullptr) {
      bloom = new BloomFilter(side.bloomBitsPerItem, side.bloomExpectedItems,
                              fingerprintHashFns, kFingerprintHashFnCount);
    }
  }
  // Host sets keep every distinct host-only rule of a host, so they allow
  // duplicates; domain sets keep each domain once.
  for (const SideStores& side : kSides) {
    HashSet<Filter>*& hostSet = engine.*side.hostSet.member;
    if (hostSet == nullptr) {
      hostSet = new HashSet<Filter>(/*allowDuplicates=*/true);
      hostSet->Init(side.hostSetBuckets);
    }
    // A set loaded from an image that says otherwise is about to hold
    // several rules of a host too, and its next image must say so.
    hostSet->allowDuplicates = true;
  }
  for (const RuleStore& store : kRuleStores) {
    if (store.domains.set.member == nullptr) continue;
    HashSet<NoFingerprintDomain>*& domainSet = engine.*store.domains.set.member;
    if (domainSet == nullptr) {
      domainSet = new HashSet<NoFingerprintDomain>(false);
      domainSet->Init(store.domains.buckets);
    }
  }
}

// The counting pass: no stores are given, so nothing is filed.
Tally countRules(const char* input) {
  Tally tally;
  forEachLine(input, [&](const char* start, const char* end) {
    Filter rule;
    const RuleClass kind = parseFilter(start, end, &rule);
    const int store = ruleStoreOf(kind);
    if (store >= 0) {
      ++tally.rules[store];
    } else if (kind.place == RulePlace::kHostOnly) {
      ++tally.hostRules[static_cast<int>(kind.side)];
    }
  });
  return tally;
}

// Makes each rule array once at its final size; the rules it held move over
// by exchanging fields, keeping their borrowed flag. Stores in `fill` the
// position of each array's first new rule.
void growRuleArrays(TessulClient& engine, const Tally& tally, int* fill) {
  for (int i = 0; i < kRuleStoreCount; ++i) {
    Filter*& rules = engine.*kRuleStores[i].rules.member;
    int32_t& count = engine.*kRuleStores[i].count.member;
    Filter* grown = new Filter[count + tally.rules[i]];
    for (int r = 0; r < count; ++r) {
      grown[r].swapData(&rules[r]);
      grown[r].isBorrowed = rules[r].isBorrowed;
    }
    setFilterBorrowedMemory(rules, count);
    delete[] rules;
    rules = grown;
    fill[i] = count;
    count += tally.rules[i];
  }
  for (int side = 0; side < kRuleSideCount; ++side) {
    engine.*kSides[side].hostCount.member += tally.hostRules[side];
  }
}

}  // namespace

void AddFilterDomainsToHashSet(Filter* filter,
                               HashSet<NoFingerprintDomain>* set) {
  if (filter->domainText == nullptr) return;
  // An entry of a lone '~' names the empty domain; an empty entry nothing.
  forEachListedDomain(filter->domainText,
                      [set](const char* domain, int length, bool excluded) {
                        if (length >= 1 || excluded) {
                          set->Add(NoFingerprintDomain(domain, length), true);
                        }
                      });
}

bool TessulClient::parse(const char* input, bool preserveRules) {
  createMissingStores(*this);
  const Tally tally = countRules(input);
  int fill[kRuleStoreCount];
  growRuleArrays(*this, tally, fill);
  fileRules(input, preserveRules, fill);
  buildRuleIndexes();
  return true;
}

// The host presence bits follow the rules filed into the host sets, rather
// than walking every set again after the parse.
void TessulClient::fileRules(const char* input, bool preserveRules, int* fill) {
  for (const SideStores& side : kSides) {
    HostPresence& presence = internals_->lookupsOf(side.side).hostPresence;
    if (!presence.describes(this->*side.hostSet.member)) {
      presence.build(this->*side.hostSet.member);
    }
  }
  const SideStores& block = sideStores(RuleSide::kBlock);
  const SideStores& exception = sideStores(RuleSide::kException);
  HashSet<CosmeticFilter> selectors;
  selectors.Init(1000);
  forEachLine(input, [&](const char* start, const char* end) {
    Filter rule;
    const RuleClass kind = parseFilter(
        start, end, &rule, this->*block.fingerprintBloom.member,
        this->*exception.fingerprintBloom.member, this->*block.hostSet.member,
        this->*exception.hostSet.member, &selectors, preserveRules);
    if (kind.place == RulePlace::kHostOnly) {
      internals_->lookupsOf(kind.side).hostPresence.add(rule);
      return;
    }
    const int store = ruleStoreOf(kind);
    if (store < 0) return;
    const DomainSetField& domains = kRuleStores[store].domains;
    if (domains.set.member != nullptr) {
      AddFilterDomainsToHashSet(&rule, this->*domains.set.member);
    }
    (this->*kRuleStores[store].rules.member)[fill[store]++].swapData(&rule);
  });
  for (const SideStores& side : kSides) {
    internals_->lookupsOf(side.side).hostPresence.settle();
  }
}

}  // namespace tessul
