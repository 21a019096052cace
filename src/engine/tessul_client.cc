#include "engine/tessul_client.h"

#include <string_view>

#include "filter/fingerprint.h"

namespace tessul {

TessulClient::TessulClient() { candidates_.reserve(256); }

TessulClient::~TessulClient() { clear(); }

namespace {

template <typename T>
void release(T*& store) {
  delete store;  // a hash set's destructor runs its Cleanup
  store = nullptr;
}

void releaseArray(Filter*& rules) {
  delete[] rules;
  rules = nullptr;
}

}  // namespace

void TessulClient::clear() {
  for (Filter** rules :
       {&fingerprintedBlockRules, &elementHideRules, &htmlRules,
        &fingerprintedExceptionRules, &unfingerprintedBlockRules,
        &unfingerprintedExceptionRules, &includeDomainBlockRules,
        &excludeDomainBlockRules, &includeDomainExceptionRules,
        &excludeDomainExceptionRules}) {
    releaseArray(*rules);
  }
  for (RuleIndex* index :
       {&fingerprintedBlockIndex_, &fingerprintedExceptionIndex_,
        &unfingerprintedBlockIndex_, &unfingerprintedExceptionIndex_}) {
    index->reset();
  }
  hostBlockPresence_.build(nullptr);
  hostExceptionPresence_.build(nullptr);
  release(blockFingerprintBloom);
  release(exceptionFingerprintBloom);
  release(hostBlockSet);
  release(hostExceptionSet);
  release(includeDomainBlockSet);
  release(excludeDomainBlockSet);
  release(includeDomainExceptionSet);
  release(excludeDomainExceptionSet);
  release(badFingerprintTracker);
  for (int32_t* count :
       {&fingerprintedBlockCount, &elementHideCount, &htmlRuleCount,
        &fingerprintedExceptionCount, &unfingerprintedBlockCount,
        &unfingerprintedExceptionCount, &includeDomainBlockCount,
        &excludeDomainBlockCount, &includeDomainExceptionCount,
        &excludeDomainExceptionCount, &hostBlockCount, &hostExceptionCount}) {
    *count = 0;
  }
  for (uint32_t* statistic :
       {&blockBloomFalseHits, &exceptionBloomFalseHits, &blockBloomSkips,
        &exceptionBloomSkips, &blockHostSetSkips, &exceptionHostSetSkips}) {
    *statistic = 0;
  }
}

void TessulClient::addTag(const std::string& tag) { enabledTags.insert(tag); }

void TessulClient::removeTag(const std::string& tag) { enabledTags.erase(tag); }

bool TessulClient::tagExists(const std::string& tag) const {
  return enabledTags.count(tag) > 0;
}

bool TessulClient::ruleApplies(Filter& rule, const char* input, int inputLen,
                               FilterOption contextOptions,
                               const char* contextDomain,
                               BloomFilter* inputBloomFilter,
                               const char* inputHost, int inputHostLen) const {
  if (!rule.matches(input, inputLen, contextOptions, contextDomain,
                    inputBloomFilter, inputHost, inputHostLen)) {
    return false;
  }
  return rule.tagLen <= 0 ||
         enabledTags.find(std::string_view(rule.tagText, rule.tagLen)) !=
             enabledTags.end();
}

void TessulClient::buildRuleIndexes() {
  fingerprintedBlockIndex_.build(fingerprintedBlockRules,
                                 fingerprintedBlockCount, true);
  fingerprintedExceptionIndex_.build(fingerprintedExceptionRules,
                                     fingerprintedExceptionCount, true);
  unfingerprintedBlockIndex_.build(unfingerprintedBlockRules,
                                   unfingerprintedBlockCount, false);
  unfingerprintedExceptionIndex_.build(unfingerprintedExceptionRules,
                                       unfingerprintedExceptionCount, false);
}

void TessulClient::initBloomFilter(BloomFilter** slot, const char* source,
                                   int byteCount) {
  release(*slot);
  if (byteCount >= 1) {
    *slot = new BloomFilter(source, byteCount, fingerprintHashFns,
                            kFingerprintHashFnCount);
  }
}

void TessulClient::enableBadFingerprintDetection() {
  if (badFingerprintTracker != nullptr) return;
  badFingerprintTracker = new BadFingerprintsHashSet;
  for (const char* entry : badFingerprints) {
    badFingerprintTracker->Add(BadFingerprint(entry), true);
  }
}

}  // namespace tessul
