#include "filter/filter.h"

#include <cstring>
#include <utility>

#include "hashing/hash_fn.h"
#include "hashing/hash_set.h"
#include "hashing/owned_text.h"
#include "hashing/set_elements.h"

namespace tessul {

namespace {

// Two optional NUL-terminated texts are equal when both are absent or both
// hold the same bytes.
bool sameText(const char* a, const char* b) {
  if (a == nullptr || b == nullptr) return a == b;
  return strcmp(a, b) == 0;
}

int lengthOf(const char* text, int32_t knownLength) {
  return knownLength >= 0 ? knownLength : static_cast<int>(strlen(text));
}

}  // namespace

// Host sets keep a Filter for each of tens of thousands of host-only rules;
// a new field should fill a hole rather than add one.
static_assert(sizeof(void*) != 8 || sizeof(Filter) == 88,
              "Filter has padding between its fields");

Filter::Filter(const char* pattern, int patternLen, const char* domainText,
               const char* anchorHost, int anchorHostLen, const char* tagText,
               int tagLen)
    : Filter(TypeNone, OptNone, OptNone, pattern, patternLen, domainText,
             anchorHost, anchorHostLen, tagText, tagLen) {}

Filter::Filter(FilterType type, FilterOption options,
               FilterOption negatedOptions, const char* pattern,
               int patternLen, const char* domainText, const char* anchorHost,
               int anchorHostLen, const char* tagText, int tagLen)
    : type(type),
      options(options),
      negatedOptions(negatedOptions),
      patternLen(patternLen),
      pattern(pattern),
      domainText(domainText),
      tagText(tagText),
      anchorHost(anchorHost),
      tagLen(tagLen),
      anchorHostLen(anchorHostLen),
      isBorrowed(true) {}

Filter::Filter(const Filter& other)
    : type(other.type),
      options(other.options),
      negatedOptions(other.negatedOptions),
      patternLen(other.patternLen),
      anchorHostLen(other.anchorHostLen),
      isBorrowed(other.isBorrowed) {
  // A copy knows its lengths: the copies that host sets keep compare their
  // anchor hosts on every lookup, and a first match would measure both.
  if (patternLen == -1 && other.pattern != nullptr) {
    patternLen = static_cast<int32_t>(strlen(other.pattern));
  }
  if (anchorHostLen == -1 && other.anchorHost != nullptr) {
    anchorHostLen = static_cast<int32_t>(strlen(other.anchorHost));
  }
  if (other.isBorrowed) {
    sourceText = other.sourceText;
    pattern = other.pattern;
    domainText = other.domainText;
    tagText = other.tagText;
    tagLen = other.tagLen;
    anchorHost = other.anchorHost;
    return;
  }
  if (other.pattern) pattern = copyText(other.pattern, patternLen);
  if (other.domainText) domainText = copyText(other.domainText);
  if (other.anchorHost) anchorHost = copyText(other.anchorHost);
  if (other.sourceText) sourceText = copyText(other.sourceText);
  if (other.tagLen >= 1) {
    tagText = copyText(other.tagText, other.tagLen);
    tagLen = other.tagLen;
  }
}

Filter::~Filter() {
  delete includedDomains;
  delete excludedDomains;
  if (isBorrowed) return;
  delete[] pattern;
  delete[] sourceText;
  delete[] domainText;
  delete[] tagText;
  delete[] anchorHost;
}

void Filter::swapData(Filter* other) {
  std::swap(type, other->type);
  std::swap(options, other->options);
  std::swap(negatedOptions, other->negatedOptions);
  std::swap(sourceText, other->sourceText);
  std::swap(pattern, other->pattern);
  std::swap(patternLen, other->patternLen);
  std::swap(domainText, other->domainText);
  std::swap(tagText, other->tagText);
  std::swap(tagLen, other->tagLen);
  std::swap(anchorHost, other->anchorHost);
  std::swap(anchorHostLen, other->anchorHostLen);
  std::swap(includedDomains, other->includedDomains);
  std::swap(excludedDomains, other->excludedDomains);
  std::swap(domainsReady, other->domainsReady);
}

int Filter::measuredAnchorHostLen() const {
  return anchorHost == nullptr ? 0 : lengthOf(anchorHost, anchorHostLen);
}

// An empty anchor host counts as none: images write both alike, and a rule
// must lie in the same bucket whether parsed or loaded.
uint64_t Filter::hash() const {
  const int hostLength = measuredAnchorHostLen();
  if (hostLength > 0) return elementHashFn.polynomial(anchorHost, hostLength);
  if (pattern != nullptr) {
    return elementHashFn.polynomial(pattern, lengthOf(pattern, patternLen));
  }
  return 0;
}

bool Filter::operator==(const Filter& other) const {
  int length = measuredAnchorHostLen();
  return length == other.measuredAnchorHostLen() &&
         (length == 0 || memcmp(anchorHost, other.anchorHost, length) == 0);
}

bool Filter::isSameRule(const Filter& other) const {
  if (type != other.type || options != other.options ||
      negatedOptions != other.negatedOptions || tagLen != other.tagLen ||
      !sameText(domainText, other.domainText) ||
      (pattern == nullptr) != (other.pattern == nullptr)) {
    return false;
  }
  if (tagLen > 0 && memcmp(tagText, other.tagText, tagLen) != 0) return false;
  if (pattern == nullptr) return true;
  int length = lengthOf(pattern, patternLen);
  return length == lengthOf(other.pattern, other.patternLen) &&
         memcmp(pattern, other.pattern, length) == 0;
}

int Filter::getDomainCount(bool excluded) {
  parseDomains(domainText);
  const HashSet<ContextDomain>* set =
      excluded ? excludedDomains : includedDomains;
  return set == nullptr ? 0 : static_cast<int>(set->elementCount);
}

bool Filter::isDomainOnlyFilter() {
  return getDomainCount(false) > 0 && getDomainCount(true) == 0;
}

bool Filter::isAntiDomainOnlyFilter() {
  return getDomainCount(true) > 0 && getDomainCount(false) == 0;
}

bool Filter::hasUnsupportedOptions() const {
  return (options & kUnsupportedMask) != OptNone;
}

void setFilterBorrowedMemory(Filter* filters, int count) {
  for (int i = 0; i < count; ++i) filters[i].isBorrowed = true;
}

}  // namespace tessul
