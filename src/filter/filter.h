// Filter: the in-memory form of one line of a filter list, with the bit sets
// that describe a rule's kind (FilterType) and its options (FilterOption).
// FilterOption also describes requests: their resource type and party.
//
// Part of the library's interface: callers read the rules that
// TessulClient::matches reports and write them as list text (ruleText).
#ifndef TESSUL_FILTER_FILTER_H_
#define TESSUL_FILTER_FILTER_H_

#include <cstdint>
#include <string>
#include <type_traits>

#include "tessul_export.h"

namespace tessul {

class BloomFilter;
class RuleNotes;
struct ContextDomain;
template <typename T>
class HashSet;

// How an engine reads its lists and decides requests. An engine is made in
// one mode (TessulClient), and an engine image records the mode it was
// made in.
enum class MatchingMode : uint8_t {
  // The rules as the engine's own syntax defines them, byte for byte: the
  // default, which saved images and callers rely on.
  kExact = 0,
  // The rules as list authors mean them and mainstream blockers read them:
  // ASCII letter case ignored unless $match-case, the party by registrable
  // domain, '*' and a trailing '.' in a || host, '^' as a separator
  // wherever it stands, rules made of options only, domain= rules only on
  // requests from a page, regex rules (options after the closing slash
  // included), uBlock Origin's option names, $important and $badfilter.
  kCompatible = 1,
};

enum FilterType : uint32_t {
  TypeNone = 0,  // a plain blocking URL rule
  TypeRegex = 0x1,
  TypeElementHide = 0x2,
  TypeElementHideException = 0x4,
  TypeHostAnchor = 0x8,
  TypeLeftAnchor = 0x10,
  TypeRightAnchor = 0x20,
  TypeComment = 0x40,
  TypeException = 0x80,
  TypeEmpty = 0x100,
  TypeHostOnly = 0x200,
  TypeHtmlRule = 0x400,
};

enum FilterOption : uint32_t {
  OptNone = 0,
  OptScript = 0x1,
  OptImage = 0x2,
  OptStylesheet = 0x4,
  OptObject = 0x8,
  OptXmlHttpRequest = 0x10,
  OptObjectSubrequest = 0x20,
  OptSubdocument = 0x40,
  OptDocument = 0x80,
  OptOther = 0x100,
  OptXbl = 0x200,
  OptCollapse = 0x400,
  OptDoNotTrack = 0x800,
  OptElemHide = 0x1000,
  OptThirdParty = 0x2000,
  OptFirstParty = 0x4000,
  OptPing = 0x8000,
  OptPopup = 0x10000,
  OptRedirect = 0x20000,
  OptCsp = 0x40000,
  OptFont = 0x80000,
  OptMedia = 0x100000,
  OptWebRtc = 0x200000,
  OptGenericHide = 0x400000,
  OptGenericBlock = 0x800000,
  OptEmpty = 0x1000000,
  OptWebSocket = 0x2000000,
  OptImportant = 0x4000000,
  OptExplicitCancel = 0x8000000,
  // Compatible mode only: the pattern keeps its letter case, and the rule
  // cancels the rule it names (never kept itself).
  OptMatchCase = 0x10000000,
  OptUnknown = 0x20000000,
  OptBadFilter = 0x40000000,
};

// Bit operators for the two bit-set enums.
template <typename E>
struct IsFilterBitSet
    : std::bool_constant<std::is_same_v<E, FilterType> ||
                         std::is_same_v<E, FilterOption>> {};

template <typename E, typename = std::enable_if_t<IsFilterBitSet<E>::value>>
constexpr E operator|(E a, E b) {
  return static_cast<E>(static_cast<uint32_t>(a) | static_cast<uint32_t>(b));
}
template <typename E, typename = std::enable_if_t<IsFilterBitSet<E>::value>>
constexpr E operator&(E a, E b) {
  return static_cast<E>(static_cast<uint32_t>(a) & static_cast<uint32_t>(b));
}
template <typename E, typename = std::enable_if_t<IsFilterBitSet<E>::value>>
constexpr E& operator|=(E& a, E b) {
  return a = a | b;
}
template <typename E, typename = std::enable_if_t<IsFilterBitSet<E>::value>>
constexpr E operator~(E a) {
  return static_cast<E>(~static_cast<uint32_t>(a));
}

// The kinds of resource a request can be.
constexpr FilterOption kRequestTypeMask =
    OptScript | OptImage | OptStylesheet | OptObject | OptXmlHttpRequest |
    OptObjectSubrequest | OptSubdocument | OptDocument | OptOther | OptXbl |
    OptPing | OptFont | OptMedia | OptWebRtc | OptWebSocket;
static_assert(kRequestTypeMask == 0x023883FF);

// Options the engine cannot honour; a rule with any of them never matches.
constexpr FilterOption kUnsupportedMask = OptElemHide | OptPopup | OptCsp |
                                          OptGenericHide | OptGenericBlock |
                                          OptEmpty | OptUnknown |
                                          OptBadFilter;
static_assert(kUnsupportedMask == 0x61C51000);

// Options that restrict which requests a rule applies to: every bit but
// the party bits and the options that are only recorded or say how the
// pattern compares.
constexpr FilterOption kRestrictingMask =
    ~(OptThirdParty | OptFirstParty | OptRedirect | OptImportant |
      OptExplicitCancel | OptMatchCase);
static_assert(kRestrictingMask == 0xE3FD9FFF);

// A rule. An owning filter (made by the parser) frees its five texts; a
// borrowed one (loaded from an engine image, or a lookup key built around a
// request) points into memory that someone else keeps alive. The domain sets
// are always owned.
//
// Not thread-safe: matching stores the measured pattern length and builds the
// domain sets on first use.
//
// Callers of the shared library read the fields, copy and destroy rules;
// the other member functions serve the library's own code (the parser,
// matching, the image) and are not exported from it.
class Filter {
 public:
  // An empty owning filter, ready for the parser.
  Filter() = default;
  // A borrowed filter over the given texts; used as a host-set lookup key.
  Filter(const char* pattern, int patternLen, const char* domainText,
         const char* anchorHost, int anchorHostLen, const char* tagText,
         int tagLen);
  Filter(FilterType type, FilterOption options, FilterOption negatedOptions,
         const char* pattern, int patternLen, const char* domainText,
         const char* anchorHost, int anchorHostLen, const char* tagText,
         int tagLen);
  // A borrowed source is shared, an owning one deep-copied. The copy starts
  // without domain sets and knows its pattern and anchor host lengths.
  TESSUL_EXPORT Filter(const Filter& other);
  Filter& operator=(const Filter&) = delete;
  TESSUL_EXPORT ~Filter();

