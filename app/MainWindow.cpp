#include "app/MainWindow.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>
#include <QStyle>
#include <QStyleOptionButton>
#include <algorithm>
#include <exception>

#include "app/CardDavDialog.h"
#include "app/FileDialog.h"
#include "app/MainWindowBalloon.h"
#include "app/PXDlg.h"
#include "app/ProgramLook.h"
#include "hostlink/HostValue.h"
#include "widgets/AnsiQt.h"
#include "widgets/CircularProgress.h"
#include "widgets/HTMLabel.h"

namespace pv {
namespace {

// A colour given as a number in blue-green-red order ($BBGGRR).
constexpr QRgb Bgr(unsigned v) { return qRgb(v & 0xFF, (v >> 8) & 0xFF, (v >> 16) & 0xFF); }

constexpr const char* kCaption = "Vcard";
constexpr int kClientWidth = 265;
constexpr int kClientHeight = 185;
constexpr int kMinWidth = 200;
constexpr int kFontPixels = 12;

constexpr const char* kLabelText =
    "Die erstellte Datei k\xF6nnen Sie in die g\xE4ngigen <B>Webapplicationen </B>einlesen, und "
    "damit auch <B>Smartphones </B>zur Verf\xFCgung stellen. <A href=\"x\">Verzeichnis "
    "w\xE4hlen und Datei erstellen</A>.";
constexpr const char* kButtonCaption = "Los!";
constexpr const char* kOnlyChangesCaption = "Nur \xC4nderungen schreiben";
constexpr const char* kAnsiCaption = "Als ANSI";

// Where each control sits: left, top, width, height.
struct TPlace {
  int left, top, width, height;
};
constexpr TPlace kLabelPlace{9, 12, 240, 76};
constexpr TPlace kProgressPlace{30, 94, 50, 50};
constexpr TPlace kButtonPlace{158, 96, 89, 49};
constexpr TPlace kOnlyChangesPlace{8, 154, 181, 17};
constexpr TPlace kAnsiPlace{188, 154, 137, 17};  // wider than the form; its text fits

constexpr QRgb kLinkColor = Bgr(0xFF0000);
constexpr QRgb kActiveSegment = Bgr(0xFF9F9F);
constexpr QRgb kTransitionSegment = Bgr(0xA00000);
constexpr QRgb kProgressSegment = Bgr(0x400080);
constexpr unsigned kProgressInterval = 100;

// The face $E1BF9D with a slightly darker frame: flat, square corners.
constexpr const char* kButtonStyle =
    "QPushButton { background-color: #9DBFE1; color: black; border: 1px solid #7594B3;"
    " border-radius: 0px; }"
    "QPushButton:hover { background-color: #AECBE7; }"
    "QPushButton:pressed { background-color: #88AACD; }"
    "QPushButton:focus { border: 1px solid #000080; }"
    "QPushButton:disabled { color: #808080; }";

constexpr int kBalloonIcon = 1;  // information
constexpr const char* kBalloonTitle = "Hinweis";
constexpr const char* kBalloonText =
    "Es wird die Datei \"pv.vcf\" automatisch auf dem Desktop erstellt.";
constexpr QRgb kBalloonBack = Bgr(0xFF0000);  // blue
constexpr QRgb kBalloonInk = Bgr(0x800000);   // navy

// The save dialog of the start by the link.
constexpr const char* kDialogKey = OutputDialogKey;
constexpr const char* kDialogFilter = OutputFileFilter;
constexpr const char* kDialogExt = ".vcf";
constexpr const char* kDialogName = "PV.vcf";

void Place(QWidget* w, const TPlace& p) { w->setGeometry(p.left, p.top, p.width, p.height); }

// Fitting the captions to a fall-back font.
constexpr int kCaptionGap = 2;     // free pixels between a caption and its neighbour
constexpr int kMinFontPixels = 9;  // no control's font gets smaller than this

// The right edge of a check box's caption, in its parent's coordinates.
int CaptionRight(const QCheckBox* box) {
  QStyleOptionButton option;
  option.initFrom(box);
  option.text = box->text();
  const QRect contents = box->style()->subElementRect(QStyle::SE_CheckBoxContents, &option, box);
  return box->x() + contents.x() + box->fontMetrics().horizontalAdvance(box->text());
}

void FitCaption(QCheckBox* box, int right) {
  QFont font = box->font();
  while ((CaptionRight(box) > right || box->fontMetrics().height() > box->height()) &&
         font.pixelSize() > kMinFontPixels) {
    font.setPixelSize(font.pixelSize() - 1);
    box->setFont(font);
  }
}

// The bottom of the label's text, in the label's coordinates.
int TextBottom(const THTMLabel* label) {
  const THTMLLayout& layout = label->Layout();
  return layout.lines.empty() ? 0 : layout.lines.back().rect.bottom() + 1;
}

// What assistive technology reads for each control.
constexpr const char* kAccessibleWindow = "vCard Parvela: Adressen als vCard-Datei ausgeben";
struct TDescription {
  QWidget* (*control)(TMainWindow& w);
  const char* name;
  const char* description;
};
const TDescription kDescriptions[] = {
    {[](TMainWindow& w) -> QWidget* { return w.HTMLabel1; },
     "Verzeichnis w\xE4hlen und Datei erstellen",
     "Die erstellte Datei k\xF6nnen Sie in die g\xE4ngigen Webapplicationen einlesen, und damit "
     "auch Smartphones zur Verf\xFCgung stellen. Der Verweis fragt nach Ordner und Namen der "
     "Datei und erstellt sie dann."},
    {[](TMainWindow& w) -> QWidget* { return w.FlatButton1; }, "Los!",
     "Erstellt die Datei pv.vcf auf dem Desktop."},
    {[](TMainWindow& w) -> QWidget* { return w.CheckBox1; }, "Nur \xC4nderungen schreiben",
     "Schreibt nur die Adressen, die seit der letzten Ausgabe neu sind oder sich ge\xE4ndert "
     "haben."},
    {[](TMainWindow& w) -> QWidget* { return w.CheckBoxAnsi; }, "Als ANSI",
     "Schreibt die Datei im Zeichensatz Windows-1252 statt in UTF-8."},
    {[](TMainWindow& w) -> QWidget* { return w.CircularProgress1; }, "Fortschritt",
     "Dreht sich, solange die Datei erstellt wird."},
};

QFont FormFont() {
  QFont f(UiFontFamily());
  f.setPixelSize(kFontPixels);
  return f;
}

}  // namespace

TMainWindow::TMainWindow(TValueRequest request)
    : QWidget(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                           Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                           Qt::MSWindowsFixedSizeDialogHint) {
  if (!request) request = [](const std::string& name) { return ReadIPCValueSync(name, false, ""); };
  InstallCardDavMenu(*this);
  FFrm = std::make_unique<TMainFrm>(*this, std::move(request));
  CreateControls();
  try {
    FFrm->FormCreate();
  } catch (const std::exception& e) {
    // Without its pool or hidden window no export could run or report back.
    ShowHTMLMessage(EscapeMarkup(e.what()));
    FlatButton1->setEnabled(false);
    HTMLabel1->setEnabled(false);
  }
}

TMainWindow::~TMainWindow() { FFrm.reset(); }

void TMainWindow::CreateControls() {
  setWindowTitle(AnsiToQString(kCaption));
  setWindowIcon(ProgramIcon());
  setMinimumWidth(kMinWidth);
  setFixedSize(kClientWidth, kClientHeight);
  setFont(FormFont());
  // The whole palette, not just the background: a dark desktop theme must not put its light
  // text on this white form.
  setPalette(FormPalette());
  setAutoFillBackground(true);
  if (QScreen* screen = QGuiApplication::primaryScreen())
    move(screen->availableGeometry().center() - rect().center());

  CreateLabel();
  CreateProgress();
  CreateButtonAndBoxes();
  DescribeControls();
  FitCaptions();

  setTabOrder(FlatButton1, CheckBox1);
  setTabOrder(CheckBox1, CheckBoxAnsi);
  setTabOrder(CheckBoxAnsi, HTMLabel1);  // the link: the other way to start, by the save dialog
  // Key preview: the form sees the keys of every control first.
  for (QWidget* w : {static_cast<QWidget*>(this), static_cast<QWidget*>(HTMLabel1),
                     static_cast<QWidget*>(FlatButton1), static_cast<QWidget*>(CheckBox1),
                     static_cast<QWidget*>(CheckBoxAnsi)})
    w->installEventFilter(this);
}

void TMainWindow::CreateLabel() {
  HTMLabel1 = new THTMLabel(this);
  Place(HTMLabel1, kLabelPlace);
  HTMLabel1->SetURLColor(QColor(kLinkColor));
  HTMLabel1->SetVAlignment(TVAlignment::tvaTop);
  HTMLabel1->SetAutoSizeType(TAutoSizeType::asVertical);
  HTMLabel1->SetAutoSizing(true);
  // Every anchor of this label starts the export with the save dialog.
  HTMLabel1->SetOpenLinksInShell(false);
  HTMLabel1->SetHTMLString(kLabelText);
  HTMLabel1->OnAnchorClick = [this](THTMLabel*, const std::string& anchor) {
    FFrm->HTMLabel1AnchorClick(anchor);
  };
}

void TMainWindow::CreateProgress() {
  CircularProgress1 = new TCircularProgress(this);
  Place(CircularProgress1, kProgressPlace);
  TProgressAppearance& look = CircularProgress1->Appearance();
  look.SetBackGroundColor(clNone);
  look.SetBorderColor(clNone);
  look.SetActiveSegmentColor(QColor(kActiveSegment));
  look.SetInActiveSegmentColor(clSilver);
  look.SetTransitionSegmentColor(QColor(kTransitionSegment));
  look.SetProgressSegmentColor(QColor(kProgressSegment));
  CircularProgress1->SetInterval(kProgressInterval);
  CircularProgress1->SetEnabled(false);
  CircularProgress1->hide();
}

void TMainWindow::CreateButtonAndBoxes() {
  FlatButton1 = new QPushButton(AnsiToQString(kButtonCaption), this);
  Place(FlatButton1, kButtonPlace);
  QFont bold = FormFont();
  bold.setBold(true);
  FlatButton1->setFont(bold);
  FlatButton1->setDefault(true);
  FlatButton1->setStyleSheet(AnsiToQString(kButtonStyle));
  connect(FlatButton1, &QPushButton::clicked, this, [this] { FFrm->FlatButton1Click(); });

  CheckBox1 = new QCheckBox(AnsiToQString(kOnlyChangesCaption), this);
  Place(CheckBox1, kOnlyChangesPlace);
  CheckBox1->setChecked(true);

  CheckBoxAnsi = new QCheckBox(AnsiToQString(kAnsiCaption), this);
  Place(CheckBoxAnsi, kAnsiPlace);
  CheckBoxAnsi->setChecked(true);
}

void TMainWindow::DescribeControls() {
  setAccessibleName(AnsiToQString(kAccessibleWindow));
  for (const TDescription& d : kDescriptions) {
    QWidget* w = d.control(*this);
    w->setAccessibleName(AnsiToQString(d.name));
    w->setAccessibleDescription(AnsiToQString(d.description));
  }
}

void TMainWindow::FitCaptions() {
  // A fall-back font wider than the designed Tahoma: the caption of "Nur Änderungen schreiben"
  // must end before the "Als ANSI" box, that of "Als ANSI" within the form, and the label's
  // text above the indicator and "Los!". Such a control's font is made smaller until it fits.
  FitCaption(CheckBox1, CheckBoxAnsi->x() - kCaptionGap);
  FitCaption(CheckBoxAnsi, width() - kCaptionGap);
  const int labelBottom = std::min(CircularProgress1->y(), FlatButton1->y()) - kCaptionGap;
  QFont font = HTMLabel1->font();
  while (HTMLabel1->y() + TextBottom(HTMLabel1) > labelBottom &&
         font.pixelSize() > kMinFontPixels) {
    font.setPixelSize(font.pixelSize() - 1);
    HTMLabel1->setFont(font);
  }
}

bool TMainWindow::OnlyChanges() const { return CheckBox1->isChecked(); }

bool TMainWindow::AsAnsi() const { return CheckBoxAnsi->isChecked(); }

void TMainWindow::SetAsAnsi(bool value) { CheckBoxAnsi->setChecked(value); }

void TMainWindow::SetRunning(bool running) {
  if (running) {
    setEnabled(false);
    // The indicator's own flag drives its timer; the disabled form around it does not stop it.
    CircularProgress1->SetEnabled(true);
    CircularProgress1->show();
    if (TBalloonTip* balloon = Balloon()) balloon->Pop();
  } else {
    CircularProgress1->SetEnabled(false);
    CircularProgress1->hide();
  }
}

void TMainWindow::SetSyncing(bool syncing) {
  // A running export owns the indicator (and has disabled the form); a sync leaves it alone.
  if (!isEnabled()) return;
  CircularProgress1->SetEnabled(syncing);
  CircularProgress1->setVisible(syncing);
}

void TMainWindow::ShowMessage(const std::string& html) { ShowHTMLMessage(html); }

std::string TMainWindow::AskOutputFile() {
  std::string name;
  ExecuteFileDialog(kDialogKey, "", kDialogFilter, kDialogExt, "", true, nullptr, nullptr,
                    kDialogName, name);
  return name;
}

void TMainWindow::Close() {
  FClosing = true;
  close();
}

TBalloonTip* TMainWindow::Balloon() const {
  return FlatButton1->findChild<TBalloonTip*>(QString(), Qt::FindDirectChildrenOnly);
}

bool TMainWindow::eventFilter(QObject* watched, QEvent* e) {
  if (e->type() == QEvent::KeyPress && FormKeyDown(static_cast<QKeyEvent*>(e)->key())) return true;
  return QWidget::eventFilter(watched, e);
}

bool TMainWindow::FormKeyDown(int key) {
  // While the export runs the form is disabled and takes no keys.
  if (!isEnabled()) return false;
  // On the focused link, Enter opens the save dialog like a click on it.
  if (HTMLabel1->hasFocus() && (key == Qt::Key_Return || key == Qt::Key_Enter)) return false;
  switch (key) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
      // Used up here, so that a focused "Los!" is not clicked a second time by the key itself.
      FlatButton1->click();
      return true;
    case Qt::Key_Escape:
      close();
      return true;
    default:
      return false;
  }
}

