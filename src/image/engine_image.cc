// TessulClient::serialize and deserialize: the engine image, laid out as
// image/image_layout.h describes. The image code reaches the engine only
// through its public stores, listed in the store table, and the operations
// that fill them (initBloomFilter, initHashSet, buildRuleIndexes).
//
// Images are read from files and may be damaged, so the loader checks every
// count and length against the bytes that remain before it allocates or
// reads anything.

#include <cstdint>
#include <memory>

#include "engine/rule_stores.h"
#include "engine/tessul_client.h"
#include "image/image_layout.h"
#include "image/record_encoding.h"
#include "image/record_reader.h"
#include "image/record_writer.h"

namespace tessul {

namespace {

// The shortest array record: the header "0,0,0", its zero byte and three
// empty strings.
constexpr size_t kMinArrayRecordLength = 9;

// What serialize() knows before it writes: the header values, and the hash
// set sections, which must be measured for the header anyway.
struct ImagePlan {
  uint32_t header[kHeaderValueCount] = {};
  std::unique_ptr<char[]> setSections[kImageSectionCount];  // by section
};

// Writes a set's section into *section; returns its length, 0 for no set.
template <typename T>
uint32_t planSetSection(const HashSet<T>* set,
                        std::unique_ptr<char[]>* section) {
  if (set == nullptr) return 0;
  unsigned int length = 0;
  section->reset(set->Serialize(&length));
  return length;
}

ImagePlan planImage(const TessulClient& engine, bool omitElementHideRules,
                    bool omitHtmlRules) {
  ImagePlan plan;
  for (int i = 0; i < kImageSectionCount; ++i) {
    const ImageSection& section = kImageSections[i];
    uint32_t& value = plan.header[section.headerValue];
    switch (section.kind) {
      case SectionKind::kRuleArray: {
        const RuleStore& store = kRuleStores[section.store];
        const RulePlace place = store.keeps.place;
        const bool omitted =
            (omitElementHideRules && place == RulePlace::kElementHide) ||
            (omitHtmlRules && place == RulePlace::kHtml);
        value = omitted ? 0 : engine.*store.count.member;
        break;
      }
      case SectionKind::kBloomFilter: {
        const BloomFilter* bloom =
            engine.*kSides[section.store].fingerprintBloom.member;
        value = bloom == nullptr ? 0 : bloom->byteCount;
        break;
      }
      case SectionKind::kHostSet:
        value = planSetSection(engine.*kSides[section.store].hostSet.member,
                               &plan.setSections[i]);
        break;
      case SectionKind::kDomainSet:
        value = planSetSection(
            engine.*kRuleStores[section.store].domains.set.member,
            &plan.setSections[i]);
        break;
    }
  }
  for (int side = 0; side < kRuleSideCount; ++side) {
    plan.header[kHostCountsAt + side] = engine.*kSides[side].hostCount.member;
  }
  return plan;
}

// Writes (or, with a null buffer, measures) the image that `plan` describes.
size_t writeImage(const TessulClient& engine, const ImagePlan& plan,
                  char* buffer, size_t capacity) {
  RecordWriter out(buffer, capacity);
  out.writeHeader(plan.header, kHeaderValueCount);
  for (int i = 0; i < kImageSectionCount; ++i) {
    const ImageSection& section = kImageSections[i];
    const uint32_t value = plan.header[section.headerValue];
    switch (section.kind) {
      case SectionKind::kRuleArray:
        out.advance(
            serializeFilters(out.position(), out.room(),
                             engine.*kRuleStores[section.store].rules.member,
                             static_cast<int>(value)));
        break;
      case SectionKind::kBloomFilter: {
        const BloomFilter* bloom =
            engine.*kSides[section.store].fingerprintBloom.member;
        if (bloom != nullptr) out.writeBytes(bloom->bits, bloom->byteCount);
        break;
      }
      case SectionKind::kHostSet:
      case SectionKind::kDomainSet:
        out.writeBytes(plan.setSections[i].get(), value);
        break;
    }
  }
  return out.length();
}

// A damaged count must not make the loader allocate more rules than the
// image could hold.
bool ruleArraysFit(const uint32_t* header, const RecordReader& in) {
  uint64_t records = 0;
  for (const ImageSection& section : kImageSections) {
    if (section.kind != SectionKind::kRuleArray) continue;
    const uint32_t count = header[section.headerValue];
    if (count > kMaxImageLength) return false;
    records += count;
  }
  return records <= in.remaining() / kMinArrayRecordLength;
}

bool loadRuleArray(TessulClient& engine, const RuleStore& store, uint32_t count,
                   RecordReader& in) {
  Filter*& rules = engine.*store.rules.member;
  rules = new Filter[count];
  engine.*store.count.member = static_cast<int32_t>(count);
  size_t consumed = 0;
  return deserializeFilters(in.current(), in.remaining(), rules,
                            static_cast<int>(count), &consumed) &&
         in.skip(consumed);
}

bool loadBloomFilter(TessulClient& engine, BloomFilter** slot, uint32_t length,
                     RecordReader& in) {
  if (length > kMaxImageLength || length > in.remaining()) return false;
  engine.initBloomFilter(slot, in.current(), static_cast<int>(length));
  return in.skip(length);
}

template <typename T>
bool loadHashSet(TessulClient& engine, HashSet<T>** slot, uint32_t length,
                 RecordReader& in) {
  return length <= kMaxImageLength && length <= in.remaining() &&
         engine.initHashSet(slot, in.current(), static_cast<int>(length)) &&
         in.skip(length);
}

// Damage in the header, the rule arrays or the Bloom filters leaves an empty
// engine. A damaged hash set stops the load there: the sets before it stay
// loaded, it keeps what it read, and the later ones stay empty.
bool loadImage(TessulClient& engine, const char* image, size_t length) {
  engine.clear();
  engine.imageBuffer = image;
  if (length == 0) return false;
  RecordReader in(image, length);
  // An image whose header lacks numbers loads with those values at 0.
  uint32_t header[kHeaderValueCount] = {};
  if (!in.readHeader(header, kHeaderValueCount, 0) ||
      !ruleArraysFit(header, in)) {
    engine.clear();
    return false;
  }
  for (int side = 0; side < kRuleSideCount; ++side) {
    engine.*kSides[side].hostCount.member =
        static_cast<int32_t>(header[kHostCountsAt + side]);
  }
  bool setsLoaded = true;
  for (const ImageSection& section : kImageSections) {
    const uint32_t value = header[section.headerValue];
    bool loaded = true;
    switch (section.kind) {
      case SectionKind::kRuleArray:
        loaded = loadRuleArray(engine, kRuleStores[section.store], value, in);
        break;
      case SectionKind::kBloomFilter:
        loaded = loadBloomFilter(
            engine, &(engine.*kSides[section.store].fingerprintBloom.member),
            value, in);
        break;
      case SectionKind::kHostSet:
        setsLoaded = loadHashSet(
            engine, &(engine.*kSides[section.store].hostSet.member), value, in);
        break;
      case SectionKind::kDomainSet:
        setsLoaded = loadHashSet(
            engine, &(engine.*kRuleStores[section.store].domains.set.member),
            value, in);
        break;
    }
    if (!loaded) {
      engine.clear();
      return false;
    }
    if (!setsLoaded) break;
  }
  engine.buildRuleIndexes();
  return setsLoaded;
}

}  // namespace

char* TessulClient::serialize(int* size, bool omitElementHideRules,
                              bool omitHtmlRules) {
  *size = 0;
  const ImagePlan plan = planImage(*this, omitElementHideRules, omitHtmlRules);
  const size_t length = writeImage(*this, plan, nullptr, 0);
  char* image = new char[length]();
  writeImage(*this, plan, image, length);
  *size = static_cast<int>(length);
  return image;
}

bool TessulClient::deserialize(const char* image, size_t length) {
  return loadImage(*this, image, length);
}

// A trusted image is read as if it ended as far away as a size can count;
// well-formed images never reach that end.
bool TessulClient::deserialize(char* image) {
  return loadImage(*this, image, SIZE_MAX);
}

}  // namespace tessul
