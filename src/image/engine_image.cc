// TessulClient::serialize and deserialize: the engine image, laid out as
// image/image_layout.h describes. The image code reaches the engine only
// through its public stores, listed in the store table, and the operations
// that fill them (initBloomFilter, initHashSet, buildRuleIndexes).
//
// Images are read from files and may be damaged, so the loader checks every
// count and length against the bytes that remain before it allocates or
// reads anything, and accepts only a whole image.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>

#include "engine/engine_internals.h"
#include "engine/rule_stores.h"
#include "engine/tessul_client.h"
#include "filter/fingerprint.h"
#include "image/hash_set_image.h"
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
  uint32_t header[kMaxHeaderValueCount] = {};
  int headerValueCount = kHeaderValueCount;
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
  if (engine.matchingMode() != MatchingMode::kExact) {
    plan.header[kMatchingModeAt] =
        static_cast<uint32_t>(engine.matchingMode());
    plan.headerValueCount = kMatchingModeAt + 1;
  }
  return plan;
}

// Writes (or, with a null buffer, measures) the image that `plan` describes.
size_t writeImage(const TessulClient& engine, const ImagePlan& plan,
                  char* buffer, size_t capacity) {
  RecordWriter out(buffer, capacity);
  out.writeHeader(plan.header, plan.headerValueCount);
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

// Reads an image into the stores of a new engine and checks, in the same
// pass, that the image is whole: exactly what serialize() writes. Every
// check that an image can fail is here or in the record readers under it
// (image/record_reader.h, record_encoding.h, hash_set_image.h):
//
//   - the header holds exactly its numbers, then its zero byte;
//   - every record header holds exactly its numbers, in the writer's form;
//   - every section ends exactly where the next one begins: each hash set
//     section is consumed exactly, and the last section ends at the end of
//     the image (when its length is known);
//   - every element of a hash set lies in the bucket its hash gives;
//   - the host rule counts agree with the host sets, and the domain sets
//     hold every domain of their rules;
//   - every fingerprinted rule has a fingerprint, present in its Bloom
//     filter.
//
// What no check can see: images carry no checksum, so a changed byte inside
// a rule's own text or numbers loads as that changed rule.
class ImageLoader {
 public:
  ImageLoader(TessulClient& engine, const char* image, size_t length,
              bool lengthKnown)
      : engine_(engine), in_(image, length), lengthKnown_(lengthKnown) {}

  bool load() {
    if (in_.remaining() == 0) return fail("image: empty");
    if (!readHeader()) return false;
    readHostBlockSetAhead();
    for (const ImageSection& section : kImageSections) {
      if (!readSection(section)) return false;
    }
    if (lengthKnown_ && in_.remaining() != 0) {
      return fail("image: its last section ends at byte " +
                  std::to_string(in_.position()) + " of " +
                  std::to_string(in_.position() + in_.remaining()));
    }
    if (!checkHostCounts() || !checkDomainSets()) return false;
    if (!fingerprintCheck_) fingerprintFault_ = fingerprintFault();
    return fingerprintFault_.empty() || fail(fingerprintFault_);
  }

  // Why load() failed.
  const std::string& reason() const { return reason_; }

 private:
  bool fail(std::string reason) {
    reason_ = std::move(reason);
    return false;
  }
  // A failure that the reader recorded, in the part of the image `where`
  // names, whose bytes start at `start`.
  bool failInside(const char* where, const char* why, size_t offset) {
    return fail(std::string(where) + ": " + (why ? why : "damaged") +
                " (at byte " + std::to_string(offset) + ")");
  }

  bool readHeader() {
    const int count =
        in_.readHeader(header_, kHeaderValueCount, kMaxHeaderValueCount);
    if (count < 0) {
      return fail("header: not " + std::to_string(kHeaderValueCount) +
                  " lower-case hexadecimal numbers, separated by commas and "
                  "ended by a zero byte");
    }
    // serialize() writes the mode only for compatible mode, so a written 0
    // makes an image that no engine wrote.
    if (count > kMatchingModeAt && header_[kMatchingModeAt] == 0) {
      return fail("header: not " + std::to_string(kHeaderValueCount) +
                  " numbers, though its matchingMode, 0, says exact mode");
    }
    for (int i = 0; i < kHeaderValueCount; ++i) {
      if (header_[i] > kMaxImageLength) {
        return fail("header: " + headerValueName(i) + " is negative");
      }
    }
    // A damaged count must not make the loader allocate more rules than the
    // image could hold.
    uint64_t records = 0;
    for (const ImageSection& section : kImageSections) {
      if (section.kind == SectionKind::kRuleArray) {
        records += header_[section.headerValue];
      }
    }
    if (records > in_.remaining() / kMinArrayRecordLength) {
      return fail("header: " + std::to_string(records) +
                  " rules cannot fit in the image");
    }
    for (int side = 0; side < kRuleSideCount; ++side) {
      engine_.*kSides[side].hostCount.member =
          static_cast<int32_t>(header_[kHostCountsAt + side]);
    }
    const uint32_t mode = header_[kMatchingModeAt];
    if (mode > static_cast<uint32_t>(MatchingMode::kCompatible)) {
      return fail("header: matchingMode is " + std::to_string(mode) +
                  ", not 0 (exact) or 1 (compatible)");
    }
    engine_.setImageMatchingMode(static_cast<MatchingMode>(mode));
    return true;
  }

  bool readSection(const ImageSection& section) {
    const uint32_t value = header_[section.headerValue];
    const char* name = sectionName(section);
    const size_t start = in_.position();
    if (section.kind != SectionKind::kRuleArray && value > in_.remaining()) {
      return fail(std::string(name) + ": its " + std::to_string(value) +
                  " bytes run past the end of the image");
    }
    switch (section.kind) {
      case SectionKind::kRuleArray: {
        const RuleStore& store = kRuleStores[section.store];
        Filter*& rules = engine_.*store.rules.member;
        rules = new Filter[value];
        engine_.*store.count.member = static_cast<int32_t>(value);
        if (!readArrayRecords(in_, rules, static_cast<int>(value))) {
          return failInside(name, in_.failure(), in_.failedAt());
        }
        return true;
      }
      case SectionKind::kBloomFilter:
        engine_.initBloomFilter(
            &(engine_.*kSides[section.store].fingerprintBloom.member),
            in_.current(), static_cast<int>(value));
        return in_.skip(value);
      case SectionKind::kHostSet:
        return readHostSet(name,
                           &(engine_.*kSides[section.store].hostSet.member),
                           value, start);
      case SectionKind::kDomainSet:
        return readHashSet(
            name, &(engine_.*kRuleStores[section.store].domains.set.member),
            value, start);
    }
    return false;
  }

  template <typename T>
  bool readHashSet(const char* name, HashSet<T>** slot, uint32_t length,
                   size_t start) {
    SectionFault fault;
    if (!engine_.initHashSet(slot, in_.current(), static_cast<int>(length),
                             &fault)) {
      return failInside(name, fault.check, start + fault.offset);
    }
    return in_.skip(length);
  }

  // Every section after the rule arrays has its length in the header, so
  // in an image of known length the host block set's place is known before
  // the arrays are read: a second thread starts on most of the set (the
  // part after about a fifth of it) while this one reads the arrays, the
  // rest of the set and checks the fingerprints. A set that does not begin
  // there (the arrays are damaged) is read without it.
  void readHostBlockSetAhead() {
    if (!lengthKnown_ || engine_.matchingMode() != MatchingMode::kExact) {
      return;
    }
    uint64_t afterArrays = 0;
    uint64_t before = 0;
    uint32_t length = 0;
    for (const ImageSection& section : kImageSections) {
      if (section.kind == SectionKind::kRuleArray) continue;
      const uint32_t value = header_[section.headerValue];
      if (section.kind == SectionKind::kHostSet &&
          section.store == static_cast<int>(RuleSide::kBlock)) {
        before = afterArrays;
        length = value;
      }
      afterArrays += value;
    }
    if (afterArrays > in_.remaining()) return;  // refused as it is read
    const char* const imageEnd = in_.current() + in_.remaining();
    hostBlockSetAhead_ = std::make_unique<SectionReadAhead<Filter>>(
        imageEnd - afterArrays + before, length, kHostBlockSetShareHere);
  }
  static constexpr double kHostBlockSetShareHere = 0.2;

  // The rule arrays and Bloom filters come before the host sets, so the
  // fingerprints can be checked while a second thread reads part of a
  // large host set; the fault, if any, is reported after the sections and
  // the host counts, in image order. Compatible mode's indexes also take
  // rules from the host sets.
  bool readHostSet(const char* name, HashSet<Filter>** slot, uint32_t length,
                   size_t start) {
    std::function<void()> check;
    if (!fingerprintCheck_ && engine_.matchingMode() == MatchingMode::kExact) {
      check = [this] {
        fingerprintFault_ = fingerprintFault();
        fingerprintCheck_ = true;
      };
    }
    SectionFault fault;
    if (!engine_.initHashSet(slot, in_.current(), static_cast<int>(length),
                             &fault, &check, hostBlockSetAhead_.get())) {
      return failInside(name, fault.check, start + fault.offset);
    }
    return in_.skip(length);
  }

  // A host rule count counts lines, a line whose rule was stored already
  // included: it is at least the number of rules in its set, and 0 only
  // when the set holds none.
  bool checkHostCounts() {
    for (const SideStores& side : kSides) {
      const HashSet<Filter>* set = engine_.*side.hostSet.member;
      const uint32_t rules = set == nullptr ? 0 : set->elementCount;
      const uint32_t lines =
          static_cast<uint32_t>(engine_.*side.hostCount.member);
      if (lines < rules || (lines == 0) != (rules == 0)) {
        return fail(std::string("header: ") + side.hostCount.name + " is " +
                    std::to_string(lines) + ", but " + side.hostSet.name +
                    " holds " + std::to_string(rules) + " rules");
      }
    }
    return true;
  }

  // A domain set that lacks a domain of its rules keeps them from the
  // pages that domain names.
  bool checkDomainSets() {
    for (const RuleStore& store : kRuleStores) {
      if (store.domains.set.member == nullptr) continue;
      const HashSet<NoFingerprintDomain>* set =
          engine_.*store.domains.set.member;
      if (set == nullptr) continue;  // without a set the rules are always tried
      const Filter* rules = engine_.*store.rules.member;
      for (int32_t i = 0; i < engine_.*store.count.member; ++i) {
        if (!hashSetHoldsFilterDomains(*set, rules[i])) {
          return failRule(store, i,
                          std::string("names a domain that ") +
                              store.domains.set.name + " lacks");
        }
      }
    }
    return true;
  }

  // A rule whose fingerprint the Bloom filter lacks would never be tried.
  // The fingerprints are the keys of the rule indexes, which the engine
  // builds first, so they are not searched for twice. Returns why the
  // check fails, or nothing. In exact mode it needs no host set.
  std::string fingerprintFault() {
    engine_.buildRuleIndexes();
    for (const SideStores& side : kSides) {
      const RuleStore& store = ruleStore(RulePlace::kFingerprinted, side.side);
      const RuleIndex& index = engine_.fingerprintIndex(side.side);
      const Filter* rules = engine_.*store.rules.member;
      const int32_t count = engine_.*store.count.member;
      if (index.keyedRuleCount() != static_cast<size_t>(count)) {
        char fingerprint[kFingerprintSize + 1];
        int32_t rule = 0;
        while (rule < count && findFingerprint(fingerprint, rules[rule])) {
          ++rule;
        }
        return ruleFault(store, rule, "has no fingerprint");
      }
      const BloomFilter* bloom = engine_.*side.fingerprintBloom.member;
      if (bloom == nullptr) continue;
      int32_t missing = 0;
      if (!index.everyKey([&](const char* key, int32_t rule) {
            missing = rule;
            return bloom->exists(key, kFingerprintSize);
          })) {
        return ruleFault(store, missing,
                         std::string("has a fingerprint that ") +
                             side.fingerprintBloom.name + " lacks");
      }
    }
    return "";
  }

  static std::string ruleFault(const RuleStore& store, int32_t rule,
                               const std::string& why) {
    return std::string(store.rules.name) + ": rule " + std::to_string(rule) +
           " " + why;
  }
  bool failRule(const RuleStore& store, int32_t rule, const std::string& why) {
    return fail(ruleFault(store, rule, why));
  }



  TessulClient& engine_;
  RecordReader in_;
  const bool lengthKnown_;
  uint32_t header_[kMaxHeaderValueCount] = {};
  std::string reason_;
  std::unique_ptr<SectionReadAhead<Filter>> hostBlockSetAhead_;
  // Whether the fingerprints were checked while a host set was read, and
  // why they failed.
  bool fingerprintCheck_ = false;
  std::string fingerprintFault_;
};

// Loads into a new engine, which `engine` takes the stores of only when the
// whole image loaded: a refused image changes nothing.
bool loadImage(TessulClient& engine, const char* image, size_t length,
               bool lengthKnown, std::string* error) {
  TessulClient loaded;
  ImageLoader loader(loaded, image, length, lengthKnown);
  if (!loader.load()) {
    if (error != nullptr) *error = loader.reason();
    return false;
  }
  engine.clear();
  engine.swapStores(&loaded);
  engine.setImageMatchingMode(loaded.matchingMode());
  engine.imageBuffer = image;
  return true;
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

bool TessulClient::deserialize(const char* image, size_t length,
                               std::string* error) {
  return loadImage(*this, image, length, /*lengthKnown=*/true, error);
}

// A trusted image is read as if it ended as far away as a size can count;
// whole images never reach that end.
bool TessulClient::deserialize(char* image) {
  return loadImage(*this, image, SIZE_MAX, /*lengthKnown=*/false, nullptr);
}

}  // namespace tessul
