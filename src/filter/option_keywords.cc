#include "filter/option_keywords.h"

#include <cstring>

namespace tessul {

namespace {

// How an option is compared with a keyword.
enum class Compare {
  kPrefix,  // the option is the keyword or a prefix of it (even empty)
  kValue,   // the option starts with the keyword, which ends in '='
};

// Where listings show a keyword that names no request type: nowhere.
constexpr int kNotListed = -1;

struct OptionKeyword {
  const char* keyword;
  Compare compare;
  FilterOption bit;
  // For the request types, their place in listings (from 0, the most common
  // kinds first); kNotListed for the other options.
  int listedAt;
};

// Tested in this order; the first keyword that matches decides, so short
// options resolve to the first keyword they are a prefix of ("w" is webrtc,
// "f" first-party).
constexpr OptionKeyword kOptionKeywords[] = {
    {"script", Compare::kPrefix, OptScript, 0},
    {"image", Compare::kPrefix, OptImage, 1},
    {"stylesheet", Compare::kPrefix, OptStylesheet, 2},
    {"object", Compare::kPrefix, OptObject, 8},
    {"xmlhttprequest", Compare::kPrefix, OptXmlHttpRequest, 3},
    {"object-subrequest", Compare::kPrefix, OptObjectSubrequest, 9},
    {"subdocument", Compare::kPrefix, OptSubdocument, 4},
    {"document", Compare::kPrefix, OptDocument, 5},
    {"xbl", Compare::kPrefix, OptXbl, 13},
    {"collapse", Compare::kPrefix, OptCollapse, kNotListed},
    {"donottrack", Compare::kPrefix, OptDoNotTrack, kNotListed},
    {"other", Compare::kPrefix, OptOther, 14},
    {"elemhide", Compare::kPrefix, OptElemHide, kNotListed},
    {"third-party", Compare::kPrefix, OptThirdParty, kNotListed},
    {"first-party", Compare::kPrefix, OptFirstParty, kNotListed},
    {"ping", Compare::kPrefix, OptPing, 10},
    {"popup", Compare::kPrefix, OptPopup, kNotListed},
    {"csp=", Compare::kValue, OptCsp, kNotListed},
    {"redirect=", Compare::kValue, OptRedirect, kNotListed},
    {"font", Compare::kPrefix, OptFont, 6},
    {"media", Compare::kPrefix, OptMedia, 7},
    {"webrtc", Compare::kPrefix, OptWebRtc, 12},
    {"generichide", Compare::kPrefix, OptGenericHide, kNotListed},
    {"genericblock", Compare::kPrefix, OptGenericBlock, kNotListed},
    {"empty", Compare::kPrefix, OptEmpty, kNotListed},
    {"websocket", Compare::kPrefix, OptWebSocket, 11},
    {"important", Compare::kPrefix, OptImportant, kNotListed},
    {"explicitcancel", Compare::kPrefix, OptExplicitCancel, kNotListed},
};

// The names of compatible mode, each the whole option.
struct CompatibleKeyword {
  const char* keyword;
  FilterOption bits;
};

constexpr CompatibleKeyword kCompatibleKeywords[] = {
    {"1p", OptFirstParty},
    {"3p", OptThirdParty},
    {"first-party", OptFirstParty},
    {"third-party", OptThirdParty},
    {"xhr", OptXmlHttpRequest},
    {"css", OptStylesheet},
    {"frame", OptSubdocument},
    {"doc", OptDocument},
    {"all", kRequestTypeMask},
    {"ehide", OptElemHide},
    {"ghide", OptGenericHide},
    {"match-case", OptMatchCase},
    {"badfilter", OptBadFilter},
    {"important", OptImportant},
};

constexpr bool isRequestType(FilterOption bit) {
  return (bit & kRequestTypeMask) != OptNone;
}

constexpr int kRequestTypeCount = 15;

// Whether the request types are exactly the bits of kRequestTypeMask, each
// with one keyword and its own place in listings.
constexpr bool requestTypesAreListedOnce() {
  bool placeTaken[kRequestTypeCount] = {};
  FilterOption listed = OptNone;
  for (const OptionKeyword& entry : kOptionKeywords) {
    if (isRequestType(entry.bit) != (entry.listedAt != kNotListed)) {
      return false;
    }
    if (!isRequestType(entry.bit)) continue;
    if (entry.listedAt >= kRequestTypeCount || placeTaken[entry.listedAt] ||
        (listed & entry.bit) != OptNone) {
      return false;
    }
    placeTaken[entry.listedAt] = true;
    listed |= entry.bit;
  }
  return listed == kRequestTypeMask;
}
static_assert(requestTypesAreListedOnce(),
              "every request type bit needs one keyword and one place");

bool matchesKeyword(const char* text, int length, const OptionKeyword& entry) {
  if (entry.compare == Compare::kValue) {
    return startsWithKeyword(text, length, entry.keyword);
  }
  return length <= static_cast<int>(strlen(entry.keyword)) &&
         memcmp(text, entry.keyword, length) == 0;
}

}  // namespace

bool startsWithKeyword(const char* text, int length, const char* keyword) {
  int keywordLength = static_cast<int>(strlen(keyword));
  return length >= keywordLength && memcmp(text, keyword, keywordLength) == 0;
}

FilterOption optionKeywordBit(const char* text, int length) {
  for (const OptionKeyword& entry : kOptionKeywords) {
    if (matchesKeyword(text, length, entry)) return entry.bit;
  }
  return OptNone;
}

FilterOption compatibleOptionBits(const char* text, int length) {
  for (const CompatibleKeyword& entry : kCompatibleKeywords) {
    if (static_cast<int>(strlen(entry.keyword)) == length &&
        memcmp(text, entry.keyword, length) == 0) {
      return entry.bits;
    }
  }
  return OptNone;
}

const char* optionKeyword(FilterOption bit) {
  for (const OptionKeyword& entry : kOptionKeywords) {
    if (entry.bit == bit) return entry.keyword;
  }
  return nullptr;
}

const char* compatibleOptionKeyword(FilterOption bit) {
  if (optionKeyword(bit) != nullptr) return nullptr;
  for (const CompatibleKeyword& entry : kCompatibleKeywords) {
    if (entry.bits == bit) return entry.keyword;
  }
  return nullptr;
}

std::optional<FilterOption> requestTypeOption(std::string_view keyword) {
  for (const OptionKeyword& entry : kOptionKeywords) {
    if (isRequestType(entry.bit) && keyword == entry.keyword) return entry.bit;
  }
  return std::nullopt;
}

std::string requestTypeKeywords() {
  std::string keywords;
  for (int place = 0; place < kRequestTypeCount; ++place) {
    for (const OptionKeyword& entry : kOptionKeywords) {
      if (entry.listedAt != place) continue;
      if (!keywords.empty()) keywords += ", ";
      keywords += entry.keyword;
    }
  }
  return keywords;
}

}  // namespace tessul
