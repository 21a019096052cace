#include "hashing/item_pool.h"

#include <stdexcept>
#include <vector>

#include <gtest/gtest.h>

#include "hashing/hash_set.h"

namespace tessul {
namespace {

// Counts the elements alive, so that a test sees each destroyed exactly once.
struct Counted {
  explicit Counted(int key, bool fail = false) : key(key) {
    if (fail) throw std::runtime_error("refused");
    ++alive;
  }
  Counted(const Counted& other) : key(other.key) { ++alive; }
  ~Counted() { --alive; }
  uint64_t hash() const { return static_cast<uint64_t>(key); }
  bool operator==(const Counted& other) const { return key == other.key; }
  int key;
  static int alive;
};
int Counted::alive = 0;

TEST(ItemPoolTest, EveryElementIsDestroyedOnceAndSlotsAreReused) {
  // Counts that end inside the first block, on a block's last slot, and
  // several blocks on, where the last block is only partly used.
  for (int count : {1, 4, 5, 12, 3000}) {
    {
      ItemPool<Counted> pool;
      std::vector<HashItem<Counted>*> items;
      for (int i = 0; i < count; ++i) items.push_back(pool.make(i));
      EXPECT_EQ(Counted::alive, count);
      pool.release(items[count / 2]);
      EXPECT_EQ(Counted::alive, count - 1);
      HashItem<Counted>* again = pool.make(-1);
      EXPECT_EQ(again, items[count / 2]) << "a released slot serves first";
      EXPECT_EQ(again->element->key, -1);
      EXPECT_EQ(again->next, nullptr);
      for (int i = 0; i < count; ++i) {
        if (i != count / 2) {
          EXPECT_EQ(items[i]->element->key, i);
        }
      }
      pool.clear();
      EXPECT_EQ(Counted::alive, 0) << count;
      pool.make(7);  // usable after clear()
    }  // the destructor clears too
    EXPECT_EQ(Counted::alive, 0) << count;
  }
}

TEST(ItemPoolTest, AThrowingConstructorLeavesNothingBehind) {
  {
    ItemPool<Counted> pool;
    HashItem<Counted>* first = pool.make(1);
    EXPECT_THROW(pool.make(2, /*fail=*/true), std::runtime_error);
    HashItem<Counted>* second = pool.make(3);
    EXPECT_NE(second, first);
    EXPECT_EQ(Counted::alive, 2);
  }
  EXPECT_EQ(Counted::alive, 0) << "the failed slot is not destroyed again";
}

TEST(ItemPoolTest, HashSetRemoveAndCleanupDestroyTheirElements) {
  {
    HashSet<Counted> set;
    set.Init(4);
    for (int i = 0; i < 100; ++i) ASSERT_TRUE(set.Add(Counted(i), true));
    EXPECT_EQ(Counted::alive, 100);
    EXPECT_TRUE(set.Remove(Counted(42)));
    EXPECT_EQ(Counted::alive, 99);
    EXPECT_TRUE(set.Add(Counted(42), true));
    EXPECT_EQ(set.Find(Counted(42))->key, 42);
    set.Cleanup();
    EXPECT_EQ(Counted::alive, 0);
    set.Init(2);
    ASSERT_TRUE(set.Add(Counted(1), true));
  }
  EXPECT_EQ(Counted::alive, 0);
}

}  // namespace
}  // namespace tessul
