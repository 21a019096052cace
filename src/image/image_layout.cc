#include "image/image_layout.h"

namespace tessul {

const char* sectionName(const ImageSection& section) {
  switch (section.kind) {
    case SectionKind::kRuleArray:
      return kRuleStores[section.store].rules.name;
    case SectionKind::kBloomFilter:
      return kSides[section.store].fingerprintBloom.name;
    case SectionKind::kHostSet:
      return kSides[section.store].hostSet.name;
    case SectionKind::kDomainSet:
      return kRuleStores[section.store].domains.set.name;
  }
  return "";
}

std::string headerValueName(int value) {
  if (value == kMatchingModeAt) return "matchingMode";
  if (value >= kHostCountsAt && value < kHostCountsAt + kRuleSideCount) {
    return kSides[value - kHostCountsAt].hostCount.name;
  }
  for (const ImageSection& section : kImageSections) {
    if (section.headerValue != value) continue;
    if (section.kind == SectionKind::kRuleArray) {
      return kRuleStores[section.store].count.name;
    }
    return std::string(sectionName(section)) + "Bytes";
  }
  return "";
}

}  // namespace tessul
