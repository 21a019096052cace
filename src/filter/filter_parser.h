// parseFilter: one line of a filter list into a Filter, optionally filing
// the rule into the stores of an engine while parsing it.
#ifndef TESSUL_FILTER_FILTER_PARSER_H_
#define TESSUL_FILTER_FILTER_PARSER_H_

#include "filter/filter.h"
#include "filter/rule_class.h"
#include "hashing/hash_set.h"
#include "hashing/set_elements.h"

namespace tessul {

class BloomFilter;
class RuleNotes;

// Parses the characters of [input, end) into `filter`, which must be freshly
// default-constructed. The option list after a '$' runs to the first NUL,
// line feed or carriage return, which must exist at or after `end`; the byte
// at `end` may be read.
//
// Returns the rule's class (classifyRule), which decides where it is filed.
// Stores that are given receive the rule: host-only rules (as copies) go to
// `hostSet`, or to `exceptionHostSet` when the rule is an exception and
// `exceptionBloomFilter` is given; fingerprinted and HTML rules, and
// host-only rules without their host set, add their fingerprint to
// `exceptionBloomFilter` (exceptions) or `bloomFilter`; element-hiding
// selectors without domains go to `cosmeticFilters`, and domain-bound
// element-hiding exceptions remove theirs from it. A rule of no place
// (unsupported options) is filed nowhere. With `preserveRules`, the rule's
// own text is kept in sourceText. Options that no keyword names are told to
// `notes`, when given.
//
// In compatible mode the line is read as MatchingMode (filter.h) says: patterns
// (unless $match-case), anchor hosts and domain lists in lower case; a ||
// host with '*' or a trailing '.' is no host-only rule; a rule may be
// options alone; a regex rule may have options after its closing slash,
// and one that RegexProgram refuses is told to `notes` and gets
// OptUnknown, so the engine drops it.
//
// Lines of more than 2047 characters are abandoned (no pattern, nothing
// filed) unless the scan stops earlier at options, a comment or a regex.
RuleClass parseFilter(const char* input, const char* end, Filter* filter,
                      BloomFilter* bloomFilter = nullptr,
                      BloomFilter* exceptionBloomFilter = nullptr,
                      HashSet<Filter>* hostSet = nullptr,
                      HashSet<Filter>* exceptionHostSet = nullptr,
                      HashSet<CosmeticFilter>* cosmeticFilters = nullptr,
                      bool preserveRules = false, RuleNotes* notes = nullptr,
                      MatchingMode mode = MatchingMode::kExact);

// The same for a NUL-terminated line.
RuleClass parseFilter(const char* input, Filter* filter,
                      BloomFilter* bloomFilter = nullptr,
                      BloomFilter* exceptionBloomFilter = nullptr,
                      HashSet<Filter>* hostSet = nullptr,
                      HashSet<Filter>* exceptionHostSet = nullptr,
                      HashSet<CosmeticFilter>* cosmeticFilters = nullptr,
                      bool preserveRules = false, RuleNotes* notes = nullptr,
                      MatchingMode mode = MatchingMode::kExact);

// An element-hiding rule or exception of a line that parseFilter abandons
// as too long, as the long domain lists of some element-hiding rules are:
// parses [input, end) into `filter` (freshly default-constructed) and
// returns true when the line is longer than parseFilter reads and is a
// domain list followed by ## or #@ and a selector that parseFilter reads
// whole. Otherwise returns false; `filter` may then hold parts of the line.
// Files nothing.
bool parseLongElementHidingRule(const char* input, const char* end,
                                Filter* filter);

}  // namespace tessul

#endif  // TESSUL_FILTER_FILTER_PARSER_H_
