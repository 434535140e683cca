#include "app/PXDlg.h"

#include <QApplication>
#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QTimer>
#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

#include "app/ProgramLook.h"
#include "export/WorkerThreadPool.h"
#include "files/AnsiText.h"
#include "files/FileUtil.h"
#include "widgets/AnsiQt.h"
#include "widgets/HTMLShell.h"
#include "widgets/HTMLabel.h"

namespace pv {
namespace {

// Texts and measures of the form.
constexpr const char* kDefaultTitle = "vCard Parvela";
constexpr const char* kClose =
    "Schlie\xDF"
    "en";
constexpr const char* kHelp = "Hilfe";
constexpr const char* kYes = "Ja";
constexpr const char* kNo = "Nein";
constexpr const char* kInputLabel = "Eingabe:";
constexpr const char* kInputEmpty = "Eingabe";
constexpr const char* kCancel = "Abbrechen";
constexpr const char* kApply =
    "\xDC"
    "bernehmen";
constexpr int kClientWidth = 406;
constexpr int kBorderWidth = 2;  // white margin between the window's frame and its client area
constexpr int kDesignClientHeight = 187;
constexpr int kFontPixels = 11;   // the form's font
constexpr int kWideScreen = 800;  // wider screens get the point sizes below
constexpr int kWideTextPoints = 10;
constexpr int kWideFormPoints = 9;
constexpr double kMaxHeightShare = 0.7;
constexpr int kButtonPanelHeight = 35;  // Pmsg, Pquestion
constexpr int kHelpPanelHeight = 23;
constexpr int kInputPanelHeight = 61;
constexpr int kPanelGap = 2;       // between the text and the panel below it
constexpr int kMessageExtra = 37;  // client height = text height + this (message, question)
constexpr int kInputExtra = 70;    // ... with the input panel
constexpr int kHelpExtra = 5;      // help panel height = help text height + this
constexpr int kMaxMessageLines = 21;
constexpr const char* kDotsRow = "<br>................<br>";

QString Q(const char* ansi) { return AnsiToQString(ansi); }

QPushButton* MakeButton(QWidget* parent, const char* text, QStyle::StandardPixmap glyph,
                        QRect geometry) {
  auto* b = new QPushButton(Q(text), parent);
  b->setIcon(parent->style()->standardIcon(glyph));
  b->setAutoDefault(false);
  b->setGeometry(geometry);
  return b;
}

QWidget* MakePanel(QWidget* parent, int height, bool buttonFace) {
  auto* p = new QWidget(parent);
  p->setGeometry(0, 0, parent->width(), height);
  if (buttonFace) {
    QPalette pal = p->palette();
    pal.setColor(QPalette::Window, pal.color(QPalette::Button));
    p->setPalette(pal);
    p->setAutoFillBackground(true);
  }
  return p;
}

QLabel* MakeIcon(QWidget* parent, QStyle::StandardPixmap icon) {
  auto* l = new QLabel(parent);
  l->setGeometry(5, 5, 24, 24);
  l->setPixmap(parent->style()->standardIcon(icon).pixmap(24, 24));
  return l;
}

struct CaseTables {
  std::array<unsigned char, 256> upper{};
  std::array<unsigned char, 256> swap{};  // upper to lower and lower to upper
  CaseTables() {
    for (int c = 0; c < 256; ++c) {
      const auto b = static_cast<unsigned char>(c);
      upper[b] = AnsiUpper(b);
      swap[b] = AnsiUpper(b) != b ? AnsiUpper(b) : AnsiLower(b);
    }
  }
};

const CaseTables& Cases() {
  static const CaseTables tables;
  return tables;
}

THTMLMessageHook& MessageHook() {
  static THTMLMessageHook hook;
  return hook;
}

THTMLMessageRecord& MessageRecord() {
  static THTMLMessageRecord record;
  return record;
}

class TShellJob : public TWorkerThreadJob {
 public:
  explicit TShellJob(std::string target) : FTarget(std::move(target)) {}
  void Execute() override { ShellOpen(FTarget); }

