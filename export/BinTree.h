// A height-balanced (AVL) search tree of polymorphic items. The tree knows no keys: each item class
// orders itself through Compare, copies its data with CopyTo and is told about by Walk via Visit.
#pragma once

#include <cstdint>
#include <memory>

namespace pv {

// Base of every tree item. The links, Balance and Hits belong to the tree; a derived class adds
// the key and the data.
class TBinTreeItem {
 public:
  TBinTreeItem() = default;
  virtual ~TBinTreeItem() = default;
  TBinTreeItem(const TBinTreeItem&) = delete;
  TBinTreeItem& operator=(const TBinTreeItem&) = delete;

  // +1 when this item's key is SMALLER than other's, 0 when equal, -1 when greater (the reverse of
  // the usual sign). other is always an item of the same class.
  virtual int Compare(const TBinTreeItem& other) const = 0;
  // Copies this item's data (not links, Balance or Hits) into other, an item of the same class.
  virtual void CopyTo(TBinTreeItem& other) const = 0;
  // Called once per item by TBinTree::Walk, in ascending key order.
  virtual void Visit() = 0;

  TBinTreeItem* Left = nullptr;   // items that order before this one
  TBinTreeItem* Right = nullptr;  // items that order after this one
  std::int8_t Balance = 0;        // height of Right minus height of Left: -1, 0 or +1
  std::int32_t Hits = 0;          // Add calls that met this key: 1 when inserted, +1 per duplicate
};

// Owns its items: refused duplicates, deleted items and, at destruction, all items are freed.
// Belongs to one thread; no locks.
class TBinTree {
 public:
  TBinTree() = default;
  ~TBinTree();
  TBinTree(const TBinTree&) = delete;
  TBinTree& operator=(const TBinTree&) = delete;

  // Inserts item and returns true. When an item with an equal key is in the tree already, its Hits
  // goes up by 1, item is freed at once and the result is false. A null item is refused (false).
  bool Add(std::unique_ptr<TBinTreeItem> item);
  // The same for an item created with new; the tree owns it from this call on.
  bool Add(TBinTreeItem* item) { return Add(std::unique_ptr<TBinTreeItem>(item)); }

  // True when an item with probe's key exists; Founded() then returns it. A miss returns false and
  // leaves Founded() as it was.
  bool Search(const TBinTreeItem& probe);

  // Removes and frees the item with probe's key; false when there is none. An item with two
  // children stays in place and takes over its in-order predecessor's data (CopyTo) and Hits; the
  // predecessor's object is the one freed. Founded() never points to a freed object afterwards:
  // it follows moved data, and becomes null when its own data was removed.
  bool Delete(const TBinTreeItem& probe);

  // Visit of every item in ascending key order. Items must not change the tree from Visit.
  void Walk();

  // Frees every item (linear time); the tree is empty afterwards.
  void Clear();

  TBinTreeItem* Root() const { return root_; }
  TBinTreeItem* Founded() const { return founded_; }
  std::int32_t ItemCount() const { return itemCount_; }

 private:
  bool AddAt(TBinTreeItem*& link, std::unique_ptr<TBinTreeItem>& item, bool& grew);
  bool DeleteAt(TBinTreeItem*& link, const TBinTreeItem& probe, bool& shrunk);
  void RemovePredecessor(TBinTreeItem*& link, TBinTreeItem& target, bool& shrunk);

  TBinTreeItem* root_ = nullptr;
  TBinTreeItem* founded_ = nullptr;  // item of the last successful Search
  std::int32_t itemCount_ = 0;
};

}  // namespace pv
