// Runs one export job as a whole process, on a worker pool as the program does, so that the export
// of changes with a ledger can be timed like the program's own silent export (which uses none).
//   pv-export-bench <db folder> <out file> <ledger file> changes|full [ansi] [v30]
// An empty ledger file name runs without a ledger, as the silent export does.
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <string_view>

#include "export/PVAdressJob.h"

namespace {

class Keep : public pv::TMessageTarget {
 public:
  bool Post(unsigned, std::uintptr_t w, std::intptr_t) override {
    std::lock_guard<std::mutex> hold(lock);
    cell.reset(reinterpret_cast<pv::TResultCell*>(w));
    posted.notify_all();
    return true;
  }
  void Wait() {
    std::unique_lock<std::mutex> hold(lock);
    posted.wait(hold, [this] { return cell != nullptr; });
  }
  std::mutex lock;
  std::condition_variable posted;
  std::unique_ptr<pv::TResultCell> cell;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc < 5) {
    std::fprintf(stderr,
                 "usage: %s <db folder> <out file> <ledger file> changes|full [ansi] [v30]\n",
                 argv[0]);
    return 2;
  }
  bool ansi = false;
  pv::TvCardVersion version = pv::vv40;
  for (int i = 5; i < argc; ++i) {
    const std::string_view flag = argv[i];
    if (flag == "ansi") {
      ansi = true;
    } else if (flag == "v30") {
      version = pv::vv30;
    } else {
      std::fprintf(stderr, "unknown option %s\n", argv[i]);
      return 2;
    }
  }
  Keep target;
  {
    // On a pool thread, as in the program; the pool's destruction waits for the job.
    pv::TWorkerThreadPool pool(10, 5);
    pool.AddJob(std::make_unique<pv::TPVAdressJob>(
        &target, argv[2], argv[1], argv[3], std::strcmp(argv[4], "changes") == 0, ansi, version));
    target.Wait();
  }
  const bool ok = target.cell && target.cell->Ok;
  std::fprintf(ok ? stdout : stderr, "%s\n", target.cell ? target.cell->Text.c_str() : "?");
  return ok ? 0 : 1;
}