  // Exchanges every field except isBorrowed, which both keep. Moves parsed
  // rules into rule arrays without copying their texts.
  void swapData(Filter* other);

  // Host sets key rules by anchor host: hash() covers the anchor host (the
  // pattern when the anchor host is absent or empty), and operator==
  // compares anchor hosts only.
  uint64_t hash() const;
  bool operator==(const Filter& other) const;
  // Whether the two filters are the same rule: type, options, pattern,
  // domain text and tag all equal.
  bool isSameRule(const Filter& other) const;

  // Domain queries; the first one splits domainText into the domain sets.
  int getDomainCount(bool excluded);
  bool isDomainOnlyFilter();      // included domains only
  bool isAntiDomainOnlyFilter();  // excluded domains only
  bool hasUnsupportedOptions() const;

  // Option parsing (filter_options.cc). `text` runs to the first NUL, line
  // feed or carriage return. Options that no keyword names are told to
  // `notes`, when given. Compatible mode also knows the names of
  // compatibleOptionBits.
  void parseOptions(const char* text, RuleNotes* notes = nullptr,
                    MatchingMode mode = MatchingMode::kExact);
  void parseOption(const char* text, int length, RuleNotes* notes = nullptr,
                   MatchingMode mode = MatchingMode::kExact);
  void parseDomains(const char* text);

  // Whether the rule matches a request (filter_matching.cc). `inputHost`
  // may be given (with its length) to spare a getUrlHost; `inputBloomFilter`
  // holds the URL's adjacent byte pairs and only serves to reject early.
  bool matches(const char* input, int inputLen, FilterOption contextOptions,
               const char* contextDomain, BloomFilter* inputBloomFilter,
               const char* inputHost, int inputHostLen);
  bool matches(const char* input, FilterOption contextOptions,
               const char* contextDomain, BloomFilter* inputBloomFilter,
               const char* inputHost, int inputHostLen);
  bool matchesOptions(const char* input, FilterOption contextOptions,
                      const char* contextDomain);
  bool contextDomainMatchesFilter(const char* contextDomain);

