// The layout of an engine image, one flat buffer holding a whole engine:
//
//   header: twenty (or twenty-one) hexadecimal numbers separated by commas,
//           then a zero byte
//   the ten rule arrays, each as many array records as its header count
//   the bits of the block and the exception fingerprint Bloom filters
//   the sections of the two host sets, then of the four domain sets
//
// Header values: 1-10 the rule array counts in image order, 11-12 the host
// rule counts (hostBlockCount, hostExceptionCount), 13-20 the lengths of the
// sections after the rule arrays, in image order; 21, present only in
// images of compatible mode, the matching mode (1). A store that the engine
// lacks takes no bytes and has length 0. The records are those of
// image/record_encoding.h.
//
// The stores and their order come from the engine's store table
// (engine/rule_stores.h): the rule arrays by their image position, the
// Bloom filters and host sets by side, and the domain sets in the order of
// their rule arrays.
#ifndef TESSUL_IMAGE_IMAGE_LAYOUT_H_
#define TESSUL_IMAGE_IMAGE_LAYOUT_H_

#include <array>
#include <string>

#include "engine/rule_stores.h"

namespace tessul {

enum class SectionKind { kRuleArray, kBloomFilter, kHostSet, kDomainSet };

// One part of the image after its header.
struct ImageSection {
  SectionKind kind;
  // The row of kRuleStores (rule arrays, domain sets) or the side (Bloom
  // filters, host sets) whose store it holds.
  int store;
  // The header value that holds its record count (rule arrays) or its
  // length in bytes (all others).
  int headerValue;
};

namespace image_layout {

constexpr int domainSetCount() {
  int count = 0;
  for (const RuleStore& store : kRuleStores) {
    count += store.domains.set.member != nullptr;
  }
  return count;
}

}  // namespace image_layout

constexpr int kImageSectionCount =
    kRuleStoreCount + 2 * kRuleSideCount + image_layout::domainSetCount();
// Where the header holds the host rule counts, by side.
constexpr int kHostCountsAt = kRuleStoreCount;
constexpr int kHeaderValueCount = kImageSectionCount + kRuleSideCount;
static_assert(kHeaderValueCount == 20, "images have twenty header values");
// Values that a header may carry after those twenty. An image without one
// has it at 0; a header with more values than the reader knows is refused.
// The twenty-first is the engine's matching mode (0 exact, 1 compatible),
// written only by engines in compatible mode, so that exact images stay as
// they were.
constexpr int kOptionalHeaderValueCount = 1;
constexpr int kMatchingModeAt = kHeaderValueCount;
constexpr int kMaxHeaderValueCount =
    kHeaderValueCount + kOptionalHeaderValueCount;

namespace image_layout {

constexpr std::array<ImageSection, kImageSectionCount> sections() {
  std::array<ImageSection, kImageSectionCount> sections{};
  int next = 0;
  for (int position = 0; position < kRuleStoreCount; ++position) {
    for (int row = 0; row < kRuleStoreCount; ++row) {
      if (kRuleStores[row].imagePosition == position) {
        sections[next++] = {SectionKind::kRuleArray, row, position};
      }
    }
  }
  int lengthAt = kHostCountsAt + kRuleSideCount;
  for (int side = 0; side < kRuleSideCount; ++side) {
    sections[next++] = {SectionKind::kBloomFilter, side, lengthAt++};
  }
  for (int side = 0; side < kRuleSideCount; ++side) {
    sections[next++] = {SectionKind::kHostSet, side, lengthAt++};
  }
  for (int position = 0; position < kRuleStoreCount; ++position) {
    for (int row = 0; row < kRuleStoreCount; ++row) {
      if (kRuleStores[row].imagePosition == position &&
          kRuleStores[row].domains.set.member != nullptr) {
        sections[next++] = {SectionKind::kDomainSet, row, lengthAt++};
      }
    }
  }
  return sections;
}

}  // namespace image_layout

// Every section after the header, in image order.
inline constexpr std::array<ImageSection, kImageSectionCount> kImageSections =
    image_layout::sections();
static_assert(kImageSections.back().headerValue == kHeaderValueCount - 1,
              "every section has a header value of its own");

// The name of the store a section holds, e.g. "fingerprintedBlockRules".
const char* sectionName(const ImageSection& section);

// The name of a header value (0 to kMaxHeaderValueCount - 1): the name of
// the count it holds, e.g. "hostBlockCount", the section's name followed by
// "Bytes" for a section length, or "matchingMode".
std::string headerValueName(int value);

}  // namespace tessul

#endif  // TESSUL_IMAGE_IMAGE_LAYOUT_H_
