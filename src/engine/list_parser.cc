// TessulClient::parse: a filter list into the engine's stores. Each line is
// parsed twice: a counting pass sizes every rule array exactly, and a filling
// pass files each rule. Both passes file a rule by its class (classifyRule,
// which parseFilter returns), through the store table. The counting pass
// also makes the notes on the list's lines.

#include <cstring>
#include <functional>
#include <set>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "engine/engine_internals.h"
#include "engine/rule_stores.h"
#include "engine/tessul_client.h"
#include "filter/domain_list.h"
#include "filter/filter_parser.h"
#include "filter/list_lines.h"
#include "filter/unknown_options.h"

namespace tessul {

// The rules that the $badfilter rules of a list cancel (compatible mode),
// each as the text of its fields (the badfilter rule's own, without the
// option), and the lines of the list that hold them.
class CancelledRules {
 public:
  // Collects the badfilter rules: only lines that name the option are
  // parsed.
  CancelledRules(const char* input, MatchingMode mode) {
    if (mode != MatchingMode::kCompatible) return;
    static constexpr std::string_view kOption = "badfilter";
    forEachLine(input, [&](const char* start, const char* end) {
      if (std::string_view(start, end - start).find(kOption) ==
          std::string_view::npos) {
        return;
      }
      Filter rule;
      parseFilter(start, end, &rule, nullptr, nullptr, nullptr, nullptr,
                  nullptr, false, nullptr, mode);
      if ((rule.options & OptBadFilter) == OptNone) return;
      rule.options = rule.options & ~OptBadFilter;
      keys_.insert(keyOf(rule));
      patterns_.insert(rule.pattern == nullptr ? "" : rule.pattern);
    });
  }

  // The counting pass tells each rule with its line (from 1, ascending);
  // true when a badfilter rule cancels it.
  bool cancels(const Filter& rule, int line) {
    // Most rules are told apart by their pattern, without a key made.
    if (keys_.empty() || rule.pattern == nullptr ||
        patterns_.find(std::string_view(rule.pattern)) == patterns_.end() ||
        keys_.count(keyOf(rule)) == 0) {
      return false;
    }
    lines_.push_back(line);
    return true;
  }
  // The lines that cancels() found, ascending.
  const std::vector<int>& lines() const { return lines_; }

 private:
  static std::string keyOf(const Filter& rule) {
    auto text = [](const char* t) { return t == nullptr ? "" : t; };
    std::string key = std::to_string(rule.type) + ',' +
                      std::to_string(rule.options) + ',' +
                      std::to_string(rule.negatedOptions) + ',';
    key += text(rule.pattern);
    key += '\0';
    key += text(rule.domainText);
    key += '\0';
    if (rule.tagText != nullptr) key.append(rule.tagText, rule.tagLen);
    return key;
  }

  std::unordered_set<std::string> keys_;
  std::set<std::string, std::less<>> patterns_;  // of the keys
  std::vector<int> lines_;
};

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

// The notes on the lines of one list: to the engine's sink with the line's
// number, or without a sink, to the process-wide report on standard output.
class ListNotes final : public RuleNotes {
 public:
  explicit ListNotes(const NoteSink& sink) : sink_(sink) {}

  void startLine() { ++line_; }
  int line() const { return line_; }

  void unknownOption(std::string_view option) override {
    if (!sink_) {
      unknownOptions.report(std::string(option));
      return;
    }
    sink_(line_, "unrecognised option '" + std::string(option) + "'");
  }

  // Told to the sink alone: exact mode never compiles regex rules, and the
  // report on standard output stays as it was.
  void refusedRegex(std::string_view reason) override {
    if (sink_) sink_(line_, "regex rule dropped: " + std::string(reason));
  }

