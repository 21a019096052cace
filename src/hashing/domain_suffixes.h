// The parent domains under which a host is looked up in hash sets, with the
// hash of each, in one pass over the host. Hashing each suffix on its own
// would cost time quadratic in the length of the host, which the page or
// the URL of a request decides.
#ifndef TESSUL_HASHING_DOMAIN_SUFFIXES_H_
#define TESSUL_HASHING_DOMAIN_SUFFIXES_H_

#include <cstdint>

#include "hashing/hash_fn.h"

namespace tessul {

// Calls visit(suffix, length, hash) for every suffix of the host that
// starts right after a '.' and still contains one, shortest first, then for
// the whole host; `hash` is elementHashFn's hash of those bytes. For
// a.b.c.test: c.test, b.c.test, a.b.c.test. Stops as soon as visit returns
// true, and returns whether it did.
template <typename Visit>
bool forEachCandidateDomain(const char* host, int hostLen, Visit visit) {
  // hash(c followed by s) = byte(c) * prime^length(s) + hash(s).
  const uint64_t prime = elementHashFn.multiplier();
  uint64_t hash = 0;
  uint64_t weight = 1;
  bool pastLastDot = false;
  for (int i = hostLen - 1; i >= 0; --i) {
    if (host[i] == '.') {
      if (pastLastDot && visit(host + i + 1, hostLen - i - 1, hash)) return true;
      pastLastDot = true;
    }
    hash += static_cast<unsigned char>(host[i]) * weight;
    weight *= prime;
  }
  return visit(host, hostLen, hash);
}

}  // namespace tessul

#endif  // TESSUL_HASHING_DOMAIN_SUFFIXES_H_
