#include "cli/request_type.h"

namespace tessul {
namespace cli {

namespace {

struct RequestType {
  const char* keyword;
  FilterOption option;
};

// The fifteen bits of kRequestTypeMask, most common kinds first.
constexpr RequestType kRequestTypes[] = {
    {"script", OptScript},
    {"image", OptImage},
    {"stylesheet", OptStylesheet},
    {"xmlhttprequest", OptXmlHttpRequest},
    {"subdocument", OptSubdocument},
    {"document", OptDocument},
    {"font", OptFont},
    {"media", OptMedia},
    {"object", OptObject},
    {"object-subrequest", OptObjectSubrequest},
    {"ping", OptPing},
    {"websocket", OptWebSocket},
    {"webrtc", OptWebRtc},
    {"xbl", OptXbl},
    {"other", OptOther},
};

}  // namespace

std::optional<FilterOption> requestTypeOption(std::string_view keyword) {
  for (const RequestType& type : kRequestTypes) {
    if (keyword == type.keyword) return type.option;
  }
  return std::nullopt;
}

std::string requestTypeKeywords() {
  std::string keywords;
  for (const RequestType& type : kRequestTypes) {
    if (!keywords.empty()) keywords += ", ";
    keywords += type.keyword;
  }
  return keywords;
}

}  // namespace cli
}  // namespace tessul
