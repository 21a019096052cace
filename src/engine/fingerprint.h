// Fingerprints: six-byte runs of a rule's literal pattern text that the
// fingerprint Bloom filters hold. Windows that occur in very many URLs would
// make the filters raise alarms on most requests, so they are never used:
// the bad-fingerprint table and windows containing "http" or "www".
#ifndef TESSUL_ENGINE_FINGERPRINT_H_
#define TESSUL_ENGINE_FINGERPRINT_H_

#include "engine/bad_fingerprints.h"
#include "hashing/bloom_filter.h"
#include "hashing/set_elements.h"

namespace tessul {

// Substrings that no fingerprint may contain, in the order they are tested.
extern const char* const badSubstrings[2];

// Whether the window [start, end) is an entry of badFingerprints. Only
// six-byte windows can be.
bool isBadFingerprint(const char* start, const char* end);

// Whether a string of badSubstrings lies wholly inside [start, end), which
// ends at or before the text's terminator.
bool hasBadSubstring(const char* start, const char* end);

// Records in `tracker` the first prefixLength-byte window of the URL that
// `bloom` reports present, unless it is recorded already. prefixLength is
// between 1 and 31.
void discoverMatchingPrefix(BadFingerprintsHashSet* tracker, const char* url,
                            BloomFilter* bloom, int prefixLength);

}  // namespace tessul

#endif  // TESSUL_ENGINE_FINGERPRINT_H_
