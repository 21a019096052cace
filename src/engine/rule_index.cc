#include "engine/rule_index.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "filter/fingerprint.h"
#include "filter/url_text.h"
#include "hashing/packed_bytes.h"

namespace tessul {

namespace {

// Characters that most URLs contain; a key made of fewer of them is rarer.
int commonness(const char* text, int length) {
  int common = 0;
  for (int i = 0; i < length; ++i) {
    common += strchr("/.:?=&-_0123456789", text[i]) != nullptr;
  }
  return common;
}

// The literal run of `length` bytes of the pattern with the fewest common
// URL characters (the first such), or null when the pattern has none.
const char* rarestLiteralRun(const char* pattern, int patternLength,
                             int length) {
  const char* best = nullptr;
  int bestCommonness = length + 1;
  int run = 0;
  for (int i = 0; i < patternLength; ++i) {
    run = isPatternLiteral(pattern[i]) ? run + 1 : 0;
    if (run < length) continue;
    const char* start = pattern + i + 1 - length;
    const int score = commonness(start, length);
    if (score < bestCommonness) {
      best = start;
      bestCommonness = score;
    }
  }
  return best;
}

}  // namespace

void RuleIndex::reset() { *this = RuleIndex(keyLength_); }

// Keys hold the text's bytes, the first in the lowest byte (packBytes); a
// key is never 0 since pattern text holds no NUL.
uint64_t RuleIndex::pack(const char* text) const {
  return packBytes(text, keyLength_);
}

bool RuleIndex::keyOf(const Filter& rule, bool byFingerprint,
                      uint64_t* key) const {
  if (byFingerprint) {
    char fingerprint[kFingerprintSize + 1];
    if (!findFingerprint(fingerprint, rule)) return false;
    *key = pack(fingerprint);
    return true;
  }
  // URLs are looked up in lower case in compatible mode, where alone rules
  // keep their case.
  if ((rule.options & OptMatchCase) != OptNone) return false;
  const char* run = rarestLiteralRun(rule.pattern, strlen(rule.pattern),
                                     keyLength_);
  if (run == nullptr) return false;
  *key = pack(run);
  return true;
}

// Two passes over the keyed rules, without sorting them: the first counts
// the rules of each key in its slot, the second files each rule after the
// ones of its key before it, so that every key's rules stay in array order.
void RuleIndex::build(const Filter* rules, int count, bool byFingerprint,
                      const Filter* extra, int extraCount) {
  reset();
  rules_ = rules;
  count_ = count;
  if (count + extraCount == 0) return;
  std::vector<std::pair<uint64_t, int32_t>> keyed;
  keyed.reserve(count + extraCount);
  for (int i = 0; i < count + extraCount; ++i) {
    const Filter& rule = i < count ? rules[i] : extra[i - count];
    if (rule.pattern == nullptr || (rule.type & TypeRegex) != TypeNone) {
      continue;  // never matches
    }
    uint64_t key;
    if (keyOf(rule, byFingerprint, &key)) {
      keyed.emplace_back(key, i);
    } else {
      unkeyed_.push_back(i);
    }
  }
  if (keyed.empty()) return;  // findCandidates() needs no slots

  // 64 bits a key, up to 2^18 bits (32 KiB): the fingerprinted array's ten
  // thousand keys then rule out all but a few windows of a URL before the
  // slots, which lie far apart in memory, are probed.
  presentKeys_.reset(PresenceBits::log2BitsFor(keyed.size(), 64, 18));
  // At most two thirds full: the presence bits keep most absent keys from
  // probing at all, and the slots are the index's largest part.
  size_t slotCount = 16;
  while (slotCount < keyed.size() + keyed.size() / 2) slotCount *= 2;
  slots_.assign(slotCount, Slot{0, 0, 0});
  for (size_t n = slotCount; n > 1; n /= 2) --shift_;
  for (const auto& [key, rule] : keyed) {
    ++slotFor(key)->count;
    presentKeys_.add(key);
  }
  int32_t first = 0;
  for (Slot& slot : slots_) {
    slot.first = first;
    first += slot.count;
    slot.count = 0;
  }
  rulesByKey_.resize(keyed.size());
  for (const auto& [key, rule] : keyed) {
    Slot* slot = slotFor(key);
    rulesByKey_[slot->first + slot->count++] = rule;
  }
}

RuleIndex::Slot* RuleIndex::slotFor(uint64_t key) {
  const size_t mask = slots_.size() - 1;
  size_t slot = slotOf(key);
  while (slots_[slot].key != 0 && slots_[slot].key != key) {
    slot = (slot + 1) & mask;
  }
  slots_[slot].key = key;
  return &slots_[slot];
}

const RuleIndex::Slot* RuleIndex::find(uint64_t key) const {
  const size_t mask = slots_.size() - 1;
  for (size_t slot = slotOf(key);; slot = (slot + 1) & mask) {
    if (slots_[slot].key == key) return &slots_[slot];
    if (slots_[slot].key == 0) return nullptr;
  }
}

void RuleIndex::findCandidates(const char* url, int urlLength,
                               std::vector<int>* candidates) const {
  candidates->assign(unkeyed_.begin(), unkeyed_.end());
  if (urlLength < keyLength_ || rulesByKey_.empty()) return;
  const int highByte = 8 * (keyLength_ - 1);
  uint64_t key = pack(url);
  // The unkeyed rules and each key's rules are runs in ascending order;
  // one run alone needs no sorting.
  int runs = unkeyed_.empty() ? 0 : 1;
  for (int i = 0;; ++i) {
    const Slot* slot = presentKeys_.mayContain(key) ? find(key) : nullptr;
    if (slot != nullptr) {
      candidates->insert(candidates->end(), rulesByKey_.begin() + slot->first,
                         rulesByKey_.begin() + slot->first + slot->count);
      ++runs;
    }
    if (i + keyLength_ >= urlLength) break;
    const auto next = static_cast<unsigned char>(url[i + keyLength_]);
    key = (key >> 8) | (static_cast<uint64_t>(next) << highByte);
  }
  if (runs < 2) return;
  std::sort(candidates->begin(), candidates->end());
  candidates->erase(std::unique(candidates->begin(), candidates->end()),
                    candidates->end());
}

}  // namespace tessul