 private:
  std::string FTarget;
};

// The screen that shows the program's active window, else its first visible top-level window,
// else the primary screen.
QScreen* ProgramScreen() {
  if (QWidget* active = QApplication::activeWindow()) return active->screen();
  for (QWidget* w : QApplication::topLevelWidgets()) {
    if (w->isVisible()) return w->screen();
  }
  return QGuiApplication::primaryScreen();
}

}  // namespace

std::string ReplaceAllText(std::string_view source, std::string_view find,
                           std::string_view replacement) {
  if (source.empty()) return {};
  if (find.empty() || find.size() > source.size()) return std::string(source);
  const CaseTables& t = Cases();
  auto byte = [](char c) { return static_cast<unsigned char>(c); };
  const std::size_t worst =
      replacement.size() > find.size()
          ? source.size() / find.size() * replacement.size() + source.size() % find.size()
          : source.size();
  std::string out;
  out.reserve(worst);
  const unsigned char first = t.upper[byte(find[0])];
  std::size_t i = 0;
  while (i < source.size()) {
    bool match = source.size() - i >= find.size() && t.upper[byte(source[i])] == first;
    for (std::size_t k = 1; match && k < find.size(); ++k) {
      const unsigned char f = byte(find[k]);
      const unsigned char s = byte(source[i + k]);
      match = f == s || t.swap[f] == s;
    }
    if (match) {
      out += replacement;
      i += find.size();
    } else {
      out += source[i++];
    }
  }
  return out;
}

std::string PrepareMessageText(std::string_view text) {
  std::string s = ReplaceAllText(text, "\r\n", "<BR>");
  s = ReplaceAllText(s, "<BR>", "\r\n");
  const std::vector<std::string> lines = SplitLines(s);
  std::string out;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (out.empty()) {
      out = lines[i];
    } else {
      out += "<br>";
      out += lines[i];
    }
    if (i == kMaxMessageLines - 1 && i + 1 < lines.size()) {
      out += kDotsRow;
      out += lines.back();
      break;
    }
  }
  return out;
}

THTMLMessageHook SetHTMLMessageHook(THTMLMessageHook hook) {
  std::swap(MessageHook(), hook);
  return hook;
}

const THTMLMessageRecord& LastHTMLMessage() { return MessageRecord(); }

TModalResult ShowHTMLMessage(const std::string& text, const std::string& helpText,
                             const std::string& caption) {
  THTMLMessageRecord& record = MessageRecord();
  record.text = text;
  record.helpText = helpText;
  record.caption = caption;
  ++record.count;
  if (const THTMLMessageHook hook = MessageHook()) return hook(text, helpText, caption);
  TFSB_BOX box;
  box.Setup(text, helpText, caption);
  return static_cast<TModalResult>(box.exec());
}

TShellJobPool::TShellJobPool()
    : FPool(std::make_unique<TWorkerThreadPool>(1, 5)),
      FRunner(SetShellJobRunner, [this](const std::string& target) {
        FPool->AddJob(std::make_unique<TShellJob>(target));
      }) {}

TShellJobPool::~TShellJobPool() = default;

TFSB_BOX::TFSB_BOX(QWidget* owner, QSize screenSize)
    : QDialog(owner, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                         Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                         Qt::WindowStaysOnTopHint) {
  FScreen = ProgramScreen();
  resize(kClientWidth + 2 * kBorderWidth, kDesignClientHeight + 2 * kBorderWidth);
  setWindowIcon(ProgramIcon());
  QFont form(UiFontFamily());
  form.setPixelSize(kFontPixels);
  setFont(form);
  setPalette(FormPalette());
  setAutoFillBackground(true);
  // Everything sits in the client area, inside the border.
  FClient = new QWidget(this);
  FClient->setGeometry(kBorderWidth, kBorderWidth, kClientWidth, kDesignClientHeight);
  CreatePanels();
  ConnectButtons();
  FormCreate(screenSize.isEmpty() && FScreen ? FScreen->size() : screenSize);

  installEventFilter(this);
  for (QWidget* w : findChildren<QWidget*>()) w->installEventFilter(this);
}

