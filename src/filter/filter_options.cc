// Option lists ($image,~third-party,domain=a.test|~b.test) and domain lists.

#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "filter/domain_list.h"
#include "filter/filter.h"
#include "filter/list_lines.h"
#include "filter/option_keywords.h"
#include "filter/unknown_options.h"
#include "hashing/hash_set.h"
#include "hashing/owned_text.h"
#include "hashing/set_elements.h"

namespace tessul {

UnknownOptionSet unknownOptions;

bool UnknownOptionSet::report(const std::string& option) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!options_.insert(option).second) return false;
  std::string line = "Unrecognized filter option: " + option + "\n";
  fwrite(line.data(), 1, line.size(), stdout);
  fflush(stdout);
  return true;
}

bool UnknownOptionSet::contains(const std::string& option) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return options_.count(option) > 0;
}

void Filter::parseOptions(const char* text, RuleNotes* notes,
                          MatchingMode mode) {
  options = OptNone;
  negatedOptions = OptNone;
  const char* optionStart = text;
  for (const char* p = text;; ++p) {
    if (*p == ',') {
      parseOption(optionStart, static_cast<int>(p - optionStart), notes, mode);
      optionStart = p + 1;
    } else if (isLineEnd(*p)) {
      parseOption(optionStart, static_cast<int>(p - optionStart), notes, mode);
      return;
    }
  }
}

void Filter::parseOption(const char* text, int length, RuleNotes* notes,
                         MatchingMode mode) {
  FilterOption* target = &options;
  if (length > 0 && text[0] == '~') {
    ++text;
    --length;
    target = &negatedOptions;
  }
  if (startsWithKeyword(text, length, "domain=")) {
    delete[] domainText;
    domainText = copyText(text + 7, length - 7);
    return;
  }
  if (startsWithKeyword(text, length, "tag=")) {
    delete[] tagText;
    tagLen = length - 4;
    tagText = tagLen > 0 ? copyText(text + 4, tagLen) : nullptr;
    return;
  }
  const FilterOption compatible = mode == MatchingMode::kCompatible
                                      ? compatibleOptionBits(text, length)
                                      : OptNone;
  if (compatible != OptNone) {
    *target |= compatible;
    return;
  }
  const FilterOption bit = optionKeywordBit(text, length);
  if (bit != OptNone) {
    *target |= bit;
    return;
  }
  // Exact mode records a negated unknown option among the negated ones,
  // where it drops nothing; compatible mode drops the rule either way.
  if (mode == MatchingMode::kCompatible) target = &options;
  *target |= OptUnknown;
  if (notes != nullptr) notes->unknownOption(std::string_view(text, length));
}

void Filter::parseDomains(const char* text) {
  if (text == nullptr || domainsReady) return;
  forEachListedDomain(text, [this](const char* domain, int length,
                                   bool excluded) {
    HashSet<ContextDomain>*& set = excluded ? excludedDomains : includedDomains;
    if (set == nullptr) {
      set = new HashSet<ContextDomain>(/*allowDuplicates=*/true);
      set->Init(5);
    }
    set->Add(ContextDomain{domain, length}, true);
  });
  domainsReady = true;
}

}  // namespace tessul
