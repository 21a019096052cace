// The option keywords of the rule syntax ("script", "third-party", "csp=" ...)
// with their FilterOption bits, in one table. The request types among them
// (the keywords of kRequestTypeMask's bits) are also how people name the
// kind of a request: in `tessul check --type` and in request logs.
#ifndef TESSUL_FILTER_OPTION_KEYWORDS_H_
#define TESSUL_FILTER_OPTION_KEYWORDS_H_

#include <optional>
#include <string>
#include <string_view>

#include "filter/filter.h"

namespace tessul {

// Whether the `length` bytes of an option start with `keyword`, as the
// value options ("domain=a.test", "csp=...") do.
bool startsWithKeyword(const char* text, int length, const char* keyword);

// The bit of one option of a rule, as written after '$' or ',' and without
// its '~': the bit of the first keyword in table order that the option is a
// prefix of (an empty option included), or whose value form ("csp=x",
// "redirect=x") it has. OptNone when no keyword fits; "domain=" and "tag="
// are values stored as texts, not keywords.
FilterOption optionKeywordBit(const char* text, int length);

// In compatible mode, the names that uBlock Origin's lists also use, looked
// up before optionKeywordBit and compared whole: "1p", "3p", "xhr", "css",
// "frame", "doc", "all" (every request type), "match-case", "badfilter"
// and the like. OptNone when the option is none of them.
FilterOption compatibleOptionBits(const char* text, int length);

// The keyword that names the option `bit` (one bit) in full, as rule text
// writes it: e.g. "third-party", or "csp=" for a value option, whose value
// no rule keeps. Null for a bit that no keyword names (OptUnknown).
const char* optionKeyword(FilterOption bit);

// The name of compatibleOptionBits for one bit, for the bits that no
// keyword of optionKeyword names (OptMatchCase, OptBadFilter); null for the
// others.
const char* compatibleOptionKeyword(FilterOption bit);

// The request type that `keyword` names, compared exactly (an option prefix
// such as "stylesh" names none); nullopt when it names none.
std::optional<FilterOption> requestTypeOption(std::string_view keyword);

// Every request type keyword, comma-separated, the most common kinds first,
// for help texts and messages.
std::string requestTypeKeywords();

}  // namespace tessul

#endif  // TESSUL_FILTER_OPTION_KEYWORDS_H_