void TFSB_BOX::CreatePanels() {
  Pmsg = MakePanel(FClient, kButtonPanelHeight, false);
  Image1 = MakeIcon(Pmsg, QStyle::SP_MessageBoxInformation);
  Panel2 = new QWidget(Pmsg);
  Panel2->setGeometry(kClientWidth - 89, 0, 89, kButtonPanelHeight);
  FB_BREAK2 = MakeButton(Panel2, kClose, QStyle::SP_DialogCloseButton, QRect(7, 4, 77, 25));
  FBhelpS = MakeButton(Pmsg, kHelp, QStyle::SP_DialogHelpButton, QRect(93, 4, 94, 25));

  FP_help = MakePanel(FClient, kHelpPanelHeight, false);
  FP_help->hide();

  Pquestion = MakePanel(FClient, kButtonPanelHeight, false);
  Image2 = MakeIcon(Pquestion, QStyle::SP_MessageBoxQuestion);
  Panel1 = new QWidget(Pquestion);
  Panel1->setGeometry(kClientWidth - 170, 0, 170, kButtonPanelHeight);
  FB_OK = MakeButton(Panel1, kYes, QStyle::SP_DialogYesButton, QRect(7, 4, 77, 25));
  FB_BREAK1 = MakeButton(Panel1, kNo, QStyle::SP_DialogNoButton, QRect(88, 4, 77, 25));
  FBhelpQ = MakeButton(Pquestion, kHelp, QStyle::SP_DialogHelpButton, QRect(93, 4, 94, 25));
  Pquestion->hide();

  Pinput = MakePanel(FClient, kInputPanelHeight, false);
  FlatPanel1 = new QWidget(Pinput);
  FlatPanel1->setGeometry(0, 0, kClientWidth, 26);
  Label1 = new QLabel(Q(kInputLabel), FlatPanel1);
  Label1->setFont(QFont(QStringLiteral("Arial")));
  Label1->setGeometry(5, 4, 55, 17);
  FINPE = new QComboBox(FlatPanel1);
  FINPE->setEditable(true);
  FINPE->lineEdit()->setPlaceholderText(Q(kInputEmpty));
  FINPE->setGeometry(62, 2, kClientWidth - 68, 21);
  Panel3 = new QWidget(Pinput);
  Panel3->setGeometry(kClientWidth - 170, 26, 170, kButtonPanelHeight);
  FB_ICANCEL = MakeButton(Panel3, kCancel, QStyle::SP_DialogCancelButton, QRect(7, 4, 77, 25));
  FB_IOK = MakeButton(Panel3, kApply, QStyle::SP_DialogApplyButton, QRect(88, 4, 77, 25));
  FB_HELPI = MakeButton(Pinput, kHelp, QStyle::SP_DialogHelpButton, QRect(93, 30, 94, 25));
  Pinput->hide();
}

void TFSB_BOX::ConnectButtons() {
  for (QPushButton* b : {FB_BREAK2, FB_BREAK1, FB_ICANCEL}) {
    connect(b, &QPushButton::clicked, this, [this] { FB_BREAK1Click(); });
  }
  for (QPushButton* b : {FB_OK, FB_IOK}) {
    connect(b, &QPushButton::clicked, this, [this] { Close(TModalResult::mrOk); });
  }
  for (QPushButton* b : {FBhelpS, FBhelpQ, FB_HELPI}) {
    connect(b, &QPushButton::clicked, this, [this, b] { FBhelpQClick(b); });
  }
}

TFSB_BOX::~TFSB_BOX() = default;

