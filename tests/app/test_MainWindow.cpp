// The main window as the user meets it: its form, the balloon over "Los!", the keys, and whole
// runs against the reference exchange service (a real process) and a sample database. Message
// box and save dialog are answered by their test hooks, so nothing waits for a person.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QFile>
#include <QFontInfo>
#include <QHelpEvent>
#include <QImage>
#include <QPushButton>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTest>
#include <QTimer>
#include <cstdlib>
#include <optional>
#include <regex>
#include <string>
#include <vector>

#include "app/FileDialog.h"
#include "app/MainWindow.h"
#include "app/MainWindowBalloon.h"
#include "app/PXDlg.h"
#include "app/ProgramLook.h"
#include "files/ScopedOverride.h"
#include "settings/UserMode.h"
#include "tests/support/ExchangeService.h"
#include "tests/support/SampleDb.h"
#include "tests/support/TempDir.h"
#include "widgets/CircularProgress.h"
#include "widgets/HTMLabel.h"

namespace pv {
namespace {

using test::ReadFile;
using test::TempDir;

constexpr int kRunTimeoutMs = 60000;
const std::string kMissing = "Parvela <b>fehlt</b>!";
const std::string kFinished = "<b>Fertig!</b><br>";

bool Exists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

// Sets an environment variable for the lifetime of the object.
struct ScopedEnv {
  ScopedEnv(const char* n, const std::string& value) : name(n) {
    if (const char* v = std::getenv(n)) old = v;
    setenv(n, value.c_str(), 1);
  }
  ~ScopedEnv() { old ? setenv(name, old->c_str(), 1) : unsetenv(name); }
  const char* name;
  std::optional<std::string> old;
};

// The count in the job's result "<b>N</b> Adressen nach ..."; -1 when there is none.
int ReportedCount(const std::string& message) {
  std::smatch m;
  if (!std::regex_search(message, m, std::regex("<b>([0-9]+)</b> Adressen nach"))) return -1;
  return std::stoi(m[1]);
}

bool IsUtf8(const std::string& bytes) {
  return QString::fromUtf8(bytes.data(), static_cast<qsizetype>(bytes.size())).toUtf8() ==
         QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

// As many cards as expected, read by the independent parser where it is installed.
void ExpectCards(const std::string& file, const char* encoding, int expected) {
  const std::string text = ReadFile(file);
  for (const char* frame : {"BEGIN:VCARD", "VERSION:4.0", "END:VCARD"}) {
    int n = 0;
    for (size_t at = 0; (at = text.find(frame, at)) != std::string::npos; ++at) ++n;
    EXPECT_EQ(n, expected) << frame;
  }
  const std::string cmd = "python3 " PV_SOURCE_DIR "/tests/e2e/check_vcf.py '" + file + "' " +
                          encoding + " " + std::to_string(expected) + " > /dev/null";
  const int rc = std::system(cmd.c_str());
  if (!WIFEXITED(rc) || WEXITSTATUS(rc) != 77) {  // 77: vobject is not installed
    EXPECT_EQ(rc, 0) << cmd;
  }
}

// A point on the label's link.
QPoint LinkPoint(THTMLabel* label) {
  for (int y = 0; y < label->height(); y += 2)
    for (int x = 0; x < label->width(); x += 2)
      if (label->AnchorAt(QPoint(x, y))) return {x, y};
  ADD_FAILURE() << "the label shows no link";
  return {};
}

class MainWindowTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(mkdir(desktop_.c_str(), 0700), 0);
    messageHook_.emplace(SetHTMLMessageHook,
                         [this](const std::string& text, const std::string&, const std::string&) {
                           messages_.push_back(text);
                           return TModalResult::mrCancel;
                         });
    dialogHook_.emplace(SetFileDialogHook, [this](TFileDialogSettings& s) {
      dialogs_.push_back(s);
      return dialogAnswer_;
    });
  }

  void TearDown() override {
    window_.reset();
    dialogHook_.reset();
    messageHook_.reset();
    SetSettingsFolder("");
  }

