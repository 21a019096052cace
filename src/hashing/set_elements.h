// The small value types that the engine keeps in hash sets. Each hashes its
// text with elementHashFn, so equal texts hash alike across types.
#ifndef TESSUL_HASHING_SET_ELEMENTS_H_
#define TESSUL_HASHING_SET_ELEMENTS_H_

#include <cstdint>

#include "hashing/hash_set.h"

namespace tessul {

// A domain named by a rule without fingerprint. Usually a borrowed view into
// a rule's domain text or an engine image; a copy of an owning element owns
// exactly domainLen bytes (not NUL-terminated).
class NoFingerprintDomain {
 public:
  NoFingerprintDomain() = default;
  // A borrowed view; nothing is copied.
  NoFingerprintDomain(const char* domain, int domainLen);
  // Shares a borrowed source's bytes, copies an owning source's. A length of
  // -1 is measured with strlen.
  NoFingerprintDomain(const NoFingerprintDomain& other);
  NoFingerprintDomain& operator=(const NoFingerprintDomain&) = delete;
  ~NoFingerprintDomain();

  uint64_t hash() const;
  // Same length and, unless both are empty, the same bytes.
  bool operator==(const NoFingerprintDomain& other) const;

  // Engine image record "<len>x\0<bytes>\0". Serialize returns the record's
  // length and writes it when `buffer` is not null (a zero-filled buffer).
  // Deserialize reads at most `limit` bytes, borrows the text, and returns the
  // bytes consumed or 0 when the record is damaged or cut off.
  int Serialize(char* buffer) const;
  unsigned int Deserialize(const char* text, unsigned int limit);

  bool isBorrowed = false;
  const char* domain = nullptr;
  int32_t domainLen = -1;  // -1: to be measured
};

// An element-hiding selector, owned and NUL-terminated.
class CosmeticFilter {
 public:
  explicit CosmeticFilter(const char* text);
  CosmeticFilter(const CosmeticFilter& other);
  CosmeticFilter& operator=(const CosmeticFilter&) = delete;
  ~CosmeticFilter();

  uint64_t hash() const;
  bool operator==(const CosmeticFilter& other) const;

  char* selector;
};

// A view (start, length) into a rule's domain text; never owns the bytes.
struct ContextDomain {
  uint64_t GetHash() const;
  // False when either side has no text.
  bool operator==(const ContextDomain& other) const;

  const char* domain;
  int32_t domainLen;
};

inline uint64_t hashOf(const ContextDomain& element) {
  return element.GetHash();
}

// A fingerprint window recorded by bad-fingerprint detection. Every element
// hashes to 0, so a set of them is one chain in insertion order.
class BadFingerprint {
 public:
  explicit BadFingerprint(const char* text);
  BadFingerprint(const BadFingerprint& other);
  BadFingerprint& operator=(const BadFingerprint&) = delete;
  ~BadFingerprint();

  uint64_t hash() const { return 0; }
  bool operator==(const BadFingerprint& other) const;

  char* fingerprint;
};

// The one-bucket set of the bad-fingerprint tracker.
class BadFingerprintsHashSet : public HashSet<BadFingerprint> {
 public:
  BadFingerprintsHashSet() {
    grows = false;
    Init(1);
  }
};

}  // namespace tessul

#endif  // TESSUL_HASHING_SET_ELEMENTS_H_