void TFSB_BOX::FormCreate(QSize screenSize) {
  FLinkClosed = false;
  FMsgHTML = new THTMLabel(FClient);
  FHelpHTML = new THTMLabel(FP_help);
  for (THTMLabel* html : {FMsgHTML, FHelpHTML}) {
    html->SetOpenLinksInShell(false);
    html->SetAutoSizing(true);
    html->SetAutoSizeType(TAutoSizeType::asVertical);
    html->SetAlign(TAlign::alTop);
    html->setGeometry(0, 0, html->parentWidget()->width(), html->height());
    html->OnAnchorClick = [this](THTMLabel*, const std::string& target) { LinkClick(target); };
  }

  if (screenSize.width() > kWideScreen) {
    QFont form = font();
    form.setPointSize(kWideFormPoints);
    setFont(form);
    QFont text = form;
    text.setPointSize(kWideTextPoints);
    FMsgHTML->setFont(text);
    FHelpHTML->setFont(text);
    const int panel2 = static_cast<int>(Panel2->width() * 1.1);
    Panel2->setGeometry(kClientWidth - panel2, 0, panel2, Panel2->height());
    FB_BREAK2->setGeometry(2, FB_BREAK2->y(), Panel2->width() - 4, FB_BREAK2->height());
    const int panel3 = static_cast<int>(Panel3->width() * 1.2);
    Panel3->setGeometry(kClientWidth - panel3, Panel3->y(), panel3, Panel3->height());
    FB_ICANCEL->setGeometry(7, FB_ICANCEL->y(), static_cast<int>(FB_ICANCEL->width() * 1.2),
                            FB_ICANCEL->height());
    FB_IOK->setGeometry(FB_ICANCEL->x() + FB_ICANCEL->width() + 4, FB_IOK->y(),
                        static_cast<int>(FB_IOK->width() * 1.2), FB_IOK->height());
  }

  FlatPanel1->resize(FlatPanel1->width(), FINPE->height() + 4);

  for (QWidget* panel : {Pmsg, Pinput, Pquestion}) {
    QPalette pal = panel->palette();
    pal.setColor(QPalette::Window, FormPalette().color(QPalette::Button));
    panel->setPalette(pal);
    panel->setAutoFillBackground(true);
  }

  FMaxHeight = static_cast<int>(std::lround(screenSize.height() * kMaxHeightShare));
}

void TFSB_BOX::Setup(const std::string& text, const std::string& helpText,
                     const std::string& caption) {
  FHelpText.clear();
  FP_help->hide();
  FMsgHTML->SetHTMLString(PrepareMessageText(text));
  Pmsg->show();
  setWindowTitle(!caption.empty() ? AnsiToQString(caption)
                 : !QGuiApplication::applicationDisplayName().isEmpty()
                     ? QGuiApplication::applicationDisplayName()
                     : Q(kDefaultTitle));
  FBhelpS->setVisible(!helpText.empty());
  FHelpText = helpText;
  FB_BREAK2->setFocus();
}

QWidget* TFSB_BOX::VisiblePanel() const {
  if (!Pquestion->isHidden()) return Pquestion;
  if (!Pinput->isHidden()) return Pinput;
  return Pmsg;
}

void TFSB_BOX::SetClientHeight(int height) {
  height = FMaxHeight > 0 ? std::min(height, FMaxHeight - 2 * kBorderWidth) : height;
  FClient->resize(kClientWidth, height);
  setFixedSize(kClientWidth + 2 * kBorderWidth, height + 2 * kBorderWidth);
}

void TFSB_BOX::FormShow() {
  FMsgHTML->setGeometry(0, 0, kClientWidth, FMsgHTML->height());
  FMsgHTML->LayoutText();
  const int textHeight = FMsgHTML->height();
  VisiblePanel()->move(0, textHeight + kPanelGap);
  SetClientHeight(textHeight + (!Pinput->isHidden() ? kInputExtra : kMessageExtra));
  if (FScreen) {
    QRect frame = geometry();
    frame.moveCenter(FScreen->availableGeometry().center());
    move(frame.topLeft());
  }
  raise();
  activateWindow();
}