void TMainWindow::showEvent(QShowEvent* e) {
  QWidget::showEvent(e);
  if (!e->spontaneous()) FormShow();
}

void TMainWindow::FormShow() {
  ShowBalloonTip(FlatButton1, kBalloonIcon, kBalloonTitle, AnsiToQString(kBalloonText),
                 QColor(kBalloonBack), QColor(kBalloonInk));
  if (FlatButton1->isEnabled()) FlatButton1->setFocus(Qt::ActiveWindowFocusReason);
}

void TMainWindow::closeEvent(QCloseEvent* e) {
  // A disabled form cannot be closed by the user: the running export ends the run itself.
  if (!isEnabled() && !FClosing) {
    e->ignore();
    return;
  }
  QWidget::closeEvent(e);
  if (TBalloonTip* balloon = Balloon()) balloon->Pop();
  if (!FClosed) {
    FClosed = true;
    if (OnClosed) OnClosed();
  }
}

int RunMainWindow(QApplication& app) {
  InstallGermanTranslation(app);
  // The desktop finds the menu entry and icon by this name (Wayland's app id, the task bar).
  QGuiApplication::setDesktopFileName(AnsiToQString(kAppId));
  QApplication::setWindowIcon(ProgramIcon());
  TShellJobPool shellPool;  // opens the message box's links; outlives every window
  TMainWindow window;
  window.OnClosed = [] { QCoreApplication::quit(); };
  window.show();
  QApplication::exec();
  window.Frm().FormDestroy();
  return 0;
}

}  // namespace pv
