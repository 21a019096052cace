#include "filter/public_suffix.h"

#include <cstdint>
#include <cstring>

namespace tessul {
namespace {

// One suffix of the list's rules, or of a longer rule: a lookup walks a
// host's labels from the right, one node per label, and stops at the first
// suffix without a node. The generated table (see scripts/gen-public-suffix)
// places a node by linear probing from the slot its suffix's hash leads to,
// in Robin Hood order: a search that meets a node nearer its own home slot
// than the search has come knows that its suffix is missing. A node is
// recognised by its parent and the bytes of its label, which together spell
// the whole suffix, so a hash collision is never taken for a match.
struct SuffixNode {
  uint16_t labelOffset;  // the node's leftmost label is at kLabels + this
  uint16_t parent;       // slot of the suffix without that label, kNoParent
  uint8_t labelLength;   // 0 in an empty slot
  uint8_t flags : 3;     // kRule, kWildcard, kException
  uint8_t distance : 5;  // slots from the one the suffix's hash leads to
};

constexpr uint16_t kNoParent = 0xFFFF;
constexpr uint8_t kRule = 1;       // the suffix is listed
constexpr uint8_t kWildcard = 2;   // "*." and the suffix is listed
constexpr uint8_t kException = 4;  // "!" and the suffix is listed

#include "filter/public_suffix_table.inc"

constexpr int kSlotMask = (1 << kSlotBits) - 1;

unsigned char lowerAscii(char c) {
  const unsigned char byte = static_cast<unsigned char>(c);
  return byte >= 'A' && byte <= 'Z' ? byte - 'A' + 'a' : byte;
}

bool equalsIgnoringCase(const char* a, const char* b, int length) {
  for (int i = 0; i < length; ++i) {
    if (lowerAscii(a[i]) != lowerAscii(b[i])) return false;
  }
  return true;
}

constexpr uint64_t kOnes = 0x0101010101010101;
constexpr uint64_t kHighBits = 0x80 * kOnes;
constexpr uint64_t kLowBits = 0x7F * kOnes;

// The Word bytes at p as a little-endian number.
template <typename Word>
uint64_t loadLittleEndian(const char* p) {
  Word word;
  memcpy(&word, p, sizeof word);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
  word = sizeof word == 8 ? __builtin_bswap64(word) : __builtin_bswap32(word);
#endif
  return word;
}

// The bytes of `word` with ASCII letters in lower case, all at once: a byte
// is an upper-case letter when its low seven bits lie in 'A'..'Z' and its
// top bit is clear.
uint64_t lowerAsciiBytes(uint64_t word) {
  const uint64_t low7 = word & kLowBits;
  const uint64_t atLeastA = low7 + (0x80 - 'A') * kOnes;
  const uint64_t aboveZ = low7 + (0x80 - 'Z' - 1) * kOnes;
  const uint64_t upper = (atLeastA ^ aboveZ) & ~word & kHighBits;
  return word | (upper >> 2);
}

// The top bit of every byte of `word` that is a '.', and no other bit (no
// carry crosses from one byte into the next).
uint64_t dotBytes(uint64_t word) {
  const uint64_t x = word ^ ('.' * kOnes);
  return ~(((x & kLowBits) + kLowBits) | x) & kHighBits;
}

// Where the label that ends at `end` starts: after the last '.' before it,
// or 0. Eight bytes at a time, since this is most of a lookup's reading.
int labelStartBefore(const char* host, int end) {
  for (; end >= 8; end -= 8) {
    const uint64_t dots = dotBytes(loadLittleEndian<uint64_t>(host + end - 8));
    if (dots != 0) return end - 8 + (63 - __builtin_clzll(dots)) / 8 + 1;
  }
  while (end > 0 && host[end - 1] != '.') --end;
  return end;
}

// A label's first and last bytes, as the table's hash and the first test of
// a node read them: eight of each for a label of eight bytes or more, four of
// each down to four bytes, and below that the first, middle and last bytes.
// They hold every byte of a label of up to 16 bytes.
struct LabelEnds {
  LabelEnds(const char* text, int length) {
    if (length >= 8) {
      first = loadLittleEndian<uint64_t>(text);
      last = loadLittleEndian<uint64_t>(text + length - 8);
    } else if (length >= 4) {
      first = loadLittleEndian<uint32_t>(text);
      last = loadLittleEndian<uint32_t>(text + length - 4);
    } else if (length > 0) {
      first = static_cast<unsigned char>(text[0]) |
              static_cast<unsigned char>(text[length / 2]) << 8 |
              static_cast<unsigned char>(text[length - 1]) << 16;
    }
  }

  uint64_t first = 0;
  uint64_t last = 0;
};

// A label of a host, with its ends in lower case.
struct LabelKey {
  LabelKey(const char* label, int labelLength)
      : text(label), length(labelLength), ends(label, labelLength) {
    ends.first = lowerAsciiBytes(ends.first);
    ends.last = lowerAsciiBytes(ends.last);
  }

