// Runs one export job as a whole process, on a worker pool as the program does, so that the export
// of changes with a ledger can be timed like the program's own silent export (which uses none).
//   pv-export-bench <db folder> <out file> <ledger file> changes|full [ansi]
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>

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
    std::fprintf(stderr, "usage: %s <db folder> <out file> <ledger file> changes|full [ansi]\n",
                 argv[0]);
    return 2;
  }
  Keep target;
  {
    // On a pool thread, as in the program; the pool's destruction waits for the job.
    pv::TWorkerThreadPool pool(10, 5);
    pool.AddJob(std::make_unique<pv::TPVAdressJob>(&target, argv[2], argv[1], argv[3],
                                                   std::strcmp(argv[4], "changes") == 0,
                                                   argc > 5 && std::strcmp(argv[5], "ansi") == 0));
    target.Wait();
  }
  const bool ok = target.cell && target.cell->Ok;
  std::fprintf(ok ? stdout : stderr, "%s\n", target.cell ? target.cell->Text.c_str() : "?");
  return ok ? 0 : 1;
}
