#include "export/BinTree.h"

namespace pv {

namespace {

// The left subtree of p grew by one level; rebalances p. Returns whether p's subtree grew.
bool LeftGrew(TBinTreeItem*& p) {
  switch (p->Balance) {
    case 1:
      p->Balance = 0;
      return false;
    case 0:
      p->Balance = -1;
      return true;
    default: {
      TBinTreeItem* l = p->Left;
      if (l->Balance == -1) {  // single right rotation
        p->Left = l->Right;
        l->Right = p;
        p->Balance = 0;
        l->Balance = 0;
        p = l;
      } else {  // double rotation around l's right child
        TBinTreeItem* m = l->Right;
        l->Right = m->Left;
        m->Left = l;
        p->Left = m->Right;
        m->Right = p;
        p->Balance = m->Balance == -1 ? 1 : 0;
        l->Balance = m->Balance == 1 ? -1 : 0;
        m->Balance = 0;
        p = m;
      }
      return false;
    }
  }
}

// Mirror image of LeftGrew.
bool RightGrew(TBinTreeItem*& p) {
  switch (p->Balance) {
    case -1:
      p->Balance = 0;
      return false;
    case 0:
      p->Balance = 1;
      return true;
    default: {
      TBinTreeItem* r = p->Right;
      if (r->Balance == 1) {  // single left rotation
        p->Right = r->Left;
        r->Left = p;
        p->Balance = 0;
        r->Balance = 0;
        p = r;
      } else {  // double rotation around r's left child
        TBinTreeItem* m = r->Left;
        r->Left = m->Right;
        m->Right = r;
        p->Right = m->Left;
        m->Left = p;
        p->Balance = m->Balance == 1 ? -1 : 0;
        r->Balance = m->Balance == -1 ? 1 : 0;
        m->Balance = 0;
        p = m;
      }
      return false;
    }
  }
}

// The left subtree of p lost one level; rebalances p. Returns whether p's subtree shrank.
bool LeftShrank(TBinTreeItem*& p) {
  switch (p->Balance) {
    case -1:
      p->Balance = 0;
      return true;
    case 0:
      p->Balance = 1;
      return false;
    default: {
      TBinTreeItem* r = p->Right;
      if (r->Balance >= 0) {  // single left rotation
        p->Right = r->Left;
        r->Left = p;
        const bool shrank = r->Balance != 0;
        p->Balance = shrank ? 0 : 1;
        r->Balance = shrank ? 0 : -1;
        p = r;
        return shrank;
      }
      TBinTreeItem* m = r->Left;  // double rotation
      r->Left = m->Right;
      m->Right = r;
      p->Right = m->Left;
      m->Left = p;
      p->Balance = m->Balance == 1 ? -1 : 0;
      r->Balance = m->Balance == -1 ? 1 : 0;
      m->Balance = 0;
      p = m;
      return true;
    }
  }
}

// Mirror image of LeftShrank.
bool RightShrank(TBinTreeItem*& p) {
  switch (p->Balance) {
    case 1:
      p->Balance = 0;
      return true;
    case 0:
      p->Balance = -1;
      return false;
    default: {
      TBinTreeItem* l = p->Left;
      if (l->Balance <= 0) {  // single right rotation
        p->Left = l->Right;
        l->Right = p;
        const bool shrank = l->Balance != 0;
        p->Balance = shrank ? 0 : -1;
        l->Balance = shrank ? 0 : 1;
        p = l;
        return shrank;
      }
      TBinTreeItem* m = l->Right;  // double rotation
      l->Right = m->Left;
      m->Left = l;
      p->Left = m->Right;
      m->Right = p;
      p->Balance = m->Balance == -1 ? 1 : 0;
      l->Balance = m->Balance == 1 ? -1 : 0;
      m->Balance = 0;
      p = m;
      return true;
    }
  }
}

void WalkFrom(TBinTreeItem* item) {
  while (item != nullptr) {
    WalkFrom(item->Left);
    item->Visit();
    item = item->Right;
  }
}

// Frees a subtree; recursion depth is the tree's height, which stays logarithmic.
void FreeFrom(TBinTreeItem* item) {
  while (item != nullptr) {
    FreeFrom(item->Left);
    TBinTreeItem* right = item->Right;
    delete item;
    item = right;
  }
}

}  // namespace

TBinTree::~TBinTree() { Clear(); }

void TBinTree::Clear() {
  FreeFrom(root_);
  root_ = nullptr;
  founded_ = nullptr;
  itemCount_ = 0;
}

bool TBinTree::Add(std::unique_ptr<TBinTreeItem> item) {
  if (!item) return false;
  bool grew = false;
  if (!AddAt(root_, item, grew)) return false;  // item freed on return
  ++itemCount_;
  return true;
}

bool TBinTree::AddAt(TBinTreeItem*& link, std::unique_ptr<TBinTreeItem>& item, bool& grew) {
  if (link == nullptr) {
    item->Left = nullptr;
    item->Right = nullptr;
    item->Balance = 0;
    item->Hits = 1;
    link = item.release();
    grew = true;
    return true;
  }
  const int order = item->Compare(*link);
  if (order == 0) {
    ++link->Hits;
    grew = false;
    return false;
  }
  if (order > 0) {
    if (!AddAt(link->Left, item, grew)) return false;
    if (grew) grew = LeftGrew(link);
  } else {
    if (!AddAt(link->Right, item, grew)) return false;
    if (grew) grew = RightGrew(link);
  }
  return true;
}

bool TBinTree::Search(const TBinTreeItem& probe) {
  TBinTreeItem* item = root_;
  while (item != nullptr) {
    const int order = probe.Compare(*item);
    if (order == 0) {
      founded_ = item;
      return true;
    }
    item = order > 0 ? item->Left : item->Right;
  }
  return false;
}

bool TBinTree::Delete(const TBinTreeItem& probe) {
  bool shrunk = false;
  if (!DeleteAt(root_, probe, shrunk)) return false;
  --itemCount_;
  return true;
}

bool TBinTree::DeleteAt(TBinTreeItem*& link, const TBinTreeItem& probe, bool& shrunk) {
  if (link == nullptr) return false;
  const int order = probe.Compare(*link);
  if (order > 0) {
    if (!DeleteAt(link->Left, probe, shrunk)) return false;
    if (shrunk) shrunk = LeftShrank(link);
    return true;
  }
  if (order < 0) {
    if (!DeleteAt(link->Right, probe, shrunk)) return false;
    if (shrunk) shrunk = RightShrank(link);
    return true;
  }
  TBinTreeItem* item = link;
  if (item->Right == nullptr || item->Left == nullptr) {
    link = item->Right == nullptr ? item->Left : item->Right;
    if (founded_ == item) founded_ = nullptr;
    delete item;
    shrunk = true;
    return true;
  }
  if (founded_ == item) founded_ = nullptr;  // its data is overwritten below
  RemovePredecessor(item->Left, *item, shrunk);
  if (shrunk) shrunk = LeftShrank(link);
  return true;
}

void TBinTree::RemovePredecessor(TBinTreeItem*& link, TBinTreeItem& target, bool& shrunk) {
  if (link->Right != nullptr) {
    RemovePredecessor(link->Right, target, shrunk);
    if (shrunk) shrunk = RightShrank(link);
    return;
  }
  TBinTreeItem* pred = link;
  pred->CopyTo(target);
  target.Hits = pred->Hits;
  if (founded_ == pred) founded_ = &target;  // its data lives on in target
  link = pred->Left;
  delete pred;
  shrunk = true;
}

void TBinTree::Walk() { WalkFrom(root_); }

}  // namespace pv
