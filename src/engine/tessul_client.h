// TessulClient: the filter engine. It parses filter lists (or loads a saved
// engine image), sorts every rule into the store that answers fastest for
// its kind, and answers for each request whether to block it.
//
//   tessul::TessulClient engine;
//   engine.parse(listText);
//   bool blocked = engine.matches("https://ads.example/x.js", tessul::OptScript,
//                                 "news.example");
//
// The engine has no locks: every call on one engine, matches() included,
// must be serialised by the caller. Separate engines may be used on separate
// threads.
#ifndef TESSUL_ENGINE_TESSUL_CLIENT_H_
#define TESSUL_ENGINE_TESSUL_CLIENT_H_

#include <cstddef>
#include <cstdint>
#include <set>
#include <functional>
#include <string>
#include <vector>

#include "engine/rule_index.h"
#include "filter/filter.h"
#include "filter/fingerprint.h"
#include "filter/rule_class.h"
#include "hashing/bloom_filter.h"
#include "hashing/hash_set.h"
#include "hashing/presence_bits.h"
#include "hashing/set_elements.h"

namespace tessul {

struct RuleStore;  // engine/rule_stores.h

class TessulClient {
 public:
  // Bytes of a fingerprint: a run of literal pattern text.
  static constexpr int kFingerprintSize = tessul::kFingerprintSize;

  TessulClient();
  ~TessulClient();

  TessulClient(const TessulClient&) = delete;
  TessulClient& operator=(const TessulClient&) = delete;

  // Adds the rules of a filter list: NUL-terminated text whose lines end at
  // line feeds or carriage returns. Further calls append. With
  // `preserveRules`, each rule keeps its line in Filter::sourceText. Rules
  // with options the engine cannot honour are dropped. Always returns true.
  bool parse(const char* input, bool preserveRules = false);

  // Whether the request is to be blocked: a blocking rule matches and no
  // exception rule does. `contextOptions` gives the request's kind (e.g.
  // OptScript, OptDocument) and may give its party; when it gives no party
  // and `contextDomain` (the host of the page making the request, or null)
  // is given, the party is worked out from the hosts. When given,
  // `matchedFilter` and `matchedExceptionFilter` receive the rules that
  // decided (or null); they stay valid until the next parse, deserialize or
  // clear.
  bool matches(const char* input, FilterOption contextOptions,
               const char* contextDomain, Filter** matchedFilter = nullptr,
               Filter** matchedExceptionFilter = nullptr);

  // The same decision without any of the shortcuts of matches(): every store
  // is searched, and the URL's scheme is not checked. For diagnostics.
  bool findMatchingFilters(const char* input, FilterOption contextOptions,
                           const char* contextDomain, Filter** matchedFilter,
                           Filter** matchedExceptionFilter);

  // Writes the engine image: a new array of *size bytes that the caller
  // releases with delete[]. The two flags leave out the element-hiding and
  // the HTML rules, which request matching never uses. The image code
  // (image/engine_image.cc) implements this and the loads below.
  char* serialize(int* size, bool omitElementHideRules = false,
                  bool omitHtmlRules = false);

  // Replaces the engine's rules with those of an image of `length` bytes.
  // Loaded rules point into the image, which must stay alive and unchanged
  // until the engine is cleared, loads another image, or is destroyed.
  // Every number in the image is checked against its length: a damaged or
  // truncated image fails (returns false) without reading outside it and
  // leaves an engine that is safe to use. An empty image fails.
  bool deserialize(const char* image, size_t length);
  // The same for an image of unknown length. Trusts the image completely:
  // use only on images this library wrote and nobody could have changed.
  bool deserialize(char* image);

  // Releases every rule and store; tags stay enabled.
  void clear();

  // Rules with a tag= option take part in matching only while their tag is
  // enabled. Tags are compared byte for byte and survive clear and loads.
  void addTag(const std::string& tag);
  void removeTag(const std::string& tag);
  bool tagExists(const std::string& tag) const;

  // Bad-fingerprint detection: from now until clear(), every request that a
  // fingerprint Bloom filter lets through in vain records the first window
  // that raised the alarm in badFingerprintTracker.
  void enableBadFingerprintDetection();

