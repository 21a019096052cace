// A bucketed hash set with separate chaining. It stores its own copies of
// elements and is queried with probes of the same type. Chains keep
// insertion order, which engine images preserve. The bucket array starts at
// the count given to Init() and doubles whenever the chains grow longer than
// kMaxAverageChainLength on average, so that adding and finding take constant
// time on average however many elements a set holds.
#ifndef TESSUL_HASHING_HASH_SET_H_
#define TESSUL_HASHING_HASH_SET_H_

#include <cstddef>
#include <cstdint>

#include "hashing/item_pool.h"

namespace tessul {

// The hash of a set element. Element types provide hash(); a type with
// another hash operation overloads hashOf() in its own header.
template <typename T>
uint64_t hashOf(const T& element) {
  return element.hash();
}

// Why an engine image section was refused: the check that failed, and the
// offset from the section's start where it did.
struct SectionFault {
  const char* check = nullptr;
  size_t offset = 0;
};

// T needs a hash (see hashOf), operator== taking another T, a copy
// constructor and a destructor. Lookups only read and may run concurrently;
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
    elementCount = 0;
    buckets = n > 0 ? new HashItem<T>*[n]() : nullptr;
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
    HashItem<T>** link = &chainOf(item);
    for (; *link != nullptr; link = &(*link)->next) {
      if (*(*link)->element == item && found(*(*link)->element)) return false;
    }
    *link = items.make(item);
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
    for (HashItem<T>* item = buckets[hash % bucketCount]; item != nullptr;
         item = item->next) {
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
    if (buckets == nullptr) return;
    items.clear();
    delete[] buckets;
    buckets = nullptr;
    bucketCount = 0;
    elementCount = 0;
  }

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
  // Receives the elements of a set, with their hashes, as Deserialize reads
  // them.
  class Visitor {
   public:
    virtual void visit(const T& element, uint64_t hash) = 0;

   protected:
    ~Visitor() = default;
  };
  // The same, handing each element to `visitor` (when not null) as it is
  // read, and telling in *fault (when not null) why a section is refused.
  bool Deserialize(const char* text, unsigned int limit, Visitor* visitor,
                   SectionFault* fault = nullptr);
  // Whether a zero byte occurs among the first `limit` bytes of `text`.
  static bool HasNewlineBefore(const char* text, unsigned int limit);

  bool allowDuplicates = false;
  // False for a set whose elements all hash alike (one chain by design),
  // where more buckets would only stay empty.
  bool grows = true;
  uint32_t bucketCount = 0;
  HashItem<T>** buckets = nullptr;  // bucketCount chain heads
  uint32_t elementCount = 0;
  // Makes and owns the chain nodes and their elements.
  ItemPool<T> items;

 private:
  HashItem<T>*& chainOf(const T& element) const {
    return buckets[hashOf(element) % bucketCount];
  }

  bool isCrowded() const {
    return grows && bucketCount <= UINT32_MAX / 2 &&
           elementCount > uint64_t{kMaxAverageChainLength} * bucketCount;
  }

  // Doubles the bucket array. The elements of chain b move to chain b or
  // b + bucketCount, the two chains their hash can give modulo the doubled
  // count, each in the order it had: no chain's order changes.
  void Grow() {
    const uint32_t count = bucketCount;
    HashItem<T>** grown = new HashItem<T>*[2 * count]();
    for (uint32_t b = 0; b < count; ++b) {
      HashItem<T>** tails[2] = {&grown[b], &grown[b + count]};
      HashItem<T>* item = buckets[b];
      while (item != nullptr) {
        HashItem<T>* next = item->next;
        const bool upper = hashOf(*item->element) % (2 * count) != b;
        item->next = nullptr;
        *tails[upper] = item;
        tails[upper] = &item->next;
        item = next;
      }
    }
    delete[] buckets;
    buckets = grown;
    bucketCount = 2 * count;
  }
};

}  // namespace tessul

#endif  // TESSUL_HASHING_HASH_SET_H_
