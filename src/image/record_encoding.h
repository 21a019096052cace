// The records of an engine image. Numbers are lower-case hexadecimal text,
// headers end in a zero byte, and strings are raw bytes; loaded records
// borrow their strings from the image, which must outlive them.
//
// Array filter record, one rule of a rule array:
//   "<type>,<options>,<negatedOptions>\0"
//   pattern "\0"                      (empty when absent)
//   "~#" tag ","                      (only when the rule has a tag)
//   domainText "\0"  anchorHost "\0"  (empty when absent)
//
// Set filter record, one host-only rule of a host set (Filter::Serialize):
//   "<patternLen>,<type>,<options>,<negatedOptions>\0"
//   the patternLen pattern bytes, without terminator
//   anchorHost "\0"  ["~#" tag ","]  domainText "\0"
//
// Domain record, one domain of a domain set (NoFingerprintDomain::Serialize):
//   "<domainLen>x\0" domain "\0"
//
// Record headers always carry all their numbers; a record whose header lacks
// one is damaged. An empty string reads back as absent. A domain text that
// begins with "~#" would read back as a tag; written after an empty tag
// ("~#,"), it reads back as itself, and only there may a tag be empty.
#ifndef TESSUL_IMAGE_RECORD_ENCODING_H_
#define TESSUL_IMAGE_RECORD_ENCODING_H_

#include <cstddef>
#include <cstdint>

#include "filter/filter.h"
#include "hashing/set_elements.h"
#include "image/record_reader.h"

namespace tessul {

// The readers under the ones below, for a reader at the first record: each
// reads records as the writers above write them, borrowing their texts, and
// on failure records why in the reader.
bool readArrayRecords(RecordReader& in, Filter* filters, int count);
bool readSetRecord(RecordReader& in, Filter* filter);
bool readSetRecord(RecordReader& in, NoFingerprintDomain* domain);
// Reads and checks a set record as readSetRecord does, for a set that keeps
// its records and needs only the hash (hashOf) of the element the record
// holds, not the element.
template <typename T>
bool hashSetRecord(RecordReader& in, uint64_t* hash);
template <>
bool hashSetRecord<Filter>(RecordReader& in, uint64_t* hash);
template <>
bool hashSetRecord<NoFingerprintDomain>(RecordReader& in, uint64_t* hash);

// Reads and hashes the records of one set after another as hashSetRecord
// does; the one for host rules takes a quicker way through records like
// most of a host set's: a pattern length of one or two digits, the rest of
// the header as in a record read before (",208,0,0"), a host, no tag and no
// domain text.
template <typename T>
class SetRecordHasher {
 public:
  bool hash(RecordReader& in, uint64_t* hash) {
    return hashSetRecord<T>(in, hash);
  }
};

template <>
class SetRecordHasher<Filter> {
 public:
  bool hash(RecordReader& in, uint64_t* hash);

 private:
  bool hashLikeBefore(RecordReader& in, uint64_t* hash) const;
  void learnHeader(const char* record);

  // The bytes of a header read before from its first comma on, its zero
  // byte included (at most eight), in the first tailLength_ bytes of a
  // word loaded from memory; none while tailLength_ is 0.
  uint64_t tail_ = 0;
  int tailLength_ = 0;
};

// Writes the array records of `count` filters one after another into a
// zero-filled `buffer` of `bufferSize` bytes, or only measures them when
// `buffer` is null. Returns their total length.
int serializeFilters(char* buffer, size_t bufferSize, const Filter* filters,
                     int count);

// Reads `count` array records from [text, text + limit) into newly made
// `filters`, which then borrow their texts from `text`. Stores the bytes read
// in *consumed. False when a record runs to the limit; the filters are then
// partly filled but safe to destroy.
bool deserializeFilters(const char* text, size_t limit, Filter* filters,
                        int count, size_t* consumed);

}  // namespace tessul

#endif  // TESSUL_IMAGE_RECORD_ENCODING_H_
