// The label's keyboard and assistive-technology side, its disabled look and the choice of the
// windows' font.
#include <gtest/gtest.h>

#include <QAccessible>
#include <QApplication>
#include <QFile>
#include <QFontDatabase>
#include <QImage>
#include <QPainter>
#include <QPushButton>
#include <QTest>
#include <string>
#include <vector>

#include "files/ScopedOverride.h"
#include "widgets/AnsiQt.h"
#include "widgets/HTMLMarkup.h"
#include "widgets/HTMLShell.h"
#include "widgets/HTMLabel.h"

namespace pv {
namespace {

const std::string kMainText =
    "Die erstellte Datei k\xF6nnen Sie in die g\xE4ngigen <B>Webapplicationen </B>einlesen, und "
    "damit auch <B>Smartphones </B>zur Verf\xFCgung stellen. <A href=\"x\">Verzeichnis w\xE4hlen "
    "und Datei erstellen</A>.";

// A shown, active window with a button before the label and one after it, as in a form.
struct Form {
  QWidget window;
  QPushButton* before;
  THTMLabel* label;
  QPushButton* after;
  std::vector<std::string> clicked;

  explicit Form(const std::string& markup) {
    window.resize(300, 200);
    before = new QPushButton(QStringLiteral("vorher"), &window);
    before->setGeometry(0, 150, 80, 30);
    label = new THTMLabel(&window);
    QFont f(UiFontFamily());
    f.setPixelSize(12);
    label->setFont(f);
    label->setGeometry(9, 12, 240, 76);
    label->SetAutoSizing(true);
    label->SetOpenLinksInShell(false);
    label->SetHTMLString(markup);
    label->OnAnchorClick = [this](THTMLabel*, const std::string& a) { clicked.push_back(a); };
    after = new QPushButton(QStringLiteral("nachher"), &window);
    after->setGeometry(100, 150, 80, 30);
    QWidget::setTabOrder(before, label);
    QWidget::setTabOrder(label, after);
    window.show();
    window.activateWindow();
    EXPECT_TRUE(QTest::qWaitForWindowActive(&window));
    before->setFocus(Qt::OtherFocusReason);
  }
};

TEST(HTMLabelKeys, TabReachesTheLinkAndEnterOrSpaceActivatesIt) {
  struct Case {
    const char* name;
    Qt::Key key;
    Qt::KeyboardModifiers modifiers;
    bool activates;
  } cases[] = {
      {"Return", Qt::Key_Return, Qt::NoModifier, true},
      {"Enter", Qt::Key_Enter, Qt::KeypadModifier, false},  // a modified key is not ours
      {"Space", Qt::Key_Space, Qt::NoModifier, true},
      {"letter", Qt::Key_V, Qt::NoModifier, false},
      {"Ctrl+Return", Qt::Key_Return, Qt::ControlModifier, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Form form(kMainText);
    EXPECT_EQ(form.label->focusPolicy(), Qt::StrongFocus);
    QTest::keyClick(form.before, Qt::Key_Tab);
    ASSERT_TRUE(form.label->hasFocus());
    EXPECT_EQ(form.label->FocusAnchor(), 0);
    QTest::keyClick(form.label, c.key, c.modifiers);
    EXPECT_EQ(form.clicked,
              c.activates ? std::vector<std::string>{"x"} : std::vector<std::string>{});
  }
}

TEST(HTMLabelKeys, TabStepsThroughTheAnchorsBeforeLeaving) {
  Form form("<a href=\"eins\">Eins</a> und <a href=\"\">leer</a> und <a href=\"zwei\">Zwei</a>");
  EXPECT_EQ(form.label->AnchorCount(), 3);
  QTest::keyClick(form.before, Qt::Key_Tab);
  ASSERT_TRUE(form.label->hasFocus());
  QTest::keyClick(form.label, Qt::Key_Space);
  QTest::keyClick(form.label, Qt::Key_Tab);
  EXPECT_EQ(form.label->FocusAnchor(), 1);
  QTest::keyClick(form.label, Qt::Key_Space);  // an anchor without a target does nothing
  QTest::keyClick(form.label, Qt::Key_Tab);
  EXPECT_EQ(form.label->FocusAnchor(), 2);
  QTest::keyClick(form.label, Qt::Key_Return);
  EXPECT_EQ(form.clicked, (std::vector<std::string>{"eins", "zwei"}));
  QTest::keyClick(form.label, Qt::Key_Tab);
  EXPECT_TRUE(form.after->hasFocus());
  // Coming back with Backtab lands on the last anchor.
  QTest::keyClick(form.after, Qt::Key_Backtab, Qt::ShiftModifier);
  ASSERT_TRUE(form.label->hasFocus());
  EXPECT_EQ(form.label->FocusAnchor(), 2);
}

TEST(HTMLabelKeys, ALabelWithoutLinksTakesNoFocus) {
  Form form("Nur <b>Text</b>, <a href=\"\">ohne Ziel</a>.");
  EXPECT_EQ(form.label->focusPolicy(), Qt::NoFocus);
  QTest::keyClick(form.before, Qt::Key_Tab);
  EXPECT_TRUE(form.after->hasFocus());
  // A link added later makes it reachable.
  form.label->SetHTMLString("Mit <a href=\"x\">Verweis</a>.");
  EXPECT_EQ(form.label->focusPolicy(), Qt::StrongFocus);
}

TEST(HTMLabelKeys, AccessibleRoleNameAndPress) {
  Form form(kMainText);
  QAccessibleInterface* link = QAccessible::queryAccessibleInterface(form.label);
  ASSERT_NE(link, nullptr);
  EXPECT_EQ(link->role(), QAccessible::Link);
  EXPECT_EQ(link->text(QAccessible::Name),
            AnsiToQString("Verzeichnis w\xE4hlen und Datei erstellen"));
  ASSERT_NE(link->actionInterface(), nullptr);
  EXPECT_EQ(link->actionInterface()->actionNames(),
            QStringList{QAccessibleActionInterface::pressAction()});
  link->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
  EXPECT_EQ(form.clicked, std::vector<std::string>{"x"});
  // A name the owner gives wins.
  form.label->setAccessibleName(QStringLiteral("Eigener Name"));
  EXPECT_EQ(link->text(QAccessible::Name), QStringLiteral("Eigener Name"));

  Form plain("Nur <b>Text</b>.");
  QAccessibleInterface* text = QAccessible::queryAccessibleInterface(plain.label);
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(text->role(), QAccessible::StaticText);
  EXPECT_EQ(text->text(QAccessible::Name), QStringLiteral("Nur Text."));
}

// Pixels of the label in the given colour.
int CountPixels(THTMLabel* label, QColor colour) {
  const QImage image = label->grab().toImage();
  int n = 0;
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x)
      if (image.pixelColor(x, y) == colour) ++n;
  return n;
}

TEST(HTMLabelKeys, ADisabledLabelDrawsAllItsTextGreyedOut) {
  Form form(kMainText + "<font color=\"#FF0000\">rot</font>");
  form.label->setFocus(Qt::TabFocusReason);
  EXPECT_GT(CountPixels(form.label, Qt::blue), 0);
  EXPECT_GT(CountPixels(form.label, Qt::red), 0);
  form.window.setEnabled(false);
  EXPECT_EQ(CountPixels(form.label, Qt::blue), 0);
  EXPECT_EQ(CountPixels(form.label, Qt::red), 0);
  // Nothing activates it while it is disabled.
  EXPECT_FALSE(form.label->ActivateFocusAnchor());
  EXPECT_TRUE(form.clicked.empty());
  form.window.setEnabled(true);
  EXPECT_GT(CountPixels(form.label, Qt::blue), 0);
}

// Dark pixels of a short text drawn in font.
int InkOf(const QFont& font) {
  QImage image(200, 40, QImage::Format_RGB32);
  image.fill(Qt::white);
  QPainter p(&image);
  p.setFont(font);
  p.setPen(Qt::black);
  p.drawText(5, 30, QStringLiteral("Los! Fertig Webapp"));
  p.end();
  int n = 0;
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x) n += qGray(image.pixel(x, y)) < 128;
  return n;
}

TEST(UiFont, TahomaWhereInstalledElseWinesTahomaElseDejaVuSans) {
  if (QFontDatabase::families().contains(QStringLiteral("Tahoma"), Qt::CaseInsensitive))
    GTEST_SKIP() << "a Tahoma is installed or already loaded";
  EXPECT_EQ(ChooseUiFontFamily({QStringLiteral("/nonexistent/tahoma.ttf")}), "DejaVu Sans");
  if (!QFile::exists(WineTahomaFiles().front())) GTEST_SKIP() << "fonts-wine is not installed";
  EXPECT_EQ(ChooseUiFontFamily(WineTahomaFiles()), "Tahoma");
  // Loaded once, it counts as installed.
  EXPECT_EQ(ChooseUiFontFamily({}), "Tahoma");
  QFont regular(QStringLiteral("Tahoma"));
  regular.setPixelSize(12);
  QFont bold = regular;
  bold.setBold(true);
  EXPECT_EQ(QFontInfo(bold).family(), "Tahoma");
  // Bold text must look bold: clearly more ink than the regular face.
  EXPECT_GT(InkOf(bold), InkOf(regular) * 5 / 4);

  {
    const TScopedOverride forced(SetUiFontFamily, QStringLiteral("DejaVu Sans"));
    EXPECT_EQ(UiFontFamily(), "DejaVu Sans");
  }
  EXPECT_EQ(UiFontFamily(), "Tahoma");
}

}  // namespace
}  // namespace pv
