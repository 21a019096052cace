// Whether one rule matches one request: options and domains first, then the
// pattern with its anchors, separators and wildcards.

#include <cstring>

#include "filter/filter.h"
#include "filter/url_text.h"
#include "hashing/bloom_filter.h"
#include "hashing/domain_suffixes.h"
#include "hashing/hash_set.h"
#include "hashing/set_elements.h"

namespace tessul {

namespace {

bool has(FilterOption set, FilterOption bits) { return (set & bits) != OptNone; }
bool has(FilterType set, FilterType bits) { return (set & bits) != TypeNone; }

}  // namespace

bool Filter::matches(const char* input, FilterOption contextOptions,
                     const char* contextDomain, BloomFilter* inputBloomFilter,
                     const char* inputHost, int inputHostLen) {
  return matches(input, static_cast<int>(strlen(input)), contextOptions,
                 contextDomain, inputBloomFilter, inputHost, inputHostLen);
}

// The cheap tests come first: the option bits, then the pattern, and the
// domain list, which costs a few hash lookups, last. All must hold, so the
// order does not change the answer.
bool Filter::matches(const char* input, int inputLen,
                     FilterOption contextOptions, const char* contextDomain,
                     BloomFilter* inputBloomFilter, const char* inputHost,
                     int inputHostLen) {
  return matchesOptionBits(contextOptions) &&
         matchesPattern(input, inputLen, inputBloomFilter, inputHost,
                        inputHostLen) &&
         matchesDomainList(contextDomain);
}

bool Filter::matchesPattern(const char* input, int inputLen,
                            BloomFilter* inputBloomFilter,
                            const char* inputHost, int inputHostLen) {
  if (pattern == nullptr) return false;
  if (patternLen == -1) patternLen = static_cast<int32_t>(strlen(pattern));
  if (has(type, TypeRegex)) return false;

  const bool left = has(type, TypeLeftAnchor);
  const bool right = has(type, TypeRightAnchor);
  if (left || right) {
    // Anchored patterns compare literally: '*' and '^' are plain bytes here.
    if (patternLen > inputLen || (left && right && patternLen != inputLen)) {
      return false;
    }
    const char* compared = left ? input : input + inputLen - patternLen;
    return memcmp(compared, pattern, patternLen) == 0;
  }
  if (has(type, TypeHostAnchor) &&
      !matchesAnchoredHost(input, inputBloomFilter, inputHost, inputHostLen)) {
    return false;
  }
  return matchesSegments(input, inputLen, inputBloomFilter);
}

// The request's host must be the anchor host or a subdomain of it.
bool Filter::matchesAnchoredHost(const char* input,
                                 BloomFilter* inputBloomFilter,
                                 const char* inputHost, int inputHostLen) {
  if (inputHostLen == 0) inputHost = getUrlHost(input, &inputHostLen);
  if (anchorHost != nullptr && anchorHostLen == -1) {
    anchorHostLen = static_cast<int32_t>(strlen(anchorHost));
  }
  const int hostLen = anchorHost == nullptr ? 0 : anchorHostLen;
  if (inputBloomFilter != nullptr) {
    for (int i = 0; i + 1 < hostLen; ++i) {
      if (!inputBloomFilter->exists(anchorHost + i, 2)) return false;
    }
  }
  return !isThirdPartyHost(anchorHost, hostLen, inputHost, inputHostLen);
}

// The pattern's '*'-separated segments must occur in the input in order.
bool Filter::matchesSegments(const char* input, int inputLen,
                             BloomFilter* inputBloomFilter) const {
  const char* const patternEnd = pattern + patternLen;
  const char* segment = pattern;
  int cursor = 0;
  while (true) {
    const char* segmentEnd = getNextPos(segment, '*', patternEnd);
    const bool atStar = segmentEnd < patternEnd && *segmentEnd == '*';
    const int segmentLen = static_cast<int>(segmentEnd - segment);
    if (segmentLen == 0 && !atStar) return true;
    if (inputBloomFilter != nullptr) {
      // A literal pair that the URL lacks rules the segment out. The last
      // pair is left to the search.
      for (int j = 0; j + 3 <= segmentLen; ++j) {
        if (!isSeparatorChar(segment[j]) && !isSeparatorChar(segment[j + 1]) &&
            !inputBloomFilter->exists(segment + j, 2)) {
          return false;
        }
      }
    }
    const int found =
        indexOfFilter(input + cursor, inputLen - cursor, segment, segmentEnd);
    if (found < 0) return false;
    if (!atStar) return true;
    cursor += found + segmentLen;
    segment = segmentEnd + 1;
  }
}

bool Filter::matchesOptions(const char* /*input*/, FilterOption contextOptions,
                            const char* contextDomain) {
  return matchesOptionBits(contextOptions) && matchesDomainList(contextDomain);
}

bool Filter::matchesOptionBits(FilterOption contextOptions) const {
  if (has(options, kUnsupportedMask)) return false;
  // A document request only matches rules that ask for documents.
  if (has(contextOptions, OptDocument) && !has(options, OptDocument)) {
    return false;
  }
  if (contextOptions != OptNone) {
    const FilterOption requestType = contextOptions & kRequestTypeMask;
    if (has(options, kRestrictingMask) && !has(options, requestType)) {
      return false;
    }
    if (has(negatedOptions, kRestrictingMask) &&
        has(negatedOptions, requestType)) {
      return false;
    }
  } else if (has(options | negatedOptions, kRequestTypeMask)) {
    return false;  // a request of unspecified kind: rules naming no kind
  }
  // Party: third-party and ~first-party rules skip first-party requests;
  // first-party and ~third-party rules skip third-party requests.
  if (has(contextOptions, OptFirstParty) &&
      (has(options, OptThirdParty) || has(negatedOptions, OptFirstParty))) {
    return false;
  }
  return !(has(contextOptions, OptThirdParty) &&
           (has(negatedOptions, OptThirdParty) || has(options, OptFirstParty)));
}

// Without a page, the domain list is not consulted.
bool Filter::matchesDomainList(const char* contextDomain) {
  return contextDomain == nullptr || domainText == nullptr ||
         contextDomainMatchesFilter(contextDomain);
}

// The longest suffix of the context domain that contains a '.' and is
// listed decides; for each suffix, an included entry wins over an excluded
// one. The suffixes are visited shortest first, so that each is hashed in
// one pass, and the last one found decides.
bool Filter::contextDomainMatchesFilter(const char* contextDomain) {
  const int includedCount = getDomainCount(false);
  const int excludedCount = getDomainCount(true);
  if (includedCount == 0 && excludedCount == 0) return true;
  const int length = static_cast<int>(strlen(contextDomain));
  bool matches = includedCount == 0;
  if (memchr(contextDomain, '.', length) == nullptr) return matches;
  auto listed = [](const HashSet<ContextDomain>* set, const ContextDomain& probe,
                   uint64_t hash) {
    return set != nullptr && set->Find(probe, hash) != nullptr;
  };
  forEachCandidateDomain(
      contextDomain, length, [&](const char* suffix, int suffixLen, uint64_t hash) {
        const ContextDomain probe{suffix, suffixLen};
        if (listed(includedDomains, probe, hash)) {
          matches = true;
        } else if (listed(excludedDomains, probe, hash)) {
          matches = false;
        }
        return false;
      });
  return matches;
}

bool Filter::containsDomain(const char* domain, unsigned int domainLen,
                            bool excluded) const {
  const HashSet<ContextDomain>* set =
      excluded ? excludedDomains : includedDomains;
  return set != nullptr &&
         set->Exists(ContextDomain{domain, static_cast<int32_t>(domainLen)});
}

}  // namespace tessul
