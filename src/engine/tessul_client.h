// TessulClient: the filter engine. It reads ad- and tracker-blocking filter
// lists (or loads an engine image saved earlier), sorts every rule into the
// store that answers fastest for its kind, and answers for each request
// whether to block it and which rules decided.
//
//   tessul::TessulClient engine;
//   engine.parse(listText);
//   tessul::Filter* rule = nullptr;
//   tessul::Filter* exception = nullptr;
//   bool blocked = engine.matches("https://ads.example/x.js",
//                                 tessul::OptScript, "news.example", &rule,
//                                 &exception);
//   if (rule != nullptr) std::puts(tessul::ruleText(*rule).c_str());
//
// This header, filter/filter.h (the rules and the option bits) and
// tessul_version.h are the library's interface for C++ programs.
//
// Threads: an engine has no locks. Every call on one engine, matches()
// included (it keeps statistics and scratch space), must be serialised by
// the caller. Separate engines may be used on separate threads at once.
//
// Errors: parsing never fails; a rule the engine cannot honour is dropped,
// and a note says why (setNoteSink). Loading a damaged image returns false.
// Nothing throws except allocation failures (std::bad_alloc), and the note
// sink, whose exceptions pass through parse().
//
// Ownership: the engine copies the list text it keeps. Rules loaded from an
// image point into the image bytes, which the caller keeps alive (see
// deserialize). Rules that matches() reports belong to the engine.
#ifndef TESSUL_ENGINE_TESSUL_CLIENT_H_
#define TESSUL_ENGINE_TESSUL_CLIENT_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "filter/filter.h"
#include "tessul_export.h"
#include "tessul_version.h"

namespace tessul {

// The engine's stores and the parts of its matching, known to callers only
// by name (see "The library's own" below).
class BadFingerprintsHashSet;
class BloomFilter;
class CancelledRules;
class NoFingerprintDomain;
class RuleIndex;
template <typename T>
class HashSet;
template <typename T>
class SectionReadAhead;
enum class RuleSide : uint8_t;
struct RuleStore;
struct SectionFault;

// Receives the notes that parse() has about the lines of a list: `line` is
// the line's number in the text given to parse() (from 1; a line ends at a
// line feed or a carriage return, so "\r\n" ends two lines), `message` says
// what became of the line, e.g. "unrecognised option 'frobnicate'" for a
// rule that was dropped for an option no keyword names. `message` is valid
// only during the call.
using NoteSink = std::function<void(int line, std::string_view message)>;

// Which element-hiding selectors TessulClient::hidingSelectors returns.
enum class HidingScope : uint8_t {
  kAll,       // every selector that applies on the page
  kSpecific,  // only those of rules that name a domain the page is under
};

// A style sheet that hides the elements of `selectors`: rules of at most
// kSelectorsPerStyleRule selectors, "a,b,c { display: none !important; }",
// one a line. A selector holding '{' or '}', which would end the rule early
// and let the text after it style the page, is left out. Empty for none.
TESSUL_EXPORT std::string hidingStyleSheet(
    const std::vector<std::string_view>& selectors);
// A selector that the browser cannot read voids the whole rule it is in;
// smaller rules lose less.
constexpr size_t kSelectorsPerStyleRule = 1000;

class TessulClient {
 public:
  // Bytes of a fingerprint: a run of literal pattern text.
  static constexpr int kFingerprintSize = 6;

  // An engine in exact mode.
  TESSUL_EXPORT TessulClient();
  // An engine in `mode` (filter/filter.h) for every list it parses.
  // Loading an image gives the engine the mode the image was made in.
  TESSUL_EXPORT explicit TessulClient(MatchingMode mode);
  TESSUL_EXPORT ~TessulClient();

  TessulClient(const TessulClient&) = delete;
  TessulClient& operator=(const TessulClient&) = delete;

  // Adds the rules of a filter list: NUL-terminated text whose lines end at
  // line feeds or carriage returns. Further calls append. With
  // `preserveRules`, each rule keeps its line in Filter::sourceText. Rules
  // with options the engine cannot honour are dropped. Always returns true.
  TESSUL_EXPORT bool parse(const char* input, bool preserveRules = false);

  // Where the notes of later parse() calls go: one call of `sink` per note,
  // in the order of the lines, on the thread that calls parse(), before
  // parse() changes the engine. The sink must not call this engine. A sink
  // shared by engines on several threads must be safe to call from each.
  //
  // Without a sink (the default, or an empty one), the engine writes the
  // line "Unrecognized filter option: " and the option to standard output
  // the first time any engine of the process meets that option, and says
  // nothing of it again; engines on several threads share that record
  // safely.
  TESSUL_EXPORT void setNoteSink(NoteSink sink);

