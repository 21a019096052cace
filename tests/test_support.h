// Small helpers shared by the tests.
#ifndef TESSUL_TESTS_TEST_SUPPORT_H_
#define TESSUL_TESTS_TEST_SUPPORT_H_

#include <cstdint>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "engine/tessul_client.h"
#include "filter/filter.h"
#include "filter/option_keywords.h"

namespace tessul {
namespace testing {

inline std::string readDataFile(const std::string& name) {
  std::ifstream in(std::string(TESSUL_DATA_DIR) + "/" + name, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// EasyList followed by EasyPrivacy, as the default engine parses them.
inline std::string bundledLists() {
  return readDataFile("easylist.txt") + "\n" + readDataFile("easyprivacy.txt");
}

struct Request {
  std::string url;
  std::string type;
  std::string pageHost;  // may be empty
};

inline std::vector<Request> readRequests(const std::string& name) {
  std::vector<Request> requests;
  std::istringstream lines(readDataFile(name));
  std::string line;
  while (std::getline(lines, line)) {
    if (line.empty() || line[0] == '#') continue;
    Request request;
    std::istringstream fields(line);
    std::getline(fields, request.url, '\t');
    std::getline(fields, request.type, '\t');
    std::getline(fields, request.pageHost, '\t');
    requests.push_back(request);
  }
  return requests;
}

// The option bit of a request type keyword of the request logs; OptOther
// for a keyword that names no request type.
inline FilterOption requestTypeOption(const std::string& type) {
  return tessul::requestTypeOption(type).value_or(OptOther);
}

// The twelve counts of an engine, added up.
inline int32_t totalCount(const TessulClient& e) {
  return e.fingerprintedBlockCount + e.elementHideCount + e.htmlRuleCount +
         e.fingerprintedExceptionCount + e.unfingerprintedBlockCount +
         e.unfingerprintedExceptionCount + e.includeDomainBlockCount +
         e.excludeDomainBlockCount + e.includeDomainExceptionCount +
         e.excludeDomainExceptionCount + e.hostBlockCount + e.hostExceptionCount;
}

inline std::string patternOf(const Filter* rule) {
  if (rule == nullptr) return "<none>";
  if (rule->pattern == nullptr) return "<no pattern>";
  return rule->patternLen >= 0 ? std::string(rule->pattern, rule->patternLen)
                               : std::string(rule->pattern);
}

}  // namespace testing
}  // namespace tessul

#endif  // TESSUL_TESTS_TEST_SUPPORT_H_
