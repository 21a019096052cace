// Option lists ($image,~third-party,domain=a.test|~b.test) and domain lists.

#include <cstdio>
#include <cstring>
#include <string>

#include "filter/domain_list.h"
#include "filter/filter.h"
#include "filter/list_lines.h"
#include "filter/unknown_options.h"
#include "hashing/owned_text.h"

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

namespace {

// How an option is compared with a keyword.
enum class Compare {
  kPrefix,  // the option is the keyword or a prefix of it (even empty)
  kValue,   // the option starts with the keyword, which ends in '='
};

struct OptionKeyword {
  const char* keyword;
  Compare compare;
  FilterOption bit;
};

// Tested in this order; the first keyword that matches decides, so short
// options resolve to the first keyword they are a prefix of.
constexpr OptionKeyword kOptionKeywords[] = {
    {"script", Compare::kPrefix, OptScript},
    {"image", Compare::kPrefix, OptImage},
    {"stylesheet", Compare::kPrefix, OptStylesheet},
    {"object", Compare::kPrefix, OptObject},
    {"xmlhttprequest", Compare::kPrefix, OptXmlHttpRequest},
    {"object-subrequest", Compare::kPrefix, OptObjectSubrequest},
    {"subdocument", Compare::kPrefix, OptSubdocument},
    {"document", Compare::kPrefix, OptDocument},
    {"xbl", Compare::kPrefix, OptXbl},
    {"collapse", Compare::kPrefix, OptCollapse},
    {"donottrack", Compare::kPrefix, OptDoNotTrack},
    {"other", Compare::kPrefix, OptOther},
    {"elemhide", Compare::kPrefix, OptElemHide},
    {"third-party", Compare::kPrefix, OptThirdParty},
    {"first-party", Compare::kPrefix, OptFirstParty},
    {"ping", Compare::kPrefix, OptPing},
    {"popup", Compare::kPrefix, OptPopup},
    {"csp=", Compare::kValue, OptCsp},
    {"redirect=", Compare::kValue, OptRedirect},
    {"font", Compare::kPrefix, OptFont},
    {"media", Compare::kPrefix, OptMedia},
    {"webrtc", Compare::kPrefix, OptWebRtc},
    {"generichide", Compare::kPrefix, OptGenericHide},
    {"genericblock", Compare::kPrefix, OptGenericBlock},
    {"empty", Compare::kPrefix, OptEmpty},
    {"websocket", Compare::kPrefix, OptWebSocket},
    {"important", Compare::kPrefix, OptImportant},
    {"explicitcancel", Compare::kPrefix, OptExplicitCancel},
};

bool startsWithKeyword(const char* text, int length, const char* keyword) {
  int keywordLength = static_cast<int>(strlen(keyword));
  return length >= keywordLength && memcmp(text, keyword, keywordLength) == 0;
}

bool matchesKeyword(const char* text, int length, const OptionKeyword& entry) {
  if (entry.compare == Compare::kValue) {
    return startsWithKeyword(text, length, entry.keyword);
  }
  return length <= static_cast<int>(strlen(entry.keyword)) &&
         memcmp(text, entry.keyword, length) == 0;
}

}  // namespace

void Filter::parseOptions(const char* text) {
  options = OptNone;
  negatedOptions = OptNone;
  const char* optionStart = text;
  for (const char* p = text;; ++p) {
    if (*p == ',') {
      parseOption(optionStart, static_cast<int>(p - optionStart));
      optionStart = p + 1;
    } else if (isLineEnd(*p)) {
      parseOption(optionStart, static_cast<int>(p - optionStart));
      return;
    }
  }
}

void Filter::parseOption(const char* text, int length) {
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
  for (const OptionKeyword& entry : kOptionKeywords) {
    if (matchesKeyword(text, length, entry)) {
      *target |= entry.bit;
      return;
    }
  }
  *target |= OptUnknown;
  unknownOptions.report(std::string(text, length));
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
