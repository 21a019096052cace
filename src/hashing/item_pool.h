// The chain nodes of a HashSet and their elements, made together, many to a
// block. A set of n elements then costs a few dozen allocations rather than
// 2n, each element sits beside its node, and destroying the set frees
// blocks rather than every element and node one by one.
#ifndef TESSUL_HASHING_ITEM_POOL_H_
#define TESSUL_HASHING_ITEM_POOL_H_

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <type_traits>
#include <utility>
#include <vector>

namespace tessul {

// One chain node. The pool that made it owns its element.
template <typename T>
struct HashItem {
  HashItem* next = nullptr;
  T* element = nullptr;  // null in a slot that holds no element
};

// Not thread-safe; owned by one set.
template <typename T>
class ItemPool {
 public:
  // Blocks start this small, so that the many tiny sets (a rule's domains)
  // stay tiny, and double up to the largest, so that a large set wastes at
  // most one block's unused tail.
  static constexpr uint32_t kFirstBlockSlots = 4;
  static constexpr uint32_t kLargestBlockSlots = 1024;

  ItemPool() = default;
  ~ItemPool() { clear(); }
  ItemPool(const ItemPool&) = delete;
  ItemPool& operator=(const ItemPool&) = delete;

  // A node (next null) whose element is T(args...). If the constructor
  // throws, the pool is as it was.
  template <typename... Args>
  HashItem<T>* make(Args&&... args) {
    Slot* slot = takeSlot();
    try {
      slot->item.element = new (slot->storage) T(std::forward<Args>(args)...);
    } catch (...) {
      giveBack(slot);
      throw;
    }
    slot->item.next = nullptr;
    return &slot->item;
  }

  // The hash of a node's element, kept beside the node by the set that
  // made it (setHash), so that growing the set and describing its hosts
  // need not read the elements again.
  static uint64_t hashOf(const HashItem<T>* item) {
    return reinterpret_cast<const Slot*>(item)->hash;
  }
  static void setHash(HashItem<T>* item, uint64_t hash) {
    reinterpret_cast<Slot*>(item)->hash = hash;
  }

  // Destroys the element of a node that this pool made; the node's slot
  // serves a later make().
  void release(HashItem<T>* item) {
    item->element->~T();
    giveBack(reinterpret_cast<Slot*>(item));
  }

  // Destroys every element and frees every block.
  void clear() {
    if (!std::is_trivially_destructible<T>::value) {
      forEachItem([](HashItem<T>* item) { item->element->~T(); });
    }
    blocks_.clear();
    lastBlockUsed_ = 0;
    freeSlots_ = nullptr;
    reused_ = false;
  }

  // Calls visit(node) for every node that holds an element, in the order
  // the nodes were made, unless a released slot served again
  // (madeInOrder() false), reading the blocks one after another.
  template <typename Visit>
  void forEachItem(Visit visit) {
    for (size_t b = 0; b < blocks_.size(); ++b) {
      const uint32_t used =
          b + 1 == blocks_.size() ? lastBlockUsed_ : blocks_[b].capacity;
      for (uint32_t i = 0; i < used; ++i) {
        HashItem<T>* item = &blocks_[b].slots[i].item;
        if (item->element != nullptr) visit(item);
      }
    }
  }
  // Whether forEachItem() visits the nodes in the order they were made: no
  // released slot has served a later make() since the last clear().
  bool madeInOrder() const { return !reused_; }

 private:
  // The node comes first, so that a node's address is its slot's.
  struct Slot {
    HashItem<T> item;
    uint64_t hash;
    alignas(T) unsigned char storage[sizeof(T)];
  };
  static_assert(offsetof(Slot, item) == 0);

  struct Block {
    std::unique_ptr<Slot[]> slots;
    uint32_t capacity;
  };

  Slot* takeSlot() {
    if (freeSlots_ != nullptr) {
      reused_ = true;
      Slot* slot = freeSlots_;
      freeSlots_ = reinterpret_cast<Slot*>(slot->item.next);
      return slot;
    }
    if (blocks_.empty() || lastBlockUsed_ == blocks_.back().capacity) {
      const uint32_t capacity =
          blocks_.empty() ? kFirstBlockSlots
                          : std::min(2 * blocks_.back().capacity,
                                     kLargestBlockSlots);
      blocks_.push_back({std::unique_ptr<Slot[]>(new Slot[capacity]),
                         capacity});
      lastBlockUsed_ = 0;
    }
    return &blocks_.back().slots[lastBlockUsed_++];
  }

  // Marks the slot empty (clear() skips it) and keeps it for reuse.
  void giveBack(Slot* slot) {
    slot->item.element = nullptr;
    slot->item.next = reinterpret_cast<HashItem<T>*>(freeSlots_);
    freeSlots_ = slot;
  }

  std::vector<Block> blocks_;
  uint32_t lastBlockUsed_ = 0;  // slots handed out of the last block
  Slot* freeSlots_ = nullptr;   // released slots, linked through item.next
  bool reused_ = false;         // a released slot was made again
};

}  // namespace tessul

#endif  // TESSUL_HASHING_ITEM_POOL_H_