  // The fingerprint of a NUL-terminated text, or of a rule: its leftmost
  // run of kFingerprintSize bytes without '*', '^' or '|', without "http" or
  // "www", and not in the bad-fingerprint table. `output`, when given, holds
  // kFingerprintSize + 1 bytes. The same as findFingerprint
  // (filter/fingerprint.h), which the line parser uses.
  static bool getFingerprint(char* output, const char* input) {
    return findFingerprint(output, input);
  }
  static bool getFingerprint(char* output, const Filter& filter) {
    return findFingerprint(output, filter);
  }

  // The first of `count` rules that matches the request and whose tag, if
  // any, is enabled; stored through matchedFilter (null when none).
  bool hasMatchingFilters(Filter* filters, int count, const char* input,
                          int inputLen, FilterOption contextOptions,
                          const char* contextDomain,
                          BloomFilter* inputBloomFilter, const char* inputHost,
                          int inputHostLen, Filter** matchedFilter);
  // False (a hit) when a host-only rule stored under the request's host or
  // one of its parent domains applies; that rule is stored through
  // matchedFilter. A null set is a hit.
  bool isHostAnchoredHashSetMiss(const char* input, int inputLen,
                                 HashSet<Filter>* set, const char* inputHost,
                                 int inputHostLen, FilterOption contextOptions,
                                 const char* contextDomain,
                                 Filter** matchedFilter);

  // Filling the stores from outside, as loading an image does. The stores
  // are the public members below (engine/rule_stores.h lists them).
  //
  // Replaces the Bloom filter in `slot` with a copy of `byteCount` bytes
  // (none when byteCount < 1), hashed with the fingerprint functions.
  void initBloomFilter(BloomFilter** slot, const char* source, int byteCount);
  // Replaces the set in `slot` with one read from an image section of
  // `length` bytes (none when length < 1). False when the section is
  // damaged; the set then holds what was read before the damage.
  bool initHashSet(HashSet<Filter>** slot, const char* text, int length);
  bool initHashSet(HashSet<NoFingerprintDomain>** slot, const char* text,
                   int length);
  // Indexes the rule arrays as they are now, for matching. parse() and
  // deserialize() do it; code that replaces the arrays itself calls it
  // afterwards.
  void buildRuleIndexes();

  // The stores. Every one is listed in engine/rule_stores.h, which the code
  // that clears, fills, searches and saves them walks.
  //
  // Rule arrays, each made with new[] and holding exactly its count.
  Filter* fingerprintedBlockRules = nullptr;
  Filter* elementHideRules = nullptr;  // element hiding and its exceptions
  Filter* htmlRules = nullptr;
  Filter* fingerprintedExceptionRules = nullptr;
  Filter* unfingerprintedBlockRules = nullptr;
  Filter* unfingerprintedExceptionRules = nullptr;
  Filter* includeDomainBlockRules = nullptr;  // only included domains
  Filter* excludeDomainBlockRules = nullptr;  // only excluded domains
  Filter* includeDomainExceptionRules = nullptr;
  Filter* excludeDomainExceptionRules = nullptr;
  int32_t fingerprintedBlockCount = 0;
  int32_t elementHideCount = 0;
  int32_t htmlRuleCount = 0;
  int32_t fingerprintedExceptionCount = 0;
  int32_t unfingerprintedBlockCount = 0;
  int32_t unfingerprintedExceptionCount = 0;
  int32_t includeDomainBlockCount = 0;
  int32_t excludeDomainBlockCount = 0;
  int32_t includeDomainExceptionCount = 0;
  int32_t excludeDomainExceptionCount = 0;
  // Host-only rule lines parsed, including lines whose rule was already
  // stored.
  int32_t hostBlockCount = 0;
  int32_t hostExceptionCount = 0;
  // Fingerprints of the fingerprinted rules of each side.
  BloomFilter* blockFingerprintBloom = nullptr;
  BloomFilter* exceptionFingerprintBloom = nullptr;
  // Host-only rules (||host^ with at most options), keyed by host.
  HashSet<Filter>* hostBlockSet = nullptr;
  HashSet<Filter>* hostExceptionSet = nullptr;
  // Domains named by the rules of the domain-bound arrays (without '~').
  HashSet<NoFingerprintDomain>* includeDomainBlockSet = nullptr;
  HashSet<NoFingerprintDomain>* excludeDomainBlockSet = nullptr;
  HashSet<NoFingerprintDomain>* includeDomainExceptionSet = nullptr;
  HashSet<NoFingerprintDomain>* excludeDomainExceptionSet = nullptr;
  BadFingerprintsHashSet* badFingerprintTracker = nullptr;  // null: off
  // Matching statistics; they wrap around rather than overflow.
  uint32_t blockBloomFalseHits = 0;
  uint32_t exceptionBloomFalseHits = 0;
  uint32_t blockBloomSkips = 0;
  uint32_t exceptionBloomSkips = 0;
  uint32_t blockHostSetSkips = 0;
  uint32_t exceptionHostSetSkips = 0;
  const char* imageBuffer = nullptr;  // the last loaded image; not owned
  std::set<std::string, std::less<>> enabledTags;  // compared byte for byte

