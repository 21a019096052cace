// The engine image operations of HashSet. Instantiated in hash_set_image.cc
// for the two element types that images hold, Filter and
// NoFingerprintDomain; each element type writes and reads its own record.
#ifndef TESSUL_IMAGE_HASH_SET_IMAGE_H_
#define TESSUL_IMAGE_HASH_SET_IMAGE_H_

#include <cstdint>

#include "hashing/fast_modulo.h"
#include "hashing/hash_set.h"
#include "image/record_encoding.h"
#include "image/record_reader.h"
#include "image/record_writer.h"

namespace tessul {

template <typename T>
int HashSet<T>::SerializeBuckets(char* buffer) const {
  RecordWriter out(buffer, SIZE_MAX);
  out.writeHeader({bucketCount, allowDuplicates ? 1u : 0u});
  for (uint32_t b = 0; b < bucketCount; ++b) {
    for (HashItem<T>* item = buckets[b]; item != nullptr; item = item->next) {
      out.advance(item->element->Serialize(out.position()));
    }
    out.writeByte('\0');  // end of the bucket
  }
  return static_cast<int>(out.length());
}

template <typename T>
char* HashSet<T>::Serialize(unsigned int* size) const {
  *size = SerializeBuckets(nullptr);
  char* section = new char[*size]();
  SerializeBuckets(section);
  return section;
}

// Reads the section at the reader's position, which must end exactly where
// the reader's limit does, into `set`; see HashSet::Deserialize.
template <typename T>
bool readHashSet(RecordReader& in, HashSet<T>* set,
                 typename HashSet<T>::Visitor* visitor) {
  set->Cleanup();
  uint32_t header[2];
  if (!in.readHeader(header, 2)) return false;
  if (header[1] > 1) return in.fail("the duplicates flag is neither 0 nor 1");
  // Every bucket takes at least its terminator byte. A set without buckets
  // could not be searched or added to.
  if (header[0] == 0 || header[0] > in.remaining()) {
    return in.fail("the bucket count is 0 or larger than the section");
  }
  set->allowDuplicates = header[1] != 0;
  set->Init(header[0]);
  const FastModulo bucketOf(header[0]);
  for (uint32_t b = 0; b < set->bucketCount; ++b) {
    HashItem<T>** tail = &set->buckets[b];
    for (;;) {
      if (in.remaining() == 0) return in.fail("a bucket lacks its end");
      if (in.atZeroByte()) break;
      const size_t start = in.position();
      HashItem<T>* item = set->items.make();
      T& element = *item->element;
      if (!readSetRecord(in, &element)) {
        set->items.release(item);
        return false;
      }
      const uint64_t hash = hashOf(element);
      if (bucketOf(hash) != b) {
        set->items.release(item);
        return in.failAt(start,
                         "an element lies outside the bucket of its hash");
      }
      if (visitor != nullptr) visitor->visit(element, hash);
      *tail = item;
      tail = &item->next;
      ++set->elementCount;
    }
    in.skip(1);  // the bucket terminator
  }
  if (in.remaining() != 0) return in.fail("bytes follow the last bucket");
  return true;
}

template <typename T>
bool HashSet<T>::Deserialize(const char* text, unsigned int limit) {
  return Deserialize(text, limit, nullptr);
}

template <typename T>
bool HashSet<T>::Deserialize(const char* text, unsigned int limit,
                             Visitor* visitor, SectionFault* fault) {
  RecordReader in(text, limit);
  if (readHashSet(in, this, visitor)) return true;
  if (fault != nullptr) *fault = {in.failure(), in.failedAt()};
  return false;
}

template <typename T>
bool HashSet<T>::HasNewlineBefore(const char* text, unsigned int limit) {
  return hasNewlineBefore(text, limit);
}

}  // namespace tessul

#endif  // TESSUL_IMAGE_HASH_SET_IMAGE_H_
