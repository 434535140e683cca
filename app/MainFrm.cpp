#include "app/MainFrm.h"

#include <QCoreApplication>

#include "export/PVAdressJob.h"
#include "files/AnsiText.h"
#include "files/FileUtil.h"
#include "files/Folders.h"
#include "settings/UserMode.h"

namespace pv {
namespace {

constexpr const char* kAsAnsiKey = "AsAnsi";
constexpr const char* kParvelaMissing = "Parvela <b>fehlt</b>!";
constexpr const char* kFinished = "<b>Fertig!</b><br>";
constexpr const char* kDesktopFile = "pv.vcf";
constexpr const char* kLedgerName = "vCard.Export/calc.txt";
constexpr int kPoolMinThreads = 10;
constexpr int kPoolMaxThreads = 5;

}  // namespace

TMainFrm::TMainFrm(TMainView& view, TValueRequest request)
    : view_(view), request_(std::move(request)) {}

TMainFrm::~TMainFrm() {
  if (FPool || FMsgWnd) FormDestroy();
}

void TMainFrm::FormCreate() {
  // A settings folder that another user could change is not used: the defaults stand.
  const std::string folder = GetWorkFolder("vcard");
  settingsUsable_ = IsPrivateFolder(folder);
  if (settingsUsable_) SetSettingsFolder(folder);
  view_.SetAsAnsi(settingsUsable_ ? ReadModeBool(kAsAnsiKey, true) : true);
  FQuiet = true;
  FPool = std::make_unique<TWorkerThreadPool>(kPoolMinThreads, kPoolMaxThreads);
  // While the pool waits for a running job at shut-down, the job's messages are still delivered.
  FPool->SetMessagePump([] { QCoreApplication::processEvents(); });
  FMsgWnd = AllocateUtilWindow([this](TMessage& m) { MsgWndProc(m); });
}

void TMainFrm::FormDestroy() {
  FPool.reset();
  if (FMsgWnd) DeallocateUtilWindow(FMsgWnd);
  FMsgWnd = nullptr;
  if (settingsUsable_) WriteModeBool(kAsAnsiKey, view_.AsAnsi());
  settingsUsable_ = false;
}

bool TMainFrm::AskDatabaseFolder() {
  // The host hands the folder as Windows-1252 text; file names here are UTF-8.
  FDBPath = AnsiToUtf8(request_ ? request_("DBPATH") : std::string());
  if (!FDBPath.empty()) return true;
  view_.ShowMessage(kParvelaMissing);
  return false;
}

void TMainFrm::FlatButton1Click() {
  if (!AskDatabaseFolder()) return;
  const std::string folder = AddBackslash(GetSpecialFolder(CSIDL_DESKTOP));
  view_.SetRunning(true);
  FQuiet = false;
  StartExport(FDBPath, folder + kDesktopFile, view_.OnlyChanges());
}

void TMainFrm::HTMLabel1AnchorClick(const std::string&) {
  if (!AskDatabaseFolder()) return;
  const std::string file = view_.AskOutputFile();
  if (file.empty()) return;
  view_.SetRunning(true);
  FQuiet = false;
  StartExport(FDBPath, file, view_.OnlyChanges());
}

void TMainFrm::StartExport(const std::string& dbPath, const std::string& outFile,
                           bool onlyChanges) {
  FPool->AddJob(std::make_unique<TPVAdressJob>(FMsgWnd, outFile, dbPath, LedgerFileName(),
                                               onlyChanges, view_.AsAnsi()));
}

std::string TMainFrm::LedgerFileName() const {
  return FDBPath.empty() ? std::string() : AddBackslash(FDBPath) + kLedgerName;
}

void TMainFrm::MsgWndProc(TMessage& message) {
  if (message.Msg == WM_EXPORTDONE) {
    std::unique_ptr<TResultCell> cell(reinterpret_cast<TResultCell*>(message.WParam));
    finished_ = true;
    resultOk_ = cell && cell->Ok;
    resultText_ = cell ? cell->Text : std::string();
    view_.SetRunning(false);
    if (!FQuiet) view_.ShowMessage(kFinished + resultText_);
    cell.reset();
    view_.Close();
  }
  message.Result = message.Msg == WM_QUERYENDSESSION
                       ? 1
                       : DefWindowProc(FMsgWnd, message.Msg, message.WParam, message.LParam);
}

}  // namespace pv
