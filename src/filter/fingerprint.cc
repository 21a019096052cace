#include "filter/fingerprint.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "filter/url_text.h"
#include "hashing/packed_bytes.h"
#include "hashing/presence_bits.h"

namespace tessul {

const char* const badSubstrings[2] = {"http", "www"};

namespace {

// The table as packed keys in an open-addressing table at most half full,
// so that a window is told in one probe or two, behind a bit set that rules
// out most windows: loading an image looks up a few windows of every
// fingerprinted rule. Built on first use.
class BadFingerprintKeys {
 public:
  BadFingerprintKeys() : slots_(kSlotCount, 0) {
    for (const char* entry : badFingerprints) {
      const uint64_t key = packBytes(entry, kFingerprintSize);
      slots_[slotOf(key)] = key;
      present_.add(key);
    }
  }
  // Keys are never 0: a key packs six bytes that are not NUL.
  bool contains(uint64_t key) const {
    return present_.mayContain(key) && slots_[slotOf(key)] == key;
  }

 private:
  static constexpr int kSlotBits = 15;
  static constexpr size_t kSlotCount = size_t{1} << kSlotBits;
  static_assert(kBadFingerprintCount * 2 <= kSlotCount);

  // The slot that holds `key`, or the empty one where it would go.
  size_t slotOf(uint64_t key) const {
    size_t slot = static_cast<size_t>((key * 0x9E3779B97F4A7C15ull) >>
                                      (64 - kSlotBits));
    while (slots_[slot] != 0 && slots_[slot] != key) {
      slot = (slot + 1) & (kSlotCount - 1);
    }
    return slot;
  }

  std::vector<uint64_t> slots_;
  // Rules out most windows from 32 KiB, before the table's 256 KiB.
  PresenceBits present_{18};
};

const BadFingerprintKeys& badFingerprintKeys() {
  static const BadFingerprintKeys keys;
  return keys;
}

// Whether a bad substring ends at window[last]. The search below grows a
// window one byte at a time from a window known to hold none, so this
// answers as hasBadSubstring() over the whole window would. The last byte
// rules out most windows before a comparison.
bool badSubstringEndsAt(const char* window, int last) {
  for (const char* bad : badSubstrings) {
    const int length = static_cast<int>(strlen(bad));
    if (last + 1 >= length && window[last] == bad[length - 1] &&
        memcmp(window + last + 1 - length, bad, length) == 0) {
      return true;
    }
  }
  return false;
}

}  // namespace

bool isBadFingerprint(const char* start, const char* end) {
  if (end - start != kFingerprintSize) return false;
  for (int i = 0; i < kFingerprintSize; ++i) {
    if (start[i] == '\0') return false;
  }
  return badFingerprintKeys().contains(packBytes(start, kFingerprintSize));
}

bool hasBadSubstring(const char* start, const char* end) {
  // The text ends at a NUL, even inside the window.
  const size_t windowLength = strnlen(start, end - start);
  for (const char* bad : badSubstrings) {
    const size_t badLength = strlen(bad);
    for (size_t i = 0; i + badLength <= windowLength; ++i) {
      if (memcmp(start + i, bad, badLength) == 0) return true;
    }
  }
  return false;
}

// The leftmost window that avoids '*', '^', '|', the bad substrings and the
// table. A stop character skips every window that would contain it.
bool findFingerprint(char* output, const char* input) {
  if (input == nullptr) return false;
  const char* start = input;
  int accepted = 0;
  while (true) {
    const char c = start[accepted];
    if (c == '\0') {
      if (output != nullptr) output[0] = '\0';
      return false;
    }
    if (!isPatternLiteral(c)) {
      start += accepted + 1;
      accepted = 0;
      continue;
    }
    if (output != nullptr) output[accepted] = c;
    if (badSubstringEndsAt(start, accepted)) {
      ++start;
      accepted = 0;
      continue;
    }
    if (++accepted < kFingerprintSize) continue;
    if (output != nullptr) output[kFingerprintSize] = '\0';
    if (!isBadFingerprint(start, start + kFingerprintSize)) return true;
    // The next window keeps the last five bytes, which hold no stop
    // character and, being part of a window that held none, no bad
    // substring: only its new last byte is to be looked at.
    ++start;
    accepted = kFingerprintSize - 1;
    if (output != nullptr) memmove(output, output + 1, accepted);
  }
}

// A host-anchored rule prefers a fingerprint from the text after its host,
// which is rarer than the host's own text. A $match-case rule has none:
// compatible mode looks requests up with their letters in lower case.
bool findFingerprint(char* output, const Filter& filter) {
  if ((filter.type & TypeRegex) != TypeNone || filter.pattern == nullptr ||
      (filter.options & OptMatchCase) != OptNone) {
    return false;
  }
  if ((filter.type & TypeHostAnchor) != TypeNone && filter.anchorHost) {
    // The pattern normally begins with the host, but a '|' inside the host
    // span is dropped from the pattern, so never skip past its end.
    const size_t patternLength = strlen(filter.pattern);
    const size_t skip = std::min(strlen(filter.anchorHost), patternLength);
    if (findFingerprint(output, filter.pattern + skip)) return true;
  }
  return findFingerprint(output, filter.pattern);
}

void discoverMatchingPrefix(BadFingerprintsHashSet* tracker, const char* url,
                            BloomFilter* bloom, int prefixLength) {
  const int length = static_cast<int>(strlen(url));
  for (int i = 0; i <= length - prefixLength; ++i) {
    if (!bloom->exists(url + i, prefixLength)) continue;
    char window[32] = {};
    memcpy(window, url + i, prefixLength);
    if (tracker != nullptr) tracker->Add(BadFingerprint(window), true);
    return;
  }
}

}  // namespace tessul
