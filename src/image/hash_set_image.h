// The engine image operations of HashSet. Instantiated in hash_set_image.cc
// for the two element types that images hold, Filter and
// NoFingerprintDomain; each element type writes and reads its own record.
#ifndef TESSUL_IMAGE_HASH_SET_IMAGE_H_
#define TESSUL_IMAGE_HASH_SET_IMAGE_H_

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <future>
#include <memory>
#include <optional>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

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

namespace section_reading {

// Walks the buckets of a set's section from bucket *next on, at the
// reader's position: each record is read by chains.read(in, &hash), which
// yields its element's hash, and must lie in the bucket its hash gives;
// chains.bucket(b, position) learns where each bucket begins,
// chains.accept(b, hash) each record that passed, chains.reject() one that
// lies in another bucket. Stops after the last bucket or at the first that
// begins at or past `stopAt`, *next then being that bucket. False on
// damage, which the reader records.
template <typename Chains>
bool walkBuckets(RecordReader& in, const FastModulo& bucketOf,
                 uint32_t bucketCount, size_t stopAt, uint32_t* next,
                 Chains& chains) {
  for (uint32_t& b = *next; b < bucketCount; ++b) {
    if (in.position() >= stopAt) return true;
    chains.bucket(b, in.position());
    for (;;) {
      if (in.remaining() == 0) return in.fail("a bucket lacks its end");
      if (in.atZeroByte()) break;
      const size_t start = in.position();
      uint64_t hash = 0;
      if (!chains.read(in, &hash)) return false;
      if (bucketOf(hash) != b) {
        chains.reject();
        return in.failAt(start,
                         "an element lies outside the bucket of its hash");
      }
      chains.accept(b, hash);
    }
    in.skip(1);  // the bucket terminator
  }
  return true;
}

// Chains made as their records are read.
template <typename T>
struct MadeChains {
  void bucket(uint32_t b, size_t) { tail = &buckets[b]; }
  bool read(RecordReader& in, uint64_t* hash) {
    item = items.make();
    if (!readSetRecord(in, item->element)) {
      items.release(item);
      return false;
    }
    *hash = hashOf(*item->element);
    return true;
  }
  void reject() { items.release(item); }
  void accept(uint32_t, uint64_t hash) {
    ItemPool<T>::setHash(item, hash);
    *tail = item;
    tail = &item->next;
    ++count;
    if (visitor != nullptr) visitor->visit(hash);
  }

  HashItem<T>** buckets;
  ItemPool<T>& items;
  typename HashSet<T>::Visitor* visitor;
  HashItem<T>** tail = nullptr;
  HashItem<T>* item = nullptr;
  uint32_t count = 0;
};

// Chains kept as their records, which are only checked and hashed. The
// buckets from `first` on are noted in `starts` and `kept` (indexed from
// `first`); each hash goes to the visitor, if any, and into `collected`, if
// any.
template <typename T>
struct KeptChains {
  void bucket(uint32_t b, size_t position) {
    starts[b - first] = static_cast<uint32_t>(position);
  }
  bool read(RecordReader& in, uint64_t* hash) { return hasher.hash(in, hash); }
  void reject() {}
  void accept(uint32_t b, uint64_t hash) {
    kept[b - first].store(true, std::memory_order_relaxed);
    ++count;
    if (visitor != nullptr) visitor->visit(hash);
    if (collected != nullptr) collected->push_back(hash);
  }

  uint32_t* starts;
  std::atomic<bool>* kept;
  uint32_t first;
  typename HashSet<T>::Visitor* visitor;
  std::vector<uint64_t>* collected;
  uint32_t count = 0;
  SetRecordHasher<T> hasher{};
};

}  // namespace section_reading

