#include "engine/tessul_client.h"

#include <cstring>
#include <string_view>
#include <utility>

#include "engine/engine_internals.h"
#include "engine/rule_stores.h"
#include "filter/fingerprint.h"
#include "filter/url_text.h"
#include "hashing/bloom_filter.h"

namespace tessul {

TessulClient::TessulClient() : internals_(std::make_unique<Internals>()) {}

TessulClient::TessulClient(MatchingMode mode) : TessulClient() {
  mode_ = mode;
}

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
    lookups.regexRules.clear();
    lookups.importantRules.clear();
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
  if (mode_ == MatchingMode::kCompatible) {
    // The URL as requested goes with the lower-case copy that matches()
    // made of it; any other input is taken as it is.
    const char* caseKept = input == internals_->lowerUrl.data() &&
                                   internals_->caseKeptUrl != nullptr
                               ? internals_->caseKeptUrl
                               : input;
    if (inputHost == nullptr) inputHost = getUrlHost(input, &inputHostLen);
    if (!rule.matchesCompatibly(input, caseKept, inputLen, contextOptions,
                                contextDomain, inputHost, inputHostLen)) {
      return false;
    }
  } else if (!rule.matches(input, inputLen, contextOptions, contextDomain,
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
    lookups.regexRules.clear();
    lookups.requiredLiterals.clear();
    lookups.literalRules.clear();
    lookups.importantRules.clear();
    if (mode_ == MatchingMode::kCompatible) collectCompatibleRules(side.side);
    const RuleStore& unfingerprinted =
        ruleStore(RulePlace::kUnfingerprinted, side.side);
    lookups.unfingerprinted.build(
        this->*unfingerprinted.rules.member,
        this->*unfingerprinted.count.member, false,
        lookups.literalRules.data(),
        static_cast<int>(lookups.literalRules.size()));
  }
  internals_->hiding.build(elementHideRules, elementHideCount);
}

namespace {

// Of the literals that every match of the program holds, the longest that
// is not a piece of the text most URLs start with: "http" and "://" are
// in every URL, and a rule keyed by them is searched for every request.
// The longest of all when each is such a piece.
std::string_view rarestRequiredLiteral(const RegexProgram& program) {
  constexpr std::string_view kUrlStart = "https://www.";
  std::string_view best;
  bool bestCommon = true;
  for (int i = 0; i < program.requiredLiteralCount(); ++i) {
    int length = 0;
    const char* text = program.requiredLiteral(i, &length);
    const std::string_view literal(text, length);
    const bool common = kUrlStart.find(literal) != std::string_view::npos;
    if ((bestCommon && !common) ||
        (common == bestCommon && literal.size() > best.size())) {
      best = literal;
      bestCommon = common;
    }
  }
  return best;
}

// Keys the regex rules by the rarest literal each requires, in lower case
// unless it matches case; a $match-case literal would never be found in the
// lower-case URL, so such rules get no key and are searched for every URL.
// The stand-ins join the index of the unfingerprinted array, so that the
// one pass over a URL that this index makes serves them too.
void keyRegexRules(SideLookups* lookups) {
  const size_t count = lookups->regexRules.size();
  lookups->requiredLiterals.reserve(count);
  lookups->literalRules.reserve(count);
  for (const SideLookups::RegexRule& entry : lookups->regexRules) {
    const bool matchCase = (entry.rule->options & OptMatchCase) != OptNone;
    lookups->requiredLiterals.emplace_back(
        matchCase ? std::string_view() : rarestRequiredLiteral(entry.program));
  }
  for (const std::string& literal : lookups->requiredLiterals) {
    lookups->literalRules.emplace_back(literal.c_str(),
                                       static_cast<int>(literal.size()),
                                       nullptr, nullptr, 0, nullptr, 0);
  }
}

}  // namespace

// Regex rules are compiled once here; the parser dropped those that do not
// compile, and a rule of a damaged image that does not is left out.
void TessulClient::collectCompatibleRules(RuleSide side) {
  SideLookups& lookups = internals_->lookupsOf(side);
  for (const RuleStore& store : kRuleStores) {
    if (store.keeps.side != side) continue;
    Filter* const rules = this->*store.rules.member;
    for (int32_t i = 0; i < this->*store.count.member; ++i) {
      Filter& rule = rules[i];
      if (rule.pattern == nullptr || rule.hasUnsupportedOptions()) continue;
      if ((rule.options & OptImportant) != OptNone) {
        lookups.importantRules.push_back(&rule);
      }
      if ((rule.type & TypeRegex) == TypeNone) continue;
      SideLookups::RegexRule compiled{
          &rule, RegexProgram(),
          store.keeps.place == RulePlace::kIncludeDomain};
      const char* refusal = nullptr;
      if (RegexProgram::compile(rule.pattern,
                                static_cast<int>(strlen(rule.pattern)),
                                (rule.options & OptMatchCase) != OptNone,
                                &compiled.program, &refusal)) {
        lookups.regexRules.push_back(std::move(compiled));
      }
    }
  }
  keyRegexRules(&lookups);
  HashSet<Filter>* const hostSet = this->*sideStores(side).hostSet.member;
  if (hostSet == nullptr) return;
  for (uint32_t b = 0; b < hostSet->bucketCount; ++b) {
    for (HashItem<Filter>* item = hostSet->chain(b); item; item = item->next) {
      if ((item->element->options & OptImportant) != OptNone) {
        lookups.importantRules.push_back(item->element);
      }
    }
  }
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
                               int length, SectionFault* fault,
                               std::function<void()>* meanwhile,
                               SectionReadAhead<Filter>* ahead) {
  struct PresenceFiller final : HashSet<Filter>::Visitor {
    PresenceFiller(HostPresence* presence, const HashSet<Filter>* set,
                   std::function<void()>* work)
        : presence(presence), set(set), work(work) {}
    void visit(uint64_t hash) override {
      if (presence == nullptr) return;
      if (presence->set != set) presence->begin(set);  // sized for its buckets
      presence->add(hash);
    }
    bool bringsWork() const override { return work != nullptr && *work; }
    void doWork() override {
      const std::function<void()> done = std::move(*work);
      *work = nullptr;
      done();
    }
    HostPresence* presence;
    const HashSet<Filter>* set;
    std::function<void()>* work;
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
  PresenceFiller filler(presence, *slot, meanwhile);
  const bool loaded = (*slot)->Deserialize(
      text, static_cast<unsigned int>(length),
      presence != nullptr || meanwhile != nullptr ? &filler : nullptr, fault,
      keepsHostRecords(), ahead);
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
