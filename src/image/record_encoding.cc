#include "image/record_encoding.h"

#include <cstdint>
#include <cstring>

#include "hashing/hash_fn.h"
#include "hashing/hash_set.h"
#include "hashing/set_elements.h"
#include "image/record_reader.h"
#include "image/record_writer.h"

namespace tessul {

namespace {

constexpr char kTagMarker[] = "~#";

bool startsWithTagMarker(const char* text) {
  return text[0] == kTagMarker[0] && text[1] == kTagMarker[1];
}

// The tag, if any, and the domain text, which follows the tag in both
// records. An empty domain list ("$domain=") names one empty domain, so the
// rule matches no page; written as the lone zero byte of an absent list, it
// would come back as no list and match every page. "|" names two empty
// domains, which is the same list, and reads back as a list. A domain text
// that begins with the tag marker (an excluded domain "#..." first) would
// read back as a tag; after an empty tag it reads back as itself.
void writeTagAndDomainText(RecordWriter& out, const Filter& filter) {
  const char* domainText = filter.domainText;
  if (domainText != nullptr && *domainText == '\0') domainText = "|";
  const bool escaped = filter.tagLen < 1 && domainText != nullptr &&
                       startsWithTagMarker(domainText);
  if (filter.tagLen >= 1 || escaped) {
    out.writeBytes(kTagMarker, 2);
    out.writeBytes(filter.tagText, escaped ? 0 : filter.tagLen);
    out.writeByte(',');
  }
  out.writeString(domainText);
}

// Reads what writeTagAndDomainText wrote. Without a tag, *tagText and
// *tagLen keep their values.
bool readTagAndDomainText(RecordReader& in, const char** tagText,
                          int32_t* tagLen, const char** domainText) {
  if (!in.readTag(tagText, tagLen) || !in.readString(domainText)) {
    return false;
  }
  if (*tagText == nullptr || *tagLen > 0) return true;
  // An empty tag comes only before a domain text that needs it.
  if (*domainText == nullptr || !startsWithTagMarker(*domainText)) {
    return in.fail("an empty tag comes before no domain text that needs it");
  }
  *tagText = nullptr;
  return true;
}

bool readTagAndDomainText(RecordReader& in, Filter* filter) {
  return readTagAndDomainText(in, &filter->tagText, &filter->tagLen,
                              &filter->domainText);
}

// The header of a set filter record: the pattern length and the three
// numbers of the rule.
bool readSetRecordHeader(RecordReader& in, uint32_t (&header)[4]) {
  if (!in.readHeader(header, 4)) return false;
  if (header[0] > kMaxImageLength) {
    return in.fail("a pattern length is negative");
  }
  return true;
}

void writeArrayRecord(RecordWriter& out, const Filter& filter) {
  out.writeHeader({filter.type, filter.options, filter.negatedOptions});
  out.writeString(filter.pattern);
  writeTagAndDomainText(out, filter);
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
  if (!in.readHeader(header, 3)) return false;
  filter->type = static_cast<FilterType>(header[0]);
  filter->options = static_cast<FilterOption>(header[1]);
  filter->negatedOptions = static_cast<FilterOption>(header[2]);
  return readPattern(in, &filter->pattern) &&
         readTagAndDomainText(in, filter) && in.readString(&filter->anchorHost);
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

bool readArrayRecords(RecordReader& in, Filter* filters, int count) {
  for (int i = 0; i < count; ++i) {
    if (!readArrayRecord(in, &filters[i])) return false;
  }
  return true;
}

bool deserializeFilters(const char* text, size_t limit, Filter* filters,
                        int count, size_t* consumed) {
  RecordReader in(text, limit);
  if (!readArrayRecords(in, filters, count)) return false;
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
  writeTagAndDomainText(out, *this);
  return static_cast<int>(out.length());
}

// Meant for a new Filter, or one that this function read before: texts that
// the filter owned are not freed.
bool readSetRecord(RecordReader& in, Filter* filter) {
  filter->patternLen = 0;
  filter->isBorrowed = true;  // before any text points into the image
  filter->tagText = nullptr;  // a record without a tag leaves it as it is
  filter->tagLen = 0;
  uint32_t header[4];
  if (!readSetRecordHeader(in, header)) return false;
  filter->type = static_cast<FilterType>(header[1]);
  filter->options = static_cast<FilterOption>(header[2]);
  filter->negatedOptions = static_cast<FilterOption>(header[3]);
  if (!in.readBytes(header[0], &filter->pattern)) return false;
  filter->patternLen = static_cast<int32_t>(header[0]);
  const size_t hostStart = in.position();
  if (!in.readString(&filter->anchorHost)) return false;
  // Known now, the host's length spares the hash of every record, and every
  // lookup that compares it, a strlen.
  filter->anchorHostLen =
      filter->anchorHost == nullptr
          ? -1
          : static_cast<int32_t>(in.position() - hostStart - 1);
  if (!readTagAndDomainText(in, filter)) return false;
  // The domain sets are rebuilt from domainText when matching needs them.
  delete filter->includedDomains;
  delete filter->excludedDomains;
  filter->includedDomains = nullptr;
  filter->excludedDomains = nullptr;
  filter->domainsReady = false;
  return true;
}

// The element's hash is its anchor host's, or its pattern's when it has no
// host (Filter::hash); the host is hashed as it is searched for its end.
template <>
bool hashSetRecord<Filter>(RecordReader& in, uint64_t* hash) {
  uint32_t header[4];
  const char* pattern = nullptr;
  int32_t hostLen = 0;
  uint64_t hostHash = 0;
  const char* tagText = nullptr;
  int32_t tagLen = 0;
  const char* domainText = nullptr;
  if (!readSetRecordHeader(in, header) || !in.readBytes(header[0], &pattern) ||
      !in.readHashedString(elementHashFn, &hostLen, &hostHash) ||
      !readTagAndDomainText(in, &tagText, &tagLen, &domainText)) {
    return false;
  }
  *hash = hostLen > 0 ? hostHash
                      : elementHashFn.polynomial(
                            pattern, static_cast<int>(header[0]));
  return true;
}

namespace {

// The mask of a word's first `count` (1 to 8) bytes in memory.
uint64_t firstBytesMask(int count) {
  const uint64_t low = count == 8 ? ~uint64_t{0} : (uint64_t{1} << (8 * count)) - 1;
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
  return count == 8 ? low : low << (64 - 8 * count);
#else
  return low;
#endif
}

uint64_t wordAt(const char* text) {
  uint64_t word;
  memcpy(&word, text, sizeof(word));
  return word;
}

int hexDigitOf(char c) {
  return record_reading::kHexDigits.value[static_cast<unsigned char>(c)];
}

}  // namespace

bool SetRecordHasher<Filter>::hash(RecordReader& in, uint64_t* hash) {
  if (hashLikeBefore(in, hash)) return true;
  const char* record = in.current();
  if (!hashSetRecord<Filter>(in, hash)) return false;
  learnHeader(record);
  return true;
}

// Accepts only a record that hashSetRecord would accept the same way, and
// leaves the reader as it is for any other.
bool SetRecordHasher<Filter>::hashLikeBefore(RecordReader& in,
                                             uint64_t* hash) const {
  const char* record = in.current();
  const size_t remaining = in.remaining();
  if (tailLength_ == 0 || remaining < 3 + sizeof(uint64_t)) return false;
  // One digit, or two without a leading zero, then the comma.
  const int first = hexDigitOf(record[0]);
  const int second = record[1] == ',' ? -1 : hexDigitOf(record[1]);
  int digits = 1;
  uint32_t patternLen = static_cast<uint32_t>(first);
  if (second >= 0 && first > 0 && record[2] == ',') {
    digits = 2;
    patternLen = patternLen * 16 + static_cast<uint32_t>(second);
  } else if (first < 0 || record[1] != ',') {
    return false;
  }
  if ((wordAt(record + digits + 1) & firstBytesMask(tailLength_)) != tail_) {
    return false;
  }
  const size_t hostAt = static_cast<size_t>(digits + 1 + tailLength_) + patternLen;
  if (hostAt >= remaining) return false;
  size_t hostLen = 0;
  uint64_t hostHash = 0;
  if (!elementHashFn.polynomialToZero(record + hostAt, remaining - hostAt,
                                      &hostLen, &hostHash) ||
      hostLen == 0) {
    return false;
  }
  // The host's zero byte, then the lone zero byte of no domain text.
  const size_t end = hostAt + hostLen + 2;
  if (end > remaining || record[end - 1] != '\0') return false;
  *hash = hostHash;
  in.skip(end);
  return true;
}

void SetRecordHasher<Filter>::learnHeader(const char* record) {
  const char* comma = static_cast<const char*>(memchr(record, ',', 9));
  if (comma == nullptr) return;
  const char* end = static_cast<const char*>(memchr(comma, '\0', 9));
  if (end == nullptr) return;
  tailLength_ = static_cast<int>(end - comma);
  tail_ = 0;
  memcpy(&tail_, comma + 1, static_cast<size_t>(tailLength_));
}

unsigned int Filter::Deserialize(const char* text, unsigned int limit) {
  RecordReader in(text, limit);
  return readSetRecord(in, this) ? static_cast<unsigned int>(in.position()) : 0;
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
bool readSetRecord(RecordReader& in, NoFingerprintDomain* element) {
  element->domainLen = 0;
  uint32_t length = 0;
  const char* bytes = nullptr;
  if (!in.readNumberWithSuffix(&length, 'x')) return false;
  if (length > kMaxImageLength) return in.fail("a domain length is negative");
  if (!in.readBytes(length, &bytes) || !in.readZeroByte()) return false;
  element->isBorrowed = true;
  element->domain = bytes;
  element->domainLen = static_cast<int32_t>(length);
  return true;
}

template <>
bool hashSetRecord<NoFingerprintDomain>(RecordReader& in, uint64_t* hash) {
  NoFingerprintDomain element;
  if (!readSetRecord(in, &element)) return false;
  *hash = hashOf(element);
  return true;
}

unsigned int NoFingerprintDomain::Deserialize(const char* text,
                                              unsigned int limit) {
  RecordReader in(text, limit);
  return readSetRecord(in, this) ? static_cast<unsigned int>(in.position()) : 0;
}

}  // namespace tessul