  // The window as the program shows it, with the settings and service of this test's $TMPDIR.
  TMainWindow& Open() {
    window_ = std::make_unique<TMainWindow>();
    window_->show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(window_.get()));
    return *window_;
  }

  // A sample database of n records and the service that names its folder as DBPATH.
  void StartService(int n = 300) {
    test::MakeSampleDatabase(db_, n, 11);
    test::ExchangeService::Options options;
    options.values = {{"DBPATH", db_}};
    service_ = std::make_unique<test::ExchangeService>(options);
    ASSERT_TRUE(service_->Running());
  }

  bool WaitForMessage() {
    return QTest::qWaitFor([this] { return !messages_.empty(); }, kRunTimeoutMs);
  }

  std::string Settings() const { return ReadFile(dir_ / "PVTempDir/vcard/UserMode.INI"); }

  TempDir dir_;
  ScopedEnv tmp_{"TMPDIR", dir_.path()};
  const std::string desktop_ = dir_ / "Desktop";
  ScopedEnv desk_{"XDG_DESKTOP_DIR", desktop_};
  const std::string db_ = dir_ / "db";
  std::unique_ptr<test::ExchangeService> service_;
  std::unique_ptr<TMainWindow> window_;
  std::optional<TScopedOverride<THTMLMessageHook>> messageHook_;
  std::optional<TScopedOverride<TFileDialogHook>> dialogHook_;
  std::vector<std::string> messages_;
  std::vector<TFileDialogSettings> dialogs_;
  std::string dialogAnswer_;
};

TEST_F(MainWindowTest, FormAndControlsAsDesigned) {
  TMainWindow& w = Open();
  EXPECT_EQ(w.windowTitle(), "Vcard");
  EXPECT_EQ(w.size(), QSize(265, 185));
  EXPECT_EQ(w.minimumSize(), w.maximumSize());  // not resizable
  EXPECT_EQ(w.palette().color(QPalette::Window), QColor(Qt::white));
  EXPECT_EQ(w.font().pixelSize(), 12);
  struct Place {
    const char* name;
    QWidget* control;
    QRect rect;
  } places[] = {
      {"CircularProgress1", w.CircularProgress1, {30, 94, 50, 50}},
      {"FlatButton1", w.FlatButton1, {158, 96, 89, 49}},
      {"CheckBox1", w.CheckBox1, {8, 154, 181, 17}},
      {"CheckBoxAnsi", w.CheckBoxAnsi, {188, 154, 137, 17}},
  };
  for (const auto& p : places) {
    SCOPED_TRACE(p.name);
    EXPECT_EQ(p.control->geometry(), p.rect);
  }
  // The label keeps its place and width and follows its text downwards.
  EXPECT_EQ(w.HTMLabel1->geometry().topLeft(), QPoint(9, 12));
  EXPECT_EQ(w.HTMLabel1->width(), 240);
  EXPECT_EQ(w.HTMLabel1->AutoSizeType(), TAutoSizeType::asVertical);
  EXPECT_TRUE(w.HTMLabel1->AutoSizing());
  EXPECT_EQ(w.HTMLabel1->Markup(),
            "Die erstellte Datei k\xF6nnen Sie in die g\xE4ngigen <B>Webapplicationen </B>"
            "einlesen, und damit auch <B>Smartphones </B>zur Verf\xFCgung stellen. <A "
            "href=\"x\">Verzeichnis w\xE4hlen und Datei erstellen</A>.");
  EXPECT_EQ(w.HTMLabel1->URLColor(), QColor(0, 0, 255));

  EXPECT_EQ(w.FlatButton1->text(), "Los!");
  EXPECT_TRUE(w.FlatButton1->font().bold());
  EXPECT_EQ(w.CheckBox1->text(), QString::fromUtf8("Nur \xC3\x84nderungen schreiben"));
  EXPECT_TRUE(w.CheckBox1->isChecked());
  EXPECT_EQ(w.CheckBoxAnsi->text(), "Als ANSI");
  EXPECT_TRUE(w.CheckBoxAnsi->isChecked());  // no settings yet: the default
  EXPECT_EQ(w.FlatButton1->nextInFocusChain(), w.CheckBox1);
  EXPECT_EQ(w.CheckBox1->nextInFocusChain(), w.CheckBoxAnsi);

  // The indicator waits hidden; its colours were given in blue-green-red order.
  EXPECT_FALSE(w.CircularProgress1->isVisible());
  EXPECT_FALSE(w.CircularProgress1->TimerActive());
  EXPECT_EQ(w.CircularProgress1->Interval(), 100u);
  const TProgressAppearance& look = w.CircularProgress1->Appearance();
  EXPECT_EQ(look.ActiveSegmentColor(), QColor(0x9F, 0x9F, 0xFF));
  EXPECT_EQ(look.TransitionSegmentColor(), QColor(0x00, 0x00, 0xA0));
  EXPECT_EQ(look.ProgressSegmentColor(), QColor(0x80, 0x00, 0x40));
}

