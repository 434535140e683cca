// The main window's logic: start-up and shut-down, the two ways to start an export, the start of
// the export job on the pool and the hand-back of its result. What it needs of the visible window
// goes through TMainView, so the silent command-line run uses the same logic with no widget at all.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/UtilWindow.h"
#include "export/WorkerThreadPool.h"
#include "vcard/Contact.h"

namespace pv {

class TPVAdressJob;
namespace carddav {
struct TSyncSettings;
}

// The save dialog of the start by the link: its settings key and its filter text (Windows-1252).
// The second filter chooses vCard 3.0 for phones; its index is remembered under
// "PXOpenSaveFile.Rolodeck.FI" and also decides the format of a start by "Los!".
inline constexpr const char* OutputDialogKey = "Rolodeck";
inline constexpr const char* OutputFileFilter =
    "VCard|*.vcf|VCard 3.0 f\xFCr Android und iPhone|*.vcf";
inline constexpr int OutputFilterVCard30 = 2;

// The format of one export's file.
struct TOutputChoice {
  TvCardVersion Version = vv40;
  bool AsAnsi = true;  // Windows-1252 instead of UTF-8; never for 3.0, which is always UTF-8
};

// What the silent export was asked for after its two paths.
struct TAutoOptions {
  TvCardVersion Version = vv40;
  std::optional<bool> AsAnsi;  // --ansi or --utf8; none: the stored "Als ANSI"
};

// The options after AUTO's database folder and file, as the command line gives them (UTF-8):
// "--vcard=3.0" or "--vcard=4.0", "--utf8" or
// "--ansi", each at most once (a repeat of the same option is harmless). Anything else, two
// contradicting options or "--ansi" with "--vcard=3.0" give nothing, and problem (Windows-1252)
// says why.
std::optional<TAutoOptions> ParseAutoOptions(const std::vector<std::string>& args,
                                             std::string& problem);

// The usage text of the silent export (Windows-1252).
extern const char* const AutoUsageText;

// Windows-1252 text made safe inside the message markup: "&" as "&amp;", "<" as "&lt;", ">" as
// "&gt;".
std::string EscapeMarkup(const std::string& text);

// A message in the markup (Windows-1252) as a terminal shows it: UTF-8, each "<br>" a line break,
// other tags dropped, the entities "&amp;", "&lt;", "&gt;", "&quot;", "&nbsp;" and "&euro;" as
// their characters.
std::string MessageForTerminal(const std::string& markup);

// The controls and dialogs the logic reads and drives.
class TMainView {
 public:
  virtual ~TMainView() = default;
  virtual bool OnlyChanges() const = 0;  // CheckBox1, "Nur Änderungen schreiben"
  virtual bool AsAnsi() const = 0;       // CheckBoxAnsi, "Als ANSI"
  virtual void SetAsAnsi(bool value) = 0;
  // Running: the form disabled, the progress indicator visible and turning. Not running: the
  // progress indicator hidden.
  virtual void SetRunning(bool running) = 0;
  virtual void ShowMessage(const std::string& html) = 0;  // modal
  // The save dialog for the output file; empty when cancelled.
  virtual std::string AskOutputFile() = 0;
  virtual void Close() = 0;  // ends the program's message loop
  // A sync to the online address book runs (or no longer runs): the progress indicator turns, the
  // form stays usable and can be closed.
  virtual void SetSyncing(bool /*syncing*/) {}
};

// Asks the host service for a value (the database folder); empty when it cannot be reached.
using TValueRequest = std::function<std::string(const std::string& name)>;

// Fills in the online address book's address, user and password for a sync (the database folder
// and the vCard version are set already); false when none is set up: nothing is sent.
using TSyncSettingsRequest = std::function<bool(carddav::TSyncSettings& settings)>;

// Test seam: sees each export job of every TMainFrm just before it is queued. Null: none.
// Returns the previous hook (for TScopedOverride). Window thread only.
using TJobCreatedHook = std::function<void(const TPVAdressJob&)>;
TJobCreatedHook SetJobCreatedHook(TJobCreatedHook hook);

class TMainFrm {
 public:
  TMainFrm(TMainView& view, TValueRequest request);
  ~TMainFrm();

  void FormCreate();
  void FormDestroy();
  void FlatButton1Click();
  void HTMLabel1AnchorClick(const std::string& anchor);
  // Queues one export job writing the file in the given format (3.0 always as UTF-8).
  void StartExport(const std::string& dbPath, const std::string& outFile, bool onlyChanges,
                   const TOutputChoice& choice);
  std::string LedgerFileName() const;
  // The format the window exports in: the version remembered with the save dialog's filter and
  // the state of "Als ANSI".
  TOutputChoice StoredChoice() const;
  void MsgWndProc(TMessage& message);

  // "Jetzt ins Online-Adressbuch senden": unless a sync runs already, asks the host for the
  // database folder, lets settings fill in the address book and queues the sync job with the
  // vCard version the file export uses. The result comes in the message box; the window stays
  // open. False when no sync was started.
  bool SyncClick(const TSyncSettingsRequest& settings);
  // From SyncClick until the job's result has arrived.
  bool SyncRunning() const { return syncStop_ != nullptr; }
  // The outcome of the last sync (plain text, Windows-1252); set when WM_SYNCDONE arrives.
  bool SyncOk() const { return syncOk_; }
  const std::string& SyncText() const { return syncText_; }

  // The outcome of the export that ended the run: set when WM_EXPORTDONE arrives.
  bool Finished() const { return finished_; }
  bool ResultOk() const { return resultOk_; }
  const std::string& ResultText() const { return resultText_; }

 private:
  bool AskDatabaseFolder();
  void SyncDone(std::unique_ptr<TResultCell> cell);

  TMainView& view_;
  TValueRequest request_;
  std::unique_ptr<TWorkerThreadPool> FPool;
  HWND FMsgWnd = nullptr;
  bool FQuiet = true;
  std::string FDBPath;
  bool settingsUsable_ = false;

  bool closing_ = false;  // FormDestroy has begun: a sync's result is shown to nobody
  bool syncAsking_ = false;
  // Set to true to end the running sync early; null while none runs.
  std::shared_ptr<std::atomic<bool>> syncStop_;
  bool syncOk_ = false;
  std::string syncText_;

  bool finished_ = false;
  bool resultOk_ = false;
  std::string resultText_;
};

}  // namespace pv
