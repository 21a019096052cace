// TessulClient::matches: cheap tests first (scheme, domain sets, Bloom
// filter, host sets), full rule matching only for what survives them.

#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "engine/engine_internals.h"
#include "engine/rule_stores.h"
#include "engine/tessul_client.h"
#include "filter/fingerprint.h"
#include "filter/public_suffix.h"
#include "filter/url_text.h"
#include "hashing/domain_suffixes.h"

namespace tessul {

namespace {

// The `length` bytes of text (NUL-terminated) with ASCII letters in lower
// case: the text itself when it has no upper-case letter, as most URLs and
// hosts have none, else a copy in *out, which keeps its capacity from call
// to call.
const char* lowerCased(const char* text, int length, std::string* out) {
  auto isUpper = [](char c) { return c >= 'A' && c <= 'Z'; };
  const char* const end = text + length;
  const char* const firstUpper = std::find_if(text, end, isUpper);
  if (firstUpper == end) return text;
  out->assign(text, length);
  for (auto c = out->begin() + (firstUpper - text); c != out->end(); ++c) {
    if (isUpper(*c)) *c = static_cast<char>(*c | 0x20);
  }
  return out->c_str();
}

bool matchesLiteral(const char* text, const char* literal, int length,
                    bool ignoreCase) {
  for (int i = 0; i < length; ++i) {
    char c = text[i];
    if (ignoreCase && c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != literal[i]) return false;
  }
  return true;
}

}  // namespace

bool isBlockableProtocol(const char* url, int urlLen) {
  if (urlLen <= 5) return false;
  int position = 0;
  // Consumes `literal` at the current position; false when it is not there
  // or when the URL would end within or right after it.
  auto consume = [&](const char* literal, int length, bool ignoreCase) {
    if (position + length >= urlLen ||
        !matchesLiteral(url + position, literal, length, ignoreCase)) {
      return false;
    }
    position += length;
    return true;
  };
  auto lower = [&]() { return url[position] | 0x20; };
  if (lower() == 'b' && !consume("blob:", 5, true)) return false;
  if (lower() == 'w') {
    if (!consume("ws", 2, true)) return false;
  } else if (lower() == 'h') {
    if (!consume("http", 4, true)) return false;
  } else {
    return false;
  }
  if (lower() == 's' && !consume("s", 1, true)) return false;
  return position + 3 <= urlLen && matchesLiteral(url + position, "://", 3, false);
}

bool isNoFingerprintDomainHashSetMiss(HashSet<NoFingerprintDomain>* set,
                                      const char* host, int hostLen) {
  if (set == nullptr) return false;
  return !forEachCandidateDomain(
      host, hostLen, [&](const char* domain, int length, uint64_t hash) {
        return set->Find(NoFingerprintDomain(domain, length), hash) != nullptr;
      });
}

bool TessulClient::hasMatchingFilters(Filter* filters, int count,
                                      const char* input, int inputLen,
                                      FilterOption contextOptions,
                                      const char* contextDomain,
                                      BloomFilter* inputBloomFilter,
                                      const char* inputHost, int inputHostLen,
                                      Filter** matchedFilter) {
  for (int i = 0; i < count; ++i) {
    Filter& rule = filters[i];
    if (ruleApplies(rule, input, inputLen, contextOptions, contextDomain,
                    inputBloomFilter, inputHost, inputHostLen)) {
      if (matchedFilter) *matchedFilter = &rule;
      return true;
    }
  }
  if (matchedFilter) *matchedFilter = nullptr;
  return false;
}

// Every rule stored under a candidate host is tried, in the order it was
// added, so that a rule that does not apply never hides one that does.
bool TessulClient::isHostAnchoredHashSetMiss(
    const char* input, int inputLen, HashSet<Filter>* set,
    const char* inputHost, int inputHostLen, FilterOption contextOptions,
    const char* contextDomain, Filter** matchedFilter) {
  if (set == nullptr) return false;
  Filter* applying = nullptr;
  forEachCandidateDomain(inputHost, inputHostLen,
                         [&](const char* host, int length, uint64_t hash) {
    Filter probe(host, length, nullptr, host, length, nullptr, 0);
    // The rule finds the host in the URL itself, as it would anywhere.
    applying = set->FindIf(probe, hash, [&](Filter& rule) {
      return ruleApplies(rule, input, inputLen, contextOptions, contextDomain,
                         nullptr, nullptr, 0);
    });
    return applying != nullptr;
  });
  if (applying == nullptr) return true;
  if (matchedFilter) *matchedFilter = applying;
  return false;
}

// Presence bits for 32 bits a bucket: a set at its longest chains (eight
// rules a bucket on average) has four bits a host.
void HostPresence::begin(const HashSet<Filter>* hostSet) {
  set = hostSet;
  elementCount = 0;
  sizedFor = hostSet->bucketCount;
  hosts.reset(PresenceBits::log2BitsFor(sizedFor, 32, 40));
}

void HostPresence::build(const HashSet<Filter>* hostSet) {
  if (hostSet == nullptr) {
    *this = HostPresence();
    return;
  }
  begin(hostSet);
  hostSet->forEachHash([this](uint64_t hash) { add(hash); });
  elementCount = hostSet->elementCount;
}

void HostPresence::settle() {
  if (set->bucketCount != sizedFor) {
    build(set);
  } else {
    elementCount = set->elementCount;
  }
}

// Answers only for the set it describes, as it was when described; for any
// other set (or none) a rule may be there.
bool HostPresence::mayHaveRuleFor(const HashSet<Filter>* hostSet,
                                  const char* host, int hostLen) const {
  if (!describes(hostSet)) return true;
  return forEachCandidateDomain(
      host, hostLen, [&](const char*, int, uint64_t hash) {
        return hosts.mayContain(hash);
      });
}

struct TessulClient::Request {
  const char* input;
  int inputLen;
  FilterOption options;  // with the party completed
  const char* contextDomain;
  int contextLen;
  const char* host;
  int hostLen;
};

// The request's host, and its party when the caller gave a page host but no
// party. Compatible mode matches a lower-case copy of the URL and the page
// host, and tells the party by site (registrable domain).
TessulClient::Request TessulClient::makeRequest(const char* input,
                                                int inputLen,
                                                FilterOption contextOptions,
                                                const char* contextDomain) {
  const bool compatible = mode_ == MatchingMode::kCompatible;
  if (compatible) {
    internals_->caseKeptUrl = input;
    input = lowerCased(input, inputLen, &internals_->lowerUrl);
  }
  Request request{input, inputLen, contextOptions, contextDomain, 0, nullptr, 0};
  request.host = getUrlHost(input, &request.hostLen);
  if (contextDomain == nullptr) return request;
  request.contextLen = static_cast<int>(strlen(contextDomain));
  if (compatible) {
    request.contextDomain = lowerCased(contextDomain, request.contextLen,
                                       &internals_->lowerContext);
  }
  if ((contextOptions & (OptThirdParty | OptFirstParty)) == OptNone) {
    const bool third =
        compatible ? isThirdPartySite(request.contextDomain, request.contextLen,
                                      request.host, request.hostLen)
                   : isThirdPartyHost(contextDomain, request.contextLen,
                                      request.host, request.hostLen);
    request.options |= third ? OptThirdParty : OptFirstParty;
  }
  return request;
}

// Rules of included domains alone can apply only when the page's domain is
// in their array's domain set, which one lookup tells for all of them:
// false in `pageListed` skips them, true leaves them to their own domain
// test.
bool TessulClient::hasMatchingRegexRule(RuleSide side, const Request& request,
                                        bool pageListed,
                                        const int* positions, int count,
                                        Filter** matchedFilter) {
  std::vector<SideLookups::RegexRule>& rules =
      internals_->lookupsOf(side).regexRules;
  if (positions == nullptr) count = static_cast<int>(rules.size());
  for (int i = 0; i < count; ++i) {
    SideLookups::RegexRule& entry = rules[positions ? positions[i] : i];
    if (entry.includedDomainsOnly && !pageListed) continue;
    Filter& rule = *entry.rule;
    const char* text = (rule.options & OptMatchCase) != OptNone
                           ? internals_->caseKeptUrl
                           : request.input;
    // The search costs most: some list regexes run over the whole URL, but
    // most rules name the few sites they apply on.
    if (rule.matchesOptionBits(request.options) &&
        rule.matchesDomainsCompatibly(request.contextDomain) &&
        entry.program.search(text, request.inputLen) &&
        (rule.tagLen <= 0 ||
         enabledTags.find(std::string_view(rule.tagText, rule.tagLen)) !=
             enabledTags.end())) {
      if (matchedFilter) *matchedFilter = &rule;
      return true;
    }
  }
  return false;
}

// The regex rules whose literal the unfingerprinted index found in the URL:
// the candidates it left, from the array's count on, when it describes the
// array (hasMatchingIndexedRule ran it and found no rule of the array).
bool TessulClient::hasMatchingRegexCandidate(RuleSide side,
                                             const Request& request,
                                             bool pageListed,
                                             Filter** matchedFilter) {
  const RuleStore& store =
      side == RuleSide::kBlock
          ? ruleStore(RulePlace::kUnfingerprinted, RuleSide::kBlock)
          : ruleStore(RulePlace::kUnfingerprinted, RuleSide::kException);
  const int arrayCount = this->*store.count.member;
  if (!internals_->lookupsOf(side).unfingerprinted.isFor(
          this->*store.rules.member, arrayCount)) {
    return hasMatchingRegexRule(side, request, pageListed, nullptr, 0,
                                matchedFilter);
  }
  std::vector<int>& candidates = internals_->candidates;
  const auto first =
      std::lower_bound(candidates.begin(), candidates.end(), arrayCount);
  for (auto at = first; at != candidates.end(); ++at) *at -= arrayCount;
  const int skipped = static_cast<int>(first - candidates.begin());
  return hasMatchingRegexRule(
      side, request, pageListed, candidates.data() + skipped,
      static_cast<int>(candidates.size()) - skipped, matchedFilter);
}

Filter* TessulClient::findImportantRule(const Request& request) {
  for (Filter* rule : internals_->lookupsOf(RuleSide::kBlock).importantRules) {
    if (ruleApplies(*rule, request.input, request.inputLen, request.options,
                    request.contextDomain, nullptr, request.host,
                    request.hostLen)) {
      return rule;
    }
  }
  return nullptr;
}

// An important blocking rule is not cancelled by exceptions: when the rule
// that matched is not one, an exception cancels it only if no important
// rule applies.
bool TessulClient::survivesExceptions(const Request& request,
                                      Filter** matchedFilter,
                                      Filter** matchedExceptionFilter) {
  Filter* blocking = matchedFilter ? *matchedFilter : nullptr;
  if (blocking != nullptr && (blocking->options & OptImportant) != OptNone) {
    return true;
  }
  if (!searchSide<RuleSide::kException>(request, matchedExceptionFilter)) {
    return true;
  }
  Filter* important = findImportantRule(request);
  if (important == nullptr) return false;
  if (matchedFilter) *matchedFilter = important;
  if (matchedExceptionFilter) *matchedExceptionFilter = nullptr;
  return true;
}

template <RuleSide kSide>
bool TessulClient::searchSide(const Request& request, Filter** matchedFilter) {
  constexpr const SideStores& stores = sideStores(kSide);
  constexpr const RuleStore& includeDomain =
      ruleStore(RulePlace::kIncludeDomain, kSide);
  constexpr const RuleStore& excludeDomain =
      ruleStore(RulePlace::kExcludeDomain, kSide);
  constexpr const RuleStore& unfingerprinted =
      ruleStore(RulePlace::kUnfingerprinted, kSide);
  constexpr const RuleStore& fingerprinted =
      ruleStore(RulePlace::kFingerprinted, kSide);
  const SideLookups& lookups = internals_->lookupsOf(kSide);
  // Domain-bound rules are tried only when the page's domain can concern
  // them: included domains when it is listed, excluded ones when it is not.
  const bool pageListed = !isNoFingerprintDomainHashSetMiss(
      this->*includeDomain.domains.set.member, request.contextDomain,
      request.contextLen);
  bool found =
      pageListed && hasMatchingRule(includeDomain, request, matchedFilter);
  if (!found && isNoFingerprintDomainHashSetMiss(
                    this->*excludeDomain.domains.set.member,
                    request.contextDomain, request.contextLen)) {
    found = hasMatchingRule(excludeDomain, request, matchedFilter);
  }
  if (!found) {
    found = hasMatchingIndexedRule(unfingerprinted, lookups.unfingerprinted,
                                   request, matchedFilter);
  }
  if (!found && !lookups.regexRules.empty()) {
    found = hasMatchingRegexCandidate(kSide, request, pageListed,
                                      matchedFilter);
  }
  if (found) return true;

  // A host-only rule that applies decides without the Bloom filter, so the
  // host sets are asked first.
  HashSet<Filter>* const hostSet = this->*stores.hostSet.member;
  BloomFilter* const bloom = this->*stores.fingerprintBloom.member;
  const bool hostMiss =
      !lookups.hostPresence.mayHaveRuleFor(hostSet, request.host,
                                           request.hostLen) ||
      isHostAnchoredHashSetMiss(request.input, request.inputLen, hostSet,
                                request.host, request.hostLen, request.options,
                                request.contextDomain, matchedFilter);
  const bool bloomMiss =
      hostMiss && bloom != nullptr &&
      !bloom->substringExists(request.input, request.inputLen,
                              kFingerprintSize);
  if (bloomMiss && hostMiss) {
    ++(this->*stores.bloomSkips);
    ++(this->*stores.hostSetSkips);
    return false;
  }
  if (!hostMiss) {
    if (stores.hostSetHitIsSkip) ++(this->*stores.hostSetSkips);
    return true;
  }
  if (hasMatchingIndexedRule(fingerprinted, lookups.fingerprinted, request,
                             matchedFilter)) {
    return true;
  }
  ++(this->*stores.bloomFalseHits);
  if (badFingerprintTracker != nullptr && bloom != nullptr) {
    discoverMatchingPrefix(badFingerprintTracker, request.input, bloom,
                           kFingerprintSize);
  }
  return false;
}

// No filter of the URL's byte pairs is made for the rules tried: the rule
// indexes already leave only rules whose literal text is in the URL, and
// filling such a filter for every request cost more than it saved.
bool TessulClient::hasMatchingRule(const RuleStore& store,
                                   const Request& request,
                                   Filter** matchedFilter) {
  return hasMatchingFilters(this->*store.rules.member,
                            this->*store.count.member, request.input,
                            request.inputLen, request.options,
                            request.contextDomain, nullptr, request.host,
                            request.hostLen, matchedFilter);
}

bool TessulClient::hasMatchingIndexedRule(const RuleStore& store,
                                          const RuleIndex& index,
                                          const Request& request,
                                          Filter** matchedFilter) {
  Filter* const rules = this->*store.rules.member;
  if (!index.isFor(rules, this->*store.count.member)) {
    return hasMatchingRule(store, request, matchedFilter);
  }
  std::vector<int>& candidates = internals_->candidates;
  index.findCandidates(request.input, request.inputLen, &candidates);
  const int count = this->*store.count.member;
  for (int position : candidates) {
    if (position >= count) break;  // the regex rules' stand-ins
    Filter& rule = rules[position];
    if (ruleApplies(rule, request.input, request.inputLen, request.options,
                    request.contextDomain, nullptr, request.host,
                    request.hostLen)) {
      if (matchedFilter) *matchedFilter = &rule;
      return true;
    }
  }
  if (matchedFilter) *matchedFilter = nullptr;
  return false;
}

bool TessulClient::matches(const char* input, FilterOption contextOptions,
                           const char* contextDomain, Filter** matchedFilter,
                           Filter** matchedExceptionFilter) {
  if (matchedFilter) *matchedFilter = nullptr;
  if (matchedExceptionFilter) *matchedExceptionFilter = nullptr;
  const int inputLen = static_cast<int>(strlen(input));
  if (!isBlockableProtocol(input, inputLen)) return false;
  const Request request =
      makeRequest(input, inputLen, contextOptions, contextDomain);
  if (mode_ == MatchingMode::kCompatible) {
    // survivesExceptions needs the blocking rule even when the caller does
    // not ask for it.
    Filter* blocking = nullptr;
    const bool blocked =
        searchSide<RuleSide::kBlock>(request, &blocking) &&
        survivesExceptions(request, &blocking, matchedExceptionFilter);
    if (matchedFilter) *matchedFilter = blocking;
    return blocked;
  }
  if (!searchSide<RuleSide::kBlock>(request, matchedFilter)) return false;
  return !searchSide<RuleSide::kException>(request, matchedExceptionFilter);
}

// The block side tries its fingerprinted rules before its host set, the
// exception side after it.
template <RuleSide kSide>
bool TessulClient::searchEveryStore(const Request& request,
                                    Filter** matchedFilter) {
  auto tryRules = [&](RulePlace place) {
    return hasMatchingRule(ruleStore(place, kSide), request, matchedFilter);
  };
  auto tryHosts = [&]() {
    isHostAnchoredHashSetMiss(request.input, request.inputLen,
                              this->*sideStores(kSide).hostSet.member,
                              request.host, request.hostLen, request.options,
                              request.contextDomain, matchedFilter);
    return *matchedFilter != nullptr;
  };
  if (tryRules(RulePlace::kUnfingerprinted) ||
      tryRules(RulePlace::kIncludeDomain) ||
      tryRules(RulePlace::kExcludeDomain) ||
      hasMatchingRegexRule(kSide, request, true, nullptr, 0, matchedFilter)) {
    return true;
  }
  if (kSide == RuleSide::kBlock) {
    return tryRules(RulePlace::kFingerprinted) || tryHosts();
  }
  return tryHosts() || tryRules(RulePlace::kFingerprinted);
}

bool TessulClient::findMatchingFilters(const char* input,
                                       FilterOption contextOptions,
                                       const char* contextDomain,
                                       Filter** matchedFilter,
                                       Filter** matchedExceptionFilter) {
  *matchedFilter = nullptr;
  *matchedExceptionFilter = nullptr;
  const Request request = makeRequest(input, static_cast<int>(strlen(input)),
                                      contextOptions, contextDomain);
  if (!searchEveryStore<RuleSide::kBlock>(request, matchedFilter)) return false;
  if (mode_ == MatchingMode::kCompatible &&
      ((*matchedFilter)->options & OptImportant) != OptNone) {
    return true;
  }
  if (!searchEveryStore<RuleSide::kException>(request,
                                              matchedExceptionFilter)) {
    return true;
  }
  if (mode_ != MatchingMode::kCompatible) return false;
  Filter* important = findImportantRule(request);
  if (important == nullptr) return false;
  *matchedFilter = important;
  *matchedExceptionFilter = nullptr;
  return true;
}

}  // namespace tessul