 private:
  const NoteSink& sink_;
  int line_ = 0;  // of the line being parsed, from 1
};

// The counting pass: no stores are given, so nothing is filed. It makes the
// list's notes, each once, before the engine changes.
Tally countRules(const char* input, const NoteSink& sink, MatchingMode mode,
                 CancelledRules* cancelled) {
  Tally tally;
  ListNotes notes(sink);
  forEachLine(input, [&](const char* start, const char* end) {
    Filter rule;
    notes.startLine();
    const RuleClass kind = parseFilter(start, end, &rule, nullptr, nullptr,
                                       nullptr, nullptr, nullptr, false,
                                       &notes, mode);
    if (cancelled->cancels(rule, notes.line())) return;
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

// Whether test(domain) holds for every domain of a domain-bound rule that
// its array's domain set holds: the entries of its domain text, without a
// leading '~'. An entry of a lone '~' names the empty domain; an empty entry
// names nothing. Tests every domain.
template <typename Visit>
bool everySetDomain(const Filter& filter, Visit visit) {
  bool all = true;
  if (filter.domainText == nullptr) return all;
  forEachListedDomain(
      filter.domainText, [&](const char* domain, int length, bool excluded) {
        if (length >= 1 || excluded) {
          all = visit(NoFingerprintDomain(domain, length)) && all;
        }
      });
  return all;
}

}  // namespace

void AddFilterDomainsToHashSet(Filter* filter,
                               HashSet<NoFingerprintDomain>* set) {
  everySetDomain(*filter, [set](const NoFingerprintDomain& domain) {
    set->Add(domain, true);
    return true;
  });
}

bool hashSetHoldsFilterDomains(const HashSet<NoFingerprintDomain>& set,
                               const Filter& filter) {
  return everySetDomain(filter, [&set](const NoFingerprintDomain& domain) {
    return set.Find(domain) != nullptr;
  });
}

bool TessulClient::parse(const char* input, bool preserveRules) {
  // The notes come first: a sink that throws leaves the engine's rules as
  // they were.
  CancelledRules cancelled(input, mode_);
  const Tally tally = countRules(input, internals_->noteSink, mode_, &cancelled);
  createMissingStores(*this);
  int fill[kRuleStoreCount];
  growRuleArrays(*this, tally, fill);
  fileRules(input, preserveRules, fill, cancelled);
  // Kept rules are written back from their records, which hold no line.
  if (keepsHostRecords() && !preserveRules) {
    for (const SideStores& side : kSides) {
      HashSet<Filter>* set = this->*side.hostSet.member;
      if (set != nullptr) set->KeepAsRecords();
    }
  }
  buildRuleIndexes();
  return true;
}

// The host presence bits follow the rules filed into the host sets, rather
// than walking every set again after the parse.
void TessulClient::fileRules(const char* input, bool preserveRules, int* fill,
                             const CancelledRules& cancelled) {
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
  const int elementHideStore =
      ruleStoreOf({RulePlace::kElementHide, RuleSide::kNone});
  // The parser files as it parses, so cancelled rules are skipped by line.
  const std::vector<int>& skipped = cancelled.lines();
  size_t nextSkipped = 0;
  int line = 0;
  forEachLine(input, [&](const char* start, const char* end) {
    ++line;
    if (nextSkipped < skipped.size() && skipped[nextSkipped] == line) {
      ++nextSkipped;
      return;
    }
    Filter rule;
    const RuleClass kind = parseFilter(
        start, end, &rule, this->*block.fingerprintBloom.member,
        this->*exception.fingerprintBloom.member, this->*block.hostSet.member,
        this->*exception.hostSet.member, &selectors, preserveRules, nullptr,
        mode_);
    if (kind.place == RulePlace::kHostOnly) {
      internals_->lookupsOf(kind.side).hostPresence.add(rule.hash());
      return;
    }
    const int store = ruleStoreOf(kind);
    if (store < 0) {
      keepForHiding(start, end, &rule, fill[elementHideStore]);
      return;
    }
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

// What element hiding needs of a rule that has no store: a page exception,
// or the element-hiding rule of a line too long for the line parser.
void TessulClient::keepForHiding(const char* start, const char* end,
                                 Filter* rule, int32_t elementHidePosition) {
  if (ElementHiding::isPageException(*rule)) {
    internals_->hiding.keepPageException(rule);
    return;
  }
  Filter longRule;
  if (rule->pattern == nullptr &&
      parseLongElementHidingRule(start, end, &longRule)) {
    internals_->hiding.keepLongRule(&longRule, elementHidePosition);
  }
}

}  // namespace tessul
