// The change ledger of the export job: which records were exported with which change stamp.
#include <sys/mman.h>

#include <cstdlib>
#include <mutex>
#include <new>
#include <string>

#include "export/FastCSV.h"
#include "export/MappedFile.h"
#include "export/PVAdressJob.h"
#include "files/FileUtil.h"

namespace pv {
namespace {

// Ledger entries come by the hundred thousand: they are carved from 2 MiB blocks that the system
// may back with huge pages, which saves a page fault per few entries, and freed entries are kept
// for the next ones. The blocks live as long as the process.
class TreeItemPool {
 public:
  void* Allocate() {
    std::lock_guard<std::mutex> hold(lock_);
    if (free_ != nullptr) {
      void* p = free_;
      free_ = *static_cast<void**>(p);
      return p;
    }
    if (next_ == end_) {
      void* block = std::aligned_alloc(kBlock, kBlock);
      if (block == nullptr) throw std::bad_alloc();
      madvise(block, kBlock, MADV_HUGEPAGE);
      next_ = static_cast<char*>(block);
      end_ = next_ + kBlock / kSlot * kSlot;
    }
    void* p = next_;
    next_ += kSlot;
    return p;
  }
  void Free(void* p) {
    std::lock_guard<std::mutex> hold(lock_);
    *static_cast<void**>(p) = free_;
    free_ = p;
  }
  static constexpr size_t kSlot =
      (sizeof(TTreeItem) + alignof(TTreeItem) - 1) / alignof(TTreeItem) * alignof(TTreeItem);

 private:
  static constexpr size_t kBlock = 2 << 20;
  std::mutex lock_;
  void* free_ = nullptr;
  char* next_ = nullptr;
  char* end_ = nullptr;
};

TreeItemPool& Pool() {
  static TreeItemPool* pool = new TreeItemPool;  // never destroyed: items may outlive statics
  return *pool;
}

}  // namespace

void* TTreeItem::operator new(size_t size) {
  return size == TreeItemPool::kSlot || size == sizeof(TTreeItem) ? Pool().Allocate()
                                                                  : ::operator new(size);
}

void TTreeItem::operator delete(void* p, size_t size) {
  if (size == TreeItemPool::kSlot || size == sizeof(TTreeItem)) {
    Pool().Free(p);
  } else {
    ::operator delete(p);
  }
}

int TTreeItem::Compare(const TBinTreeItem& other) const {
  const int32_t a = Item.RecordID;
  const int32_t b = static_cast<const TTreeItem&>(other).Item.RecordID;
  return a < b ? 1 : (a > b ? -1 : 0);
}

void TTreeItem::CopyTo(TBinTreeItem& other) const { static_cast<TTreeItem&>(other).Item = Item; }

void TTreeItem::Visit() { static_cast<TPVAdressJob*>(Item.Owner)->LedgerList.push_back(&Item); }

void TPVAdressJob::LoadLedger() {
  if (LedgerPath.empty() || !FileExistsSafe(LedgerPath)) return;
  try {
    TMMF stream(LedgerPath);
    TCSVReader reader(stream, ',');
    reader.First();
    while (!reader.Eof()) {
      LedgerAdd(StrToIntDef(reader.Field(0), 0), reader.Field(1));
      reader.Next();
    }
  } catch (const std::exception&) {
    // A damaged ledger keeps the entries read so far.
  }
}

void TPVAdressJob::LedgerAdd(int32_t recordId, std::string stamp) {
  if (recordId == 0 || stamp.empty()) return;
  // Add frees the item when the record number is there already: the first line wins.
  if (Ledger->Add(new TTreeItem(TScoreItem{recordId, std::move(stamp), false, this})))
    NoteLedgerKey(recordId);
}

void TPVAdressJob::NoteLedgerKey(int32_t recordId) {
  if (!hasLedgerKeys_ || recordId > maxLedgerKey_) maxLedgerKey_ = recordId;
  hasLedgerKeys_ = true;
}

bool TPVAdressJob::ContactChanged(int32_t recordId, const std::string& stamp) {
  // Records mostly come in ascending order: a number above every key cannot be in the tree.
  TTreeItem probe(TScoreItem{recordId, {}, true, this});
  if ((hasLedgerKeys_ && recordId <= maxLedgerKey_) && Ledger->Search(probe)) {
    TScoreItem& entry = static_cast<TTreeItem*>(Ledger->Founded())->Item;
    entry.Seen = true;
    if (entry.ChangeStamp == stamp) return false;
    entry.ChangeStamp = stamp;
    return true;
  }
  Ledger->Add(new TTreeItem(TScoreItem{recordId, stamp, true, this}));
  NoteLedgerKey(recordId);
  return true;
}

namespace {

void AppendQuoted(std::string& out, std::string_view text) {
  out += '"';
  for (const char c : text) {
    if (c == '"') out += '"';
    out += c;
  }
  out += '"';
}

void AppendLedgerLine(std::string& out, const TScoreItem& item) {
  AppendQuoted(out, std::to_string(item.RecordID));
  out += ',';
  AppendQuoted(out, item.ChangeStamp);
  out += "\r\n";
}

}  // namespace

std::string TPVAdressJob::LedgerLine(const TScoreItem& item) {
  std::string line;
  AppendLedgerLine(line, item);
  return line;
}

void TPVAdressJob::SaveLedger() {
  if (LedgerPath.empty()) return;
  try {
    LedgerList.clear();
    Ledger->Walk();
    std::string text;
    text.reserve(LedgerList.size() * 36);
    for (const TScoreItem* item : LedgerList) {
      if (item->Seen) AppendLedgerLine(text, *item);
    }
    LedgerList.clear();
    LedgerList.shrink_to_fit();
    SaveFileAtomic(LedgerPath, text);
  } catch (const std::exception&) {
    // Without a ledger the next export of changes writes every contact again.
  }
  LedgerList.clear();
}

}  // namespace pv
