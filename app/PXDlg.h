// The program's message box: a white, always-on-top modal dialog whose text is mini-HTML, shown by
// ShowHTMLMessage; the text preparation it applies; and the pool that opens clicked links.
#pragma once

#include <QDialog>
#include <QSize>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "files/ScopedOverride.h"
#include "widgets/HTMLShell.h"

class QComboBox;
class QLabel;
class QPushButton;
class QScreen;

namespace pv {

class THTMLabel;
class TWorkerThreadPool;

enum class TModalResult { mrNone = 0, mrOk = 1, mrCancel = 2 };

// Source with every occurrence of find replaced by replacement, scanning from the left without
// overlaps; letters compare without regard to case (Windows-1252). An empty source gives "", an
// empty find or one longer than source gives source unchanged.
std::string ReplaceAllText(std::string_view source, std::string_view find,
                           std::string_view replacement);

// The text as the message control receives it: CR LF and every "<br>" (any case) become one line
// break; leading empty lines are dropped; lines are joined with "<br>". After the 21st line, when
// more follow, comes a row of 16 dots and then only the text's last line.
std::string PrepareMessageText(std::string_view text);

// Shows text (mini-HTML, Windows-1252) modally and returns when the user has closed the box; the
// result tells how (mrCancel for a key, the close button or a link, mrOk for a modified Enter).
// helpText: shown below the message after a click on "Hilfe" (no such button when empty).
// caption: the title; empty gives the application's display name.
TModalResult ShowHTMLMessage(const std::string& text, const std::string& helpText = {},
                             const std::string& caption = {});

// Test seam: when set, ShowHTMLMessage calls hook instead of showing the box and returns its
// answer. Null restores the box. Returns the previous hook (for TScopedOverride). Window thread
// only.
using THTMLMessageHook = std::function<TModalResult(
    const std::string& text, const std::string& helpText, const std::string& caption)>;
THTMLMessageHook SetHTMLMessageHook(THTMLMessageHook hook);

// What the last ShowHTMLMessage was given (also with a hook), and how many calls there were.
struct THTMLMessageRecord {
  std::string text;
  std::string helpText;
  std::string caption;
  int count = 0;
};
const THTMLMessageRecord& LastHTMLMessage();

// The process-wide pool (minimum 1, maximum 5 threads) for shell jobs. The program creates one on
// the window thread at start and destroys it at the end; while it lives OpenLinkInShell (see
// widgets/HTMLShell.h) runs its targets as jobs here.
class TShellJobPool {
 public:
  TShellJobPool();
  // Waits for a running job to finish; queued jobs are dropped.
  ~TShellJobPool();
  TShellJobPool(const TShellJobPool&) = delete;
  TShellJobPool& operator=(const TShellJobPool&) = delete;

  TWorkerThreadPool& Pool() { return *FPool; }

 private:
  std::unique_ptr<TWorkerThreadPool> FPool;
  // Installed after the pool exists and removed before it goes.
  TScopedOverride<TShellJobRunner> FRunner;
};

// The message box. The program only shows its message use (text, "Schließen", optionally
// "Hilfe"); the question and input panels exist and stay hidden.
class TFSB_BOX : public QDialog {
 public:
  // screenSize: the size that decides the font sizes and the height limit; empty: the size of the
  // monitor that shows the program's active window, else its first top-level window, else the
  // primary monitor. The box is centred in that monitor's work area when shown.
  explicit TFSB_BOX(QWidget* owner = nullptr, QSize screenSize = {});
  ~TFSB_BOX() override;

  // Prepares the message use: the text, the caption and the help button (the steps that
  // ShowHTMLMessage takes between creating and showing the box).
  void Setup(const std::string& text, const std::string& helpText, const std::string& caption);

  // Closes the box with this result (a modal loop returns it).
  void Close(TModalResult result) { done(static_cast<int>(result)); }
  TModalResult ModalResult() const { return static_cast<TModalResult>(result()); }
  int MaxHeight() const { return FMaxHeight; }
  // The client area: the box less its 2-pixel border; the text and the panels are its children.
  QWidget* Client() const { return FClient; }
  const std::string& HelpText() const { return FHelpText; }

  // The components, named as in the form.
  QWidget* Pmsg;
  QLabel* Image1;
  QWidget* Panel2;
  QPushButton* FB_BREAK2;
  QPushButton* FBhelpS;
  QWidget* FP_help;
  QWidget* Pquestion;
  QLabel* Image2;
  QWidget* Panel1;
  QPushButton* FB_OK;
  QPushButton* FB_BREAK1;
  QPushButton* FBhelpQ;
  QWidget* Pinput;
  QWidget* FlatPanel1;
  QLabel* Label1;
  QComboBox* FINPE;
  QWidget* Panel3;
  QPushButton* FB_ICANCEL;
  QPushButton* FB_IOK;
  QPushButton* FB_HELPI;
  THTMLabel* FHelpHTML;
  THTMLabel* FMsgHTML;

  void reject() override;

 protected:
  bool eventFilter(QObject* watched, QEvent* e) override;
  void showEvent(QShowEvent* e) override;
  void changeEvent(QEvent* e) override;

 private:
  void CreatePanels();
  void ConnectButtons();
  void FormCreate(QSize screenSize);
  void FormShow();
  // true when the key was handled here and must not reach the control.
  bool FormKeyDown(QKeyEvent* e);
  void FB_BREAK1Click();
  void FBhelpQClick(QPushButton* sender);
  void LinkClick(const std::string& target);
  void MoveButtonFocus(int step);
  QWidget* VisiblePanel() const;
  void SetClientHeight(int height);

  std::string FHelpText;
  bool FLinkClosed = false;
  int FMaxHeight = 0;
  QScreen* FScreen = nullptr;
  QWidget* FClient = nullptr;
};

}  // namespace pv
