// TessulClient::serialize and deserialize: the engine image, one flat buffer
// holding a whole engine, laid out as
//
//   header: twenty hexadecimal numbers separated by commas, then a zero byte
//   the ten rule arrays, each as many array records as its header count
//   the bits of the block and the exception fingerprint Bloom filters
//   the sections of the six hash sets
//
// Header values: 1-10 the rule array counts in image order (kRuleArrays),
// 11-12 hostBlockCount and hostExceptionCount, 13-14 the byte counts of the
// Bloom filters, 15-20 the lengths of the hash set sections. A store that
// the engine lacks takes no bytes and has length 0. The records are those
// of image/record_encoding.h.
//
// Images are read from files and may be damaged, so the loader checks every
// count and length against the bytes that remain before it allocates or
// reads anything.

#include <cstdint>
#include <memory>

#include "engine/tessul_client.h"
#include "image/hash_set_image.h"
#include "image/record_encoding.h"
#include "image/record_reader.h"
#include "image/record_writer.h"

namespace tessul {

namespace {

constexpr int kHeaderValueCount = 20;
constexpr int kRuleArrayCount = 10;
constexpr int kBloomFilterCount = 2;
constexpr int kHashSetCount = 6;
// Where each group of values starts in the header.
constexpr int kHostCountsAt = kRuleArrayCount;
constexpr int kBloomLengthsAt = kHostCountsAt + 2;
constexpr int kSetLengthsAt = kBloomLengthsAt + kBloomFilterCount;
// The shortest array record: the header "0,0,0", its zero byte and three
// empty strings.
constexpr size_t kMinArrayRecordLength = 9;

struct RuleArray {
  Filter* TessulClient::*rules;
  int32_t TessulClient::*count;
};

// In image order, which puts the exception rules with a fingerprint second.
constexpr RuleArray kRuleArrays[kRuleArrayCount] = {
    {&TessulClient::fingerprintedBlockRules,
     &TessulClient::fingerprintedBlockCount},
    {&TessulClient::fingerprintedExceptionRules,
     &TessulClient::fingerprintedExceptionCount},
    {&TessulClient::elementHideRules, &TessulClient::elementHideCount},
    {&TessulClient::htmlRules, &TessulClient::htmlRuleCount},
    {&TessulClient::unfingerprintedBlockRules,
     &TessulClient::unfingerprintedBlockCount},
    {&TessulClient::unfingerprintedExceptionRules,
     &TessulClient::unfingerprintedExceptionCount},
    {&TessulClient::includeDomainBlockRules,
     &TessulClient::includeDomainBlockCount},
    {&TessulClient::excludeDomainBlockRules,
     &TessulClient::excludeDomainBlockCount},
    {&TessulClient::includeDomainExceptionRules,
     &TessulClient::includeDomainExceptionCount},
    {&TessulClient::excludeDomainExceptionRules,
     &TessulClient::excludeDomainExceptionCount},
};

constexpr BloomFilter* TessulClient::*kBloomFilters[kBloomFilterCount] = {
    &TessulClient::blockFingerprintBloom,
    &TessulClient::exceptionFingerprintBloom,
};

// Calls visit(slot) on the six hash set slots in image order, the host sets
// first, while it returns true. Returns whether every call did.
template <typename Visit>
bool forEachHashSet(TessulClient& engine, Visit visit) {
  return visit(engine.hostBlockSet) && visit(engine.hostExceptionSet) &&
         visit(engine.includeDomainBlockSet) &&
         visit(engine.excludeDomainBlockSet) &&
         visit(engine.includeDomainExceptionSet) &&
         visit(engine.excludeDomainExceptionSet);
}

// What serialize() knows before it writes: the header values, and the hash
// set sections, which must be measured for the header anyway.
struct ImagePlan {
  uint32_t header[kHeaderValueCount] = {};
  std::unique_ptr<char[]> setSections[kHashSetCount];
};

// Writes (or, with a null buffer, measures) the image that `plan` describes.
size_t writeImage(const TessulClient& engine, const ImagePlan& plan,
                  char* buffer, size_t capacity) {
  RecordWriter out(buffer, capacity);
  out.writeHeader(plan.header, kHeaderValueCount);
  for (int i = 0; i < kRuleArrayCount; ++i) {
    out.advance(serializeFilters(out.position(), out.room(),
                                 engine.*kRuleArrays[i].rules,
                                 static_cast<int>(plan.header[i])));
  }
  for (BloomFilter* TessulClient::*slot : kBloomFilters) {
    const BloomFilter* bloom = engine.*slot;
    if (bloom != nullptr) out.writeBytes(bloom->bits, bloom->byteCount);
  }
  for (int i = 0; i < kHashSetCount; ++i) {
    out.writeBytes(plan.setSections[i].get(), plan.header[kSetLengthsAt + i]);
  }
  return out.length();
}

bool loadRuleArrays(TessulClient& engine, RecordReader& in,
                    const uint32_t* counts) {
  // A damaged count must not make the loader allocate more rules than the
  // image could hold.
  uint64_t records = 0;
  for (int i = 0; i < kRuleArrayCount; ++i) {
    if (counts[i] > kMaxImageLength) return false;
    records += counts[i];
  }
  if (records > in.remaining() / kMinArrayRecordLength) return false;
  for (int i = 0; i < kRuleArrayCount; ++i) {
    Filter*& rules = engine.*kRuleArrays[i].rules;
    rules = new Filter[counts[i]];
    engine.*kRuleArrays[i].count = static_cast<int32_t>(counts[i]);
    size_t consumed = 0;
    if (!deserializeFilters(in.current(), in.remaining(), rules,
                            static_cast<int>(counts[i]), &consumed)) {
      return false;
    }
    in.skip(consumed);
  }
  return true;
}

bool loadBloomFilters(TessulClient& engine, RecordReader& in,
                      const uint32_t* lengths) {
  for (int i = 0; i < kBloomFilterCount; ++i) {
    if (lengths[i] > kMaxImageLength || lengths[i] > in.remaining()) {
      return false;
    }
    engine.initBloomFilter(&(engine.*kBloomFilters[i]), in.current(),
                           static_cast<int>(lengths[i]));
    in.skip(lengths[i]);
  }
  return true;
}

// Stops at the first set that fails: the sets before it stay loaded, it
// keeps what it read, and the later ones stay empty.
bool loadHashSets(TessulClient& engine, RecordReader& in,
                  const uint32_t* lengths) {
  int i = 0;
  return forEachHashSet(engine, [&](auto*& slot) {
    const uint32_t length = lengths[i++];
    return length <= kMaxImageLength && length <= in.remaining() &&
           engine.initHashSet(&slot, in.current(), static_cast<int>(length)) &&
           in.skip(length);
  });
}

// Calls visit(const T&) on each element read.
template <typename T, typename Visit>
bool replaceHashSet(HashSet<T>** slot, const char* text, int length,
                    Visit visit) {
  delete *slot;  // a hash set's destructor runs its Cleanup
  *slot = nullptr;
  if (length < 1) return true;
  *slot = new HashSet<T>;
  return (*slot)->DeserializeVisiting(text, static_cast<unsigned int>(length),
                                      visit);
}

}  // namespace

char* TessulClient::serialize(int* size, bool omitElementHideRules,
                              bool omitHtmlRules) {
  *size = 0;
  ImagePlan plan;
  for (int i = 0; i < kRuleArrayCount; ++i) {
    const RuleArray& array = kRuleArrays[i];
    const bool omitted =
        (omitElementHideRules && array.rules == &TessulClient::elementHideRules) ||
        (omitHtmlRules && array.rules == &TessulClient::htmlRules);
    plan.header[i] = omitted ? 0 : this->*array.count;
  }
  plan.header[kHostCountsAt] = hostBlockCount;
  plan.header[kHostCountsAt + 1] = hostExceptionCount;
  for (int i = 0; i < kBloomFilterCount; ++i) {
    const BloomFilter* bloom = this->*kBloomFilters[i];
    plan.header[kBloomLengthsAt + i] = bloom == nullptr ? 0 : bloom->byteCount;
  }
  int set = 0;
  forEachHashSet(*this, [&](auto* slot) {
    unsigned int length = 0;
    if (slot != nullptr) plan.setSections[set].reset(slot->Serialize(&length));
    plan.header[kSetLengthsAt + set++] = length;
    return true;
  });

  const size_t length = writeImage(*this, plan, nullptr, 0);
  char* image = new char[length]();
  writeImage(*this, plan, image, length);
  *size = static_cast<int>(length);
  return image;
}

bool TessulClient::deserialize(const char* image, size_t length) {
  return loadImage(image, length);
}

// A trusted image is read as if it ended as far away as a size can count;
// well-formed images never reach that end.
bool TessulClient::deserialize(char* image) {
  return loadImage(image, SIZE_MAX);
}

// Damage in the header, the rule arrays or the Bloom filters leaves an empty
// engine; a damaged hash set section leaves what loadHashSets loaded.
bool TessulClient::loadImage(const char* image, size_t length) {
  clear();
  imageBuffer = image;
  if (length == 0) return false;
  RecordReader in(image, length);
  // An image whose header lacks numbers loads with those values at 0.
  uint32_t header[kHeaderValueCount] = {};
  if (!in.readHeader(header, kHeaderValueCount, 0) ||
      !loadRuleArrays(*this, in, header) ||
      !loadBloomFilters(*this, in, header + kBloomLengthsAt)) {
    clear();
    return false;
  }
  hostBlockCount = static_cast<int32_t>(header[kHostCountsAt]);
  hostExceptionCount = static_cast<int32_t>(header[kHostCountsAt + 1]);
  const bool setsLoaded = loadHashSets(*this, in, header + kSetLengthsAt);
  buildRuleIndexes();
  return setsLoaded;
}

// The host presence bits of the engine's own host sets are filled while the
// set is read, when its records are at hand.
bool TessulClient::initHashSet(HashSet<Filter>** slot, const char* text,
                               int length) {
  // A new set may take the old one's address and size: host lookups must
  // not trust what was known of the old one.
  for (HostPresence* presence : {&hostBlockPresence_, &hostExceptionPresence_}) {
    if (presence->set == *slot) presence->build(nullptr);
  }
  HostPresence* presence = slot == &hostBlockSet       ? &hostBlockPresence_
                           : slot == &hostExceptionSet ? &hostExceptionPresence_
                                                       : nullptr;
  if (presence != nullptr) presence->build(nullptr);
  const bool loaded =
      replaceHashSet(slot, text, length, [presence](const Filter& rule) {
        if (presence != nullptr) presence->add(rule);
      });
  if (presence != nullptr && *slot != nullptr) {
    presence->set = *slot;
    presence->settle();
  }
  return loaded;
}

bool TessulClient::initHashSet(HashSet<NoFingerprintDomain>** slot,
                               const char* text, int length) {
  return replaceHashSet(slot, text, length, [](const NoFingerprintDomain&) {});
}

}  // namespace tessul