  // Whether the rule matches a request as compatible mode reads rules
  // (compatible_matching.cc): `input` is the URL with its letters in lower
  // case, `caseKeptInput` the URL as requested (for $match-case rules), of
  // the same length; `inputHost` lies in `input`, and `contextDomain` is in
  // lower case or null for a request without a page. Regex rules never
  // match here: the engine keeps their compiled programs.
  bool matchesCompatibly(const char* input, const char* caseKeptInput,
                         int inputLen, FilterOption contextOptions,
                         const char* contextDomain, const char* inputHost,
                         int inputHostLen);
  // The two tests of matchesCompatibly besides the pattern, for the regex
  // rules, whose pattern the engine tests: the option bits (cheap, first)
  // and the domain list.
  bool matchesOptionBits(FilterOption contextOptions) const;
  bool matchesDomainsCompatibly(const char* contextDomain);
  bool containsDomain(const char* domain, unsigned int domainLen,
                      bool excluded) const;

  // The engine image's set filter record (image/record_encoding.cc).
  // Serialize returns the record length and writes it when `buffer` is not
  // null (a zero-filled buffer). Deserialize reads at most `limit` bytes,
  // borrows the texts and returns the bytes consumed, 0 when damaged.
  int Serialize(char* buffer) const;
  unsigned int Deserialize(const char* text, unsigned int limit);

  // The fields are ordered so that no padding separates them: host sets
  // hold a Filter for every host-only rule.
  FilterType type = TypeNone;
  FilterOption options = OptNone;
  FilterOption negatedOptions = OptNone;  // options written with a leading ~
  int32_t patternLen = -1;                // -1: not measured yet
  const char* sourceText = nullptr;       // the whole rule line, if preserved
  const char* pattern = nullptr;          // anchors and @@ removed
  const char* domainText = nullptr;       // domain= value or ##/$$ prefix
  const char* tagText = nullptr;          // tag= value, not terminated
  const char* anchorHost = nullptr;       // the host after a leading ||
  HashSet<ContextDomain>* includedDomains = nullptr;
  HashSet<ContextDomain>* excludedDomains = nullptr;
  int32_t tagLen = 0;
  int32_t anchorHostLen = -1;  // -1: not measured yet
  bool isBorrowed = false;
  bool domainsReady = false;

 private:
  // The parts of matches() besides the option bits and party: the pattern,
  // and the domain list.
  bool matchesPattern(const char* input, int inputLen,
                      BloomFilter* inputBloomFilter, const char* inputHost,
                      int inputHostLen);
  bool matchesDomainList(const char* contextDomain);
  int measuredAnchorHostLen() const;
  bool matchesAnchoredHost(const char* input, BloomFilter* inputBloomFilter,
                           const char* inputHost, int inputHostLen);
  bool matchesSegments(const char* input, int inputLen,
                       BloomFilter* inputBloomFilter) const;
  bool matchesPatternCompatibly(const char* input, int inputLen,
                                int hostStart, int hostLen) const;
};

// The rule as a line of a filter list. A rule that kept its line (parsed
// with preserveRules) gives that line, without leading blanks; any other
// (parsed without, or loaded from an engine image) is written from its
// fields: "@@" for an exception, the anchors "||" or "|", the pattern, a
// closing "|", and after a '$' its options by their full keywords ('~' for
// negated ones), "domain=" and "tag="; element hiding as "domains##selector"
// or "domains#@#selector", HTML rules as "domains$$body", regex rules as
// "/body/". Parsing the text gives the same rule again. An option that no
// keyword names is left out: such rules are dropped by the engine.
TESSUL_EXPORT std::string ruleText(const Filter& rule);

// Host sets compare anchor hosts only: two rules without a host are equal
// whatever their patterns, which their hashes cover. A rule with a host
// equals only rules of that host, which hash alike (see HashSet).
inline bool equalOnesHashAlike(const Filter& rule) {
  return rule.anchorHost != nullptr && rule.anchorHostLen != 0 &&
         (rule.anchorHostLen > 0 || rule.anchorHost[0] != '\0');
}

// Marks `count` consecutive filters borrowed, so that destroying them frees
// no text.
void setFilterBorrowedMemory(Filter* filters, int count);

}  // namespace tessul

#endif  // TESSUL_FILTER_FILTER_H_
