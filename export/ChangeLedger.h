// The change ledger of the export: which records were exported with which change stamp, kept in
// the file "calc.txt" (one "id","stamp" line per record, ascending, CR LF after each) and in
// memory in an ordered tree.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "export/BinTree.h"
#include "vcard/Contact.h"

namespace pv {

class TChangeLedger;

// A ledger entry in the tree, ordered by record number. Item.Owner is the ledger whose list the
// entry joins when the tree is walked.
class TTreeItem : public TBinTreeItem {
 public:
  explicit TTreeItem(const TScoreItem& item) : Item(item) {}
  explicit TTreeItem(TScoreItem&& item) : Item(std::move(item)) {}
  // Ledger entries are many and small: they come from a pool of large blocks.
  static void* operator new(size_t size);
  static void operator delete(void* p, size_t size);
  int Compare(const TBinTreeItem& other) const override;
  void CopyTo(TBinTreeItem& other) const override;
  void Visit() override;

  TScoreItem Item;
  bool FromFile = false;  // the entry was loaded from the file at the start of the run
};

class TChangeLedger {
 public:
  TChangeLedger();
  ~TChangeLedger();
  TChangeLedger(const TChangeLedger&) = delete;
  TChangeLedger& operator=(const TChangeLedger&) = delete;

  // Adds the entries of the file (nothing when path is empty or names no file). Lines with record
  // number 0, a number that is not one, or an empty stamp are dropped; of two lines for one
  // record the first wins; a last line without CR LF is not read. Never raises: a damaged file
  // keeps the entries read until the damage.
  void Load(const std::string& path);
  // Adds one entry as read from the file (seen false); ignored for record 0, an empty stamp, or a
  // record already held.
  void Add(int32_t recordId, std::string stamp);
  // Whether the record must be written: false only when the file loaded at the start held the
  // record with exactly this stamp. Marks the record seen and keeps stamp as its entry (so the
  // last stamp met is saved); a record met twice in one run is judged against the file both times.
  bool Check(int32_t recordId, std::string_view stamp);
  // Replaces the file atomically with the seen entries in ascending record order. Never raises:
  // on failure (no path, missing folder, full disk) the previous file stays as it was.
  void Save(const std::string& path);

  // The file line of an entry: quoted number, ",", quoted stamp (inner quotes doubled), CR LF.
  static std::string Line(const TScoreItem& item);

  // True while the ledger holds no entry (none loaded, added or checked).
  bool Empty() const { return !hasKeys_; }

  TBinTree& Tree() { return *tree_; }
  // Filled by the walk of the tree while the ledger is saved; empty otherwise.
  std::vector<TScoreItem*> LedgerList;

 private:
  void NoteKey(int32_t recordId);
  std::unique_ptr<TBinTree> tree_;
  // Stamps from the file of entries whose stamp a record has replaced in this run.
  std::unordered_map<int32_t, std::string> fileStamps_;
  // The largest record number in the tree (when it holds any): lets Check skip the search for a
  // number above it, the usual case when records come in ascending order.
  int32_t maxKey_ = 0;
  bool hasKeys_ = false;
};

}  // namespace pv
