#include "hashing/set_elements.h"

#include <cstring>

#include "hashing/hash_fn.h"
#include "hashing/owned_text.h"

namespace tessul {

NoFingerprintDomain::NoFingerprintDomain(const char* domain, int domainLen)
    : isBorrowed(true), domain(domain), domainLen(domainLen) {}

NoFingerprintDomain::NoFingerprintDomain(const NoFingerprintDomain& other)
    : isBorrowed(other.isBorrowed), domainLen(other.domainLen) {
  if (domainLen == -1 && other.domain != nullptr) {
    domainLen = static_cast<int32_t>(strlen(other.domain));
  }
  if (!other.isBorrowed && other.domain != nullptr) {
    char* copy = new char[domainLen];
    memcpy(copy, other.domain, domainLen);
    domain = copy;
  } else {
    domain = other.domain;
  }
}

NoFingerprintDomain::~NoFingerprintDomain() {
  if (!isBorrowed) delete[] domain;
}

uint64_t NoFingerprintDomain::hash() const {
  return domain == nullptr ? 0 : elementHashFn.polynomial(domain, domainLen);
}

bool NoFingerprintDomain::operator==(const NoFingerprintDomain& other) const {
  return domainLen == other.domainLen &&
         (domainLen == 0 || memcmp(domain, other.domain, domainLen) == 0);
}

CosmeticFilter::CosmeticFilter(const char* text) : selector(copyText(text)) {}

CosmeticFilter::CosmeticFilter(const CosmeticFilter& other)
    : selector(copyText(other.selector)) {}

CosmeticFilter::~CosmeticFilter() { delete[] selector; }

uint64_t CosmeticFilter::hash() const {
  return elementHashFn.polynomial(selector, strlen(selector));
}

bool CosmeticFilter::operator==(const CosmeticFilter& other) const {
  return strcmp(selector, other.selector) == 0;
}

uint64_t ContextDomain::GetHash() const {
  return elementHashFn.polynomial(domain, domainLen);
}

bool ContextDomain::operator==(const ContextDomain& other) const {
  return domain != nullptr && other.domain != nullptr &&
         domainLen == other.domainLen &&
         memcmp(domain, other.domain, domainLen) == 0;
}

BadFingerprint::BadFingerprint(const char* text)
    : fingerprint(copyText(text)) {}

BadFingerprint::BadFingerprint(const BadFingerprint& other)
    : fingerprint(copyText(other.fingerprint)) {}

BadFingerprint::~BadFingerprint() { delete[] fingerprint; }

bool BadFingerprint::operator==(const BadFingerprint& other) const {
  return strcmp(fingerprint, other.fingerprint) == 0;
}

}  // namespace tessul