TEST_F(MainWindowTest, AnsiChoiceIsReadAtTheStartAndWrittenAtTheEnd) {
  ASSERT_EQ(mkdir((dir_ / "PVTempDir").c_str(), 0700), 0);
  ASSERT_EQ(mkdir((dir_ / "PVTempDir/vcard").c_str(), 0700), 0);
  test::WriteFile(dir_ / "PVTempDir/vcard/UserMode.INI", "[MODE]\r\nAsAnsi=0\r\n");
  EXPECT_FALSE(Open().CheckBoxAnsi->isChecked());
  window_->CheckBoxAnsi->setChecked(true);
  window_.reset();
  EXPECT_EQ(Settings(), "[MODE]\r\nAsAnsi=1\r\n");
  EXPECT_TRUE(Open().CheckBoxAnsi->isChecked());
}

TEST_F(MainWindowTest, BalloonShowsWhileTheMouseRestsOnLos) {
  TMainWindow& w = Open();
  TBalloonTip* balloon = w.Balloon();
  ASSERT_NE(balloon, nullptr);
  EXPECT_FALSE(balloon->isVisible());
  EXPECT_EQ(balloon->Icon(), 1);
  EXPECT_EQ(balloon->Title(), "Hinweis");
  EXPECT_EQ(balloon->Text(), "Es wird die Datei \"pv.vcf\" automatisch auf dem Desktop erstellt.");
  EXPECT_EQ(balloon->BackColor(), QColor(0, 0, 255));
  // Navy on blue cannot be read; the balloon writes in white instead.
  EXPECT_EQ(balloon->TextColor(), QColor(Qt::white));

  const QPoint at(40, 20);
  const QPoint global = w.FlatButton1->mapToGlobal(at);
  QHelpEvent rest(QEvent::ToolTip, at, global);
  QApplication::sendEvent(w.FlatButton1, &rest);
  EXPECT_TRUE(balloon->isVisible());
  EXPECT_EQ(balloon->StemPoint(), global);
  EXPECT_TRUE(balloon->geometry().adjusted(-1, -1, 1, 1).contains(global));

  QEvent leave(QEvent::Leave);
  QApplication::sendEvent(w.FlatButton1, &leave);
  EXPECT_FALSE(balloon->isVisible());

  // Showing the form again keeps one balloon.
  w.hide();
  w.show();
  EXPECT_EQ(w.FlatButton1->findChildren<TBalloonTip*>().size(), 1);
}

// What a control shows, in form coordinates: for a check box its indicator and its caption, for
// the button its caption, for the label the room of its laid-out text, for the indicator itself.
struct Shown {
  const char* name;
  QRect rect;     // everything it shows
  QRect caption;  // its caption alone (empty for the indicator)
  QWidget* control;
};

