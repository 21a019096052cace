#include "engine/fingerprint.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "engine/tessul_client.h"

namespace tessul {

const char* const badSubstrings[2] = {"http", "www"};

namespace {

constexpr int kWindow = TessulClient::kFingerprintSize;

uint64_t packWindow(const char* window) {
  uint64_t key = 0;
  memcpy(&key, window, kWindow);
  return key;
}

// The table as sorted packed keys, built on first use.
const std::vector<uint64_t>& badFingerprintKeys() {
  static const std::vector<uint64_t> keys = [] {
    std::vector<uint64_t> sorted;
    sorted.reserve(kBadFingerprintCount);
    for (const char* entry : badFingerprints) {
      sorted.push_back(packWindow(entry));
    }
    std::sort(sorted.begin(), sorted.end());
    return sorted;
  }();
  return keys;
}

bool isFingerprintStop(char c) { return c == '*' || c == '^' || c == '|'; }

}  // namespace

bool isBadFingerprint(const char* start, const char* end) {
  if (end - start != kWindow || memchr(start, '\0', kWindow) != nullptr) {
    return false;
  }
  const std::vector<uint64_t>& keys = badFingerprintKeys();
  return std::binary_search(keys.begin(), keys.end(), packWindow(start));
}

bool hasBadSubstring(const char* start, const char* end) {
  const size_t windowLength = end - start;
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
bool TessulClient::getFingerprint(char* output, const char* input) {
  if (input == nullptr) return false;
  const char* start = input;
  int accepted = 0;
  while (true) {
    const char c = start[accepted];
    if (c == '\0') {
      if (output != nullptr) output[0] = '\0';
      return false;
    }
    if (isFingerprintStop(c)) {
      start += accepted + 1;
      accepted = 0;
      continue;
    }
    if (output != nullptr) output[accepted] = c;
    if (hasBadSubstring(start, start + accepted + 1)) {
      ++start;
      accepted = 0;
      continue;
    }
    if (++accepted < kFingerprintSize) continue;
    if (output != nullptr) output[kFingerprintSize] = '\0';
    if (!isBadFingerprint(start, start + kFingerprintSize)) return true;
    ++start;
    accepted = 0;
  }
}

// A host-anchored rule prefers a fingerprint from the text after its host,
// which is rarer than the host's own text.
bool TessulClient::getFingerprint(char* output, const Filter& filter) {
  if ((filter.type & TypeRegex) != TypeNone || filter.pattern == nullptr) {
    return false;
  }
  if ((filter.type & TypeHostAnchor) != TypeNone && filter.anchorHost) {
    // The pattern normally begins with the host, but a '|' inside the host
    // span is dropped from the pattern, so never skip past its end.
    const size_t patternLength = strlen(filter.pattern);
    const size_t skip = std::min(strlen(filter.anchorHost), patternLength);
    if (getFingerprint(output, filter.pattern + skip)) return true;
  }
  return getFingerprint(output, filter.pattern);
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
