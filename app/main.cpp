// vcard-parvela: exports the Parvela address table into a vCard file.
//   vcard-parvela                          the window
//   vcard-parvela AUTO <db folder> <file> [--vcard=3.0|--vcard=4.0] [--utf8|--ansi]
//                                          the silent export (no display needed); exit status 0
//                                          when a file was written or nothing was new, 1 with
//                                          the reason on standard error, 2 for unusable options
#include <QApplication>
#include <QCoreApplication>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/HeadlessView.h"
#include "app/MainFrm.h"
#include "app/MainWindow.h"
#include "app/PXDlg.h"
#include "app/StartOptions.h"
#include "app/SyncCommand.h"
#include "files/AnsiText.h"

namespace {

constexpr const char* kTitle = "vCard Parvela";

std::string Arg(int argc, char** argv, int i) {
  return i < argc ? std::string(argv[i]) : std::string();
}

// Texts inside the program are Windows-1252 markup; the terminal gets plain UTF-8.
void PrintError(const std::string& markup) {
  std::fprintf(stderr, "%s\n", pv::MessageForTerminal(markup).c_str());
}

// The options after the two paths are checked before anything is read or written.
int RunSilentExport(int argc, char** argv) {
  constexpr int kFirstOption = 4;
  std::vector<std::string> extra;
  for (int i = kFirstOption; i < argc; ++i) extra.emplace_back(argv[i]);
  std::string problem;
  const std::optional<pv::TAutoOptions> options = pv::ParseAutoOptions(extra, problem);
  if (!options) {
    PrintError(pv::EscapeMarkup(problem + "\n" + pv::AutoUsageText));
    return 2;
  }

  QCoreApplication app(argc, argv);
  QCoreApplication::setApplicationName(kTitle);
  pv::THeadlessView view;
  pv::TMainFrm frm(view, nullptr);
  frm.FormCreate();
  // An encoding given here serves this run only; the stored "Als ANSI" stays as it is.
  const pv::TOutputChoice choice{options->Version, options->AsAnsi.value_or(view.AsAnsi())};
  frm.StartExport(Arg(argc, argv, 2), Arg(argc, argv, 3), true, choice);
  QCoreApplication::exec();
  frm.FormDestroy();
  if (frm.ResultOk()) return 0;
  PrintError(frm.ResultText().empty() ? "Export fehlgeschlagen." : frm.ResultText());
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  // --help, --version and a window without a display are settled before Qt starts.
  if (const int code =
          pv::HandleStartOptions(argc, argv, pv::SystemStartEnvironment(), stdout, stderr);
      code >= 0)
    return code;
  if (Arg(argc, argv, 1) == "AUTO") return RunSilentExport(argc, argv);
  if (Arg(argc, argv, 1) == "SYNC") return pv::RunSyncCommand(argc, argv);
  QApplication app(argc, argv);
  QCoreApplication::setApplicationName(kTitle);
  return pv::RunMainWindow(app);
}