QRect CheckBoxCaption(QCheckBox* box, QRect* indicator) {
  QStyleOptionButton option;
  option.initFrom(box);
  option.text = box->text();
  const QRect contents = box->style()->subElementRect(QStyle::SE_CheckBoxContents, &option, box);
  *indicator = box->style()->subElementRect(QStyle::SE_CheckBoxIndicator, &option, box);
  const QFontMetrics fm = box->fontMetrics();
  const QRect text(contents.x(), (box->height() - fm.height()) / 2,
                   fm.horizontalAdvance(box->text()), fm.height());
  return text.translated(box->pos());
}

std::vector<Shown> WhatTheFormShows(TMainWindow& w) {
  std::vector<Shown> shown;
  QRect labelText;
  for (const THTMLLine& line : w.HTMLabel1->Layout().lines)
    for (const THTMLItem& item : line.items) labelText |= item.rect;
  labelText.translate(w.HTMLabel1->pos());
  shown.push_back({"HTMLabel1", labelText, labelText, w.HTMLabel1});
  shown.push_back(
      {"CircularProgress1", w.CircularProgress1->geometry(), QRect(), w.CircularProgress1});
  const QFontMetrics bold = w.FlatButton1->fontMetrics();
  QRect caption(QPoint(), bold.size(Qt::TextSingleLine, w.FlatButton1->text()));
  caption.moveCenter(w.FlatButton1->geometry().center());
  shown.push_back({"FlatButton1", caption, caption, w.FlatButton1});
  for (QCheckBox* box : {w.CheckBox1, w.CheckBoxAnsi}) {
    QRect indicator;
    const QRect text = CheckBoxCaption(box, &indicator);
    shown.push_back({box == w.CheckBox1 ? "CheckBox1" : "CheckBoxAnsi",
                     text | indicator.translated(box->pos()), text, box});
  }
  return shown;
}

// The columns of control's picture that hold anything but its background.
int InkRight(QWidget* control) {
  const QImage image = control->grab().toImage();
  const QColor paper = control->palette().color(QPalette::Window);
  int right = -1;
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x)
      if (image.pixelColor(x, y) != paper) right = std::max(right, x);
  return right;
}

class MainWindowFontTest : public MainWindowTest, public testing::WithParamInterface<const char*> {
 protected:
  void TearDown() override {
    MainWindowTest::TearDown();
    font_.reset();
  }

  std::optional<TScopedOverride<QString>> font_;
};

// With the Tahoma of fonts-wine and with DejaVu Sans alone, nothing overlaps and every caption
// fits its control and the form.
TEST_P(MainWindowFontTest, NothingOverlapsAndEveryCaptionFits) {
  const QString family = QString::fromLatin1(GetParam());
  if (family == "Tahoma" && ChooseUiFontFamily(WineTahomaFiles()) != "Tahoma")
    GTEST_SKIP() << "no Tahoma and no fonts-wine";
  font_.emplace(SetUiFontFamily, family);
  TMainWindow& w = Open();
  w.CircularProgress1->show();  // as while an export runs
  for (QWidget* c : {static_cast<QWidget*>(w.HTMLabel1), static_cast<QWidget*>(w.FlatButton1),
                     static_cast<QWidget*>(w.CheckBox1), static_cast<QWidget*>(w.CheckBoxAnsi)}) {
    EXPECT_EQ(QFontInfo(c->font()).family(), family) << c->metaObject()->className();
    EXPECT_GE(c->font().pixelSize(), 9);
  }
  const std::vector<Shown> shown = WhatTheFormShows(w);
  const QRect form = w.rect();
  for (std::size_t i = 0; i < shown.size(); ++i) {
    SCOPED_TRACE(shown[i].name);
    EXPECT_FALSE(shown[i].rect.isEmpty());
    EXPECT_TRUE(form.contains(shown[i].rect)) << shown[i].rect.right();
    if (!shown[i].caption.isEmpty()) {
      EXPECT_TRUE(shown[i].control->geometry().contains(shown[i].caption));
    }
    for (std::size_t j = i + 1; j < shown.size(); ++j) {
      SCOPED_TRACE(shown[j].name);
      // At least two free pixels between them: a caption touching the next box runs into it.
      EXPECT_FALSE(
          shown[i].rect.adjusted(-1, -1, 1, 1).intersects(shown[j].rect.adjusted(-1, -1, 1, 1)));
    }
  }
  // The pictures agree: no caption is cut at its control's right edge.
  for (QCheckBox* box : {w.CheckBox1, w.CheckBoxAnsi}) {
    SCOPED_TRACE(box->text().toStdString());
    const int ink = InkRight(box);
    EXPECT_GT(ink, 20);
    EXPECT_LT(box->x() + ink, std::min(box->x() + box->width() - 1, form.width()));
  }
  EXPECT_LT(w.CheckBox1->x() + InkRight(w.CheckBox1), w.CheckBoxAnsi->x());
}

