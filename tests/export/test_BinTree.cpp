// The ordered tree: its documented small cases, and a long random run against std::map with the
// AVL invariants checked after every step.
#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <random>
#include <vector>

#include "export/BinTree.h"

namespace pv {
namespace {

// Counts live items and records visits, so tests see what the tree freed and walked.
struct Tally {
  int live = 0;
  std::vector<int> visited;
};

class KeyItem : public TBinTreeItem {
 public:
  KeyItem(int key, Tally& tally, int data = 0) : Key(key), Data(data), tally_(tally) {
    ++tally_.live;
  }
  ~KeyItem() override { --tally_.live; }
  int Compare(const TBinTreeItem& other) const override {
    const int o = static_cast<const KeyItem&>(other).Key;
    return Key < o ? 1 : (Key > o ? -1 : 0);
  }
  void CopyTo(TBinTreeItem& other) const override {
    static_cast<KeyItem&>(other).Key = Key;
    static_cast<KeyItem&>(other).Data = Data;
  }
  void Visit() override { tally_.visited.push_back(Key); }

  int Key;
  int Data;

 private:
  Tally& tally_;
};

int KeyOf(const TBinTreeItem* item) { return static_cast<const KeyItem*>(item)->Key; }

// Checks order and balance factors below item; returns the subtree's height, counts its items.
int CheckSubtree(const TBinTreeItem* item, long low, long high, int& count) {
  if (item == nullptr) return 0;
  const int key = KeyOf(item);
  EXPECT_TRUE(low < key && key < high) << key << " outside " << low << ".." << high;
  ++count;
  const int left = CheckSubtree(item->Left, low, key, count);
  const int right = CheckSubtree(item->Right, key, high, count);
  EXPECT_EQ(item->Balance, right - left) << "at key " << key;
  EXPECT_LE(std::abs(right - left), 1) << "at key " << key;
  return 1 + std::max(left, right);
}

int CheckTree(const TBinTree& tree) {
  int count = 0;
  const int height = CheckSubtree(tree.Root(), -(1L << 40), 1L << 40, count);
  EXPECT_EQ(count, tree.ItemCount());
  return height;
}

TEST(BinTree, ShapeDuplicatesAndDeletionWithTwoChildren) {
  Tally tally;
  TBinTree tree;
  for (int key : {1, 2, 3}) EXPECT_TRUE(tree.Add(new KeyItem(key, tally, key * 100)));
  ASSERT_EQ(KeyOf(tree.Root()), 2);
  EXPECT_EQ(KeyOf(tree.Root()->Left), 1);
  EXPECT_EQ(KeyOf(tree.Root()->Right), 3);
  CheckTree(tree);  // all balances 0

  EXPECT_FALSE(tree.Add(new KeyItem(1, tally, -1)));  // freed at once; the first item stays
  EXPECT_EQ(tally.live, 3);
  EXPECT_EQ(tree.ItemCount(), 3);
  EXPECT_EQ(tree.Root()->Left->Hits, 2);
  EXPECT_FALSE(tree.Add(std::unique_ptr<TBinTreeItem>()));

  // The root keeps its object and takes its predecessor's data and hits; 1's object is freed.
  TBinTreeItem* root = tree.Root();
  ASSERT_TRUE(tree.Delete(KeyItem(2, tally)));
  EXPECT_EQ(tree.Root(), root);
  EXPECT_EQ(KeyOf(root), 1);
  EXPECT_EQ(static_cast<KeyItem*>(root)->Data, 100);
  EXPECT_EQ(root->Hits, 2);
  EXPECT_EQ(tally.live, 2);
  EXPECT_FALSE(tree.Delete(KeyItem(2, tally)));
  CheckTree(tree);
}

TEST(BinTree, FoundedNeverPointsToAFreedItem) {
  Tally tally;
  TBinTree tree;
  for (int key : {20, 10, 30, 5, 15}) tree.Add(new KeyItem(key, tally));
  ASSERT_TRUE(tree.Search(KeyItem(5, tally)));
  TBinTreeItem* five = tree.Founded();
  EXPECT_FALSE(tree.Search(KeyItem(6, tally)));  // a miss leaves Founded alone
  EXPECT_EQ(tree.Founded(), five);

  tree.Delete(KeyItem(5, tally));  // its own data removed: cleared
  EXPECT_EQ(tree.Founded(), nullptr);

  ASSERT_TRUE(tree.Search(KeyItem(15, tally)));
  tree.Delete(KeyItem(20, tally));  // 15's object is freed, its data moves up: Founded follows
  ASSERT_NE(tree.Founded(), nullptr);
  EXPECT_EQ(tree.Founded(), tree.Root());
  EXPECT_EQ(KeyOf(tree.Founded()), 15);
}

TEST(BinTree, RandomOperationsMatchAMapOracle) {
  Tally tally;
  {
    TBinTree tree;
    std::map<int, int> oracle;  // key -> hits
    std::mt19937 rng(4711);
    std::uniform_int_distribution<int> keyOf(0, 400), opOf(0, 9);
    for (int step = 0; step < 6000 && !HasFailure(); ++step) {
      const int key = keyOf(rng);
      const int op = opOf(rng);
      SCOPED_TRACE(::testing::Message() << "step " << step << " op " << op << " key " << key);
      if (op < 5) {
        EXPECT_EQ(tree.Add(new KeyItem(key, tally)), ++oracle[key] == 1);
      } else if (op < 8) {
        EXPECT_EQ(tree.Delete(KeyItem(key, tally)), oracle.erase(key) == 1);
      } else {
        const auto it = oracle.find(key);
        ASSERT_EQ(tree.Search(KeyItem(key, tally)), it != oracle.end());
        if (it != oracle.end()) {
          EXPECT_EQ(tree.Founded()->Hits, it->second);
        }
      }
      ASSERT_EQ(tree.ItemCount(), static_cast<int>(oracle.size()));
      ASSERT_EQ(tally.live, tree.ItemCount());
      CheckTree(tree);
    }
    tree.Walk();
    std::vector<int> keys;
    for (const auto& entry : oracle) keys.push_back(entry.first);
    EXPECT_EQ(tally.visited, keys);
  }
  EXPECT_EQ(tally.live, 0);  // destroying the tree freed every item
}

TEST(BinTree, AscendingLoadStaysShallow) {
  // The ledger is loaded in ascending key order.
  constexpr int n = 1 << 17;
  Tally tally;
  TBinTree tree;
  for (int key = 0; key < n; ++key) tree.Add(new KeyItem(key, tally));
  EXPECT_LE(CheckTree(tree), 18);
}

}  // namespace
}  // namespace pv
