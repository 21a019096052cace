// Byte-level helpers over request URLs and rule patterns: separator
// characters, the host of a URL, party tests and the search of one pattern
// segment. All comparisons are by bytes and case-sensitive.
#ifndef TESSUL_FILTER_URL_TEXT_H_
#define TESSUL_FILTER_URL_TEXT_H_

#include <cstdint>

namespace tessul {

// Bit set over the 256 byte values: '$', '/', ':', '=', '?' and '^'. A '^'
// in a pattern matches any of these, or the end of the URL.
extern const uint8_t separatorBuffer[32];

inline bool isSeparatorChar(char c) {
  unsigned char byte = static_cast<unsigned char>(c);
  return (separatorBuffer[byte / 8] >> (byte % 8)) & 1;
}

// Whether a pattern byte stands for itself: '*' (any text), '^' (a
// separator or the end) and '|' (an anchor) do not.
inline bool isPatternLiteral(char c) {
  return c != '*' && c != '^' && c != '|';
}

// Characters before the first separator in [start, end), or end - start.
int findFirstSeparatorChar(const char* start, const char* end);

// The first position in [start, end) holding `c` or a NUL; `end` if none.
const char* getNextPos(const char* start, char c, const char* end);

// The host of a NUL-terminated URL: after the first ':' and the '/'s that
// follow it, up to the first separator (so a port ends it). A URL without
// ':' has an empty host at its terminator.
const char* getUrlHost(const char* url, int* hostLen);

// Whether the first textLen bytes of text end with the suffixLen bytes of
// suffix.
bool endsWith(const char* text, const char* suffix, int textLen,
              int suffixLen);

// False when testHost is baseHost or a subdomain of it (b.a.test and a.test
// are the same party; ba.test and a.test are not).
bool isThirdPartyHost(const char* baseHost, int baseHostLen,
                      const char* testHost, int testHostLen);

// Where the segment [segment, segmentEnd) (no '*' in it) first occurs in the
// first inputLen bytes of input, or -1. A '^' matches a separator or the end
// of the input; nothing matches beyond the end.
int indexOfFilter(const char* input, int inputLen, const char* segment,
                  const char* segmentEnd);

}  // namespace tessul

#endif  // TESSUL_FILTER_URL_TEXT_H_