void TFSB_BOX::showEvent(QShowEvent* e) {
  QDialog::showEvent(e);
  FormShow();
}

void TFSB_BOX::changeEvent(QEvent* e) {
  QDialog::changeEvent(e);
  // Deactivated: take the foreground back, unless a link click is closing the box.
  if (e->type() == QEvent::ActivationChange && isVisible() && !isActiveWindow() && !FLinkClosed) {
    QTimer::singleShot(0, this, [this] {
      if (isVisible() && !FLinkClosed) {
        raise();
        activateWindow();
      }
    });
  }
}

bool TFSB_BOX::eventFilter(QObject* watched, QEvent* e) {
  if (e->type() == QEvent::KeyPress && isVisible()) {
    if (FormKeyDown(static_cast<QKeyEvent*>(e))) return true;
  }
  return QDialog::eventFilter(watched, e);
}

bool TFSB_BOX::FormKeyDown(QKeyEvent* e) {
  if (e->key() == Qt::Key_F1) return true;
  // A modifier key's own press counts as held, whatever the platform reports for it.
  const bool modifierKey = e->key() == Qt::Key_Shift || e->key() == Qt::Key_Control ||
                           e->key() == Qt::Key_Alt || e->key() == Qt::Key_AltGr ||
                           e->key() == Qt::Key_Meta;
  const bool held =
      modifierKey ||
      (e->modifiers() & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier)) != 0;
  if (!held) {
    if (Pinput->isHidden() && Pquestion->isHidden()) {
      Close(TModalResult::mrCancel);
      return true;
    }
    return false;
  }
  switch (e->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
      Close(TModalResult::mrOk);
      return true;
    case Qt::Key_Escape:
      Close(TModalResult::mrCancel);
      return true;
    case Qt::Key_Left:
      MoveButtonFocus(-1);
      return true;
    case Qt::Key_Right:
      MoveButtonFocus(1);
      return true;
    default:
      return false;
  }
}

void TFSB_BOX::MoveButtonFocus(int step) {
  std::vector<QPushButton*> buttons;
  for (QPushButton* b : VisiblePanel()->findChildren<QPushButton*>()) {
    if (b->isVisibleTo(this) && b->isEnabled()) buttons.push_back(b);
  }
  if (buttons.empty()) return;
  std::sort(buttons.begin(), buttons.end(), [this](QPushButton* a, QPushButton* b) {
    return a->mapTo(this, QPoint()).x() < b->mapTo(this, QPoint()).x();
  });
  const auto at = std::find(buttons.begin(), buttons.end(), focusWidget());
  int index = at == buttons.end() ? 0 : static_cast<int>(at - buttons.begin()) + step;
  index = std::clamp(index, 0, static_cast<int>(buttons.size()) - 1);
  buttons[static_cast<std::size_t>(index)]->setFocus();
}

void TFSB_BOX::FB_BREAK1Click() { Close(TModalResult::mrCancel); }

void TFSB_BOX::reject() { Close(TModalResult::mrCancel); }

void TFSB_BOX::FBhelpQClick(QPushButton* sender) {
  if (FHelpText.empty()) return;
  FHelpHTML->setGeometry(0, 0, kClientWidth, FHelpHTML->height());
  FHelpHTML->SetHTMLString(PrepareMessageText(FHelpText));
  FHelpHTML->LayoutText();
  const int helpHeight = FHelpHTML->height() + kHelpExtra;
  QWidget* panel = VisiblePanel();
  FP_help->setGeometry(0, panel->y(), kClientWidth, helpHeight);
  panel->move(0, panel->y() + helpHeight);
  SetClientHeight(FClient->height() + helpHeight);
  sender->setEnabled(false);
  FP_help->show();
}

void TFSB_BOX::LinkClick(const std::string& target) {
  if (!IsShellTarget(target)) return;
  OpenLinkInShell(target);
  FLinkClosed = true;
  Close(TModalResult::mrCancel);
}

}  // namespace pv
