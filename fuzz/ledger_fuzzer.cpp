// The change ledger file: loads a ledger made of fuzz bytes, saves every entry, loads that again.
// The second load must give the same entries (ascending, one per record number) and saving it
// must give the same bytes: load-save-load is stable.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "export/ChangeLedger.h"
#include "fuzz/FuzzUtil.h"

namespace {

using Entries = std::vector<std::pair<int32_t, std::string>>;

// The ledger's entries in tree order; marks them seen, so that a save writes all of them.
Entries TakeEntries(pv::TChangeLedger& ledger) {
  ledger.LedgerList.clear();
  ledger.Tree().Walk();
  Entries entries;
  for (pv::TScoreItem* item : ledger.LedgerList) {
    item->Seen = true;
    entries.emplace_back(item->RecordID, item->ChangeStamp);
  }
  ledger.LedgerList.clear();
  return entries;
}

std::unique_ptr<pv::TChangeLedger> Loaded(const std::string& path) {
  auto ledger = std::make_unique<pv::TChangeLedger>();
  ledger->Load(path);
  return ledger;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string first = pv::fuzz::ScratchFolder() + "calc.txt";
  const std::string second = pv::fuzz::ScratchFolder() + "calc2.txt";
  FUZZ_CHECK(pv::fuzz::WriteFile(first, {reinterpret_cast<const char*>(data), size}));

  auto ledger = Loaded(first);
  const Entries loaded = TakeEntries(*ledger);
  for (size_t i = 1; i < loaded.size(); ++i) FUZZ_CHECK(loaded[i - 1].first < loaded[i].first);
  for (const auto& [id, stamp] : loaded) FUZZ_CHECK(id != 0 && !stamp.empty());
  ledger->Save(second);
  const std::string saved = pv::fuzz::ReadFile(second);

  auto again = Loaded(second);
  FUZZ_CHECK(TakeEntries(*again) == loaded);
  again->Save(first);
  FUZZ_CHECK(pv::fuzz::ReadFile(first) == saved);
  return 0;
}
