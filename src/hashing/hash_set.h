// A bucketed hash set with separate chaining and a bucket count fixed at
// Init(). It stores its own copies of elements and is queried with probes of
// the same type. Chains keep insertion order, which engine images preserve.
#ifndef TESSUL_HASHING_HASH_SET_H_
#define TESSUL_HASHING_HASH_SET_H_

#include <cstdint>

namespace tessul {

// The hash of a set element. Element types provide hash(); a type with
// another hash operation overloads hashOf() in its own header.
template <typename T>
uint64_t hashOf(const T& element) {
  return element.hash();
}

// One chain node; owns its element.
template <typename T>
struct HashItem {
  HashItem() = default;
  ~HashItem() { delete element; }
  HashItem(const HashItem&) = delete;
  HashItem& operator=(const HashItem&) = delete;

  HashItem* next = nullptr;
  T* element = nullptr;
};

// T needs a hash (see hashOf), operator== taking another T, a copy
// constructor and a destructor. Lookups only read and may run concurrently;
// everything else must not overlap any other call on the same set.
template <typename T>
class HashSet {
 public:
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
    *link = new HashItem<T>;
    (*link)->element = new T(item);
    ++elementCount;
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
        delete removed;
        --elementCount;
        return true;
      }
    }
    return false;
  }

  // Destroys every element and the chain array; allowDuplicates stays.
  void Cleanup() {
    if (buckets == nullptr) return;
    for (uint32_t b = 0; b < bucketCount; ++b) {
      HashItem<T>* item = buckets[b];
      while (item != nullptr) {
        HashItem<T>* next = item->next;
        delete item;
        item = next;
      }
    }
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
  // Replaces the contents with a section of `limit` bytes, restoring each
  // chain in its stored order without hashing; the elements borrow their
  // texts from `text`. False when the section is damaged: the set then
  // keeps the buckets and the elements read before the damage.
  bool Deserialize(const char* text, unsigned int limit);
  // Receives the elements of a set as Deserialize reads them.
  class Visitor {
   public:
    virtual void visit(const T& element) = 0;

   protected:
    ~Visitor() = default;
  };
  // The same, handing each element to `visitor` (when not null) as it is
  // read.
  bool Deserialize(const char* text, unsigned int limit, Visitor* visitor);
  // Whether a zero byte occurs among the first `limit` bytes of `text`.
  static bool HasNewlineBefore(const char* text, unsigned int limit);

  bool allowDuplicates = false;
  uint32_t bucketCount = 0;
  HashItem<T>** buckets = nullptr;  // bucketCount chain heads
  uint32_t elementCount = 0;

 private:
  HashItem<T>*& chainOf(const T& element) const {
    return buckets[hashOf(element) % bucketCount];
  }
};

}  // namespace tessul

#endif  // TESSUL_HASHING_HASH_SET_H_
