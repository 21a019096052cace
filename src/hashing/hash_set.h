// A bucketed hash set with separate chaining. It stores its own copies of
// elements and is queried with probes of the same type. Chains keep
// insertion order, which engine images preserve. The bucket array starts at
// the count given to Init() and doubles whenever the chains grow longer than
// kMaxAverageChainLength on average, so that adding and finding take constant
// time on average however many elements a set holds.
//
// A set may also keep its chains as records (KeptRecords, the form engine
// images store them in) and make a chain's elements only when an operation
// needs them: a set of tens of thousands of rules then costs a few bytes a
// bucket, and a lookup makes only the chain it finds its element in.
#ifndef TESSUL_HASHING_HASH_SET_H_
#define TESSUL_HASHING_HASH_SET_H_

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>

#include "hashing/fast_modulo.h"
#include "hashing/item_pool.h"

namespace tessul {

class RecordReader;
template <typename T>
class SectionReadAhead;

// The hash of a set element. Element types provide hash(); a type with
// another hash operation overloads hashOf() in its own header.
template <typename T>
uint64_t hashOf(const T& element) {
  return element.hash();
}

// Whether every stored element equal to `probe` has the probe's hash, so
// that an element whose hash differs is passed over without a comparison.
// A type whose equality sees less than its hash does overloads this in its
// own header.
template <typename T>
bool equalOnesHashAlike(const T&) {
  return true;
}

// Why an engine image section was refused: the check that failed, and the
// offset from the section's start where it did.
struct SectionFault {
  const char* check = nullptr;
  size_t offset = 0;
};

// The chains of a set kept as records: for each bucket, the records of its
// elements in chain order, then a zero byte, as an engine image section
// holds them. The image code, which knows the records, supplies how to read
// them.
template <typename T>
struct KeptRecords {
  // Whether the records in [begin, end) hold an element equal to `probe`.
  bool (*holdsEqual)(const char* begin, const char* end, const T& probe);
  // Makes the elements of the records in [begin, end), in order, as nodes of
  // `items` linked from *tail. The elements borrow their texts from the
  // records, or own copies of them when `copyTexts` (the set's own records,
  // which it frees).
  void (*read)(const char* begin, const char* end, bool copyTexts,
               ItemPool<T>& items, HashItem<T>** tail);
  const char* text = nullptr;            // the records of bucket 0 onwards
  std::unique_ptr<char[]> ownedText;     // the set's own records, or null
  // bucketCount + 1 offsets into `text`: bucket b's records start at
  // bucketStarts[b] and end one byte (its zero byte) before
  // bucketStarts[b + 1].
  std::unique_ptr<uint32_t[]> bucketStarts;
  // Per bucket, whether its chain is still kept as records. Lookups may run
  // concurrently, so the first to need a chain makes it under `making`.
  std::unique_ptr<std::atomic<bool>[]> kept;
  std::mutex making;
};

// T needs a hash (see hashOf), operator== taking another T, a copy
// constructor and a destructor. Lookups only read the set as its callers see
// it and may run concurrently (a kept chain is made under a lock);
// everything else must not overlap any other call on the same set.
template <typename T>
class HashSet {
 public:
  // Elements per bucket, on average, beyond which the bucket array doubles.
  // A set that never holds more keeps the bucket count it was made with.
  static constexpr uint32_t kMaxAverageChainLength = 8;

  HashSet() = default;
  explicit HashSet(bool allowDuplicates) : allowDuplicates(allowDuplicates) {}
  ~HashSet() { Cleanup(); }

  HashSet(const HashSet&) = delete;
  HashSet& operator=(const HashSet&) = delete;

  // Sets up n empty chains. Does not free earlier chains: call Cleanup()
  // first on a set in use.
  void Init(unsigned int n) {
    bucketCount = n;
    bucketOf_ = FastModulo(n > 0 ? n : 1);
    elementCount = 0;
    buckets_ = n > 0 ? new HashItem<T>*[n]() : nullptr;
  }

  // Appends a copy of `item` to its chain and returns true, unless an equal
  // element is stored and either `rejectEqual` is set or the set does not
  // allow duplicates. Stored elements are never replaced.
  bool Add(const T& item, bool rejectEqual) {
    const bool rejected = rejectEqual || !allowDuplicates;
    return AddUnless(item, [rejected](const T&) { return rejected; });
  }

  // Appends a copy of `item` to its chain and returns true, unless a stored
  // element equal to it satisfies `found(const T&)`. One walk of the chain.
  template <typename Predicate>
  bool AddUnless(const T& item, Predicate found) {
    if (bucketCount == 0) return false;
    const uint64_t hash = hashOf(item);
    const uint32_t b = bucketOf_(hash);
    makeIfKept(b);
    const bool hashDecides = equalOnesHashAlike(item);
    HashItem<T>** link = &buckets_[b];
    for (; *link != nullptr; link = &(*link)->next) {
      if (hashDecides && storedHash(*link) != hash) continue;
      if (*(*link)->element == item && found(*(*link)->element)) return false;
    }
    *link = items.make(item);
    ItemPool<T>::setHash(*link, hash);
    ++elementCount;
    while (isCrowded()) Grow();
    return true;
  }

