#include "cli/image_report.h"

#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <vector>

#include "engine/tessul_client.h"
#include "image/image_layout.h"
#include "image/record_encoding.h"
#include "image/record_reader.h"

namespace tessul {
namespace cli {

namespace {

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

  // Returns the number of values read, -1 for a damaged header.
  int readHeader(uint32_t* values) {
    const int count =
        reader_.readHeader(values, kHeaderValueCount, kMaxHeaderValueCount);
    intact_ = count >= 0;
    add("header", reader_.position(), true);
    return count;
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

bool loads(const std::string& image, std::string* failure) {
  TessulClient engine;  // destroyed before the image bytes it points into
  return engine.deserialize(image.data(), image.size(), failure);
}

}  // namespace

ImageReport describeImage(const std::string& name, const std::string& image) {
  ImageReport report;
  std::string& out = report.text;
  appendLine(&out, "image: %s", name.c_str());
  appendLine(&out, "size: %zu bytes", image.size());

  uint32_t header[kMaxHeaderValueCount] = {};
  SectionWalker walker(image);
  const int headerValues = walker.readHeader(header);
  if (headerValues >= 0) {
    appendLine(&out, "header values:");
    for (int i = 0; i < headerValues; ++i) {
      appendLine(&out, "  %2d %-32s %10" PRIu32, i + 1,
                 headerValueName(i).c_str(), header[i]);
    }
    const uint32_t mode = header[kMatchingModeAt];
    appendLine(&out, "mode: %s",
               mode == 0 ? "exact" : mode == 1 ? "compatible" : "unknown");
  } else {
    appendLine(&out, "header: damaged");
  }
  for (const ImageSection& section : kImageSections) {
    const uint32_t value = header[section.headerValue];
    if (section.kind == SectionKind::kRuleArray) {
      walker.measureRules(sectionName(section), value);
    } else {
      walker.measureBytes(sectionName(section), value);
    }
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
  report.loads = loads(image, &report.failure);
  if (report.loads) {
    appendLine(&out, "loads: yes");
  } else {
    appendLine(&out, "loads: no: %s", report.failure.c_str());
  }
  return report;
}

}  // namespace cli
}  // namespace tessul
