// The engine image operations of HashSet. Instantiated in hash_set_image.cc
// for the two element types that images hold, Filter and
// NoFingerprintDomain; each element type writes and reads its own record.
#ifndef TESSUL_IMAGE_HASH_SET_IMAGE_H_
#define TESSUL_IMAGE_HASH_SET_IMAGE_H_

#include <cstdint>
#include <memory>

#include "hashing/hash_set.h"
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

template <typename T>
bool HashSet<T>::Deserialize(const char* text, unsigned int limit) {
  return Deserialize(text, limit, nullptr);
}

template <typename T>
bool HashSet<T>::Deserialize(const char* text, unsigned int limit,
                             Visitor* visitor) {
  Cleanup();
  if (!HasNewlineBefore(text, limit)) return false;
  RecordReader in(text, limit);
  // The bucket count, then the allowDuplicates flag, 0 when missing.
  uint32_t header[] = {0, 0};
  if (!in.readHeader(header, 2, 1)) return false;
  // Every bucket takes at least its terminator byte. A set without buckets
  // could not be searched or added to.
  if (header[0] == 0 || header[0] > in.remaining()) return false;
  allowDuplicates = header[1] != 0;
  Init(header[0]);
  for (uint32_t b = 0; b < bucketCount; ++b) {
    HashItem<T>** tail = &buckets[b];
    for (;;) {
      if (in.remaining() == 0) return false;  // no bucket terminator
      if (in.atZeroByte()) break;
      auto element = std::make_unique<T>();
      const unsigned int used = element->Deserialize(
          in.current(), static_cast<unsigned int>(in.remaining()));
      if (used == 0) return false;
      in.skip(used);
      if (visitor != nullptr) visitor->visit(*element);
      *tail = new HashItem<T>;
      (*tail)->element = element.release();
      tail = &(*tail)->next;
      ++elementCount;
    }
    in.skip(1);  // the bucket terminator
  }
  return true;
}

template <typename T>
bool HashSet<T>::HasNewlineBefore(const char* text, unsigned int limit) {
  return hasNewlineBefore(text, limit);
}

}  // namespace tessul

#endif  // TESSUL_IMAGE_HASH_SET_IMAGE_H_
