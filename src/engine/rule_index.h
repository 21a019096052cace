// An index of a rule array by a short literal key per rule. A rule can only
// match a URL that contains the literal text of its pattern (the runs
// between '*', '^' and '|'), so instead of trying every rule of an array,
// matching tries the rules whose key occurs in the URL, in array order. The
// first rule that applies is the one a full scan would find.
#ifndef TESSUL_ENGINE_RULE_INDEX_H_
#define TESSUL_ENGINE_RULE_INDEX_H_

#include <cstddef>
#include <cstdint>
#include <vector>

#include "filter/filter.h"
#include "hashing/presence_bits.h"

namespace tessul {

class RuleIndex {
 public:
  // Keys of `keyLength` bytes, at most 8.
  explicit RuleIndex(int keyLength) : keyLength_(keyLength) {}

  RuleIndex(RuleIndex&&) = default;
  RuleIndex& operator=(RuleIndex&&) = default;

  // Indexes the `count` rules of `rules`. A fingerprinted array is keyed by
  // the rules' fingerprints (keyLength 6); any other array by a literal run
  // of the pattern. Rules that can never match (regex rules, rules without
  // pattern) are left out; rules without a key are candidates for every URL.
  // The `extraCount` rules of `extra`, keyed alike, follow at positions
  // count + i, so that one pass over a URL finds the candidates of both (a
  // caller's stand-ins for rules kept elsewhere).
  void build(const Filter* rules, int count, bool byFingerprint,
             const Filter* extra = nullptr, int extraCount = 0);
  // Forgets the rules; isFor() is false afterwards.
  void reset();
  // Whether the index describes exactly this array.
  bool isFor(const Filter* rules, int count) const {
    return rules != nullptr && rules == rules_ && count == count_;
  }

  // How many rules the index keeps under a key.
  size_t keyedRuleCount() const { return rulesByKey_.size(); }
  // Whether test(key, position) holds for every key, given the key's
  // keyLength bytes and the position of a rule indexed under it. Stops at
  // the first key that fails.
  template <typename Test>
  bool everyKey(Test test) const {
    char text[8];
    for (const Slot& slot : slots_) {
      if (slot.key == 0) continue;
      for (int i = 0; i < keyLength_; ++i) {
        text[i] = static_cast<char>(slot.key >> (8 * i));
      }
      if (!test(text, rulesByKey_[slot.first])) return false;
    }
    return true;
  }

  // Replaces `candidates` with the positions, ascending and distinct, of the
  // rules that may match the URL of `urlLength` bytes. Allocates only when
  // `candidates` has to grow beyond its capacity.
  void findCandidates(const char* url, int urlLength,
                      std::vector<int>* candidates) const;

 private:
  struct Slot {
    uint64_t key;    // the key's bytes; 0 for an empty slot
    int32_t first;   // first position in rulesByKey_
    int32_t count;   // rules with this key
  };

  bool keyOf(const Filter& rule, bool byFingerprint, uint64_t* key) const;
  uint64_t pack(const char* text) const;
  const Slot* find(uint64_t key) const;
  // The slot of `key`, taken for it when the key has none yet.
  Slot* slotFor(uint64_t key);
  size_t slotOf(uint64_t key) const {
    return static_cast<size_t>((key * 0x9E3779B97F4A7C15ull) >> shift_);
  }

  int keyLength_;
  const Filter* rules_ = nullptr;
  int count_ = 0;
  // Most windows of a URL are no key: this answers for them, from at most
  // 32 KiB, sized to the keys.
  PresenceBits presentKeys_;
  std::vector<Slot> slots_;          // open addressing, a power of two
  int shift_ = 64;
  std::vector<int32_t> rulesByKey_;  // rule positions grouped by key
  std::vector<int32_t> unkeyed_;     // rules tried for every URL
};

}  // namespace tessul

#endif  // TESSUL_ENGINE_RULE_INDEX_H_