INSTANTIATE_TEST_SUITE_P(Fonts, MainWindowFontTest, testing::Values("Tahoma", "DejaVu Sans"));

// A dark desktop theme: light text on dark backgrounds everywhere else, but this white form keeps
// dark text, enabled and disabled.
TEST_F(MainWindowTest, ADarkThemeNeverPutsLightTextOnTheWhiteForm) {
  const QPalette before = QApplication::palette();
  QPalette dark(QColor(0xEE, 0xEE, 0xEE), QColor(0x35, 0x35, 0x35), QColor(0x50, 0x50, 0x50),
                QColor(0x20, 0x20, 0x20), QColor(0x30, 0x30, 0x30), QColor(0xFA, 0xFA, 0xFA),
                Qt::white, QColor(0x2A, 0x2A, 0x2A), QColor(0x25, 0x25, 0x25));
  QApplication::setPalette(dark);
  TMainWindow& w = Open();
  for (QWidget* c : {static_cast<QWidget*>(&w), static_cast<QWidget*>(w.HTMLabel1),
                     static_cast<QWidget*>(w.CheckBox1), static_cast<QWidget*>(w.CheckBoxAnsi)}) {
    SCOPED_TRACE(c->metaObject()->className());
    const QPalette& p = c->palette();
    for (QPalette::ColorGroup g : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
      SCOPED_TRACE(g);
      EXPECT_GE(ContrastRatio(p.color(g, QPalette::WindowText), p.color(g, QPalette::Window)), 4.5);
      EXPECT_GE(ContrastRatio(p.color(g, QPalette::Text), p.color(g, QPalette::Base)), 4.5);
    }
    EXPECT_EQ(p.color(QPalette::Window), QColor(Qt::white));
  }
  // And on screen: the caption of "Nur Änderungen schreiben" is drawn in dark ink.
  QRect indicator;
  const QRect caption = CheckBoxCaption(w.CheckBox1, &indicator).translated(-w.CheckBox1->pos());
  const QImage image = w.CheckBox1->grab().toImage();
  int darkest = 255;
  for (int y = caption.top(); y <= caption.bottom(); ++y)
    for (int x = caption.left(); x <= caption.right() && x < image.width(); ++x)
      darkest = std::min(darkest, qGray(image.pixel(x, y)));
  EXPECT_LT(darkest, 80);
  EXPECT_EQ(image.pixelColor(image.width() - 1, 0), QColor(Qt::white));
  window_.reset();
  QApplication::setPalette(before);
}

