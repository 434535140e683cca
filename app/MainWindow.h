// The main window "Vcard" as the user sees it: the explanatory label with its link, "Los!", the
// two check boxes and the spinning progress indicator, driven by TMainFrm.
#pragma once

#include <QApplication>
#include <QWidget>
#include <functional>
#include <memory>
#include <string>

#include "app/MainFrm.h"

class QCheckBox;
class QPushButton;

namespace pv {

class TBalloonTip;
class TCircularProgress;
class THTMLabel;

class TMainWindow : public QWidget, public TMainView {
  Q_OBJECT

 public:
  // Builds the form and its controls and runs FormCreate (settings folder, "Als ANSI" from the
  // settings, pool, hidden window). request asks the host service for a value; empty: the real
  // host link. A failing FormCreate is reported in the message box and leaves a window that
  // starts no export.
  explicit TMainWindow(TValueRequest request = {});
  // Runs FormDestroy unless that has happened (waits for a running export, writes AsAnsi).
  ~TMainWindow() override;

  TMainFrm& Frm() { return *FFrm; }

  // TMainView
  bool OnlyChanges() const override;
  bool AsAnsi() const override;
  void SetAsAnsi(bool value) override;
  void SetRunning(bool running) override;
  void ShowMessage(const std::string& html) override;
  std::string AskOutputFile() override;
  void Close() override;
  void SetSyncing(bool syncing) override;

  // Called once the window has closed (by Close, Escape or the title bar); the program ends its
  // event loop here.
  std::function<void()> OnClosed;

  // The balloon over "Los!", once the window has been shown.
  TBalloonTip* Balloon() const;

  // The components, named as in the form, in tab and creation order.
  THTMLabel* HTMLabel1;
  TCircularProgress* CircularProgress1;
  QPushButton* FlatButton1;
  QCheckBox* CheckBox1;
  QCheckBox* CheckBoxAnsi;

 protected:
  bool eventFilter(QObject* watched, QEvent* e) override;
  void showEvent(QShowEvent* e) override;
  void closeEvent(QCloseEvent* e) override;

 private:
  void CreateControls();
  void CreateLabel();
  void CreateProgress();
  void CreateButtonAndBoxes();
  void DescribeControls();
  // Makes the fonts of controls whose captions would not fit smaller (a wider fall-back font).
  void FitCaptions();
  void FormShow();
  // The form's look at the keys before its controls: true when the key was used here.
  bool FormKeyDown(int key);

  std::unique_ptr<TMainFrm> FFrm;
  bool FClosing = false;  // Close() asked for the end of the run
  bool FClosed = false;
};

// Creates and shows the main window, runs the event loop until the window closes and the
// program's shut-down has run; returns the exit code.
int RunMainWindow(QApplication& app);

}  // namespace pv
