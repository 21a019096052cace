#include "image/record_encoding.h"

#include <cstdint>
#include <cstring>

#include "hashing/set_elements.h"
#include "image/record_reader.h"
#include "image/record_writer.h"

namespace tessul {

namespace {

void writeTag(RecordWriter& out, const Filter& filter) {
  if (filter.tagLen < 1) return;
  out.writeBytes("~#", 2);
  out.writeBytes(filter.tagText, filter.tagLen);
  out.writeByte(',');
}

// An empty domain list ("$domain=") names one empty domain, so the rule
// matches no page; written as the lone zero byte of an absent list, it would
// come back as no list and match every page. "|" names two empty domains,
// which is the same list, and reads back as a list.
void writeDomainText(RecordWriter& out, const char* domainText) {
  out.writeString(domainText != nullptr && *domainText == '\0' ? "|"
                                                                : domainText);
}

void writeArrayRecord(RecordWriter& out, const Filter& filter) {
  out.writeHeader({filter.type, filter.options, filter.negatedOptions});
  out.writeString(filter.pattern);
  writeTag(out, filter);
  writeDomainText(out, filter.domainText);
  out.writeString(filter.anchorHost);
}

// A rule in an array always has a pattern, and an empty one matches every
// request that its options allow (as "@@$script" does). Written as a lone
// zero byte like an absent text, it is read back as the empty text at that
// byte rather than as absent, which would match nothing: the loaded rule
// must answer as the parsed one did.
bool readPattern(RecordReader& in, const char** pattern) {
  const char* start = in.current();
  if (!in.readString(pattern)) return false;
  if (*pattern == nullptr) *pattern = start;
  return true;
}

bool readArrayRecord(RecordReader& in, Filter* filter) {
  filter->isBorrowed = true;  // before any text points into the image
  uint32_t header[3];
  if (!in.readHeader(header, 3, 3)) return false;
  filter->type = static_cast<FilterType>(header[0]);
  filter->options = static_cast<FilterOption>(header[1]);
  filter->negatedOptions = static_cast<FilterOption>(header[2]);
  return readPattern(in, &filter->pattern) &&
         in.readTag(&filter->tagText, &filter->tagLen) &&
         in.readString(&filter->domainText) &&
         in.readString(&filter->anchorHost);
}

// The length a record stores for a text. Set elements always know it; a
// text that is not yet measured (length -1) is measured rather than written
// with length -1, and a missing one counts as empty.
uint32_t knownLength(const char* text, int32_t length) {
  if (text == nullptr) return 0;
  if (length >= 0) return length;
  return static_cast<uint32_t>(strlen(text));
}

}  // namespace

int serializeFilters(char* buffer, size_t bufferSize, const Filter* filters,
                     int count) {
  RecordWriter out(buffer, bufferSize);
  for (int i = 0; i < count; ++i) writeArrayRecord(out, filters[i]);
  return static_cast<int>(out.length());
}

bool deserializeFilters(const char* text, size_t limit, Filter* filters,
                        int count, size_t* consumed) {
  RecordReader in(text, limit);
  for (int i = 0; i < count; ++i) {
    if (!readArrayRecord(in, &filters[i])) return false;
  }
  *consumed = in.position();
  return true;
}

int Filter::Serialize(char* buffer) const {
  RecordWriter out(buffer, SIZE_MAX);
  const uint32_t length = knownLength(pattern, patternLen);
  out.writeHeader({length, type, options, negatedOptions});
  out.writeBytes(pattern, length);
  // The host's known length, as host lookups see it.
  out.writeBytes(anchorHost, knownLength(anchorHost, anchorHostLen));
  out.writeByte('\0');
  writeTag(out, *this);
  writeDomainText(out, domainText);
  return static_cast<int>(out.length());
}

// Meant for a new Filter: texts that the filter owned are not freed.
unsigned int Filter::Deserialize(const char* text, unsigned int limit) {
  patternLen = 0;
  isBorrowed = true;  // before any text points into the image
  RecordReader in(text, limit);
  uint32_t header[4];
  if (!in.readHeader(header, 4, 4) || header[0] > kMaxImageLength) return 0;
  type = static_cast<FilterType>(header[1]);
  options = static_cast<FilterOption>(header[2]);
  negatedOptions = static_cast<FilterOption>(header[3]);
  if (!in.readBytes(header[0], &pattern)) return 0;
  patternLen = static_cast<int32_t>(header[0]);
  if (!in.readString(&anchorHost) || !in.readTag(&tagText, &tagLen) ||
      !in.readString(&domainText)) {
    return 0;
  }
  // The domain sets are rebuilt from domainText when matching needs them.
  delete includedDomains;
  delete excludedDomains;
  includedDomains = nullptr;
  excludedDomains = nullptr;
  domainsReady = false;
  return static_cast<unsigned int>(in.position());
}

int NoFingerprintDomain::Serialize(char* buffer) const {
  RecordWriter out(buffer, SIZE_MAX);
  const uint32_t length = knownLength(domain, domainLen);
  // The header is the length followed by the letter x, e.g. "bx" for 11.
  out.writeNumber(length);
  out.writeByte('x');
  out.writeByte('\0');
  out.writeBytes(domain, length);
  out.writeByte('\0');
  return static_cast<int>(out.length());
}

// Meant for a new element: a domain that the element owned is not freed.
unsigned int NoFingerprintDomain::Deserialize(const char* text,
                                              unsigned int limit) {
  domainLen = 0;
  RecordReader in(text, limit);
  uint32_t length = 0;
  const char* bytes = nullptr;
  // The closing zero byte must lie within the limit too.
  if (!in.readHeader(&length, 1, 1) || length > kMaxImageLength ||
      !in.readBytes(length, &bytes) || !in.skip(1)) {
    return 0;
  }
  isBorrowed = true;
  domain = bytes;
  domainLen = static_cast<int32_t>(length);
  return static_cast<unsigned int>(in.position());
}

}  // namespace tessul