TEST_F(MainWindowTest, TheLinkIsReachedByTabAndOpensTheSaveDialogByKey) {
  StartService(120);
  TMainWindow& w = Open();
  w.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
  EXPECT_TRUE(w.FlatButton1->hasFocus());
  for (QWidget* next : {static_cast<QWidget*>(w.CheckBox1), static_cast<QWidget*>(w.CheckBoxAnsi),
                        static_cast<QWidget*>(w.HTMLabel1)}) {
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), next);
  }
  // Cancelled dialogs: the window stays as it was, the link keeps the focus.
  QTest::keyClick(w.HTMLabel1, Qt::Key_Return);
  QTest::keyClick(w.HTMLabel1, Qt::Key_Space);
  QTest::keyClick(w.HTMLabel1, Qt::Key_Enter);
  EXPECT_EQ(dialogs_.size(), 3u);
  EXPECT_TRUE(w.isEnabled());
  EXPECT_TRUE(messages_.empty());
  EXPECT_FALSE(Exists(desktop_ + "/pv.vcf"));
  // Tab goes round to "Los!" again.
  QTest::keyClick(w.HTMLabel1, Qt::Key_Tab);
  EXPECT_TRUE(w.FlatButton1->hasFocus());
}

TEST_F(MainWindowTest, ControlsHaveAccessibleNamesAndDescriptions) {
  TMainWindow& w = Open();
  struct Case {
    QWidget* control;
    QString name;
  } cases[] = {
      {w.HTMLabel1, QString::fromUtf8("Verzeichnis w\xC3\xA4hlen und Datei erstellen")},
      {w.FlatButton1, QStringLiteral("Los!")},
      {w.CheckBox1, QString::fromUtf8("Nur \xC3\x84nderungen schreiben")},
      {w.CheckBoxAnsi, QStringLiteral("Als ANSI")},
      {w.CircularProgress1, QStringLiteral("Fortschritt")},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name.toStdString());
    QAccessibleInterface* a = QAccessible::queryAccessibleInterface(c.control);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->text(QAccessible::Name), c.name);
    EXPECT_GT(a->text(QAccessible::Description).size(), 20);
  }
  EXPECT_EQ(QAccessible::queryAccessibleInterface(w.HTMLabel1)->role(), QAccessible::Link);
}

TEST_F(MainWindowTest, WindowAndMessageBoxCarryTheProgramIcon) {
  TMainWindow& w = Open();
  for (const QIcon& icon : {w.windowIcon(), TFSB_BOX(nullptr, QSize(800, 600)).windowIcon()}) {
    ASSERT_FALSE(icon.isNull());
    const QList<QSize> sizes = icon.availableSizes();
    EXPECT_TRUE(sizes.contains(QSize(16, 16)));
    EXPECT_TRUE(sizes.contains(QSize(48, 48)));
    EXPECT_FALSE(icon.pixmap(32).toImage().isNull());
  }
}

TEST(BalloonColours, TextThatCannotBeReadFallsBackToBlackOrWhite) {
  struct Case {
    const char* name;
    QColor back, text, expected;
  } cases[] = {
      {"navy on blue", QColor(0, 0, 255), QColor(0, 0, 128), Qt::white},
      {"navy on white", Qt::white, QColor(0, 0, 128), QColor(0, 0, 128)},
      {"black on light yellow", QColor(255, 255, 225), Qt::black, Qt::black},
      {"yellow on white", Qt::white, Qt::yellow, Qt::black},
      {"grey on grey", QColor(128, 128, 128), QColor(140, 140, 140), Qt::black},
      {"none on dark", QColor(20, 20, 20), QColor(), Qt::white},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(ReadableTextColor(c.back, c.text), c.expected);
  }
  EXPECT_NEAR(ContrastRatio(Qt::black, Qt::white), 21.0, 0.01);
  EXPECT_NEAR(ContrastRatio(Qt::red, Qt::red), 1.0, 1e-9);
}

