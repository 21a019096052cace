// What a TessulClient keeps beside its stores, out of its public header:
// what matching derives from the stores (rule indexes and host presence
// bits), the index of the element-hiding rules, the scratch space of
// matches(), and the note sink; and the steps
// of parsing and matching that the tests also take one by one.
#ifndef TESSUL_ENGINE_ENGINE_INTERNALS_H_
#define TESSUL_ENGINE_ENGINE_INTERNALS_H_

#include <cstdint>
#include <string>
#include <vector>

#include "engine/element_hiding.h"
#include "engine/rule_index.h"
#include "engine/tessul_client.h"
#include "filter/filter.h"
#include "filter/fingerprint.h"
#include "filter/regex_program.h"
#include "filter/rule_class.h"
#include "hashing/hash_set.h"
#include "hashing/presence_bits.h"
#include "hashing/set_elements.h"

namespace tessul {

// The hashes of the hosts in a host set, so that most lookups are answered
// without walking the set's chains. Its bits are sized to the set's bucket
// count, and made only for a set that exists.
struct HostPresence {
  // Describes `set` (none when null): every host of it is added.
  void build(const HashSet<Filter>* set);
  // Whether it describes `set` as the set is now.
  bool describes(const HashSet<Filter>* hostSet) const {
    return hostSet != nullptr && hostSet == set &&
           hostSet->elementCount == elementCount;
  }
  // Follows rules filed into the set it describes, or read into a new set
  // (begin(set) first): add() the hash of each rule (Filter::hash(), its
  // anchor host's), then settle() once, which builds it again when the
  // set's bucket array grew meanwhile.
  void begin(const HashSet<Filter>* hostSet);
  void add(uint64_t hostHash) { hosts.add(hostHash); }
  void settle();
  // False when no rule is stored under the host or a parent domain of it.
  bool mayHaveRuleFor(const HashSet<Filter>* set, const char* host,
                      int hostLen) const;

  const HashSet<Filter>* set = nullptr;  // the set described
  uint32_t elementCount = 0;             // its size when described
  uint32_t sizedFor = 0;                 // the bucket count of the bits
  PresenceBits hosts;
};

// What one side's matching derives from its stores: indexes of its large
// rule arrays, by fingerprint and, for the rules without fingerprint, by a
// literal run of four bytes; and the presence bits of its host set.
//
// In compatible mode also the side's regex rules, compiled, and on the
// blocking side its important rules (from every array and the host set).
struct SideLookups {
  struct RegexRule {
    Filter* rule;
    RegexProgram program;
    bool includedDomainsOnly;  // kept in the side's included-domain array
  };

  RuleIndex fingerprinted{kFingerprintSize};
  RuleIndex unfingerprinted{4};
  HostPresence hostPresence;
  std::vector<RegexRule> regexRules;
  // regexRules by the literal each one requires, stood in for by borrowed
  // rules whose pattern is that literal, are indexed in `unfingerprinted`
  // after the array's own rules: the regex rule i at the array's count + i.
  // So a request searches only the programs whose literal its URL may hold,
  // and finds them in the pass it makes anyway.
  std::vector<std::string> requiredLiterals;
  std::vector<Filter> literalRules;
  std::vector<Filter*> importantRules;
};

struct TessulClient::Internals {
  Internals() { candidates.reserve(256); }

  // Compatible mode's copies of a request's URL and page host in lower
  // case, and the URL as requested, for the rules that match case. The
  // copies keep their capacity, so that matching allocates only for a URL
  // longer than any before.
  std::string lowerUrl;
  std::string lowerContext;
  const char* caseKeptUrl = nullptr;

  SideLookups& lookupsOf(RuleSide side) {
    return sides[static_cast<int>(side)];
  }
  const SideLookups& lookupsOf(RuleSide side) const {
    return sides[static_cast<int>(side)];
  }

  SideLookups sides[kRuleSideCount];  // indexed by RuleSide
  // Scratch of matches(): the positions of candidate rules, reserved once so
  // that matching allocates nothing.
  std::vector<int> candidates;
  ElementHiding hiding;  // the element-hiding rules, by domain
  NoteSink noteSink;  // empty: the process-wide report on standard output
};

static_assert(TessulClient::kFingerprintSize == kFingerprintSize);

// Files the domains of a domain-bound rule into `set`, as views into the
// rule's own domain text (without a leading '~').
void AddFilterDomainsToHashSet(Filter* filter,
                               HashSet<NoFingerprintDomain>* set);
// Whether `set` holds every domain that AddFilterDomainsToHashSet would file
// for the rule.
bool hashSetHoldsFilterDomains(const HashSet<NoFingerprintDomain>& set,
                               const Filter& filter);

// Whether a lookup in `set` misses for the host and every parent domain of
// it that still contains a '.'. A null set is a hit.
bool isNoFingerprintDomainHashSetMiss(HashSet<NoFingerprintDomain>* set,
                                      const char* host, int hostLen);

// Whether the URL's scheme is one the engine filters: http, https, ws or wss
// (letters in any case), optionally after "blob:", followed by "://".
bool isBlockableProtocol(const char* url, int urlLen);

}  // namespace tessul

#endif  // TESSUL_ENGINE_ENGINE_INTERNALS_H_
