#include "cli/request_types.h"

#include <string_view>

#include "filter/option_keywords.h"

namespace tessul {
namespace cli {

namespace {

struct RequestTypeMeaning {
  FilterOption type;
  const char* meaning;
};

constexpr RequestTypeMeaning kMeanings[] = {
    {OptScript, "a script"},
    {OptImage, "an image"},
    {OptStylesheet, "a style sheet"},
    {OptXmlHttpRequest, "a request of a script (XMLHttpRequest, fetch)"},
    {OptSubdocument, "the page of a frame (iframe)"},
    {OptDocument, "a page itself, as the browser opens it"},
    {OptFont, "a web font"},
    {OptMedia, "audio or video"},
    {OptObject, "the content of a plug-in (object, embed)"},
    {OptObjectSubrequest, "a request of a plug-in"},
    {OptPing, "a ping (a ping=, navigator.sendBeacon)"},
    {OptWebSocket, "a WebSocket connection"},
    {OptWebRtc, "a WebRTC connection"},
    {OptXbl, "an XBL binding (old Firefox)"},
    {OptOther, "any other kind"},
};

constexpr size_t kKeywordColumn = 19;

const char* meaningOf(FilterOption type) {
  for (const RequestTypeMeaning& entry : kMeanings) {
    if (entry.type == type) return entry.meaning;
  }
  return "";
}

}  // namespace

std::string requestTypeTable(size_t indent) {
  std::string table;
  const std::string keywords = requestTypeKeywords();
  std::string_view rest = keywords;
  while (!rest.empty()) {
    const size_t comma = rest.find(", ");
    const std::string_view keyword = rest.substr(0, comma);
    rest = comma == std::string_view::npos ? "" : rest.substr(comma + 2);
    table.append(indent, ' ');
    table.append(keyword);
    table.append(keyword.size() < kKeywordColumn ? kKeywordColumn - keyword.size()
                                                 : 1,
                 ' ');
    table += meaningOf(*requestTypeOption(keyword));
    table += '\n';
  }
  return table;
}

}  // namespace cli
}  // namespace tessul
