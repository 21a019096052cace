// The request types that people name (tessul check --type, request logs)
// come from the option keyword table that the rule parser reads.

#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "filter/filter.h"
#include "filter/option_keywords.h"

namespace tessul {
namespace {

std::vector<std::string> listedRequestTypes() {
  std::vector<std::string> keywords;
  const std::string list = requestTypeKeywords();
  for (size_t start = 0; start <= list.size();) {
    size_t comma = list.find(", ", start);
    if (comma == std::string::npos) comma = list.size();
    keywords.push_back(list.substr(start, comma - start));
    start = comma + 2;
  }
  return keywords;
}

// Each listed keyword names one request-type bit, the bit a rule gets from
// the same keyword, and together they name every bit of the mask.
TEST(OptionKeywordsTest, RequestTypesAreTheRuleKeywordsOfTheirBits) {
  FilterOption named = OptNone;
  const std::vector<std::string> keywords = listedRequestTypes();
  EXPECT_EQ(keywords.size(), 15u);
  for (const std::string& keyword : keywords) {
    const std::optional<FilterOption> bit = requestTypeOption(keyword);
    ASSERT_TRUE(bit.has_value()) << keyword;
    EXPECT_EQ(*bit & kRequestTypeMask, *bit) << keyword;
    EXPECT_EQ((named & *bit), OptNone) << keyword << " named twice";
    const int length = static_cast<int>(keyword.size());
    EXPECT_EQ(optionKeywordBit(keyword.data(), length), *bit) << keyword;
    named |= *bit;
  }
  EXPECT_EQ(named, kRequestTypeMask);
  EXPECT_EQ(keywords.front(), "script") << "the most common kinds first";
}

TEST(OptionKeywordsTest, OnlyWholeRequestTypeKeywordsNameRequestTypes) {
  for (const char* keyword :
       {"", "stylesh", "scripts", "Script", "third-party", "popup", "csp=",
        "domain=", "important"}) {
    EXPECT_FALSE(requestTypeOption(keyword).has_value()) << keyword;
  }
}

}  // namespace
}  // namespace tessul
