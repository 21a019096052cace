// Where a parsed rule belongs. One decision, classifyRule's, serves both the
// line parser, which files host-only rules and fingerprints while it parses,
// and the engine, which keeps each other rule in the store of its class.
#ifndef TESSUL_FILTER_RULE_CLASS_H_
#define TESSUL_FILTER_RULE_CLASS_H_

#include <cstdint>

#include "filter/filter.h"

namespace tessul {

// The kind of store a rule goes to.
enum class RulePlace : uint8_t {
  // Nowhere: comments, empty lines, lines abandoned as too long, and rules
  // with options the engine cannot honour.
  kNone,
  kElementHide,  // element hiding rules (##) and their exceptions (#@)
  kHtml,         // HTML filtering rules ($$)
  kHostOnly,     // ||host^ with at most options: a host set, keyed by host
  kFingerprinted,
  // Without fingerprint: a domain list of included domains only, one of
  // excluded ('~') domains only, and any other list or none.
  kIncludeDomain,
  kExcludeDomain,
  kUnfingerprinted,
};

// The search of a request that tries the rule.
enum class RuleSide : uint8_t {
  kBlock,
  kException,  // searched only when a blocking rule matched
  kNone,       // never tried: element hiding and HTML rules, and no place
};

// The sides that requests are matched against: kBlock and kException.
constexpr int kRuleSideCount = 2;

struct RuleClass {
  RulePlace place;
  RuleSide side;

  constexpr bool operator==(const RuleClass& other) const {
    return place == other.place && side == other.side;
  }
};

// The class of a rule that parseFilter made. The first test that holds
// decides: unsupported options or no pattern (kNone); element hiding or its
// exception; a comment or an empty line (kNone); HTML; then, on the
// exception side for exception rules and on the blocking side for all
// others: host-only, fingerprinted, included domains only, excluded domains
// only, unfingerprinted.
//
// Not const: the domain tests split the rule's domain list into its domain
// sets. When the rule is fingerprinted and `fingerprint` is given
// (kFingerprintSize + 1 bytes), it receives the fingerprint.
RuleClass classifyRule(Filter& rule, char* fingerprint = nullptr);

}  // namespace tessul

#endif  // TESSUL_FILTER_RULE_CLASS_H_
