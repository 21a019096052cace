// Fingerprints: six-byte runs of a rule's literal pattern text that the
// engine's fingerprint Bloom filters hold. Windows that occur in very many
// URLs would make the filters raise alarms on most requests, so they are
// never used: the bad-fingerprint table and windows containing "http" or
// "www".
#ifndef TESSUL_FILTER_FINGERPRINT_H_
#define TESSUL_FILTER_FINGERPRINT_H_

#include "filter/bad_fingerprints.h"
#include "filter/filter.h"
#include "hashing/bloom_filter.h"
#include "hashing/set_elements.h"

namespace tessul {

// Bytes of a fingerprint. A buffer that receives one holds
// kFingerprintSize + 1 bytes: the fingerprint and a NUL.
constexpr int kFingerprintSize = 6;

// Substrings that no fingerprint may contain, in the order they are tested.
extern const char* const badSubstrings[2];

// Whether the window [start, end) is an entry of badFingerprints. Only
// six-byte windows can be.
bool isBadFingerprint(const char* start, const char* end);

// Whether a string of badSubstrings lies wholly inside [start, end), which
// ends at or before the text's terminator.
bool hasBadSubstring(const char* start, const char* end);

// The fingerprint of a NUL-terminated text: its leftmost run of
// kFingerprintSize bytes without '*', '^' or '|', without a bad substring,
// and not in the bad-fingerprint table. `output`, when given, receives it
// (or an empty text when there is none). A null `input` has none and leaves
// `output` as it is.
bool findFingerprint(char* output, const char* input);
// The fingerprint of a rule. Regex rules and rules without pattern have
// none; a host-anchored rule prefers one from the text after its host.
bool findFingerprint(char* output, const Filter& filter);

// Records in `tracker` the first prefixLength-byte window of the URL that
// `bloom` reports present, unless it is recorded already. prefixLength is
// between 1 and 31.
void discoverMatchingPrefix(BadFingerprintsHashSet* tracker, const char* url,
                            BloomFilter* bloom, int prefixLength);

}  // namespace tessul

#endif  // TESSUL_FILTER_FINGERPRINT_H_