// A large kept section is read in two parts at once. Where a bucket begins
// cannot be told from the bytes for certain, so the second part starts
// where one seems to (after the zero bytes that end a record and a bucket)
// and takes its first record's bucket for the one beginning there. The
// first part is read up to that place; the second part's reading is used
// only if the first part does end there, at that bucket, so the outcome
// (the buckets, the hashes in order, the first damage) is that of a reading
// in one pass.
template <typename T>
class SectionReadAhead {
 public:
  static constexpr size_t kMinSectionBytes = size_t{1} << 18;

  // Starts reading the section [text, text + limit) on a second thread,
  // from about `share` of its length on, if it is large enough, its header
  // reads and a second thread is to be had.
  SectionReadAhead(const char* text, size_t limit, double share)
      : text_(text), limit_(limit), in_(text, limit) {
    // A header that ReadSection refuses starts nothing, so that a damaged
    // one cannot make the thread allocate for buckets the section lacks.
    uint32_t header[2];
    if (limit < kMinSectionBytes ||
        std::thread::hardware_concurrency() < 2 ||
        !in_.readHeader(header, 2) || header[1] > 1 || header[0] == 0 ||
        header[0] > in_.remaining()) {
      return;
    }
    bucketCount_ = header[0];
    bucketOf_ = FastModulo(bucketCount_);
    const size_t from = static_cast<size_t>(static_cast<double>(limit) * share);
    at_ = seemingBucketStart(text, std::max(from, in_.position()), limit);
    if (at_ == 0) return;
    try {
      result_ = std::async(std::launch::async, [this] { read(); });
    } catch (const std::system_error&) {
      at_ = 0;  // no thread: the reading is done in one pass
    }
  }
  ~SectionReadAhead() {
    if (result_.valid()) result_.wait();
  }
  SectionReadAhead(const SectionReadAhead&) = delete;
  SectionReadAhead& operator=(const SectionReadAhead&) = delete;

  // Whether it reads the section [text, text + limit).
  bool reads(const char* text, size_t limit) const {
    return text == text_ && limit == limit_;
  }
  bool started() const { return result_.valid(); }
  // Where the first part ends: the second part's start, or nowhere.
  size_t firstPartEnd() const { return at_ != 0 ? at_ : SIZE_MAX; }

  // For a first part read up to bucket `next` at `in`'s position: whether
  // the second part begins there. If it does, its buckets join `chains`
  // and `in` moves past them or records their damage in *read.
  bool join(RecordReader& in, uint32_t next,
            section_reading::KeptChains<T>& chains, bool* read) {
    if (!result_.valid()) return false;
    result_.get();  // passes on an exception of the second thread
    if (!started_ || in.position() != at_ || next != chains_->first) {
      return false;
    }
    chains.count += chains_->count;
    if (chains.visitor != nullptr) {
      for (uint64_t hash : hashes_) chains.visitor->visit(hash);
    }
    *read = read_;
    if (!read_) {
      in.failAt(in_.failedAt(), in_.failure());
      return true;
    }
    const uint32_t count = end_ - chains_->first;
    memcpy(chains.starts + chains_->first, chains_->starts,
           count * sizeof(uint32_t));
    for (uint32_t i = 0; i < count; ++i) {
      chains.kept[chains_->first + i].store(
          chains_->kept[i].load(std::memory_order_relaxed),
          std::memory_order_relaxed);
    }
    in.skip(in_.position() - in.position());
    return true;
  }

 private:
  // The first offset in [from, limit) of `text` that follows three zero
  // bytes (a record's absent domain text, the end of its bucket, and the
  // end of a bucket or a record's text) and holds none: 0 when none does.
  static size_t seemingBucketStart(const char* text, size_t from,
                                   size_t limit) {
    for (size_t i = std::max<size_t>(from, 3); i < limit; ++i) {
      if (text[i] != '\0' && text[i - 1] == '\0' && text[i - 2] == '\0' &&
          text[i - 3] == '\0') {
        return i;
      }
    }
    return 0;
  }

