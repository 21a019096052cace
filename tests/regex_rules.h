// The regex rules of the bundled lists, for the regex tests and benchmarks.
#ifndef TESSUL_TESTS_REGEX_RULES_H_
#define TESSUL_TESTS_REGEX_RULES_H_

#include <sstream>
#include <string>
#include <vector>

#include "test_support.h"

namespace tessul {
namespace testing {

// The body of a regex rule on `line` (after any "@@", between the first '/'
// and the '/' before the options or the end), or "" if it is none.
inline std::string regexBody(std::string line) {
  if (line.rfind("@@", 0) == 0) line = line.substr(2);
  if (line.size() < 2 || line[0] != '/') return "";
  size_t end = line.rfind("/$");
  if (line.back() == '/') end = line.size() - 1;
  return end == std::string::npos || end == 0 ? "" : line.substr(1, end - 1);
}

// The bodies of the regex rules of EasyList and EasyPrivacy, in list order.
inline std::vector<std::string> bundledRegexBodies() {
  std::vector<std::string> bodies;
  for (const char* list : {"easylist.txt", "easyprivacy.txt"}) {
    std::istringstream lines(readDataFile(list));
    std::string line;
    while (std::getline(lines, line)) {
      std::string body = regexBody(line);
      if (!body.empty()) bodies.push_back(std::move(body));
    }
  }
  return bodies;
}

}  // namespace testing
}  // namespace tessul

#endif  // TESSUL_TESTS_REGEX_RULES_H_
