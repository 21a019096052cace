#include "cli/image_report.h"

#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <vector>

#include "engine/tessul_client.h"
#include "image/record_encoding.h"
#include "image/record_reader.h"

namespace tessul {
namespace cli {

namespace {

constexpr int kHeaderValueCount = 20;
constexpr int kRuleArrayCount = 10;
constexpr int kByteSectionCount = 8;  // two Bloom filters, six hash sets

constexpr const char* kHeaderValueNames[kHeaderValueCount] = {
    "fingerprintedBlockCount",
    "fingerprintedExceptionCount",
    "elementHideCount",
    "htmlRuleCount",
    "unfingerprintedBlockCount",
    "unfingerprintedExceptionCount",
    "includeDomainBlockCount",
    "excludeDomainBlockCount",
    "includeDomainExceptionCount",
    "excludeDomainExceptionCount",
    "hostBlockCount",
    "hostExceptionCount",
    "blockFingerprintBloomBytes",
    "exceptionFingerprintBloomBytes",
    "hostBlockSetBytes",
    "hostExceptionSetBytes",
    "includeDomainBlockSetBytes",
    "excludeDomainBlockSetBytes",
    "includeDomainExceptionSetBytes",
    "excludeDomainExceptionSetBytes",
};

// The sections after the header, in image order. The rule arrays hold as
// many records as header values 1 to 10 say; the Bloom filters and hash
// sets are as long as values 13 to 20 say.
constexpr const char* kRuleSectionNames[kRuleArrayCount] = {
    "fingerprintedBlockRules",
    "fingerprintedExceptionRules",
    "elementHideRules",
    "htmlRules",
    "unfingerprintedBlockRules",
    "unfingerprintedExceptionRules",
    "includeDomainBlockRules",
    "excludeDomainBlockRules",
    "includeDomainExceptionRules",
    "excludeDomainExceptionRules",
};
constexpr int kByteSectionsAt = 12;  // header index of the first length
constexpr const char* kByteSectionNames[kByteSectionCount] = {
    "blockFingerprintBloom",
    "exceptionFingerprintBloom",
    "hostBlockSet",
    "hostExceptionSet",
    "includeDomainBlockSet",
    "excludeDomainBlockSet",
    "includeDomainExceptionSet",
    "excludeDomainExceptionSet",
};

enum class SectionState { kMeasured, kDamaged, kNotReached };

struct Section {
  const char* name;
  SectionState state;
  size_t bytes;  // when measured
};

// Measures the sections one after another. Once one does not fit in the
// image, it and every later one are left unmeasured.
class SectionWalker {
 public:
  explicit SectionWalker(const std::string& image)
      : reader_(image.data(), image.size()) {}

  bool readHeader(uint32_t* values) {
    intact_ = reader_.readHeader(values, kHeaderValueCount, 0);
    add("header", reader_.position(), true);
    return intact_;
  }

  void measureRules(const char* name, uint32_t count) {
    const bool reached = intact_;
    const size_t start = reader_.position();
    for (uint32_t i = 0; intact_ && i < count; ++i) {
      Filter rule;
      size_t consumed = 0;
      intact_ = deserializeFilters(reader_.current(), reader_.remaining(),
                                   &rule, 1, &consumed) &&
                reader_.skip(consumed);
    }
    add(name, reader_.position() - start, reached);
  }

  void measureBytes(const char* name, uint32_t length) {
    const bool reached = intact_;
    intact_ = intact_ && reader_.skip(length);
    add(name, length, reached);
  }

  const std::vector<Section>& sections() const { return sections_; }
  bool intact() const { return intact_; }
  size_t bytesAfterSections() const { return reader_.remaining(); }

 private:
  void add(const char* name, size_t bytes, bool reached) {
    const SectionState state = intact_   ? SectionState::kMeasured
                               : reached ? SectionState::kDamaged
                                         : SectionState::kNotReached;
    sections_.push_back({name, state, bytes});
  }

  RecordReader reader_;
  bool intact_ = true;
  std::vector<Section> sections_;
};

void appendLine(std::string* out, const char* format, ...)
    __attribute__((format(printf, 2, 3)));

void appendLine(std::string* out, const char* format, ...) {
  char line[256];
  va_list arguments;
  va_start(arguments, format);
  vsnprintf(line, sizeof line, format, arguments);
  va_end(arguments);
  *out += line;
  *out += '\n';
}

bool loads(const std::string& image) {
  TessulClient engine;  // destroyed before the image bytes it points into
  return engine.deserialize(image.data(), image.size());
}

}  // namespace

ImageReport describeImage(const std::string& name, const std::string& image) {
  ImageReport report;
  std::string& out = report.text;
  appendLine(&out, "image: %s", name.c_str());
  appendLine(&out, "size: %zu bytes", image.size());

  uint32_t header[kHeaderValueCount] = {};
  SectionWalker walker(image);
  if (walker.readHeader(header)) {
    appendLine(&out, "header values:");
    for (int i = 0; i < kHeaderValueCount; ++i) {
      appendLine(&out, "  %2d %-32s %10" PRIu32, i + 1, kHeaderValueNames[i],
                 header[i]);
    }
  } else {
    appendLine(&out,
               "header: damaged (no zero byte after it, or a number "
               "wider than 32 bits)");
  }
  for (int i = 0; i < kRuleArrayCount; ++i) {
    walker.measureRules(kRuleSectionNames[i], header[i]);
  }
  for (int i = 0; i < kByteSectionCount; ++i) {
    walker.measureBytes(kByteSectionNames[i], header[kByteSectionsAt + i]);
  }

  appendLine(&out, "sections (bytes):");
  for (const Section& section : walker.sections()) {
    if (section.state == SectionState::kMeasured) {
      appendLine(&out, "     %-32s %10zu", section.name, section.bytes);
    } else {
      appendLine(&out, "     %-32s %10s", section.name,
                 section.state == SectionState::kDamaged ? "damaged" : "-");
    }
  }
  if (walker.intact()) {
    appendLine(&out, "     %-32s %10zu", "(after the last section)",
               walker.bytesAfterSections());
  }
  report.loads = loads(image);
  appendLine(&out, "loads: %s", report.loads ? "yes" : "no");
  return report;
}

}  // namespace cli
}  // namespace tessul
