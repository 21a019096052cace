// One line of a filter list into parseFilter, as the engine's two passes
// parse it: without stores (counting) and with every store (filling). Both
// must read the same rule, or the engine's rule arrays would be sized for
// rules other than those it files. The rule is then matched against a URL
// made from the line itself and against a fixed one.

#include <cstddef>
#include <cstdint>
#include <string>

#include "engine/tessul_client.h"
#include "filter/filter_parser.h"
#include "fuzz_support.h"
#include "hashing/bloom_filter.h"

namespace tessul {
namespace {

// The rule kinds that request matching tries.
bool isRequestRule(const Filter& rule) {
  return (rule.type & static_cast<FilterType>(
                          TypeElementHide | TypeElementHideException |
                          TypeComment | TypeEmpty | TypeHtmlRule)) == TypeNone;
}

void matchRule(Filter& rule, const std::string& url) {
  const FilterOption typeOfRule = rule.options & kRequestTypeMask;
  rule.matches(url.c_str(), typeOfRule, "example.com", nullptr, nullptr, 0);
  rule.matches(url.c_str(), OptScript | OptThirdParty, nullptr, nullptr,
               nullptr, 0);
  rule.matches("http://ads.example.com:8080/banner/ad.js?x=1^y", OptImage,
               "ads.example.com", nullptr, nullptr, 0);
}

}  // namespace
}  // namespace tessul

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace tessul;
  const fuzzing::TerminatedCopy line(data, size);

  Filter counted;
  parseFilter(line.begin(), line.end(), &counted);

  BloomFilter blockBloom(10, 1000, fingerprintHashFns, kFingerprintHashFnCount);
  BloomFilter exceptionBloom(10, 1000, fingerprintHashFns,
                             kFingerprintHashFnCount);
  HashSet<Filter> hostSet(/*allowDuplicates=*/true);
  hostSet.Init(64);
  HashSet<Filter> exceptionHostSet(/*allowDuplicates=*/true);
  exceptionHostSet.Init(64);
  HashSet<CosmeticFilter> selectors;
  selectors.Init(64);
  Filter filed;
  parseFilter(line.begin(), line.end(), &filed, &blockBloom, &exceptionBloom,
              &hostSet, &exceptionHostSet, &selectors, /*preserveRules=*/true);

  fuzzing::require(counted.isSameRule(filed),
                   "both passes parse a line into the same rule");
  fuzzing::require(TessulClient::getFingerprint(nullptr, counted) ==
                       TessulClient::getFingerprint(nullptr, filed),
                   "both passes agree on the rule's fingerprint");
  if (isRequestRule(filed)) {
    matchRule(filed, fuzzing::urlFromRuleLine(line.begin(), line.end()));
  }
  return 0;
}
