#include "hashing/hash_set.h"

#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "hashing/set_elements.h"

namespace tessul {
namespace {

// An element whose hash and identity are chosen by the test: `key` decides
// equality, `bucketHash` the chain, `tag` tells equal elements apart.
struct Item {
  uint64_t hash() const { return bucketHash; }
  bool operator==(const Item& other) const {
    ++comparisons;
    return key == other.key;
  }
  int key;
  uint64_t bucketHash;
  int tag;
  static int comparisons;
};
int Item::comparisons = 0;

std::vector<int> chainTags(const HashSet<Item>& set, uint32_t bucket) {
  std::vector<int> tags;
  for (HashItem<Item>* item = set.chain(bucket); item; item = item->next) {
    tags.push_back(item->element->tag);
  }
  return tags;
}

TEST(HashSetTest, EqualElementsAreRejectedUnlessDuplicatesAllowed) {
  for (bool allowDuplicates : {false, true}) {
    for (bool rejectEqual : {false, true}) {
      HashSet<Item> set(allowDuplicates);
      set.Init(4);
      EXPECT_TRUE(set.Add({1, 5, 100}, rejectEqual));
      bool appended = allowDuplicates && !rejectEqual;
      EXPECT_EQ(set.Add({1, 5, 101}, rejectEqual), appended);
      EXPECT_EQ(set.elementCount, appended ? 2u : 1u);
      EXPECT_EQ(set.Find({1, 5, 0})->tag, 100) << "the first one is found";
    }
  }
}

TEST(HashSetTest, ChainsKeepInsertionOrder) {
  HashSet<Item> set;
  set.Init(3);
  for (int key = 0; key < 5; ++key) set.Add({key, 7, key}, true);  // chain 1
  set.Add({9, 2, 9}, true);                                        // chain 2
  EXPECT_EQ(chainTags(set, 1), (std::vector<int>{0, 1, 2, 3, 4}));
  EXPECT_EQ(chainTags(set, 2), (std::vector<int>{9}));
  EXPECT_EQ(set.chain(0), nullptr);
  EXPECT_EQ(set.elementCount, 6u);
}

TEST(HashSetTest, RemoveTakesTheFirstEqualElement) {
  HashSet<Item> set(true);
  set.Init(2);
  set.Add({1, 1, 10}, false);
  set.Add({2, 1, 20}, false);
  set.Add({1, 1, 11}, false);
  EXPECT_TRUE(set.Remove({1, 1, 0}));  // the head
  EXPECT_EQ(chainTags(set, 1), (std::vector<int>{20, 11}));
  EXPECT_TRUE(set.Remove({1, 1, 0}));  // the tail
  EXPECT_EQ(chainTags(set, 1), (std::vector<int>{20}));
  EXPECT_FALSE(set.Remove({1, 1, 0}));
  EXPECT_EQ(set.elementCount, 1u);
  EXPECT_TRUE(set.Exists({2, 1, 0}));
}

TEST(HashSetTest, FindIfVisitsEveryEqualElementInOrder) {
  HashSet<Item> set(true);
  set.Init(1);
  set.Add({1, 0, 10}, false);
  set.Add({2, 0, 20}, false);
  set.Add({1, 0, 11}, false);
  std::vector<int> seen;
  Item* found = set.FindIf({1, 0, 0}, [&](Item& item) {
    seen.push_back(item.tag);
    return item.tag == 11;
  });
  ASSERT_NE(found, nullptr);
  EXPECT_EQ(found->tag, 11);
  EXPECT_EQ(seen, (std::vector<int>{10, 11}));
  EXPECT_EQ(set.FindIf({1, 0, 0}, [](Item&) { return false; }), nullptr);
}

TEST(HashSetTest, FindOnAnEmptyChainComparesNothing) {
  HashSet<Item> set;
  set.Init(10);
  set.Add({1, 1, 1}, true);
  Item::comparisons = 0;
  EXPECT_EQ(set.Find({1, 2, 0}), nullptr);
  EXPECT_EQ(Item::comparisons, 0);
}

TEST(HashSetTest, CleanupEmptiesAndKeepsTheDuplicatesFlag) {
  HashSet<Item> set(true);
  set.Cleanup();  // no buckets yet: nothing to do
  set.Init(3);
  set.Add({1, 1, 1}, true);
  set.Cleanup();
  EXPECT_EQ(set.bucketCount, 0u);
  EXPECT_EQ(set.elementCount, 0u);
  EXPECT_TRUE(set.allowDuplicates);
  // A set without buckets finds nothing and stores nothing.
  EXPECT_EQ(set.Find({1, 1, 1}), nullptr);
  EXPECT_FALSE(set.Add({1, 1, 1}, true));
  EXPECT_FALSE(set.Remove({1, 1, 1}));
}

// Past eight elements a bucket on average, the bucket array doubles; every
// element stays findable, in the bucket its hash gives, and equal elements
// keep the order they were added in.
TEST(HashSetTest, BucketsDoubleWhenChainsGrowLong) {
  HashSet<Item> set(/*allowDuplicates=*/true);
  set.Init(3);
  for (int key = 0; key < 24; ++key)
    set.Add({key, uint64_t(key) * 7, key}, true);
  EXPECT_EQ(set.bucketCount, 3u) << "eight a bucket: still room";
  set.Add({1, 7, 100}, false);  // a duplicate of key 1, after it
  EXPECT_EQ(set.bucketCount, 6u);
  for (int key = 24; key < 1000; ++key)
    set.Add({key, uint64_t(key) * 7, key}, true);
  EXPECT_EQ(set.bucketCount, 192u);
  EXPECT_EQ(set.elementCount, 1001u);
  for (uint32_t b = 0; b < set.bucketCount; ++b) {
    for (HashItem<Item>* item = set.chain(b); item; item = item->next) {
      EXPECT_EQ(item->element->hash() % set.bucketCount, b);
    }
  }
  for (int key = 0; key < 1000; ++key) {
    ASSERT_NE(set.Find({key, uint64_t(key) * 7, 0}), nullptr) << key;
  }
  std::vector<int> duplicates;
  set.FindIf({1, 7, 0}, [&](Item& item) {
    duplicates.push_back(item.tag);
    return false;
  });
  EXPECT_EQ(duplicates, (std::vector<int>{1, 100}));
}

// Growing keeps each chain in the order of its additions, also when a
// removed element's node served a later addition, which then lies before
// elements added earlier.
TEST(HashSetTest, GrowingKeepsTheOrderOfAdditions) {
  for (bool removeFirst : {false, true}) {
    HashSet<Item> set;
    set.Init(1);
    std::vector<int> added;
    for (int key = 0; key < 8; ++key) {
      set.Add({key, uint64_t(key) * 2, key}, true);
      added.push_back(key);
    }
    if (removeFirst) {
      set.Remove({0, 0, 0});
      added.erase(added.begin());
    }
    for (int key = 8; set.bucketCount == 1; ++key) {
      set.Add({key, uint64_t(key) * 2, key}, true);
      added.push_back(key);
    }
    // Even hashes: every element stays in chain 0 of 2.
    EXPECT_EQ(set.bucketCount, 2u);
    EXPECT_EQ(chainTags(set, 0), added) << removeFirst;
    EXPECT_TRUE(chainTags(set, 1).empty());
  }
}

TEST(HashSetTest, AChainByDesignDoesNotGrow) {
  BadFingerprintsHashSet tracker;
  for (int i = 0; i < 100; ++i) {
    tracker.Add(BadFingerprint(std::to_string(100000 + i).c_str()), true);
  }
  EXPECT_EQ(tracker.bucketCount, 1u);
  EXPECT_EQ(tracker.elementCount, 100u);
}

TEST(NoFingerprintDomainTest, CopiesOwnOrShareAsTheSourceDoes) {
  NoFingerprintDomain borrowed("a.test", 6);
  EXPECT_TRUE(borrowed.isBorrowed);
  NoFingerprintDomain shared(borrowed);
  EXPECT_TRUE(shared.isBorrowed);
  EXPECT_EQ(shared.domain, borrowed.domain);

  char* text = new char[7];
  memcpy(text, "b.test", 7);
  auto* owner = new NoFingerprintDomain;
  owner->domain = text;
  owner->domainLen = -1;  // measured by the copy
  NoFingerprintDomain copy(*owner);
  delete owner;  // frees `text`
  EXPECT_FALSE(copy.isBorrowed);
  EXPECT_EQ(copy.domainLen, 6);
  EXPECT_EQ(std::string(copy.domain, 6), "b.test");
}

TEST(NoFingerprintDomainTest, EqualityAndHash) {
  EXPECT_EQ(NoFingerprintDomain("abc", 3).hash(), 36978u);
  EXPECT_TRUE(NoFingerprintDomain("abcx", 3) == NoFingerprintDomain("abc", 3));
  EXPECT_FALSE(NoFingerprintDomain("abd", 3) == NoFingerprintDomain("abc", 3));
  EXPECT_FALSE(NoFingerprintDomain("ab", 2) == NoFingerprintDomain("abc", 3));
  EXPECT_TRUE(NoFingerprintDomain("x", 0) == NoFingerprintDomain("y", 0));
  EXPECT_EQ(NoFingerprintDomain().hash(), 0u);

  HashSet<NoFingerprintDomain> set;
  set.Init(100);
  EXPECT_TRUE(set.Add(NoFingerprintDomain("a.test|b.test", 6), true));
  EXPECT_FALSE(set.Add(NoFingerprintDomain("a.test", 6), true));
  EXPECT_NE(set.Find(NoFingerprintDomain("a.test", 6)), nullptr);
  EXPECT_EQ(set.Find(NoFingerprintDomain("b.test", 6)), nullptr);
}

TEST(ContextDomainTest, EqualityAndHash) {
  const char* text = "a.test|~b.test";
  ContextDomain a{text, 6};
  EXPECT_TRUE(a == (ContextDomain{"a.test", 6}));
  EXPECT_FALSE(a == (ContextDomain{text + 8, 6}));
  EXPECT_FALSE((ContextDomain{nullptr, 0}) == (ContextDomain{nullptr, 0}));
  EXPECT_EQ(a.GetHash(), NoFingerprintDomain("a.test", 6).hash());

  HashSet<ContextDomain> set(true);
  set.Init(5);
  set.Add(a, true);
  EXPECT_TRUE(set.Exists({"a.test", 6}));
  EXPECT_FALSE(set.Exists({"b.test", 6}));
}

TEST(CosmeticFilterTest, OwnsACopyOfItsSelector) {
  char text[] = "abc";
  CosmeticFilter filter(text);
  text[0] = 'x';
  EXPECT_STREQ(filter.selector, "abc");
  EXPECT_EQ(filter.hash(), 36978u);
  EXPECT_TRUE(filter == CosmeticFilter("abc"));
  EXPECT_FALSE(filter == CosmeticFilter("abcd"));

  HashSet<CosmeticFilter> set;
  set.Init(1000);
  set.Add(CosmeticFilter(".ad"), true);
  EXPECT_FALSE(set.Add(CosmeticFilter(".ad"), true));
  EXPECT_TRUE(set.Remove(CosmeticFilter(".ad")));
  EXPECT_EQ(set.elementCount, 0u);
}

TEST(BadFingerprintTest, OneChainInInsertionOrder) {
  BadFingerprintsHashSet tracker;
  EXPECT_EQ(tracker.bucketCount, 1u);
  EXPECT_FALSE(tracker.allowDuplicates);
  EXPECT_EQ(BadFingerprint("abcdef").hash(), 0u);
  for (const char* text : {"banner", "advert", "/pixel"}) {
    EXPECT_TRUE(tracker.Add(BadFingerprint(text), true));
  }
  EXPECT_FALSE(tracker.Add(BadFingerprint("advert"), true));
  std::vector<std::string> order;
  for (auto* item = tracker.chain(0); item; item = item->next) {
    order.push_back(item->element->fingerprint);
  }
  EXPECT_EQ(order, (std::vector<std::string>{"banner", "advert", "/pixel"}));
}

}  // namespace
}  // namespace tessul
