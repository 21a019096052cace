// The image layout that the store table yields is the documented one: the
// header values and the sections in their order, by name. Reordering the
// table changes the image format, and this says so.

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "image/image_layout.h"

namespace tessul {
namespace {

TEST(ImageLayoutTest, HeaderValuesInImageOrder) {
  const std::vector<std::string> expected = {
      "fingerprintedBlockCount",        "fingerprintedExceptionCount",
      "elementHideCount",               "htmlRuleCount",
      "unfingerprintedBlockCount",      "unfingerprintedExceptionCount",
      "includeDomainBlockCount",        "excludeDomainBlockCount",
      "includeDomainExceptionCount",    "excludeDomainExceptionCount",
      "hostBlockCount",                 "hostExceptionCount",
      "blockFingerprintBloomBytes",     "exceptionFingerprintBloomBytes",
      "hostBlockSetBytes",              "hostExceptionSetBytes",
      "includeDomainBlockSetBytes",     "excludeDomainBlockSetBytes",
      "includeDomainExceptionSetBytes", "excludeDomainExceptionSetBytes",
  };
  std::vector<std::string> names;
  for (int value = 0; value < kHeaderValueCount; ++value) {
    names.push_back(headerValueName(value));
  }
  EXPECT_EQ(names, expected);
}

TEST(ImageLayoutTest, SectionsInImageOrder) {
  const std::vector<std::string> expected = {
      "fingerprintedBlockRules",     "fingerprintedExceptionRules",
      "elementHideRules",            "htmlRules",
      "unfingerprintedBlockRules",   "unfingerprintedExceptionRules",
      "includeDomainBlockRules",     "excludeDomainBlockRules",
      "includeDomainExceptionRules", "excludeDomainExceptionRules",
      "blockFingerprintBloom",       "exceptionFingerprintBloom",
      "hostBlockSet",                "hostExceptionSet",
      "includeDomainBlockSet",       "excludeDomainBlockSet",
      "includeDomainExceptionSet",   "excludeDomainExceptionSet",
  };
  std::vector<std::string> names;
  for (const ImageSection& section : kImageSections) {
    names.push_back(sectionName(section));
    // A section's length value names the section.
    if (section.kind != SectionKind::kRuleArray) {
      EXPECT_EQ(headerValueName(section.headerValue), names.back() + "Bytes");
    }
  }
  EXPECT_EQ(names, expected);
}

}  // namespace
}  // namespace tessul