  // The first stored element equal to `probe`, or null.
  T* Find(const T& probe) const { return Find(probe, hashOf(probe)); }
  // The same for a probe whose hash the caller already knows.
  T* Find(const T& probe, uint64_t hash) const {
    return FindIf(probe, hash, [](const T&) { return true; });
  }

  // The first stored element, in chain order, that equals `probe` and
  // satisfies `accept(T&)`; null when there is none. Sets that allow
  // duplicates keep several equal elements, and this visits each of them.
  template <typename Predicate>
  T* FindIf(const T& probe, Predicate accept) const {
    return FindIf(probe, hashOf(probe), accept);
  }
  template <typename Predicate>
  T* FindIf(const T& probe, uint64_t hash, Predicate accept) const {
    if (bucketCount == 0) return nullptr;
    const uint32_t b = bucketOf_(hash);
    // A kept chain without an equal element need not be made.
    if (isKept(b) && !kept_->holdsEqual(keptBegin(b), keptEnd(b), probe)) {
      return nullptr;
    }
    const bool hashDecides = equalOnesHashAlike(probe);
    for (HashItem<T>* item = chain(b); item != nullptr; item = item->next) {
      if (hashDecides && storedHash(item) != hash) continue;
      if (*item->element == probe && accept(*item->element)) {
        return item->element;
      }
    }
    return nullptr;
  }

  bool Exists(const T& probe) const { return Find(probe) != nullptr; }

  // Removes the first stored element equal to `probe`.
  bool Remove(const T& probe) {
    if (bucketCount == 0) return false;
    for (HashItem<T>** link = &chainOf(probe); *link != nullptr;
         link = &(*link)->next) {
      if (*(*link)->element == probe) {
        HashItem<T>* removed = *link;
        *link = removed->next;
        items.release(removed);
        --elementCount;
        return true;
      }
    }
    return false;
  }

  // Destroys every element and the chain array; allowDuplicates stays.
  void Cleanup() {
    if (buckets_ == nullptr) return;
    items.clear();
    kept_.reset();
    delete[] buckets_;
    buckets_ = nullptr;
    bucketCount = 0;
    elementCount = 0;
  }

  // The head of chain b (b < bucketCount), made first if it is kept.
  HashItem<T>* chain(uint32_t b) const {
    makeIfKept(b);
    return buckets_[b];
  }
  // Calls visit(hash) with the hash of every element, in no particular
  // order (the order the nodes lie in memory), making kept chains first.
  template <typename Visit>
  void forEachHash(Visit visit) const {
    for (uint32_t b = 0; b < bucketCount; ++b) makeIfKept(b);
    items.forEachItem([&](HashItem<T>* item) { visit(storedHash(item)); });
  }
  // The hash of the element of a node in this set.
  static uint64_t storedHash(const HashItem<T>* item) {
    return ItemPool<T>::hashOf(item);
  }
  // Whether chain b is kept as records (see KeptRecords): it holds elements
  // that chain(b) would make.
  bool isKept(uint32_t b) const {
    return kept_ != nullptr && kept_->kept[b].load(std::memory_order_acquire);
  }
  // The records of kept chain b.
  const char* keptBegin(uint32_t b) const {
    return kept_->text + kept_->bucketStarts[b];
  }
  const char* keptEnd(uint32_t b) const {
    return kept_->text + kept_->bucketStarts[b + 1] - 1;
  }
  // Has every chain that is not made yet be kept as `records` describe, for
  // a set whose chains are all empty (just read or just emptied) and whose
  // elementCount already counts the kept elements.
  void keepRecords(std::unique_ptr<KeptRecords<T>> records) {
    kept_ = std::move(records);
  }
  bool keepsRecords() const { return kept_ != nullptr; }

  // The engine image section of the set: "<bucketCount>,<allowDuplicates>\0",
  // then for each bucket the records of its chain and a zero byte. Defined
  // in image/hash_set_image.h for Filter and NoFingerprintDomain elements.
  //
  // SerializeBuckets returns the section length and writes the section when
  // `buffer` (zero-filled, that long) is not null. Serialize returns a new
  // zero-filled array holding the section, released with delete[].
  int SerializeBuckets(char* buffer) const;
  char* Serialize(unsigned int* size) const;
  // Replaces the contents with a section of exactly `limit` bytes, restoring
  // each chain in its stored order; the elements borrow their texts from
  // `text`. False when the section is damaged: when it is not exactly a
  // section as Serialize writes it, or an element lies in another bucket
  // than its hash gives. The set then keeps the buckets and the elements
  // read before the damage.
  bool Deserialize(const char* text, unsigned int limit);
  // Receives the hash of each element of a set as Deserialize reads it.
  // It may also bring work of its own, which a reading in two halves does
  // on the calling thread while the other thread reads the second half
  // (that half is then the larger); the caller does it itself otherwise.
  class Visitor {
   public:
    virtual void visit(uint64_t hash) = 0;
    virtual bool bringsWork() const { return false; }
    virtual void doWork() {}

