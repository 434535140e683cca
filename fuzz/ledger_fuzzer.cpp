// The change ledger file: loads a ledger made of fuzz bytes, saves every entry, loads that again.
// The second load must give the same entries (ascending, one per record number) and saving it
// must give the same bytes: load-save-load is stable.
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "export/PVAdressJob.h"
#include "fuzz/FuzzUtil.h"

namespace {

using Entries = std::vector<std::pair<int32_t, std::string>>;

// The job's ledger entries in tree order; marks them seen, so that a save writes all of them.
Entries TakeEntries(pv::TPVAdressJob& job) {
  job.LedgerList.clear();
  job.Ledger->Walk();
  Entries entries;
  for (pv::TScoreItem* item : job.LedgerList) {
    item->Seen = true;
    entries.emplace_back(item->RecordID, item->ChangeStamp);
  }
  job.LedgerList.clear();
  return entries;
}

std::unique_ptr<pv::TPVAdressJob> LoadedJob(const std::string& ledger) {
  auto job = std::make_unique<pv::TPVAdressJob>(pv::HWND{}, "", "", ledger, true, false);
  job->LoadLedger();
  return job;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string first = pv::fuzz::ScratchFolder() + "calc.txt";
  const std::string second = pv::fuzz::ScratchFolder() + "calc2.txt";
  FUZZ_CHECK(pv::fuzz::WriteFile(first, {reinterpret_cast<const char*>(data), size}));

  auto job = LoadedJob(first);
  const Entries loaded = TakeEntries(*job);
  for (size_t i = 1; i < loaded.size(); ++i) FUZZ_CHECK(loaded[i - 1].first < loaded[i].first);
  for (const auto& [id, stamp] : loaded) FUZZ_CHECK(id != 0 && !stamp.empty());
  job->LedgerPath = second;
  job->SaveLedger();
  const std::string saved = pv::fuzz::ReadFile(second);

  auto again = LoadedJob(second);
  FUZZ_CHECK(TakeEntries(*again) == loaded);
  again->LedgerPath = first;
  again->SaveLedger();
  FUZZ_CHECK(pv::fuzz::ReadFile(first) == saved);
  return 0;
}
