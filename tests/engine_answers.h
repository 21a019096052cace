// What an engine answers for a request, in a form that two engines' answers
// can be compared by: the decision and the patterns of the deciding rules.
// Shared by the round-trip tests and the fuzz targets.
#ifndef TESSUL_TESTS_ENGINE_ANSWERS_H_
#define TESSUL_TESTS_ENGINE_ANSWERS_H_

#include <ostream>
#include <string>

#include "engine/tessul_client.h"

namespace tessul {
namespace testing {

struct Answer {
  bool blocked = false;
  std::string rule;       // pattern of the blocking rule, "" for none
  std::string exception;  // pattern of the exception rule, "" for none

  bool operator==(const Answer& other) const {
    return blocked == other.blocked && rule == other.rule &&
           exception == other.exception;
  }
  bool operator!=(const Answer& other) const { return !(*this == other); }
};

// A rule's pattern however it is stored: measured or not, or absent.
inline std::string patternText(const Filter* rule) {
  if (rule == nullptr || rule->pattern == nullptr) return "";
  return rule->patternLen >= 0 ? std::string(rule->pattern, rule->patternLen)
                               : std::string(rule->pattern);
}

inline Answer ask(TessulClient& engine, const char* url, FilterOption options,
                  const char* pageHost) {
  Filter* rule = nullptr;
  Filter* exception = nullptr;
  Answer answer;
  answer.blocked = engine.matches(url, options, pageHost, &rule, &exception);
  answer.rule = patternText(rule);
  answer.exception = patternText(exception);
  return answer;
}

inline std::ostream& operator<<(std::ostream& out, const Answer& answer) {
  return out << (answer.blocked ? "blocked" : "allowed") << " by '"
             << answer.rule << "' except '" << answer.exception << "'";
}

}  // namespace testing
}  // namespace tessul

#endif  // TESSUL_TESTS_ENGINE_ANSWERS_H_
