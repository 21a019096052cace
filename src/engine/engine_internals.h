// What a TessulClient keeps beside its stores, out of its public header:
// what matching derives from the stores (rule indexes and host presence
// bits), the scratch space of matches(), and the note sink; and the steps
// of parsing and matching that the tests also take one by one.
#ifndef TESSUL_ENGINE_ENGINE_INTERNALS_H_
#define TESSUL_ENGINE_ENGINE_INTERNALS_H_

#include <cstdint>
#include <vector>

#include "engine/rule_index.h"
#include "engine/tessul_client.h"
#include "filter/filter.h"
#include "filter/fingerprint.h"
#include "filter/rule_class.h"
#include "hashing/hash_set.h"
#include "hashing/presence_bits.h"
#include "hashing/set_elements.h"

namespace tessul {

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

struct TessulClient::Internals {
  Internals() { candidates.reserve(256); }

  SideLookups& lookupsOf(RuleSide side) {
    return sides[static_cast<int>(side)];
  }

  SideLookups sides[kRuleSideCount];  // indexed by RuleSide
  // Scratch of matches(): the positions of candidate rules, reserved once so
  // that matching allocates nothing.
  std::vector<int> candidates;
  NoteSink noteSink;  // empty: the process-wide report on standard output
};

static_assert(TessulClient::kFingerprintSize == kFingerprintSize);

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

#endif  // TESSUL_ENGINE_ENGINE_INTERNALS_H_
