// hidingStyleSheet: element-hiding selectors as CSS that a page can be given.

#include <string>
#include <string_view>
#include <vector>

#include "engine/tessul_client.h"

namespace tessul {

namespace {

constexpr std::string_view kHidingDeclaration =
    " { display: none !important; }\n";

bool endsStyleRuleEarly(std::string_view selector) {
  return selector.find_first_of("{}") != std::string_view::npos;
}

}  // namespace

std::string hidingStyleSheet(const std::vector<std::string_view>& selectors) {
  std::string sheet;
  size_t inRule = 0;
  for (std::string_view selector : selectors) {
    if (selector.empty() || endsStyleRuleEarly(selector)) continue;
    if (inRule == kSelectorsPerStyleRule) {
      sheet += kHidingDeclaration;
      inRule = 0;
    }
    if (inRule > 0) sheet += ',';
    sheet += selector;
    ++inRule;
  }
  if (inRule > 0) sheet += kHidingDeclaration;
  return sheet;
}

}  // namespace tessul