TEST_F(MainWindowTest, LosExportsToTheDesktopAndEndsTheRun) {
  StartService();
  TMainWindow& w = Open();
  w.CheckBoxAnsi->setChecked(false);
  bool closed = false;
  w.OnClosed = [&] { closed = true; };
  QTest::mouseClick(w.FlatButton1, Qt::LeftButton);

  // Running: the form is disabled, the indicator turns, and neither key nor title bar does a
  // thing until the export reports back.
  EXPECT_FALSE(w.isEnabled());
  EXPECT_TRUE(w.CircularProgress1->isVisible());
  EXPECT_TRUE(w.CircularProgress1->TimerActive());
  // The label and its link look disabled like the rest of the form: no blue link left.
  const QImage label = w.HTMLabel1->grab().toImage();
  int blue = 0;
  for (int y = 0; y < label.height(); ++y)
    for (int x = 0; x < label.width(); ++x) blue += label.pixelColor(x, y) == QColor(Qt::blue);
  EXPECT_EQ(blue, 0);
  QTest::keyClick(&w, Qt::Key_Escape);
  QTest::keyClick(w.FlatButton1, Qt::Key_Return);
  EXPECT_FALSE(w.close());
  EXPECT_TRUE(w.isVisible());
  EXPECT_TRUE(messages_.empty());

  ASSERT_TRUE(WaitForMessage());
  ASSERT_EQ(messages_.size(), 1u);
  const std::string& m = messages_[0];
  EXPECT_EQ(m.rfind(kFinished, 0), 0u) << m;
  EXPECT_NE(m.find("<b>pv.vcf</b>"), std::string::npos) << m;
  EXPECT_FALSE(w.isVisible());
  EXPECT_TRUE(closed);
  EXPECT_FALSE(w.CircularProgress1->isVisible());
  EXPECT_TRUE(w.Frm().ResultOk());

  const std::string out = desktop_ + "/pv.vcf";
  ASSERT_TRUE(Exists(out));
  EXPECT_TRUE(IsUtf8(ReadFile(out)));
  const int count = ReportedCount(m);
  EXPECT_GT(count, 150);
  ExpectCards(out, "utf-8", count);
  EXPECT_FALSE(ReadFile(db_ + "/vCard.Export/calc.txt").empty());

  window_.reset();
  EXPECT_EQ(Settings(), "[MODE]\r\nAsAnsi=0\r\n");
}

TEST_F(MainWindowTest, EnterOnACheckBoxStartsTheExport) {
  StartService(120);
  TMainWindow& w = Open();
  w.CheckBox1->setFocus();
  QTest::keyClick(w.CheckBox1, Qt::Key_Return);
  EXPECT_FALSE(w.isEnabled());
  ASSERT_TRUE(WaitForMessage());
  EXPECT_EQ(messages_[0].rfind(kFinished, 0), 0u) << messages_[0];
  EXPECT_TRUE(w.CheckBox1->isChecked());  // the key did not reach the check box
  EXPECT_FALSE(w.isVisible());
  EXPECT_TRUE(Exists(desktop_ + "/pv.vcf"));
}

// Without the host service every start ends in the same message, once per start, and the window
// stays as it was.
TEST_F(MainWindowTest, WithoutTheServiceEveryStartSaysParvelaIsMissing) {
  TMainWindow& w = Open();
  struct Start {
    const char* name;
    std::function<void()> run;
  } starts[] = {
      {"click", [&] { QTest::mouseClick(w.FlatButton1, Qt::LeftButton); }},
      {"Return on Los!", [&] { QTest::keyClick(w.FlatButton1, Qt::Key_Return); }},
      {"Enter on CheckBox1", [&] { QTest::keyClick(w.CheckBox1, Qt::Key_Enter); }},
      {"Return on CheckBoxAnsi", [&] { QTest::keyClick(w.CheckBoxAnsi, Qt::Key_Return); }},
      {"Return on the form", [&] { QTest::keyClick(&w, Qt::Key_Return); }},
      {"link", [&] { QTest::mouseClick(w.HTMLabel1, Qt::LeftButton, {}, LinkPoint(w.HTMLabel1)); }},
  };
  for (const auto& s : starts) {
    SCOPED_TRACE(s.name);
    messages_.clear();
    s.run();
    EXPECT_EQ(messages_, std::vector<std::string>{kMissing});
    EXPECT_TRUE(w.isVisible());
    EXPECT_TRUE(w.isEnabled());
    EXPECT_FALSE(w.CircularProgress1->isVisible());
    EXPECT_TRUE(w.CheckBox1->isChecked());
    EXPECT_TRUE(w.CheckBoxAnsi->isChecked());
  }
  EXPECT_TRUE(dialogs_.empty());  // no folder, no save dialog
  EXPECT_FALSE(Exists(desktop_ + "/pv.vcf"));
}

