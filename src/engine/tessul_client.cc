#include "engine/tessul_client.h"

#include <string_view>
#include <utility>

#include "engine/engine_internals.h"
#include "engine/rule_stores.h"
#include "filter/fingerprint.h"
#include "hashing/bloom_filter.h"

namespace tessul {

TessulClient::TessulClient() : internals_(std::make_unique<Internals>()) {}

TessulClient::~TessulClient() { clear(); }

namespace {

template <typename T>
void release(T*& store) {
  delete store;  // a hash set's destructor runs its Cleanup
  store = nullptr;
}

void releaseArray(Filter*& rules) {
  delete[] rules;
  rules = nullptr;
}

}  // namespace

void TessulClient::clear() {
  for (const RuleStore& store : kRuleStores) {
    releaseArray(this->*store.rules.member);
  }
  for (SideLookups& lookups : internals_->sides) {
    lookups.fingerprinted.reset();
    lookups.unfingerprinted.reset();
    lookups.hostPresence.build(nullptr);
  }
  internals_->hiding.clear();
  for (const SideStores& side : kSides) {
    release(this->*side.fingerprintBloom.member);
  }
  for (const SideStores& side : kSides) release(this->*side.hostSet.member);
  for (const RuleStore& store : kRuleStores) {
    if (store.domains.set.member != nullptr) {
      release(this->*store.domains.set.member);
    }
  }
  release(badFingerprintTracker);
  for (const RuleStore& store : kRuleStores) this->*store.count.member = 0;
  for (const SideStores& side : kSides) {
    this->*side.hostCount.member = 0;
    this->*side.bloomSkips = 0;
    this->*side.hostSetSkips = 0;
    this->*side.bloomFalseHits = 0;
  }
}

void TessulClient::setNoteSink(NoteSink sink) {
  internals_->noteSink = std::move(sink);
}

bool TessulClient::getFingerprint(char* output, const char* input) {
  return findFingerprint(output, input);
}

bool TessulClient::getFingerprint(char* output, const Filter& filter) {
  return findFingerprint(output, filter);
}

void TessulClient::swapStores(TessulClient* other) {
  for (const RuleStore& store : kRuleStores) {
    std::swap(this->*store.rules.member, other->*store.rules.member);
    std::swap(this->*store.count.member, other->*store.count.member);
    if (store.domains.set.member != nullptr) {
      std::swap(this->*store.domains.set.member,
                other->*store.domains.set.member);
    }
  }
  for (const SideStores& side : kSides) {
    std::swap(this->*side.fingerprintBloom.member,
              other->*side.fingerprintBloom.member);
    std::swap(this->*side.hostSet.member, other->*side.hostSet.member);
    std::swap(this->*side.hostCount.member, other->*side.hostCount.member);
  }
  // The indexes and presence bits point at the stores, which moved along.
  std::swap(internals_->sides, other->internals_->sides);
  std::swap(internals_->hiding, other->internals_->hiding);
}

void TessulClient::addTag(const std::string& tag) { enabledTags.insert(tag); }

void TessulClient::removeTag(const std::string& tag) { enabledTags.erase(tag); }

bool TessulClient::tagExists(const std::string& tag) const {
  return enabledTags.count(tag) > 0;
}

bool TessulClient::ruleApplies(Filter& rule, const char* input, int inputLen,
                               FilterOption contextOptions,
                               const char* contextDomain,
                               BloomFilter* inputBloomFilter,
                               const char* inputHost, int inputHostLen) const {
  if (!rule.matches(input, inputLen, contextOptions, contextDomain,
                    inputBloomFilter, inputHost, inputHostLen)) {
    return false;
  }
  return rule.tagLen <= 0 ||
         enabledTags.find(std::string_view(rule.tagText, rule.tagLen)) !=
             enabledTags.end();
}

std::vector<std::string_view> TessulClient::hidingSelectors(
    std::string_view page, HidingScope scope) {
  return internals_->hiding.selectorsFor(page, scope, enabledTags);
}

const RuleIndex& TessulClient::fingerprintIndex(RuleSide side) const {
  return internals_->lookupsOf(side).fingerprinted;
}

void TessulClient::buildRuleIndexes() {
  for (const SideStores& side : kSides) {
    SideLookups& lookups = internals_->lookupsOf(side.side);
    const RuleStore& fingerprinted =
        ruleStore(RulePlace::kFingerprinted, side.side);
    lookups.fingerprinted.build(this->*fingerprinted.rules.member,
                                this->*fingerprinted.count.member, true);
    const RuleStore& unfingerprinted =
        ruleStore(RulePlace::kUnfingerprinted, side.side);
    lookups.unfingerprinted.build(this->*unfingerprinted.rules.member,
                                  this->*unfingerprinted.count.member, false);
  }
  internals_->hiding.build(elementHideRules, elementHideCount);
}

void TessulClient::initBloomFilter(BloomFilter** slot, const char* source,
                                   int byteCount) {
  release(*slot);
  if (byteCount >= 1) {
    *slot = new BloomFilter(source, byteCount, fingerprintHashFns,
                            kFingerprintHashFnCount);
  }
}

// The host presence bits of the engine's own host sets are filled while the
// set is read, when its records and their hashes are at hand.
bool TessulClient::initHashSet(HashSet<Filter>** slot, const char* text,
                               int length, SectionFault* fault) {
  struct PresenceFiller final : HashSet<Filter>::Visitor {
    PresenceFiller(HostPresence* presence, const HashSet<Filter>* set)
        : presence(presence), set(set) {}
    void visit(const Filter&, uint64_t hash) override {
      if (presence->set != set) presence->begin(set);  // sized for its buckets
      presence->add(hash);
    }
    HostPresence* presence;
    const HashSet<Filter>* set;
  };
  // A new set may take the old one's address and size: host lookups must
  // not trust what was known of the old one.
  HostPresence* presence = nullptr;
  for (const SideStores& side : kSides) {
    HostPresence& sidePresence = internals_->lookupsOf(side.side).hostPresence;
    if (sidePresence.set == *slot) sidePresence.build(nullptr);
    if (slot == &(this->*side.hostSet.member)) presence = &sidePresence;
  }
  if (presence != nullptr) presence->build(nullptr);
  release(*slot);
  if (length < 1) return true;
  *slot = new HashSet<Filter>;
  PresenceFiller filler(presence, *slot);
  const bool loaded =
      (*slot)->Deserialize(text, static_cast<unsigned int>(length),
                           presence != nullptr ? &filler : nullptr, fault);
  if (presence != nullptr) {
    presence->set = *slot;
    presence->settle();
  }
  return loaded;
}

bool TessulClient::initHashSet(HashSet<NoFingerprintDomain>** slot,
                               const char* text, int length,
                               SectionFault* fault) {
  release(*slot);
  if (length < 1) return true;
  *slot = new HashSet<NoFingerprintDomain>;
  return (*slot)->Deserialize(text, static_cast<unsigned int>(length), nullptr,
                              fault);
}

void TessulClient::enableBadFingerprintDetection() {
  if (badFingerprintTracker != nullptr) return;
  badFingerprintTracker = new BadFingerprintsHashSet;
  for (const char* entry : badFingerprints) {
    badFingerprintTracker->Add(BadFingerprint(entry), true);
  }
}

}  // namespace tessul
