#include "export/ChangeLedger.h"

#include <sys/mman.h>

#include <charconv>
#include <cstdlib>
#include <mutex>
#include <new>

#include "export/FastCSV.h"
#include "export/MappedFile.h"
#include "export/StrUtils.h"
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

// The text in double quotes, inner quotes doubled; a text without quotes (every stamp the export
// makes) is appended in one piece.
void AppendQuoted(std::string& out, std::string_view text) {
  out += '"';
  for (size_t quote = text.find('"'); quote != std::string_view::npos; quote = text.find('"')) {
    out.append(text.substr(0, quote + 1));
    out += '"';
    text.remove_prefix(quote + 1);
  }
  out.append(text);
  out += '"';
}

void AppendLine(std::string& out, const TScoreItem& item) {
  char number[16];
  const auto end = std::to_chars(number, number + sizeof number, item.RecordID).ptr;
  AppendQuoted(out, std::string_view(number, static_cast<size_t>(end - number)));
  out += ',';
  AppendQuoted(out, item.ChangeStamp);
  out += "\r\n";
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

void TTreeItem::CopyTo(TBinTreeItem& other) const {
  auto& target = static_cast<TTreeItem&>(other);
  target.Item = Item;
  target.FromFile = FromFile;
}

void TTreeItem::Visit() { static_cast<TChangeLedger*>(Item.Owner)->LedgerList.push_back(&Item); }

TChangeLedger::TChangeLedger() : tree_(std::make_unique<TBinTree>()) {}

TChangeLedger::~TChangeLedger() = default;

void TChangeLedger::Load(const std::string& path) {
  if (path.empty() || !FileExistsSafe(path)) return;
  try {
    TMMF stream(path);
    TCSVReader reader(stream, ',');
    reader.First();
    while (!reader.Eof()) {
      Add(StrToIntDef(reader.Field(0), 0), reader.Field(1));
      reader.Next();
    }
  } catch (const std::exception&) {
    // A damaged ledger keeps the entries read so far.
  }
}

void TChangeLedger::Add(int32_t recordId, std::string stamp) {
  if (recordId == 0 || stamp.empty()) return;
  auto* item = new TTreeItem(TScoreItem{recordId, std::move(stamp), false, this});
  item->FromFile = true;
  // Add frees the item when the record number is there already: the first line wins.
  if (tree_->Add(item)) NoteKey(recordId);
}

void TChangeLedger::NoteKey(int32_t recordId) {
  if (!hasKeys_ || recordId > maxKey_) maxKey_ = recordId;
  hasKeys_ = true;
}

bool TChangeLedger::Check(int32_t recordId, std::string_view stamp) {
  TTreeItem probe(TScoreItem{recordId, {}, true, this});
  if (!hasKeys_ || recordId > maxKey_ || !tree_->Search(probe)) {
    tree_->Add(new TTreeItem(TScoreItem{recordId, std::string(stamp), true, this}));
    NoteKey(recordId);
    return true;
  }
  auto& entry = static_cast<TTreeItem&>(*tree_->Founded());
  entry.Item.Seen = true;
  // The stamp of the file: the entry's own until a record of this run replaced it.
  const std::string* fileStamp = nullptr;
  if (entry.FromFile) {
    fileStamp = &entry.Item.ChangeStamp;
    if (!fileStamps_.empty()) {
      if (const auto kept = fileStamps_.find(recordId); kept != fileStamps_.end()) {
        fileStamp = &kept->second;
      }
    }
  }
  const bool unchanged = fileStamp != nullptr && *fileStamp == stamp;
  if (entry.Item.ChangeStamp != stamp) {
    if (entry.FromFile) fileStamps_.try_emplace(recordId, entry.Item.ChangeStamp);
    entry.Item.ChangeStamp = stamp;
  }
  return !unchanged;
}

std::string TChangeLedger::Line(const TScoreItem& item) {
  std::string line;
  AppendLine(line, item);
  return line;
}

void TChangeLedger::Save(const std::string& path) {
  if (path.empty()) return;
  try {
    LedgerList.clear();
    tree_->Walk();
    std::string text;
    text.reserve(LedgerList.size() * 36);
    for (const TScoreItem* item : LedgerList) {
      if (item->Seen) AppendLine(text, *item);
    }
    LedgerList.clear();
    LedgerList.shrink_to_fit();
    SaveFileAtomic(path, text);
  } catch (const std::exception&) {
    // The previous ledger stays; the next export of changes judges against it.
  }
  LedgerList.clear();
}

}  // namespace pv