TEST_F(MainWindowTest, OtherKeysReachTheControlsAndEscapeCloses) {
  TMainWindow& w = Open();
  int closed = 0;
  w.OnClosed = [&] { ++closed; };
  QTest::keyClick(w.CheckBox1, Qt::Key_Space);
  EXPECT_FALSE(w.CheckBox1->isChecked());
  QTest::keyClick(w.CheckBoxAnsi, Qt::Key_A);
  EXPECT_TRUE(w.CheckBoxAnsi->isChecked());
  EXPECT_TRUE(w.isVisible());
  EXPECT_TRUE(messages_.empty());

  QTest::keyClick(w.CheckBoxAnsi, Qt::Key_Escape);
  EXPECT_FALSE(w.isVisible());
  EXPECT_EQ(closed, 1);
  EXPECT_TRUE(messages_.empty());
}

TEST_F(MainWindowTest, LinkAsksForTheFileAndCancelChangesNothing) {
  StartService(120);
  TMainWindow& w = Open();
  const QPoint link = LinkPoint(w.HTMLabel1);
  QTest::mouseClick(w.HTMLabel1, Qt::LeftButton, {}, link);
  ASSERT_EQ(dialogs_.size(), 1u);
  const TFileDialogSettings& s = dialogs_[0];
  EXPECT_TRUE(s.SaveMode);
  EXPECT_EQ(s.Filter, OutputFileFilter);
  EXPECT_EQ(s.DefaultExt, ".vcf");
  EXPECT_EQ(s.InitialName, "PV.vcf");
  EXPECT_EQ(s.InitialFolder, "");
  EXPECT_FALSE(s.MultiSelect);
  EXPECT_TRUE(w.isEnabled());
  EXPECT_FALSE(w.CircularProgress1->isVisible());
  EXPECT_TRUE(messages_.empty());

  // The chosen file gets the contacts (ANSI, as ticked); the desktop stays empty.
  dialogAnswer_ = dir_ / "Kontakte.vcf";
  QTest::mouseClick(w.HTMLabel1, Qt::LeftButton, {}, link);
  EXPECT_FALSE(w.isEnabled());
  ASSERT_TRUE(WaitForMessage());
  EXPECT_EQ(dialogs_.size(), 2u);
  EXPECT_NE(messages_[0].find("<b>Kontakte.vcf</b>"), std::string::npos) << messages_[0];
  EXPECT_FALSE(w.isVisible());
  ExpectCards(dialogAnswer_, "cp1252", ReportedCount(messages_[0]));
  EXPECT_FALSE(Exists(desktop_ + "/pv.vcf"));
}

TEST_F(MainWindowTest, RunMainWindowEndsWhenTheWindowCloses) {
  QTimer safety;
  safety.setSingleShot(true);
  QObject::connect(&safety, &QTimer::timeout, [] { QCoreApplication::quit(); });
  safety.start(kRunTimeoutMs);
  bool seen = false;
  QTimer::singleShot(0, [&] {
    for (QWidget* top : QApplication::topLevelWidgets()) {
      auto* w = dynamic_cast<TMainWindow*>(top);
      if (w == nullptr || !w->isVisible()) continue;
      seen = true;
      w->CheckBoxAnsi->setChecked(false);
      QTest::keyClick(w->FlatButton1, Qt::Key_Escape);
    }
  });
  EXPECT_EQ(RunMainWindow(*qApp), 0);
  EXPECT_TRUE(safety.isActive()) << "the window did not end the run";
  safety.stop();
  EXPECT_TRUE(seen);
  EXPECT_EQ(Settings(), "[MODE]\r\nAsAnsi=0\r\n");
}

}  // namespace
}  // namespace pv