   protected:
    ~Visitor() = default;
  };
  // The same, handing each element to `visitor` (when not null) as it is
  // read, and telling in *fault (when not null) why a section is refused.
  // With `keepRecords`, the chains are kept as the section's records (which
  // must then outlive the set) and made when first needed; every record is
  // still read and checked, a large section's halves on two threads at once
  // (the call ends the second one before it returns, and does the visitor's
  // work meanwhile), with the outcome of a reading in one pass.
  // A reading of the section's second part that `ahead` (made with the
  // section's bytes, see image/hash_set_image.h) started earlier is used
  // rather than one started here.
  bool Deserialize(const char* text, unsigned int limit, Visitor* visitor,
                   SectionFault* fault = nullptr, bool keepRecords = false,
                   SectionReadAhead<T>* ahead = nullptr);
  // Whether a zero byte occurs among the first `limit` bytes of `text`.
  static bool HasNewlineBefore(const char* text, unsigned int limit);
  // Keeps every chain as records of the set's own (KeptRecords), made from
  // its elements, and frees the elements: the set then holds the bytes of
  // its image section and a few a bucket. Left as it is, returning false,
  // when a record would not read back as its element field for field.
  bool KeepAsRecords();

  bool allowDuplicates = false;
  // False for a set whose elements all hash alike (one chain by design),
  // where more buckets would only stay empty.
  bool grows = true;
  uint32_t bucketCount = 0;
  uint32_t elementCount = 0;
  // Makes and owns the chain nodes and their elements. Lookups make kept
  // chains, hence mutable.
  mutable ItemPool<T> items;

 private:
  HashItem<T>*& chainOf(const T& element) const {
    const uint32_t b = bucketOf_(hashOf(element));
    makeIfKept(b);
    return buckets_[b];
  }

  // Reads the section at the reader's position, which must end exactly where
  // the reader's limit does; see Deserialize. Defined with it.
  bool ReadSection(RecordReader& in, Visitor* visitor, bool keep,
                   SectionReadAhead<T>* ahead);

  void makeIfKept(uint32_t b) const {
    if (!isKept(b)) return;
    std::lock_guard<std::mutex> lock(kept_->making);
    if (!kept_->kept[b].load(std::memory_order_relaxed)) return;
    kept_->read(keptBegin(b), keptEnd(b), kept_->ownedText != nullptr, items,
                &buckets_[b]);
    kept_->kept[b].store(false, std::memory_order_release);
  }

  bool isCrowded() const {
    return grows && bucketCount <= UINT32_MAX / 2 &&
           elementCount > uint64_t{kMaxAverageChainLength} * bucketCount;
  }

  // Doubles the bucket array. The elements of chain b move to chain b or
  // b + bucketCount, the two chains their hash can give modulo the doubled
  // count, each in the order it had: no chain's order changes.
  void Grow() {
    for (uint32_t b = 0; b < bucketCount; ++b) makeIfKept(b);
    kept_.reset();
    const uint32_t count = bucketCount;
    HashItem<T>** grown = new HashItem<T>*[2 * count]();
    if (items.madeInOrder()) {
      regrowInOrderMade(grown, 2 * count);
    } else {
      regrowByChains(grown, count);
    }
    delete[] buckets_;
    buckets_ = grown;
    bucketCount = 2 * count;
    bucketOf_ = FastModulo(bucketCount);
  }

  // Each chain holds its elements in the order they were made, as long as
  // no slot was made twice, so the new chains are made by reading the
  // nodes in the pool's order, block after block, rather than following
  // the chains all over memory.
  void regrowInOrderMade(HashItem<T>** grown, uint32_t grownCount) {
    std::unique_ptr<HashItem<T>**[]> tails(new HashItem<T>**[grownCount]);
    for (uint32_t b = 0; b < grownCount; ++b) tails[b] = &grown[b];
    const FastModulo bucketOf(grownCount);
    items.forEachItem([&](HashItem<T>* item) {
      HashItem<T>**& tail = tails[bucketOf(storedHash(item))];
      item->next = nullptr;
      *tail = item;
      tail = &item->next;
    });
  }

  void regrowByChains(HashItem<T>** grown, uint32_t count) {
    for (uint32_t b = 0; b < count; ++b) {
      HashItem<T>** tails[2] = {&grown[b], &grown[b + count]};
      HashItem<T>* item = buckets_[b];
      while (item != nullptr) {
        HashItem<T>* next = item->next;
        const bool upper = ItemPool<T>::hashOf(item) % (2 * count) != b;
        item->next = nullptr;
        *tails[upper] = item;
        tails[upper] = &item->next;
        item = next;
      }
    }
  }

  HashItem<T>** buckets_ = nullptr;  // bucketCount chain heads
  // Reduces hashes modulo bucketCount without a division: every lookup of a
  // request takes a bucket this way.
  FastModulo bucketOf_{1};
  // The chains kept as records, or null when every chain is made.
  std::unique_ptr<KeptRecords<T>> kept_;
};

}  // namespace tessul

#endif  // TESSUL_HASHING_HASH_SET_H_
