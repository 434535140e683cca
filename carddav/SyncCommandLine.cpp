#include "carddav/SyncCommandLine.h"

#include <string_view>

namespace pv::carddav {
namespace {

// Takes the value of option name from args[i] ("--name=value" or "--name value"); true when
// args[i] is that option. A missing value sets error.
bool TakeOption(const std::vector<std::string>& args, size_t& i, std::string_view name,
                std::string& value, std::string& error) {
  const std::string_view arg = args[i];
  if (!arg.starts_with(name)) return false;
  if (arg.size() > name.size() && arg[name.size()] == '=') {
    value = arg.substr(name.size() + 1);
  } else if (arg.size() == name.size() && i + 1 < args.size()) {
    value = args[++i];
  } else if (arg.size() == name.size()) {
    error = "Zur Option " + std::string(name) + " fehlt der Wert.";
  } else {
    return false;
  }
  if (value.empty() && error.empty())
    error = "Zur Option " + std::string(name) + " fehlt der Wert.";
  return true;
}

}  // namespace

TSyncCommandLine ParseSyncCommandLine(const std::vector<std::string>& args) {
  TSyncCommandLine c;
  std::vector<std::string> positional;
  for (size_t i = 0; i < args.size() && c.Error.empty(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--store-password") {
      c.StorePassword = true;
    } else if (TakeOption(args, i, "--user", c.User, c.Error) ||
               TakeOption(args, i, "--addressbook", c.AddressBook, c.Error) ||
               TakeOption(args, i, "--vcard", c.VCardVersion, c.Error)) {
    } else if (arg.starts_with("--")) {
      c.Error = "Unbekannte Option " + arg + ".";
    } else {
      positional.push_back(arg);
    }
  }
  if (!c.Error.empty()) return c;
  if (c.VCardVersion != "3.0" && c.VCardVersion != "4.0") {
    c.Error = "--vcard erlaubt nur 3.0 oder 4.0.";
  } else if (c.StorePassword) {
    if (positional.size() != 1) c.Error = "--store-password braucht genau eine Adresse.";
    if (c.Error.empty() && c.User.empty()) c.Error = "--store-password braucht --user.";
    if (positional.size() == 1) c.Url = positional[0];
  } else if (positional.size() != 2) {
    c.Error = "SYNC braucht den Datenbankordner und die Adresse des Adressbuchs.";
  } else {
    c.DbFolder = positional[0];
    c.Url = positional[1];
  }
  return c;
}

const char* SyncUsage() {
  return "Aufruf:\n"
         "  vcard-parvela SYNC <Datenbankordner> <Adresse> [--user NAME] [--vcard=3.0|4.0]\n"
         "                [--addressbook NAME]\n"
         "  vcard-parvela SYNC --store-password <Adresse> --user NAME\n"
         "\n"
         "Sendet neue und geänderte Adressen an ein Online-Adressbuch (CardDAV) und entfernt dort\n"
         "die Karten gelöschter Adressen. Die Adresse ist das Adressbuch selbst oder nur der\n"
         "Server; dann wird das erste Adressbuch des Benutzers genommen, oder das mit\n"
         "--addressbook genannte. Das Passwort kommt aus der Umgebungsvariablen\n"
         "PV_CARDDAV_PASSWORD oder aus dem Schlüsselbund; --store-password liest es von der\n"
         "Standardeingabe und legt es dort ab.\n"
         "Exit-Status: 0 gesendet oder nichts Neues, 1 fehlgeschlagen, 2 falscher Aufruf.\n";
}

}  // namespace pv::carddav
