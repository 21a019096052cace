// ruleText: a rule written back as a line of a filter list, the inverse of
// the line parser (filter_parser.cc) for every rule the parser makes.

#include <string>
#include <string_view>

#include "filter/filter.h"
#include "filter/option_keywords.h"

namespace tessul {

namespace {

std::string_view patternOf(const Filter& rule) {
  if (rule.pattern == nullptr) return {};
  // Rules of an image's host sets have a counted pattern.
  return rule.patternLen >= 0 ? std::string_view(rule.pattern, rule.patternLen)
                              : std::string_view(rule.pattern);
}

std::string_view domainsOf(const Filter& rule) {
  return rule.domainText == nullptr ? std::string_view()
                                    : std::string_view(rule.domainText);
}

bool isBlank(char c) { return c == ' ' || c == '\t'; }

// Whether the parser, reading an unanchored `pattern` where a rule begins
// (at the start of the line, or after "@@"), would take it for something
// else: a comment ("!", "[", "# "), a regex rule (the line runs from a '/'
// to a '/'), a left anchor, or, for a blocking rule, blanks to skip or an
// empty line. Such rules come from lines that began with a single '@',
// which the parser drops and after which it reads these characters as
// pattern; their text is written the same way.
bool needsStartEscape(std::string_view pattern, std::string_view options,
                      bool exception, bool rightAnchor) {
  // A '|' at the start is an anchor, not the end of an empty pattern.
  if (pattern.empty()) return rightAnchor || (!exception && options.empty());
  const std::string_view lineEnd = options.empty() ? pattern : options;
  const char first = pattern[0];
  return first == '!' || first == '[' ||
         (first == '#' && pattern.size() > 1 && isBlank(pattern[1])) ||
         (first == '/' && !rightAnchor && lineEnd.back() == '/') ||
         (!exception && isBlank(first));
}

void appendOption(std::string* text, bool negated, const char* keyword,
                  std::string_view value = {}) {
  *text += text->back() == '$' ? "" : ",";
  if (negated) *text += '~';
  *text += keyword;
  *text += value;
}

// "$" and the option list, or nothing for a rule without options. Each bit
// is written by its keyword, in the order of the bits.
std::string optionListOf(const Filter& rule) {
  const bool hasTag = rule.tagLen > 0 && rule.tagText != nullptr;
  if (rule.options == OptNone && rule.negatedOptions == OptNone &&
      rule.domainText == nullptr && !hasTag) {
    return "";
  }
  std::string list = "$";
  for (int i = 0; i < 32; ++i) {
    const auto bit = static_cast<FilterOption>(uint32_t{1} << i);
    const char* keyword = optionKeyword(bit);
    if (keyword == nullptr) keyword = compatibleOptionKeyword(bit);
    if (keyword == nullptr) continue;
    if ((rule.options & bit) != OptNone) appendOption(&list, false, keyword);
    if ((rule.negatedOptions & bit) != OptNone) {
      appendOption(&list, true, keyword);
    }
  }
  if (rule.domainText != nullptr) {
    appendOption(&list, false, "domain=", domainsOf(rule));
  }
  if (hasTag) {
    appendOption(&list, false, "tag=",
                 std::string_view(rule.tagText, rule.tagLen));
  }
  return list;
}

std::string urlRuleText(const Filter& rule) {
  const bool exception = (rule.type & TypeException) != TypeNone;
  const bool hostAnchor = (rule.type & TypeHostAnchor) != TypeNone;
  const bool leftAnchor = (rule.type & TypeLeftAnchor) != TypeNone;
  const bool rightAnchor = (rule.type & TypeRightAnchor) != TypeNone;
  const std::string_view pattern = patternOf(rule);
  const std::string options = optionListOf(rule);
  std::string text = exception ? "@@" : "";
  if (hostAnchor) {
    text += "||";
  } else if (leftAnchor) {
    text += '|';
  } else if (needsStartEscape(pattern, options, exception, rightAnchor)) {
    text += '@';
  }
  text += pattern;
  if (rightAnchor) text += '|';
  return text + options;
}

}  // namespace

std::string ruleText(const Filter& rule) {
  const bool regex = (rule.type & TypeRegex) != TypeNone;
  // A regex rule keeps only its body.
  if (rule.sourceText != nullptr && !regex) return rule.sourceText;
  if (regex) {
    // Only compatible mode gives regex rules options or an exception side.
    const bool exception = (rule.type & TypeException) != TypeNone;
    return (exception ? "@@/" : "/") + std::string(patternOf(rule)) + "/" +
           optionListOf(rule);
  }
  const std::string domains(domainsOf(rule));
  switch (rule.type) {
    case TypeElementHide: return domains + "##" + std::string(patternOf(rule));
    case TypeElementHideException:
      return domains + "#@#" + std::string(patternOf(rule));
    case TypeHtmlRule: return domains + "$$" + std::string(patternOf(rule));
    case TypeComment: return "!";
    case TypeEmpty: return "";
    default: return urlRuleText(rule);
  }
}

}  // namespace tessul
