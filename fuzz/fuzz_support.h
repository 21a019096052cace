// Helpers shared by the fuzz targets.
#ifndef TESSUL_FUZZ_FUZZ_SUPPORT_H_
#define TESSUL_FUZZ_FUZZ_SUPPORT_H_

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "engine/rule_stores.h"
#include "engine/tessul_client.h"
#include "hashing/bloom_filter.h"

namespace tessul {
namespace fuzzing {

// The input followed by one NUL, in a heap block of exactly that size, so
// that AddressSanitizer catches a read past the terminator.
class TerminatedCopy {
 public:
  TerminatedCopy(const uint8_t* data, size_t size)
      : bytes_(new char[size + 1]), size_(size) {
    if (size > 0) memcpy(bytes_.get(), data, size);
    bytes_[size] = '\0';
  }

  char* begin() const { return bytes_.get(); }
  char* end() const { return bytes_.get() + size_; }
  const char* c_str() const { return bytes_.get(); }

 private:
  std::unique_ptr<char[]> bytes_;
  size_t size_;
};

// A property that must hold for every input. libFuzzer keeps the input that
// breaks it, like a crash.
inline void require(bool holds, const char* property) {
  if (holds) return;
  fprintf(stderr, "property broken: %s\n", property);
  abort();
}

// A URL that the rule written on `line` may well match: the line without
// exception and anchor marks and without options, after "https://", with
// wildcards and separators replaced by ordinary URL characters.
inline std::string urlFromRuleLine(const char* line, const char* end) {
  while (line < end && (*line == '@' || *line == '|')) ++line;
  std::string url = "https://";
  for (; line < end && *line != '$'; ++line) {
    if (*line == '*') {
      url += "x";
    } else if (*line == '^') {
      url += "/";
    } else if (*line != '|' && *line != '\0') {
      url += *line;
    }
  }
  return url;
}

template <typename T>
void makeSmallSet(HashSet<T>** slot, bool allowDuplicates,
                  unsigned int buckets) {
  *slot = new HashSet<T>(allowDuplicates);
  (*slot)->Init(buckets);
}

// Gives an empty engine tiny Bloom filters and hash sets of `buckets`
// buckets (7 unless told), which parse() keeps when it finds them. Sized for
// whole lists, the stores would cost more time to set up, write and read
// than a short list does; with few buckets the chains of the hash sets grow
// long, and the sets grow their bucket arrays.
inline void giveSmallStores(TessulClient& engine, unsigned int buckets = 7) {
  for (const SideStores& side : kSides) {
    engine.*side.fingerprintBloom.member =
        new BloomFilter(1, 64, fingerprintHashFns, kFingerprintHashFnCount);
    makeSmallSet(&(engine.*side.hostSet.member), true, buckets);
  }
  for (const RuleStore& store : kRuleStores) {
    if (store.domains.set.member != nullptr) {
      makeSmallSet(&(engine.*store.domains.set.member), false, buckets);
    }
  }
}

}  // namespace fuzzing
}  // namespace tessul

#endif  // TESSUL_FUZZ_FUZZ_SUPPORT_H_