 private:
  struct Request;  // one request as matches() sees it

  Request makeRequest(const char* input, int inputLen,
                      FilterOption contextOptions, const char* contextDomain);
  // Whether the rule matches the request and its tag, if any, is enabled.
  bool ruleApplies(Filter& rule, const char* input, int inputLen,
                   FilterOption contextOptions, const char* contextDomain,
                   BloomFilter* inputBloomFilter, const char* inputHost,
                   int inputHostLen) const;
  // Steps of matches() for one side; true when a rule of the side applies.
  template <RuleSide kSide>
  bool searchSide(const Request& request, Filter** matchedFilter);
  // Every store of one side, as findMatchingFilters() searches them.
  template <RuleSide kSide>
  bool searchEveryStore(const Request& request, Filter** matchedFilter);
  // hasMatchingFilters() over every rule of an array, and over the rules of
  // an array that its `index` finds for the URL.
  bool hasMatchingRule(const RuleStore& store, const Request& request,
                       Filter** matchedFilter);
  bool hasMatchingIndexedRule(const RuleStore& store, const RuleIndex& index,
                              const Request& request, Filter** matchedFilter);
  // The filling pass of parse(): every rule of the list into its store,
  // array rules at `fill`, the next position of each rule array.
  void fileRules(const char* input, bool preserveRules, int* fill);

  // The hashes of the hosts in a host set, so that most lookups are answered
  // without walking the set's chains.
  struct HostPresence {
    void build(const HashSet<Filter>* set);
    // Whether it describes `set` as the set is now.
    bool describes(const HashSet<Filter>* hostSet) const {
      return hostSet != nullptr && hostSet == set &&
             hostSet->elementCount == elementCount;
    }
    // Keeps describing the set after rules were filed into it: add() the
    // host of each, then settle() once.
    void add(const Filter& rule);
    void settle() { elementCount = set->elementCount; }
    // False when no rule is stored under the host or a parent domain of it.
    bool mayHaveRuleFor(const HashSet<Filter>* set, const char* host,
                        int hostLen) const;

    const HashSet<Filter>* set = nullptr;  // the set described
    uint32_t elementCount = 0;             // its size when described
    PresenceBits hosts{20};
  };

  // What one side's matching derives from its stores: indexes of its large
  // rule arrays, by fingerprint and, for the rules without fingerprint, by a
  // literal run of four bytes; and the presence bits of its host set.
  struct SideLookups {
    RuleIndex fingerprinted{kFingerprintSize};
    RuleIndex unfingerprinted{4};
    HostPresence hostPresence;
  };
  SideLookups& lookupsOf(RuleSide side) {
    return lookups_[static_cast<int>(side)];
  }

  // Scratch of matches(): the positions of candidate rules, reserved once so
  // that matching allocates nothing.
  std::vector<int> candidates_;
  SideLookups lookups_[kRuleSideCount];  // indexed by RuleSide
};

// Files the domains of a domain-bound rule into `set`, as views into the
// rule's own domain text (without a leading '~').
void AddFilterDomainsToHashSet(Filter* filter,
                               HashSet<NoFingerprintDomain>* set);

// Whether a lookup in `set` misses for the host and every parent domain of
// it that still contains a '.'. A null set is a hit.
bool isNoFingerprintDomainHashSetMiss(HashSet<NoFingerprintDomain>* set,
                                      const char* host, int hostLen);

// Whether the URL's scheme is one the engine filters: http, https, ws or wss
// (letters in any case), optionally after "blob:", followed by "://".
bool isBlockableProtocol(const char* url, int urlLen);

}  // namespace tessul

#endif  // TESSUL_ENGINE_TESSUL_CLIENT_H_
