// TessulClient::parse: a filter list into the engine's stores. Each line is
// parsed twice: a counting pass sizes every rule array exactly, and a filling
// pass files each rule.

#include <cstring>
#include <utility>

#include "engine/tessul_client.h"
#include "filter/domain_list.h"
#include "filter/filter_parser.h"
#include "filter/list_lines.h"

namespace tessul {

namespace {

// Where a parsed rule is kept.
enum Store {
  kFingerprintedBlock,
  kElementHide,
  kHtml,
  kFingerprintedException,
  kUnfingerprintedBlock,
  kUnfingerprintedException,
  kIncludeDomainBlock,
  kExcludeDomainBlock,
  kIncludeDomainException,
  kExcludeDomainException,
  kArrayStoreCount,  // the stores above are rule arrays
  kHostBlock = kArrayStoreCount,
  kHostException,
  kDropped,
  kStoreCount,
};

struct ArrayFields {
  Filter* TessulClient::*rules;
  int32_t TessulClient::*count;
  HashSet<NoFingerprintDomain>* TessulClient::*domains;  // domain-bound only
};

// Indexed by Store.
constexpr ArrayFields kArrayFields[kArrayStoreCount] = {
    {&TessulClient::fingerprintedBlockRules,
     &TessulClient::fingerprintedBlockCount, nullptr},
    {&TessulClient::elementHideRules, &TessulClient::elementHideCount, nullptr},
    {&TessulClient::htmlRules, &TessulClient::htmlRuleCount, nullptr},
    {&TessulClient::fingerprintedExceptionRules,
     &TessulClient::fingerprintedExceptionCount, nullptr},
    {&TessulClient::unfingerprintedBlockRules,
     &TessulClient::unfingerprintedBlockCount, nullptr},
    {&TessulClient::unfingerprintedExceptionRules,
     &TessulClient::unfingerprintedExceptionCount, nullptr},
    {&TessulClient::includeDomainBlockRules,
     &TessulClient::includeDomainBlockCount,
     &TessulClient::includeDomainBlockSet},
    {&TessulClient::excludeDomainBlockRules,
     &TessulClient::excludeDomainBlockCount,
     &TessulClient::excludeDomainBlockSet},
    {&TessulClient::includeDomainExceptionRules,
     &TessulClient::includeDomainExceptionCount,
     &TessulClient::includeDomainExceptionSet},
    {&TessulClient::excludeDomainExceptionRules,
     &TessulClient::excludeDomainExceptionCount,
     &TessulClient::excludeDomainExceptionSet},
};

// The store of one side: blocking (exception false) or exception rules.
Store sideStore(Filter& rule, bool exception) {
  if ((rule.type & TypeHostOnly) != TypeNone) {
    return exception ? kHostException : kHostBlock;
  }
  if (TessulClient::getFingerprint(nullptr, rule)) {
    return exception ? kFingerprintedException : kFingerprintedBlock;
  }
  if (rule.isDomainOnlyFilter()) {
    return exception ? kIncludeDomainException : kIncludeDomainBlock;
  }
  if (rule.isAntiDomainOnlyFilter()) {
    return exception ? kExcludeDomainException : kExcludeDomainBlock;
  }
  return exception ? kUnfingerprintedException : kUnfingerprintedBlock;
}

Store classify(Filter& rule) {
  if (rule.hasUnsupportedOptions()) return kDropped;
  // A line the parser abandoned (too long) has no pattern and never
  // matches. An image could not tell it from a rule whose pattern is empty,
  // which matches every request its options allow.
  if (rule.pattern == nullptr) return kDropped;
  const FilterType kind =
      rule.type & static_cast<FilterType>(
                      TypeElementHide | TypeElementHideException |
                      TypeComment | TypeException | TypeEmpty | TypeHtmlRule);
  switch (kind) {
    case TypeElementHide:
    case TypeElementHideException:
      return kElementHide;
    case TypeComment:
    case TypeEmpty:
      return kDropped;
    case TypeException:
      return sideStore(rule, true);
    case TypeHtmlRule:
      return kHtml;
    default:
      return sideStore(rule, false);
  }
}

}  // namespace

void AddFilterDomainsToHashSet(Filter* filter,
                               HashSet<NoFingerprintDomain>* set) {
  if (filter->domainText == nullptr) return;
  // An entry of a lone '~' names the empty domain; an empty entry nothing.
  forEachListedDomain(filter->domainText, [set](const char* domain,
                                                int length, bool excluded) {
    if (length >= 1 || excluded) {
      set->Add(NoFingerprintDomain(domain, length), true);
    }
  });
}

bool TessulClient::parse(const char* input, bool preserveRules) {
  if (blockFingerprintBloom == nullptr) {
    blockFingerprintBloom = new BloomFilter(15, 80000, fingerprintHashFns,
                                            kFingerprintHashFnCount);
  }
  if (exceptionFingerprintBloom == nullptr) {
    exceptionFingerprintBloom = new BloomFilter(10, 20000, fingerprintHashFns,
                                                kFingerprintHashFnCount);
  }
  // Host sets keep every distinct host-only rule of a host, so they allow
  // duplicates; domain sets keep each domain once.
  struct NewSet {
    HashSet<Filter>** hostSet;
    HashSet<NoFingerprintDomain>** domainSet;
    unsigned int buckets;
  };
  for (const NewSet& store : {NewSet{&hostBlockSet, nullptr, 18000},
                              NewSet{&hostExceptionSet, nullptr, 2000},
                              NewSet{nullptr, &includeDomainBlockSet, 1000},
                              NewSet{nullptr, &excludeDomainBlockSet, 100},
                              NewSet{nullptr, &includeDomainExceptionSet, 1000},
                              NewSet{nullptr, &excludeDomainExceptionSet, 100}}) {
    if (store.hostSet != nullptr && *store.hostSet == nullptr) {
      *store.hostSet = new HashSet<Filter>(/*allowDuplicates=*/true);
      (*store.hostSet)->Init(store.buckets);
    }
    // A set loaded from an image that says otherwise is about to hold
    // several rules of a host too, and its next image must say so.
    if (store.hostSet != nullptr) (*store.hostSet)->allowDuplicates = true;
    if (store.domainSet != nullptr && *store.domainSet == nullptr) {
      *store.domainSet = new HashSet<NoFingerprintDomain>(false);
      (*store.domainSet)->Init(store.buckets);
    }
  }

  int tally[kStoreCount] = {};
  forEachLine(input, [&](const char* start, const char* end) {
    Filter rule;
    parseFilter(start, end, &rule);
    ++tally[classify(rule)];
  });

  // Each array is made once at its final size; the rules it held move over
  // by exchanging fields, keeping their borrowed flag.
  int fill[kArrayStoreCount];
  for (int store = 0; store < kArrayStoreCount; ++store) {
    Filter*& rules = this->*kArrayFields[store].rules;
    int32_t& count = this->*kArrayFields[store].count;
    Filter* grown = new Filter[count + tally[store]];
    for (int i = 0; i < count; ++i) {
      grown[i].swapData(&rules[i]);
      grown[i].isBorrowed = rules[i].isBorrowed;
    }
    setFilterBorrowedMemory(rules, count);
    delete[] rules;
    rules = grown;
    fill[store] = count;
    count += tally[store];
  }
  hostBlockCount += tally[kHostBlock];
  hostExceptionCount += tally[kHostException];

  // The host presence bits follow the rules filed into the host sets,
  // rather than walking every set again after the parse.
  for (auto [presence, set] : {std::pair{&hostBlockPresence_, hostBlockSet},
                               {&hostExceptionPresence_, hostExceptionSet}}) {
    if (!presence->describes(set)) presence->build(set);
  }

  HashSet<CosmeticFilter> selectors;
  selectors.Init(1000);
  forEachLine(input, [&](const char* start, const char* end) {
    Filter rule;
    parseFilter(start, end, &rule, blockFingerprintBloom,
                exceptionFingerprintBloom, hostBlockSet, hostExceptionSet,
                &selectors, preserveRules);
    const Store store = classify(rule);
    if (store == kHostBlock) hostBlockPresence_.add(rule);
    if (store == kHostException) hostExceptionPresence_.add(rule);
    if (store >= kArrayStoreCount) return;
    const ArrayFields& fields = kArrayFields[store];
    if (fields.domains != nullptr) {
      AddFilterDomainsToHashSet(&rule, this->*fields.domains);
    }
    (this->*fields.rules)[fill[store]++].swapData(&rule);
  });
  hostBlockPresence_.settle();
  hostExceptionPresence_.settle();
  buildRuleIndexes();
  return true;
}

}  // namespace tessul
