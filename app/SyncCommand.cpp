#include "app/SyncCommand.h"

#include <unistd.h>

#include <QCoreApplication>
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "carddav/Password.h"
#include "carddav/SyncCommandLine.h"
#include "carddav/SyncRun.h"
#include "files/AnsiText.h"
#include "files/FileUtil.h"
#include "files/Folders.h"
#include "settings/UserMode.h"

namespace pv {
namespace {

using carddav::TSyncCommandLine;

void PrintLine(std::FILE* out, const QString& text) {
  std::fprintf(out, "%s\n", text.toUtf8().constData());
  std::fflush(out);
}

// "--store-password": one line from standard input into the keyring.
int StorePassword(const TSyncCommandLine& c) {
  std::string password;
  std::getline(std::cin, password);
  if (!password.empty() && password.back() == '\r') password.pop_back();
  if (password.empty()) {
    PrintLine(stderr, QStringLiteral("Kein Passwort auf der Standardeingabe."));
    return 1;
  }
  QString problem;
  if (!carddav::StorePassword(QString::fromStdString(c.Url), QString::fromStdString(c.User),
                              QString::fromStdString(password), &problem)) {
    PrintLine(stderr, problem);
    return 1;
  }
  return 0;
}

// Progress on a terminal: "gesendet 12 von 300", rewritten in place.
void ShowProgress(int done, int total) {
  if (total >= 0) {
    std::fprintf(stderr, "\rgesendet %d von %d ", done, total);
  } else {
    std::fprintf(stderr, "\rgesendet %d ", done);
  }
  std::fflush(stderr);
}

// The settings folder, as the window uses it; the user last saved for this address is the
// default for --user.
std::string DefaultUser(const std::string& url) {
  try {
    SetSettingsFolder(GetWorkFolder("vcard"));
  } catch (...) {
    return {};
  }
  if (AnsiToUtf8(ReadModeString("CardDavUrl", "")) != url) return {};
  return AnsiToUtf8(ReadModeString("CardDavUser", ""));
}

int Sync(TSyncCommandLine c) {
  if (!DirectoryExistsSafe(c.DbFolder)) {
    PrintLine(stderr, QStringLiteral("Der Datenbankordner %1 fehlt.")
                          .arg(QString::fromLocal8Bit(c.DbFolder.c_str())));
    return 1;
  }
  if (c.User.empty()) c.User = DefaultUser(c.Url);
  carddav::TSyncSettings s;
  s.DbFolder = c.DbFolder;
  s.Url = QString::fromStdString(c.Url);
  s.User = QString::fromStdString(c.User);
  s.AddressBook = QString::fromStdString(c.AddressBook);
  s.VCardVersion = c.VCardVersion;
  QString keyring;
  if (!s.User.isEmpty()) s.Password = carddav::ReadPassword(s.Url, s.User, &keyring);
  carddav::TSyncRun run(s, carddav::DatabaseSource(c.DbFolder, c.VCardVersion));
  const bool terminal = isatty(2) != 0;
  int status = 1;
  run.Start(
      [&](bool ok, const QString& text) {
        if (terminal) std::fputs("\n", stderr);
        status = ok ? 0 : 1;
        if (ok) {
          PrintLine(stdout, text);
        } else {
          const auto& n = run.Counts();
          if (n.Added + n.Changed + n.Removed > 0) PrintLine(stdout, carddav::SummaryLine(n));
          PrintLine(stderr, text);
          if (s.Password.isEmpty() && !s.User.isEmpty()) {
            PrintLine(stderr, QStringLiteral("Kein Passwort gefunden (%1); PV_CARDDAV_PASSWORD "
                                             "setzen oder mit --store-password ablegen.")
                                  .arg(keyring));
          }
        }
        QCoreApplication::quit();
      },
      terminal ? carddav::TCardDavSync::TProgress(ShowProgress)
               : carddav::TCardDavSync::TProgress());
  QCoreApplication::exec();
  return status;
}

}  // namespace

int RunSyncCommand(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  std::vector<std::string> args;
  for (int i = 2; i < argc; ++i) args.emplace_back(argv[i]);
  if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
    std::fputs(carddav::SyncUsage(), stdout);
    return 0;
  }
  const TSyncCommandLine c = carddav::ParseSyncCommandLine(args);
  if (!c.Error.empty()) {
    std::fprintf(stderr, "%s\n\n%s", c.Error.c_str(), carddav::SyncUsage());
    return 2;
  }
  return c.StorePassword ? StorePassword(c) : Sync(c);
}

}  // namespace pv
