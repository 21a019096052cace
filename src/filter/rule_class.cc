#include "filter/rule_class.h"

#include "filter/fingerprint.h"

namespace tessul {

namespace {

constexpr RuleClass kNowhere{RulePlace::kNone, RuleSide::kNone};

// The kinds that the line parser assigns as a rule's whole type, so that a
// parsed rule has at most one of them; the other type bits are added to
// plain rules and exceptions. A type without any of them, or with several,
// makes a blocking rule.
constexpr FilterType kWholeKinds = TypeElementHide | TypeElementHideException |
                                   TypeComment | TypeException | TypeEmpty |
                                   TypeHtmlRule;

RulePlace requestRulePlace(Filter& rule, char* fingerprint) {
  if ((rule.type & TypeHostOnly) != TypeNone) return RulePlace::kHostOnly;
  if (findFingerprint(fingerprint, rule)) return RulePlace::kFingerprinted;
  if (rule.isDomainOnlyFilter()) return RulePlace::kIncludeDomain;
  if (rule.isAntiDomainOnlyFilter()) return RulePlace::kExcludeDomain;
  return RulePlace::kUnfingerprinted;
}

}  // namespace

RuleClass classifyRule(Filter& rule, char* fingerprint) {
  if (rule.hasUnsupportedOptions()) return kNowhere;
  // A line the parser abandoned (too long) has no pattern and never
  // matches. An image could not tell it from a rule whose pattern is empty,
  // which matches every request its options allow.
  if (rule.pattern == nullptr) return kNowhere;
  switch (rule.type & kWholeKinds) {
    case TypeElementHide:
    case TypeElementHideException:
      return {RulePlace::kElementHide, RuleSide::kNone};
    case TypeComment:
    case TypeEmpty:
      return kNowhere;
    case TypeHtmlRule:
      return {RulePlace::kHtml, RuleSide::kNone};
    case TypeException:
      return {requestRulePlace(rule, fingerprint), RuleSide::kException};
    default:
      return {requestRulePlace(rule, fingerprint), RuleSide::kBlock};
  }
}

}  // namespace tessul