  // On the second thread, which touches only the members.
  void read() {
    in_.skip(at_ - in_.position());
    RecordReader first = in_;
    uint64_t hash = 0;
    if (!hashSetRecord<T>(first, &hash)) return;
    const uint32_t firstBucket = bucketOf_(hash);
    const uint32_t count = bucketCount_ - firstBucket;
    starts_.reset(new uint32_t[count]);
    kept_.reset(new std::atomic<bool>[count]);
    for (uint32_t i = 0; i < count; ++i) {
      kept_[i].store(false, std::memory_order_relaxed);
    }
    chains_.reset(new section_reading::KeptChains<T>{
        starts_.get(), kept_.get(), firstBucket, nullptr, &hashes_});
    end_ = firstBucket;
    started_ = true;
    read_ = section_reading::walkBuckets(in_, bucketOf_, bucketCount_,
                                         SIZE_MAX, &end_, *chains_);
  }

  const char* const text_;
  const size_t limit_;
  RecordReader in_;
  uint32_t bucketCount_ = 0;
  FastModulo bucketOf_{1};
  size_t at_ = 0;
  bool started_ = false;
  bool read_ = false;
  uint32_t end_ = 0;  // the bucket the second part's reading stopped at
  std::unique_ptr<uint32_t[]> starts_;
  std::unique_ptr<std::atomic<bool>[]> kept_;
  std::unique_ptr<section_reading::KeptChains<T>> chains_;
  std::vector<uint64_t> hashes_;  // of the second part's records, in order
  std::future<void> result_;
};

template <typename T>
bool HashSet<T>::ReadSection(RecordReader& in, Visitor* visitor, bool keep,
                             SectionReadAhead<T>* ahead) {
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
  const FastModulo bucketOf(header[0]);
  uint32_t next = 0;
  if (!keep) {
    section_reading::MadeChains<T> chains{buckets_, items, visitor};
    const bool read =
        section_reading::walkBuckets(in, bucketOf, bucketCount, SIZE_MAX,
                                     &next, chains);
    elementCount = chains.count;
    if (!read) return false;
    if (in.remaining() != 0) return in.fail("bytes follow the last bucket");
    return true;
  }
  std::unique_ptr<KeptRecords<T>> kept = kept_records::make<T>(header[0]);
  section_reading::KeptChains<T> chains{kept->bucketStarts.get(),
                                        kept->kept.get(), 0, visitor, nullptr};
  // The second part is the larger when this thread has other work to do
  // meanwhile.
  const bool work = visitor != nullptr && visitor->bringsWork();
  const size_t limit = in.position() + in.remaining();
  std::optional<SectionReadAhead<T>> own;
  if (ahead == nullptr || !ahead->reads(section, limit)) {
    ahead = &own.emplace(section, limit, work ? 1.0 / 3 : 0.5);
  }
  bool read = section_reading::walkBuckets(
      in, bucketOf, bucketCount, ahead->firstPartEnd(), &next, chains);
  if (read && work && ahead->started()) visitor->doWork();
  if (read && !ahead->join(in, next, chains, &read)) {
    read = section_reading::walkBuckets(in, bucketOf, bucketCount, SIZE_MAX,
                                        &next, chains);
  }
  elementCount = chains.count;
  if (!read) return false;
  if (in.remaining() != 0) return in.fail("bytes follow the last bucket");
  kept->bucketStarts[bucketCount] = static_cast<uint32_t>(in.position());
  kept->text = section;
  keepRecords(std::move(kept));
  return true;
}

template <typename T>
bool HashSet<T>::Deserialize(const char* text, unsigned int limit) {
  return Deserialize(text, limit, nullptr);
}

template <typename T>
bool HashSet<T>::Deserialize(const char* text, unsigned int limit,
                             Visitor* visitor, SectionFault* fault,
                             bool keepRecords, SectionReadAhead<T>* ahead) {
  RecordReader in(text, limit);
  if (ReadSection(in, visitor, keepRecords, ahead)) return true;
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
