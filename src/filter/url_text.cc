#include "filter/url_text.h"

#include <cstring>

namespace tessul {

const uint8_t separatorBuffer[32] = {0, 0, 0, 0, 0x10, 0x80, 0, 0xA4,
                                     0, 0, 0, 0x40, 0, 0, 0, 0,
                                     0, 0, 0, 0,    0, 0, 0, 0,
                                     0, 0, 0, 0,    0, 0, 0, 0};

int findFirstSeparatorChar(const char* start, const char* end) {
  for (const char* p = start; p < end; ++p) {
    if (isSeparatorChar(*p)) return static_cast<int>(p - start);
  }
  return static_cast<int>(end - start);
}

const char* getNextPos(const char* start, char c, const char* end) {
  for (const char* p = start; p < end; ++p) {
    if (*p == c || *p == '\0') return p;
  }
  return end;
}

const char* getUrlHost(const char* url, int* hostLen) {
  const char* p = url;
  while (*p != ':' && *p != '\0') ++p;
  if (*p == '\0') {
    *hostLen = 0;
    return p;
  }
  ++p;
  while (*p == '/') ++p;
  *hostLen = findFirstSeparatorChar(p, p + strlen(p));
  return p;
}

bool endsWith(const char* text, const char* suffix, int textLen,
              int suffixLen) {
  return textLen >= suffixLen &&
         (suffixLen == 0 ||
          memcmp(text + textLen - suffixLen, suffix, suffixLen) == 0);
}

bool isThirdPartyHost(const char* baseHost, int baseHostLen,
                      const char* testHost, int testHostLen) {
  if (!endsWith(testHost, baseHost, testHostLen, baseHostLen)) return true;
  return testHostLen != baseHostLen &&
         testHost[testHostLen - baseHostLen - 1] != '.';
}

int indexOfFilter(const char* input, int inputLen, const char* segment,
                  const char* segmentEnd) {
  const int segmentLen = static_cast<int>(segmentEnd - segment);
  if (segmentLen == 1) {
    if (inputLen < 1 || segment[0] == '^') return -1;
  } else if (segmentLen > inputLen) {
    return -1;
  }
  for (int start = 0; start < inputLen; ++start) {
    // A start whose first byte differs cannot match: jump to the next one
    // that holds the segment's first byte (a '^' matches several bytes).
    if (segmentLen > 0 && segment[0] != '^') {
      const void* next =
          memchr(input + start, segment[0], inputLen - start);
      if (next == nullptr) return -1;
      start = static_cast<int>(static_cast<const char*>(next) - input);
    }
    int j = 0;
    for (; j < segmentLen; ++j) {
      const char wanted = segment[j];
      const int at = start + j;
      if (at >= inputLen) {
        // Only a '^' matches the end, and nothing lies beyond it.
        if (wanted == '^' && at == inputLen) continue;
        return -1;
      }
      if (wanted == input[at]) continue;
      if (wanted == '^' && isSeparatorChar(input[at])) continue;
      break;
    }
    if (j == segmentLen) return start;
  }
  return -1;
}

}  // namespace tessul
