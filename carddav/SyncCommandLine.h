// The command line of the SYNC command:
//   SYNC <database folder> <address book URL> [--user NAME] [--vcard=3.0|4.0] [--addressbook NAME]
//   SYNC --store-password <URL> --user NAME      (the password is read from standard input)
#pragma once

#include <string>
#include <vector>

namespace pv::carddav {

struct TSyncCommandLine {
  bool StorePassword = false;
  std::string DbFolder;
  std::string Url;
  std::string User;
  std::string AddressBook;
  std::string VCardVersion = "4.0";  // "3.0" or "4.0"
  std::string Error;                 // not empty: the arguments are no valid SYNC command
};

// Parses the arguments after "SYNC". Options take their value as the next argument or after '='.
TSyncCommandLine ParseSyncCommandLine(const std::vector<std::string>& args);

// The usage text (German), for a wrong command line and --help.
const char* SyncUsage();

}  // namespace pv::carddav
