// Whether one rule matches one request as compatible mode reads rules: the
// pattern's '*' any text, '^' a separator or the end wherever it stands,
// '|' at either end an anchor, and a leading "||" the start of the host or
// of any of its labels, with the rest of the pattern free to run on.

#include <cstring>

#include "filter/filter.h"

namespace tessul {

namespace {

// What '^' stands for, as mainstream blockers read it: any byte but a
// letter, a digit and "_-.%".
bool isCompatibleSeparator(char c) {
  const bool word = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                    (c >= '0' && c <= '9') || c == '_' || c == '-' ||
                    c == '.' || c == '%';
  return !word;
}

// One run of the pattern without '*'.
struct Segment {
  const char* text;
  int length;
};

// Where the segment ends when it starts at `at`, or -1 when it does not
// match there. A '^' matches the end of the input without consuming, and
// nothing follows it then but more '^'.
int matchAt(const Segment& segment, const char* input, int inputLen, int at) {
  for (int j = 0; j < segment.length; ++j) {
    const char wanted = segment.text[j];
    if (at >= inputLen) {
      if (wanted != '^') return -1;
      continue;
    }
    if (wanted == '^' ? !isCompatibleSeparator(input[at])
                      : wanted != input[at]) {
      return -1;
    }
    ++at;
  }
  return at;
}

// The end of the segment's first match that starts at or after `from`, or
// -1.
int findFrom(const Segment& segment, const char* input, int inputLen,
             int from) {
  if (segment.length == 0) return from;
  const char first = segment.text[0];
  for (int at = from; at <= inputLen; ++at) {
    if (first != '^') {
      const void* next = at < inputLen
                             ? memchr(input + at, first, inputLen - at)
                             : nullptr;
      if (next == nullptr) return -1;
      at = static_cast<int>(static_cast<const char*>(next) - input);
    }
    const int end = matchAt(segment, input, inputLen, at);
    if (end >= 0) return end;
  }
  return -1;
}

// Whether the segment matches so that it ends exactly at the input's end,
// starting at or after `from`.
bool matchesAtEnd(const Segment& segment, const char* input, int inputLen,
                  int from) {
  for (int at = inputLen; at >= from; --at) {
    if (matchAt(segment, input, inputLen, at) == inputLen) return true;
  }
  return false;
}

// The segments of `pattern` after the first, matched in order from
// `cursor`: each at its first place (which leaves the most room to the
// rest), the last at the end when `rightAnchor`.
bool matchesRest(const char* next, const char* patternEnd, const char* input,
                 int inputLen, int cursor, bool rightAnchor) {
  while (next <= patternEnd) {
    const char* stop = static_cast<const char*>(
        memchr(next, '*', patternEnd - next));
    const char* segmentEnd = stop == nullptr ? patternEnd : stop;
    const Segment segment{next, static_cast<int>(segmentEnd - next)};
    if (stop == nullptr) {
      return rightAnchor ? matchesAtEnd(segment, input, inputLen, cursor)
                         : findFrom(segment, input, inputLen, cursor) >= 0;
    }
    cursor = findFrom(segment, input, inputLen, cursor);
    if (cursor < 0) return false;
    next = stop + 1;
  }
  return true;
}

}  // namespace

bool Filter::matchesPatternCompatibly(const char* input, int inputLen,
                                      int hostStart, int hostLen) const {
  const char* const patternEnd = pattern + patternLen;
  const bool right = (type & TypeRightAnchor) != TypeNone;
  const bool left = (type & TypeLeftAnchor) != TypeNone;
  const bool host = (type & TypeHostAnchor) != TypeNone;
  if (!left && !host) {
    return matchesRest(pattern, patternEnd, input, inputLen, 0, right);
  }
  // An anchored first segment, at the URL's start or at each label of the
  // host.
  const char* star =
      static_cast<const char*>(memchr(pattern, '*', patternLen));
  const Segment first{pattern, static_cast<int>(
                                   (star == nullptr ? patternEnd : star) -
                                   pattern)};
  auto matchesFrom = [&](int at) {
    if (star == nullptr && right) {
      return matchAt(first, input, inputLen, at) == inputLen;
    }
    const int end = matchAt(first, input, inputLen, at);
    if (end < 0) return false;
    return star == nullptr ||
           matchesRest(star + 1, patternEnd, input, inputLen, end, right);
  };
  if (left) return matchesFrom(0);
  for (int at = hostStart; at < hostStart + hostLen; ++at) {
    if ((at == hostStart || input[at - 1] == '.') && matchesFrom(at)) {
      return true;
    }
  }
  return false;
}

// A request without a page comes from no domain that a rule names.
bool Filter::matchesDomainsCompatibly(const char* contextDomain) {
  if (domainText == nullptr) return true;
  if (contextDomain == nullptr) return getDomainCount(false) == 0;
  return contextDomainMatchesFilter(contextDomain);
}

bool Filter::matchesCompatibly(const char* input, const char* caseKeptInput,
                               int inputLen, FilterOption contextOptions,
                               const char* contextDomain,
                               const char* inputHost, int inputHostLen) {
  if (pattern == nullptr || (type & TypeRegex) != TypeNone) return false;
  if (patternLen == -1) patternLen = static_cast<int32_t>(strlen(pattern));
  const char* text =
      (options & OptMatchCase) != OptNone ? caseKeptInput : input;
  return matchesOptionBits(contextOptions) &&
         matchesPatternCompatibly(text, inputLen,
                                  static_cast<int>(inputHost - input),
                                  inputHostLen) &&
         matchesDomainsCompatibly(contextDomain);
}

}  // namespace tessul
