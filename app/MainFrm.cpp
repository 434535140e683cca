#include "app/MainFrm.h"

#include <QCoreApplication>
#include <array>
#include <string_view>

#include "carddav/SyncJob.h"
#include "export/PVAdressJob.h"
#include "export/StrUtils.h"
#include "files/AnsiText.h"
#include "files/FileUtil.h"
#include "files/Folders.h"
#include "settings/UserMode.h"

namespace pv {
namespace {

constexpr const char* kAsAnsiKey = "AsAnsi";
constexpr const char* kParvelaMissing = "Parvela <b>fehlt</b>!";
constexpr const char* kFinished = "<b>Fertig!</b><br>";
constexpr const char* kFailed = "<b>Fehler!</b><br>";
constexpr const char* kDesktopFile = "pv.vcf";
constexpr const char* kLedgerName = "vCard.Export/calc.txt";
constexpr int kPoolMinThreads = 10;
constexpr int kPoolMaxThreads = 5;
constexpr const char* kDialogKeyPrefix = "PXOpenSaveFile.";
constexpr const char* kFilterIndexSuffix = ".FI";

// The options of the silent export: each sets the version or the encoding.
struct TAutoOption {
  std::string_view text;
  std::optional<TvCardVersion> version;
  std::optional<bool> asAnsi;
};
constexpr std::array<TAutoOption, 4> kAutoOptions = {{
    {"--vcard=3.0", vv30, std::nullopt},
    {"--vcard=4.0", vv40, std::nullopt},
    {"--utf8", std::nullopt, false},
    {"--ansi", std::nullopt, true},
}};

// Why options are refused (Windows-1252).
constexpr const char* kUnknownOption = "Unbekannte Angabe: ";
constexpr const char* kContradictingOption =
    "Widerspr\xFC"
    "chliche Angabe: ";
constexpr const char* kAnsiWith30 =
    "--ansi geht nicht mit --vcard=3.0: vCard 3.0 wird immer in UTF-8 geschrieben.";

// Sets target from value unless it holds another value already; false on a contradiction.
template <class T>
bool Take(std::optional<T>& target, const std::optional<T>& value) {
  if (!value) return true;
  if (target && *target != *value) return false;
  target = value;
  return true;
}

// The markup's entities that the terminal shows as their character (Windows-1252).
struct TEntity {
  std::string_view name;
  char ch;
};
constexpr std::array<TEntity, 6> kEntities = {{
    {"&amp;", '&'},
    {"&lt;", '<'},
    {"&gt;", '>'},
    {"&quot;", '"'},
    {"&nbsp;", ' '},
    {"&euro;", '\x80'},
}};

constexpr size_t npos = std::string_view::npos;

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && AnsiSameText(text.substr(0, prefix.size()), prefix);
}

TJobCreatedHook& JobCreatedHook() {
  static TJobCreatedHook hook;
  return hook;
}

}  // namespace

TJobCreatedHook SetJobCreatedHook(TJobCreatedHook hook) {
  std::swap(JobCreatedHook(), hook);
  return hook;
}

const char* const AutoUsageText =
    "Aufruf: vcard-parvela AUTO <Datenbankordner> <Datei> [--vcard=3.0|--vcard=4.0] "
    "[--utf8|--ansi]\n"
    "  --vcard=3.0  vCard 3.0 f\xFCr Android und iPhone, immer in UTF-8\n"
    "  --vcard=4.0  vCard 4.0 (ohne Angabe)\n"
    "  --utf8       in UTF-8 schreiben, --ansi in Windows-1252 (ohne Angabe: wie zuletzt im "
    "Fenster gew\xE4hlt)";

std::optional<TAutoOptions> ParseAutoOptions(const std::vector<std::string>& args,
                                             std::string& problem) {
  std::optional<TvCardVersion> version;
  std::optional<bool> asAnsi;
  for (const std::string& arg : args) {
    const TAutoOption* option = nullptr;
    for (const TAutoOption& o : kAutoOptions) {
      if (o.text == arg) option = &o;
    }
    if (option == nullptr) {
      problem = kUnknownOption + Utf8ToAnsi(arg);
      return std::nullopt;
    }
    if (!Take(version, option->version) || !Take(asAnsi, option->asAnsi)) {
      problem = kContradictingOption + Utf8ToAnsi(arg);
      return std::nullopt;
    }
  }
  if (version == vv30 && asAnsi.value_or(false)) {
    problem = kAnsiWith30;
    return std::nullopt;
  }
  problem.clear();
  return TAutoOptions{version.value_or(vv40), asAnsi};
}

