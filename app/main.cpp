// vcard-parvela: exports the Parvela address table into a vCard file.
//   vcard-parvela                          the window
//   vcard-parvela AUTO <db folder> <file>  the silent export (no display needed); exit status 0
//                                          when a file was written or nothing was new, else 1
//                                          with the reason on standard error
#include <QApplication>
#include <QCoreApplication>
#include <cstdio>
#include <memory>
#include <string>

#include "app/HeadlessView.h"
#include "app/MainFrm.h"
#include "app/MainWindow.h"
#include "app/PXDlg.h"
#include "app/SyncCommand.h"
#include "files/AnsiText.h"

namespace {

constexpr const char* kTitle = "vCard Parvela";

std::string Arg(int argc, char** argv, int i) {
  return i < argc ? std::string(argv[i]) : std::string();
}

int RunSilentExport(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  QCoreApplication::setApplicationName(kTitle);
  pv::THeadlessView view;
  pv::TMainFrm frm(view, nullptr);
  frm.FormCreate();
  frm.StartExport(Arg(argc, argv, 2), Arg(argc, argv, 3), true);
  QCoreApplication::exec();
  frm.FormDestroy();
  if (frm.ResultOk()) return 0;
  const std::string reason = pv::AnsiToUtf8(frm.ResultText());
  std::fprintf(stderr, "%s\n", reason.empty() ? "Export fehlgeschlagen." : reason.c_str());
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (Arg(argc, argv, 1) == "AUTO") return RunSilentExport(argc, argv);
  if (Arg(argc, argv, 1) == "SYNC") return pv::RunSyncCommand(argc, argv);
  QApplication app(argc, argv);
  QCoreApplication::setApplicationName(kTitle);
  // Runs the jobs with which the message box opens a clicked link; ends before the application.
  pv::TShellJobPool shellPool;
  return pv::RunMainWindow(app);
}
