#include "cli/image_report.h"

#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <vector>

#include "engine/rule_stores.h"
#include "engine/tessul_client.h"
#include "filter/rule_class.h"
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

// How the report names the rules of one place, on the blocking side; the
// exception side's are named "exceptions, ..." with an "@@".
struct KindName {
  RulePlace place;
  const char* block;
  const char* exception;  // null: the place has one side
};

constexpr KindName kKindNames[] = {
    {RulePlace::kHostOnly, "blocking, by host (||host^)",
     "exceptions, by host (@@||host^)"},
    {RulePlace::kFingerprinted, "blocking, with a fingerprint",
     "exceptions, with a fingerprint"},
    {RulePlace::kUnfingerprinted, "blocking, without a fingerprint",
     "exceptions, without a fingerprint"},
    {RulePlace::kIncludeDomain, "blocking, on listed domains (domain=a)",
     "exceptions, on listed domains (domain=a)"},
    {RulePlace::kExcludeDomain, "blocking, except on domains (domain=~a)",
     "exceptions, except on domains (domain=~a)"},
    {RulePlace::kElementHide, "element hiding (## and #@#)", nullptr},
    {RulePlace::kHtml, "HTML filtering ($$)", nullptr},
};

// The header value that counts the rules of a class.
int countValueOf(const RuleClass& kept) {
  if (kept.place == RulePlace::kHostOnly) {
    return kHostCountsAt + static_cast<int>(kept.side);
  }
  for (const RuleStore& store : kRuleStores) {
    if (store.keeps == kept) return store.imagePosition;
  }
  return -1;
}

// "rules:" with the count in all, then a line per kind, as the header
// counts them.
void appendRuleCounts(std::string* out, const uint32_t* header) {
  std::string kinds;
  uint64_t total = 0;
  for (const KindName& kind : kKindNames) {
    for (RuleSide side : {RuleSide::kBlock, RuleSide::kException}) {
      const bool oneSided = kind.exception == nullptr;
      if (oneSided && side == RuleSide::kException) continue;
      const int value =
          countValueOf({kind.place, oneSided ? RuleSide::kNone : side});
      const char* name = side == RuleSide::kBlock ? kind.block : kind.exception;
      appendLine(&kinds, "  %-44s %10" PRIu32, name, header[value]);
      total += header[value];
    }
  }
  appendLine(out, "%-46s %10" PRIu64, "rules:", total);
  *out += kinds;
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
  report.loads = loads(image, &report.failure);
  if (report.loads) {
    appendLine(&out, "loads: yes");
  } else {
    appendLine(&out, "loads: no: %s", report.failure.c_str());
  }
  uint32_t header[kMaxHeaderValueCount] = {};
  SectionWalker walker(image);
  const int headerValues = walker.readHeader(header);
  if (headerValues >= 0) {
    const uint32_t mode = header[kMatchingModeAt];
    appendLine(&out, "mode: %s",
               mode == 0 ? "exact" : mode == 1 ? "compatible" : "unknown");
  }
  if (headerValues < 0) {
    appendLine(&out, "rules: unknown, the header is damaged");
  } else {
    appendRuleCounts(&out, header);
    appendLine(&out, "header values:");
    for (int i = 0; i < headerValues; ++i) {
      appendLine(&out, "  %2d %-32s %10" PRIu32, i + 1,
                 headerValueName(i).c_str(), header[i]);
    }
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
  return report;
}

}  // namespace cli
}  // namespace tessul