std::string EscapeMarkup(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (const char ch : text) {
    switch (ch) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      default:
        out += ch;
    }
  }
  return out;
}

std::string MessageForTerminal(const std::string& markup) {
  std::string plain;
  std::string_view rest = markup;
  while (!rest.empty()) {
    const size_t end = rest.front() == '<' ? rest.find('>') : npos;
    if (end != npos) {
      if (StartsWithNoCase(rest, "<br") && std::string_view(">/ ").find(rest[3]) != npos) {
        plain += '\n';
      }
      rest.remove_prefix(end + 1);
      continue;
    }
    const TEntity* entity = nullptr;
    for (const TEntity& e : kEntities) {
      if (rest.front() == '&' && StartsWithNoCase(rest, e.name)) entity = &e;
    }
    plain += entity ? entity->ch : rest.front();
    rest.remove_prefix(entity ? entity->name.size() : 1);
  }
  return AnsiToUtf8(plain);
}

TMainFrm::TMainFrm(TMainView& view, TValueRequest request)
    : view_(view), request_(std::move(request)) {}

TMainFrm::~TMainFrm() {
  if (FPool || FMsgWnd) FormDestroy();
}

void TMainFrm::FormCreate() {
  closing_ = false;
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
  // A running sync stops at once, its ledger holding what the server confirmed; the pool waits
  // for it.
  closing_ = true;
  if (syncStop_) syncStop_->store(true);
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
  StartExport(FDBPath, folder + kDesktopFile, view_.OnlyChanges(), StoredChoice());
}

void TMainFrm::HTMLabel1AnchorClick(const std::string&) {
  if (!AskDatabaseFolder()) return;
  const std::string file = view_.AskOutputFile();
  if (file.empty()) return;
  view_.SetRunning(true);
  FQuiet = false;
  // The dialog has just stored the chosen filter with the other settings.
  StartExport(FDBPath, file, view_.OnlyChanges(), StoredChoice());
}

void TMainFrm::StartExport(const std::string& dbPath, const std::string& outFile, bool onlyChanges,
                           const TOutputChoice& choice) {
  // Phones read a 3.0 file as UTF-8 only.
  const bool asAnsi = choice.Version != vv30 && choice.AsAnsi;
  auto job = std::make_unique<TPVAdressJob>(FMsgWnd, outFile, dbPath, LedgerFileName(), onlyChanges,
                                            asAnsi, choice.Version);
  if (const TJobCreatedHook hook = JobCreatedHook()) hook(*job);
  FPool->AddJob(std::move(job));
}

TOutputChoice TMainFrm::StoredChoice() const {
  const std::string key = std::string(kDialogKeyPrefix) + OutputDialogKey + kFilterIndexSuffix;
  const bool for30 = ReadModeInteger(key, 1) == OutputFilterVCard30;
  return TOutputChoice{for30 ? vv30 : vv40, view_.AsAnsi()};
}

bool TMainFrm::SyncClick(const TSyncSettingsRequest& settings) {
  if (SyncRunning() || syncAsking_ || !FPool || closing_) return false;
  // The settings may ask in a dialog of their own; no second sync starts meanwhile.
  syncAsking_ = true;
  carddav::TSyncSettings s;
  bool asked = false;
  if (AskDatabaseFolder() && settings) {
    s.DbFolder = FDBPath;
    asked = settings(s);
  }
  syncAsking_ = false;
  if (!asked || s.Url.isEmpty() || !FPool || closing_) return false;
  s.VCardVersion = StoredChoice().Version == vv30 ? "3.0" : "4.0";
  syncStop_ = std::make_shared<std::atomic<bool>>(false);
  view_.SetSyncing(true);
  FPool->AddJob(std::make_unique<carddav::TCardDavJob>(FMsgWnd, std::move(s), syncStop_));
  return true;
}

void TMainFrm::SyncDone(std::unique_ptr<TResultCell> cell) {
  syncStop_.reset();
  syncOk_ = cell && cell->Ok;
  syncText_ = cell ? cell->Text : std::string();
  if (closing_) return;  // the window is going: nobody to tell
  view_.SetSyncing(false);
  view_.ShowMessage((syncOk_ ? kFinished : kFailed) +
                    ReplaceAll(EscapeMarkup(syncText_), "\n", "<br>"));
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
  } else if (message.Msg == WM_SYNCDONE) {
    SyncDone(std::unique_ptr<TResultCell>(reinterpret_cast<TResultCell*>(message.WParam)));
  }
  message.Result = message.Msg == WM_QUERYENDSESSION
                       ? 1
                       : DefWindowProc(FMsgWnd, message.Msg, message.WParam, message.LParam);
}

}  // namespace pv