  // Whether the request is to be blocked: a blocking rule matches and no
  // exception rule does. `input` is the request's URL (NUL-terminated).
  // `contextOptions` gives the request's kind (e.g. OptScript, OptDocument)
  // and may give its party; when it gives no party and `contextDomain` (the
  // host of the page making the request, or null) is given, the party is
  // worked out from the hosts. When given, `matchedFilter` and
  // `matchedExceptionFilter` receive the rules that decided (or null); they
  // stay valid until the next parse, deserialize or clear, and ruleText()
  // writes them as list text.
  TESSUL_EXPORT bool matches(const char* input, FilterOption contextOptions,
                             const char* contextDomain,
                             Filter** matchedFilter = nullptr,
                             Filter** matchedExceptionFilter = nullptr);

  // The same decision without any of the shortcuts of matches(): every store
  // is searched, and the URL's scheme is not checked. For diagnostics.
  TESSUL_EXPORT bool findMatchingFilters(const char* input,
                                         FilterOption contextOptions,
                                         const char* contextDomain,
                                         Filter** matchedFilter,
                                         Filter** matchedExceptionFilter);

  // The element-hiding selectors that apply on a page, each once, in the
  // order of the lists; `page` is the page's URL, or a host, which stands
  // for https://HOST/. With HidingScope::kSpecific, only the selectors of
  // rules that name a domain the page is or is under, which apps add to
  // the generic ones (rules that name no domain, or excluded ones only).
  //
  // A rule D##S applies when D names no domain, or the page's host is or is
  // under a domain of D and under none of its excluded ('~') domains; "a.*"
  // names a under any public suffix. An exception D#@#S that applies the
  // same way cancels S on the page. An exception rule with $elemhide that
  // matches the page's URL as a document request leaves nothing; one with
  // $generichide leaves only the rules that name a domain. Rules that hide
  // nothing (##+js(...), ##^..., the exceptions of #?#, #$# and #%# rules)
  // are never returned.
  //
  // The views point into the engine's rules and stay valid until the next
  // parse, deserialize or clear. An engine whose image left out the
  // element-hiding rules (serialize's omitElementHideRules) returns none.
  // Images carry neither the $elemhide and $generichide rules (request
  // matching drops them) nor the element-hiding rules of lines longer than
  // 2047 characters (the stores have no room for them): only engines that
  // parsed the lists have those.
  TESSUL_EXPORT std::vector<std::string_view> hidingSelectors(
      std::string_view page, HidingScope scope = HidingScope::kAll);

  // Writes the engine image: a new array of *size bytes that the caller
  // releases with delete[]. The two flags leave out the element-hiding and
  // the HTML rules, which request matching never uses.
  TESSUL_EXPORT char* serialize(int* size, bool omitElementHideRules = false,
                                bool omitHtmlRules = false);

  // Replaces the engine's rules with those of an image of `length` bytes.
  // Loaded rules point into the image, which must stay alive and unchanged
  // until the engine is cleared, loads another image, or is destroyed.
  //
  // The image is accepted only when it is whole: exactly what serialize()
  // writes, every count, length and section in agreement (see
  // image/engine_image.cc for the checks). Otherwise (a damaged, truncated,
  // extended or empty image) deserialize() returns false without reading
  // outside the image, leaves the engine exactly as it was, rules and
  // earlier image included, and, when `error` is not null, stores the reason
  // in *error: the part of the image and the check it failed, e.g.
  // "hostBlockSet: an element lies outside the bucket of its hash (at byte
  // 5321)". Images carry no
  // checksum: a changed byte inside a rule's own text loads as that rule.
  //
  // A load that succeeds replaces every rule and store, sets the matching
  // statistics to 0 and ends bad-fingerprint detection, as clear() does;
  // enabled tags stay. On a machine of several cores, most of a large
  // image's host rules are read on a second thread while this one reads the
  // rest and checks the fingerprints: the call starts that thread and ends
  // it before it returns.
  TESSUL_EXPORT bool deserialize(const char* image, size_t length,
                                 std::string* error = nullptr);
  // The same for an image of unknown length, which it trusts to be whole:
  // it reads as far as the image's own numbers say, so an image that is
  // not whole can make it read past its end. Use it only on images that
  // this library wrote and nobody could have changed.
  TESSUL_EXPORT bool deserialize(char* image);

  // Releases every rule and store; tags, the note sink and the matching
  // mode stay.
  TESSUL_EXPORT void clear();

  MatchingMode matchingMode() const { return mode_; }

  // Rules with a tag= option take part in matching only while their tag is
  // enabled. Tags are compared byte for byte and survive clear and loads.
  TESSUL_EXPORT void addTag(const std::string& tag);
  TESSUL_EXPORT void removeTag(const std::string& tag);
  TESSUL_EXPORT bool tagExists(const std::string& tag) const;

  // Bad-fingerprint detection, for the tools that tune the built-in table:
  // from now until clear(), every request that a fingerprint Bloom filter
  // lets through in vain records the first window that raised the alarm in
  // badFingerprintTracker.
  TESSUL_EXPORT void enableBadFingerprintDetection();