  // Whether a label of the table (in lower case) of the same length is this
  // one.
  bool isStored(const char* stored) const {
    const LabelEnds storedEnds(stored, length);
    return storedEnds.first == ends.first && storedEnds.last == ends.last &&
           (length <= 16 ||
            equalsIgnoringCase(text + 8, stored + 8, length - 16));
  }

  const char* text;
  int length;
  LabelEnds ends;
};

// The hash of a suffix, from the hash of its parent (0 for a top-level
// label) and its leftmost label: the same as the generator's suffix_hash.
// Two multiplications, whatever the label's length.
uint64_t suffixHash(uint64_t parentHash, const LabelKey& label) {
  const uint64_t rotated = parentHash << 32 | parentHash >> 32;
  uint64_t hash =
      (rotated ^ label.ends.first ^ static_cast<uint64_t>(label.length)) *
      0x9E3779B97F4A7C15;
  return (hash ^ (hash >> 32) ^ label.ends.last) * 0xC2B2AE3D27D4EB4F;
}

// The slot of the node of `label` under the node in slot `parent`, whose
// suffix hashes to `hash`; -1 if the list has none.
int findNode(uint64_t hash, int parent, const LabelKey& label) {
  int slot = static_cast<int>(hash >> (64 - kSlotBits));
  for (int distance = 0;; ++distance, slot = (slot + 1) & kSlotMask) {
    const SuffixNode& node = kNodes[slot];
    if (node.labelLength == 0 || node.distance < distance) return -1;
    if (node.distance == distance && node.parent == parent &&
        node.labelLength == label.length &&
        label.isStored(kLabels + node.labelOffset)) {
      return slot;
    }
  }
}

// The host's length without one trailing dot; 0 for a negative length.
int withoutTrailingDot(const char* host, int length) {
  if (length <= 0) return 0;
  return host[length - 1] == '.' ? length - 1 : length;
}

// The registrable domain of a host, host[start, end of host).
struct Site {
  int start;
  // No rule of the list is longer than the site and ends in it, so that
  // every host that ends in '.' and the site has the same site.
  bool noRuleBelow;
};

// The site of a host whose trailing dot is already dropped. The labels are
// walked from the right; the public suffix found so far starts at
// suffixStart (-1: none yet), and the registrable domain at the start of the
// label before it, once that label is reached. An IP address needs no test
// of its own: its last label holds a ':' or a ']' or is all digits, the
// generator refuses a list with such a top-level label, and so no rule
// matches it.
Site siteOf(const char* host, int length) {
  if (length == 0) return {0, false};
  int suffixStart = -1;
  int registrable = 0;
  int parent = kNoParent;
  uint64_t hash = 0;
  bool wildcardAbove = false;  // the last suffix found has a "*." rule
  int labelStart = labelStartBefore(host, length);
  int labelEnd = length;
  for (;;) {
    const LabelKey label(host + labelStart, labelEnd - labelStart);
    hash = suffixHash(hash, label);
    const int slot = findNode(hash, parent, label);
    // No rule is longer than a suffix without a node and ends in it.
    if (slot < 0 && wildcardAbove) {
      // The wildcard makes this label part of the suffix.
      if (labelStart == 0) return {0, false};
      return {labelStartBefore(host, labelStart - 1), true};
    }
    if (slot < 0) return {registrable, suffixStart == labelEnd + 1};
    const uint8_t flags = kNodes[slot].flags;
    // An exception rule wins over all others and makes its leftmost label
    // the one before the suffix; it is never a top-level label.
    if (flags & kException) return {labelStart, false};
    if ((flags & kRule) || wildcardAbove) suffixStart = labelStart;
    if (labelStart == 0) return {suffixStart == 0 ? 0 : registrable, false};
    wildcardAbove = (flags & kWildcard) != 0;
    parent = slot;
    labelEnd = labelStart - 1;
    labelStart = labelStartBefore(host, labelEnd);
    if (suffixStart == labelEnd + 1) registrable = labelStart;
  }
}

}  // namespace

int registrableDomainOffset(const char* host, int hostLen) {
  return siteOf(host, withoutTrailingDot(host, hostLen)).start;
}

// A host's site is a suffix of it. So the request host must end in the
// page's site, and then its own site must start where that ending does;
// most sites have no rule below them, and then it does without a second
// lookup.
bool isThirdPartySite(const char* pageHost, int pageLen,
                      const char* requestHost, int requestLen) {
  pageLen = withoutTrailingDot(pageHost, pageLen);
  requestLen = withoutTrailingDot(requestHost, requestLen);
  const Site site = siteOf(pageHost, pageLen);
  const int siteLength = pageLen - site.start;
  const int ending = requestLen - siteLength;  // where the site would start
  if (ending < 0 || (ending > 0 && requestHost[ending - 1] != '.') ||
      !equalsIgnoringCase(pageHost + site.start, requestHost + ending,
                          siteLength)) {
    return true;
  }
  return !site.noRuleBelow && siteOf(requestHost, requestLen).start != ending;
}

}  // namespace tessul
