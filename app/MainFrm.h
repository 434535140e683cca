// The main window's logic: start-up and shut-down, the two ways to start an export, the start of
// the export job on the pool and the hand-back of its result. What it needs of the visible window
// goes through TMainView, so the silent command-line run uses the same logic with no widget at all.
#pragma once

#include <memory>
#include <string>

#include "app/UtilWindow.h"
#include "export/WorkerThreadPool.h"

namespace pv {

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
};

// Asks the host service for a value (the database folder); empty when it cannot be reached.
using TValueRequest = std::function<std::string(const std::string& name)>;

class TMainFrm {
 public:
  TMainFrm(TMainView& view, TValueRequest request);
  ~TMainFrm();

  void FormCreate();
  void FormDestroy();
  void FlatButton1Click();
  void HTMLabel1AnchorClick(const std::string& anchor);
  void StartExport(const std::string& dbPath, const std::string& outFile, bool onlyChanges);
  std::string LedgerFileName() const;
  void MsgWndProc(TMessage& message);

  // The outcome of the export that ended the run: set when WM_EXPORTDONE arrives.
  bool Finished() const { return finished_; }
  bool ResultOk() const { return resultOk_; }
  const std::string& ResultText() const { return resultText_; }

 private:
  bool AskDatabaseFolder();

  TMainView& view_;
  TValueRequest request_;
  std::unique_ptr<TWorkerThreadPool> FPool;
  HWND FMsgWnd = nullptr;
  bool FQuiet = true;
  std::string FDBPath;
  bool settingsUsable_ = false;

  bool finished_ = false;
  bool resultOk_ = false;
  std::string resultText_;
};

}  // namespace pv
