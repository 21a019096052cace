// The engine image operations of HashSet. Instantiated in hash_set_image.cc
// for the two element types that images hold, Filter and
// NoFingerprintDomain; each element type writes and reads its own record.
#ifndef TESSUL_IMAGE_HASH_SET_IMAGE_H_
#define TESSUL_IMAGE_HASH_SET_IMAGE_H_

#include <cstdint>
#include <cstring>
#include <memory>
#include <utility>

#include "hashing/fast_modulo.h"
#include "hashing/hash_set.h"
#include "image/record_encoding.h"
#include "image/record_reader.h"
#include "image/record_writer.h"

namespace tessul {

namespace kept_records {

// KeptRecords::holdsEqual for records that were checked when they were
// read or written.
template <typename T>
bool holdsEqual(const char* begin, const char* end, const T& probe) {
  RecordReader in(begin, static_cast<size_t>(end - begin));
  while (in.remaining() > 0) {
    T element;
    if (!readSetRecord(in, &element)) return false;
    if (element == probe) return true;
  }
  return false;
}

// A node whose element owns copies of the texts that `borrowed` points to:
// the copy constructor copies the texts of an owning source.
template <typename T>
HashItem<T>* makeOwnedCopy(ItemPool<T>& items, T& borrowed) {
  borrowed.isBorrowed = false;
  try {
    HashItem<T>* item = items.make(static_cast<const T&>(borrowed));
    borrowed.isBorrowed = true;
    return item;
  } catch (...) {
    borrowed.isBorrowed = true;
    throw;
  }
}

// KeptRecords::read.
template <typename T>
void read(const char* begin, const char* end, bool copyTexts,
          ItemPool<T>& items, HashItem<T>** tail) {
  RecordReader in(begin, static_cast<size_t>(end - begin));
  while (in.remaining() > 0) {
    HashItem<T>* item = nullptr;
    if (copyTexts) {
      T borrowed;
      if (!readSetRecord(in, &borrowed)) return;
      item = makeOwnedCopy(items, borrowed);
    } else {
      item = items.make();
      if (!readSetRecord(in, item->element)) {
        items.release(item);
        return;
      }
    }
    ItemPool<T>::setHash(item, tessul::hashOf(*item->element));
    *tail = item;
    tail = &item->next;
  }
}

// Kept records of a set of `bucketCount` buckets, every chain made (none
// kept) until the caller marks them.
template <typename T>
std::unique_ptr<KeptRecords<T>> make(uint32_t bucketCount) {
  auto records = std::make_unique<KeptRecords<T>>();
  records->holdsEqual = &holdsEqual<T>;
  records->read = &read<T>;
  records->bucketStarts.reset(new uint32_t[bucketCount + 1]);
  records->kept.reset(new std::atomic<bool>[bucketCount]);
  for (uint32_t b = 0; b < bucketCount; ++b) {
    records->kept[b].store(false, std::memory_order_relaxed);
  }
  return records;
}

// Whether a rule read from its record is the rule that the set holds, in
// every field that callers see.
inline bool keepsEveryField(const Filter& read, const Filter& stored) {
  return stored.sourceText == nullptr && read.isSameRule(stored) &&
         read == stored &&
         (read.anchorHost == nullptr) == (stored.anchorHost == nullptr) &&
         (read.tagText == nullptr) == (stored.tagText == nullptr);
}
inline bool keepsEveryField(const NoFingerprintDomain& read,
                            const NoFingerprintDomain& stored) {
  return read == stored;
}

}  // namespace kept_records

template <typename T>
int HashSet<T>::SerializeBuckets(char* buffer) const {
  RecordWriter out(buffer, SIZE_MAX);
  out.writeHeader({bucketCount, allowDuplicates ? 1u : 0u});
  for (uint32_t b = 0; b < bucketCount; ++b) {
    if (isKept(b)) {
      // Records that were read whole are what their elements would write.
      out.writeBytes(keptBegin(b), static_cast<size_t>(keptEnd(b) - keptBegin(b)));
    } else {
      for (HashItem<T>* item = buckets_[b]; item != nullptr;
           item = item->next) {
        out.advance(item->element->Serialize(out.position()));
      }
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
bool HashSet<T>::ReadSection(RecordReader& in, Visitor* visitor,
                             bool keep) {
  Cleanup();
  const char* const section = in.current() - in.position();
  uint32_t header[2];
  if (!in.readHeader(header, 2)) return false;
  if (header[1] > 1) return in.fail("the duplicates flag is neither 0 nor 1");
  // Every bucket takes at least its terminator byte. A set without buckets
  // could not be searched or added to.
  if (header[0] == 0 || header[0] > in.remaining()) {
    return in.fail("the bucket count is 0 or larger than the section");
  }
  allowDuplicates = header[1] != 0;
  Init(header[0]);
  std::unique_ptr<KeptRecords<T>> kept;
  if (keep) kept = kept_records::make<T>(header[0]);
  const FastModulo bucketOf(header[0]);
  // Kept records are read into one element after another.
  T scratch;
  for (uint32_t b = 0; b < bucketCount; ++b) {
    if (kept) kept->bucketStarts[b] = static_cast<uint32_t>(in.position());
    HashItem<T>** tail = &buckets_[b];
    for (;;) {
      if (in.remaining() == 0) return in.fail("a bucket lacks its end");
      if (in.atZeroByte()) break;
      const size_t start = in.position();
      HashItem<T>* item = kept ? nullptr : items.make();
      T& element = kept ? scratch : *item->element;
      const bool read = readSetRecord(in, &element);
      const uint64_t hash = read ? hashOf(element) : 0;
      if (!read || bucketOf(hash) != b) {
        if (item != nullptr) items.release(item);
        return read ? in.failAt(start,
                                "an element lies outside the bucket of its "
                                "hash")
                    : false;
      }
      if (visitor != nullptr) visitor->visit(element, hash);
      if (item != nullptr) {
        ItemPool<T>::setHash(item, hash);
        *tail = item;
        tail = &item->next;
      } else {
        kept->kept[b].store(true, std::memory_order_relaxed);
      }
      ++elementCount;
    }
    in.skip(1);  // the bucket terminator
  }
  if (in.remaining() != 0) return in.fail("bytes follow the last bucket");
  if (kept) {
    kept->bucketStarts[bucketCount] = static_cast<uint32_t>(in.position());
    kept->text = section;
    keepRecords(std::move(kept));
  }
  return true;
}

template <typename T>
bool HashSet<T>::Deserialize(const char* text, unsigned int limit) {
  return Deserialize(text, limit, nullptr);
}

template <typename T>
bool HashSet<T>::Deserialize(const char* text, unsigned int limit,
                             Visitor* visitor, SectionFault* fault,
                             bool keepRecords) {
  RecordReader in(text, limit);
  if (ReadSection(in, visitor, keepRecords)) return true;
  if (fault != nullptr) *fault = {in.failure(), in.failedAt()};
  return false;
}

template <typename T>
bool HashSet<T>::HasNewlineBefore(const char* text, unsigned int limit) {
  return hasNewlineBefore(text, limit);
}

// The set's section is measured, then written into its own buffer record by
// record, each record read back at once while it and its element are at
// hand: a set is kept only when every element would be made again as it is.
// The buffer is made once at its size, so parsing leaves no large block
// freed behind it.
template <typename T>
bool HashSet<T>::KeepAsRecords() {
  if (bucketCount == 0) return false;
  // Measured in the order the elements lie in memory: the chains are
  // followed once, to write.
  RecordWriter header(nullptr, 0);
  header.writeHeader({bucketCount, allowDuplicates ? 1u : 0u});
  size_t size = header.length() + bucketCount;  // and the bucket ends
  for (uint32_t b = 0; b < bucketCount; ++b) {
    if (isKept(b)) size += static_cast<size_t>(keptEnd(b) - keptBegin(b));
  }
  items.forEachItem([&](HashItem<T>* item) {
    size += static_cast<size_t>(item->element->Serialize(nullptr));
  });
  if (size > UINT32_MAX) return false;  // offsets are 32 bits
  std::unique_ptr<char[]> text(new char[size]());
  RecordWriter out(text.get(), size);
  out.writeHeader({bucketCount, allowDuplicates ? 1u : 0u});
  std::unique_ptr<KeptRecords<T>> kept = kept_records::make<T>(bucketCount);
  for (uint32_t b = 0; b < bucketCount; ++b) {
    kept->bucketStarts[b] = static_cast<uint32_t>(out.length());
    if (isKept(b)) {
      // A chain kept already is its records.
      out.writeBytes(keptBegin(b), static_cast<size_t>(keptEnd(b) - keptBegin(b)));
      kept->kept[b].store(true, std::memory_order_relaxed);
    }
    for (HashItem<T>* item = isKept(b) ? nullptr : buckets_[b];
         item != nullptr; item = item->next) {
      const T& element = *item->element;
      const char* record = out.position();
      const size_t length = static_cast<size_t>(element.Serialize(out.position()));
      out.advance(length);
      RecordReader in(record, length);
      T read;
      if (!readSetRecord(in, &read) || in.remaining() != 0 ||
          !kept_records::keepsEveryField(read, element)) {
        return false;
      }
      kept->kept[b].store(true, std::memory_order_relaxed);
    }
    out.writeByte('\0');  // end of the bucket
  }
  if (out.length() != size) return false;  // a record wrote otherwise than it measured
  kept->bucketStarts[bucketCount] = static_cast<uint32_t>(out.length());
  kept->text = text.get();
  kept->ownedText = std::move(text);
  items.clear();
  memset(buckets_, 0, sizeof(*buckets_) * bucketCount);
  kept_ = std::move(kept);
  return true;
}

}  // namespace tessul

#endif  // TESSUL_IMAGE_HASH_SET_IMAGE_H_
