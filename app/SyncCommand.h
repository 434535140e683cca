// `vcard-parvela SYNC ...`: sends the database's changes to an online address book, no display
// needed. Exit status 0 (sent, or nothing new), 1 (failed, the reason on standard error), 2
// (usage).
#pragma once

namespace pv {

int RunSyncCommand(int argc, char** argv);

}  // namespace pv
