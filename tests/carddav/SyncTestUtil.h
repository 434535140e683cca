// Helpers of the sync tests: running the program, editing a sample database, reading the ledger
// and the server's cards back.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "tests/support/Wait.h"

namespace pv::test {

struct ProgramOutcome {
  int status = -1;
  std::string out;
  std::string err;
};

// Runs vcard-parvela with args, TMPDIR=tmp, no display, PV_CARDDAV_PASSWORD=password (unset when
// empty); stdout and stderr captured.
ProgramOutcome RunSync(const std::vector<std::string>& args, const std::string& tmp,
                       const std::string& password);
// The same without waiting: the process id (stdout and stderr go to files in tmp).
pid_t StartSync(const std::vector<std::string>& args, const std::string& tmp,
                const std::string& password);
// Waits for a process started by StartSync; its outcome.
ProgramOutcome WaitSync(pid_t pid, const std::string& tmp);

// Runs SQL on <folder>/Parvela.sqlite; fails the test on an error.
void ExecSql(const std::string& folder, const std::string& sql);
// The record IDs in the folder's one sync ledger (vCard.Export/carddav-*.txt), ascending.
std::vector<int64_t> LedgerIds(const std::string& folder);
// The text of the folder's one sync ledger; empty when there is none.
std::string LedgerText(const std::string& folder);

// Runs check_book.py on the address book; "" when every check holds, else what it printed.
std::string CheckBook(const std::string& bookUrl, int cards, const std::string& version,
                      const std::string& exportFile = "");
// The file export of the folder (UTF-8) into file, through `vcard-parvela AUTO`.
void ExportFile(const std::string& folder, const std::string& file, const std::string& tmp);

// Counts the lines of the proxy log starting with "METHOD " and ending with " status".
int CountRequests(const std::vector<std::string>& log, const std::string& method,
                  const std::string& status = "");

}  // namespace pv::test