  // Matching statistics, counted by matches(); they wrap around rather than
  // overflow, and clear() zeroes them. A Bloom filter's false hit is a
  // request that its fingerprints let through and no fingerprinted rule
  // matched; a skip, a request answered without the rules behind it.
  uint32_t blockBloomFalseHits = 0;
  uint32_t exceptionBloomFalseHits = 0;
  uint32_t blockBloomSkips = 0;
  uint32_t exceptionBloomSkips = 0;
  uint32_t blockHostSetSkips = 0;
  uint32_t exceptionHostSetSkips = 0;

  // --- The library's own. ---
  //
  // The rest serves the library's own code (list parsing, the image code,
  // the tests) and is not exported from the shared library: the stores'
  // types are not part of the interface.

  // The fingerprint of a NUL-terminated text, or of a rule: its leftmost
  // run of kFingerprintSize bytes without '*', '^' or '|', without "http" or
  // "www", and not in the bad-fingerprint table. `output`, when given, holds
  // kFingerprintSize + 1 bytes. The same as findFingerprint
  // (filter/fingerprint.h), which the line parser uses.
  static bool getFingerprint(char* output, const char* input);
  static bool getFingerprint(char* output, const Filter& filter);

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
  // are the members below (engine/rule_stores.h lists them).
  //
  // Replaces the Bloom filter in `slot` with a copy of `byteCount` bytes
  // (none when byteCount < 1), hashed with the fingerprint functions.
  void initBloomFilter(BloomFilter** slot, const char* source, int byteCount);
  // Replaces the set in `slot` with one read from an image section of
  // exactly `length` bytes (none when length < 1). False when the section
  // is damaged; the set then holds what was read before the damage, and
  // *fault (when given) tells why. `meanwhile`, when given, is work that the
  // reading may do while a second thread reads part of the section; it
  // clears `meanwhile` when it did. `ahead`, when given, may have started
  // reading that part already (HashSet::Deserialize).
  bool initHashSet(HashSet<Filter>** slot, const char* text, int length,
                   SectionFault* fault = nullptr,
                   std::function<void()>* meanwhile = nullptr,
                   SectionReadAhead<Filter>* ahead = nullptr);
  bool initHashSet(HashSet<NoFingerprintDomain>** slot, const char* text,
                   int length, SectionFault* fault = nullptr);
  // Indexes the rule arrays as they are now, for matching. parse() and
  // deserialize() do it; code that replaces the arrays itself calls it
  // afterwards.
  void buildRuleIndexes();
  // The index of one side's fingerprinted rules by fingerprint, as the last
  // buildRuleIndexes() made it.
  const RuleIndex& fingerprintIndex(RuleSide side) const;
  // Exchanges every store and count (the ones engine/rule_stores.h lists)
  // and what matching derives from them with `other`. Tags, statistics,
  // bad-fingerprint detection and imageBuffer stay with each engine.
  // deserialize() loads into a new engine and takes its stores this way.
  void swapStores(TessulClient* other);
  // The mode of the rules that an image holds, set by the image loader
  // before it indexes them.
  void setImageMatchingMode(MatchingMode mode) { mode_ = mode; }

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
  const char* imageBuffer = nullptr;  // the last loaded image; not owned
  std::set<std::string, std::less<>> enabledTags;  // compared byte for byte

 private:
  struct Request;    // one request as matches() sees it
  struct Internals;  // engine/engine_internals.h

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
  // Compatible mode's tables of one side, made by buildRuleIndexes.
  void collectCompatibleRules(RuleSide side);
  // Whether the host sets keep their rules as image records, made into
  // rules when a lookup finds their host (HashSet::KeepAsRecords). Exact
  // mode only: compatible mode's tables point at every important host rule.
  bool keepsHostRecords() const { return mode_ == MatchingMode::kExact; }
  // Compatible mode: the regex rules of one side, and the important
  // blocking rules, which exceptions do not cancel.
  // The regex rules at `count` `positions`, or all when positions is null.
  bool hasMatchingRegexRule(RuleSide side, const Request& request,
                            bool pageListed, const int* positions, int count,
                            Filter** matchedFilter);
  bool hasMatchingRegexCandidate(RuleSide side, const Request& request,
                                 bool pageListed, Filter** matchedFilter);
  Filter* findImportantRule(const Request& request);
  // Compatible mode's decision once a blocking rule matched.
  bool survivesExceptions(const Request& request, Filter** matchedFilter,
                          Filter** matchedExceptionFilter);
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
  // array rules at `fill`, the next position of each rule array; not the
  // rules that the list's badfilter rules cancel.
  void fileRules(const char* input, bool preserveRules, int* fill,
                 const CancelledRules& cancelled);
  // Hands element hiding a rule of the line [start, end) that has no store;
  // the element-hiding array's next position is `elementHidePosition`.
  void keepForHiding(const char* start, const char* end, Filter* rule,
                     int32_t elementHidePosition);

  // What matching derives from the stores (rule indexes, host presence
  // bits), its scratch space, and the note sink.
  const std::unique_ptr<Internals> internals_;
  MatchingMode mode_ = MatchingMode::kExact;
};

}  // namespace tessul

#endif  // TESSUL_ENGINE_TESSUL_CLIENT_H_
