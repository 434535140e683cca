// Runs one export job as a whole process, so that the export of changes with a ledger can be timed
// like the program's own silent export (which uses no ledger).
//   pv-export-bench <db folder> <out file> <ledger file> changes|full [ansi]
#include <cstdio>
#include <cstring>
#include <memory>

#include "export/PVAdressJob.h"

namespace {

class Keep : public pv::TMessageTarget {
 public:
  bool Post(unsigned, std::uintptr_t w, std::intptr_t) override {
    cell.reset(reinterpret_cast<pv::TResultCell*>(w));
    return true;
  }
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
  pv::TPVAdressJob job(&target, argv[2], argv[1], argv[3], std::strcmp(argv[4], "changes") == 0,
                       argc > 5 && std::strcmp(argv[5], "ansi") == 0);
  job.Execute();
  const bool ok = target.cell && target.cell->Ok;
  std::fprintf(ok ? stdout : stderr, "%s\n", target.cell ? target.cell->Text.c_str() : "?");
  return ok ? 0 : 1;
}
