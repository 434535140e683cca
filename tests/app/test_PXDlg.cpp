#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/PXDlg.h"
#include "files/ScopedOverride.h"
#include "widgets/HTMLMarkup.h"
#include "widgets/HTMLShell.h"
#include "widgets/HTMLabel.h"

namespace pv {
namespace {

// n lines "1" to "n" joined with sep.
std::string Numbered(int n, const std::string& sep) {
  std::string s;
  for (int i = 1; i <= n; ++i) s += (i > 1 ? sep : "") + std::to_string(i);
  return s;
}

std::string NumberedBr(int from, int to) {
  std::string s;
  for (int i = from; i <= to; ++i) s += (i > from ? "<br>" : "") + std::to_string(i);
  return s;
}

TEST(ReplaceAllText, CaseInsensitiveNonOverlapping) {
  struct Case {
    std::string source, find, replacement, expected;
  } cases[] = {
      {"", "a", "b", ""},
      {"abc", "", "x", "abc"},
      {"ab", "abc", "x", "ab"},
      {"a<br>b<BR>c<Br>d<bR>e", "<BR>", "|", "a|b|c|d|e"},
      {"aaaa", "aa", "b", "bb"},
      {"aaa", "aa", "b", "ba"},
      {"x\r\ny", "\r\n", "<BR>", "x<BR>y"},
      {"Stra\xDF"
       "e STRASSE",
       "strasse", "-",
       "Stra\xDF"
       "e -"},
      {"\xC4rger \xE4rger", "\xE4RGER", "x", "x x"},  // accented letters in both cases
      {"\x8A\x9A", "\x9A", "s", "ss"},                // S caron
      {"abc", "abc", "", ""},
      {"1.2.3", ".", "..", "1..2..3"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.source + " / " + c.find);
    EXPECT_EQ(ReplaceAllText(c.source, c.find, c.replacement), c.expected);
  }
}

TEST(PrepareMessageText, LineBreaksLeadingEmptyLinesAndTheLimit) {
  const std::string dots = "<br>................<br>";
  struct Case {
    std::string name, text, expected;
  } cases[] = {
      {"result", "<b>Fertig!</b><br>3 Adressen", "<b>Fertig!</b><br>3 Adressen"},
      {"br in any case", "a<BR>b<br>c<Br>d", "a<br>b<br>c<br>d"},
      {"CR LF, CR, LF", "a\r\nb\rc\nd", "a<br>b<br>c<br>d"},
      {"leading empty lines", "\r\n<br>\nerste<br>zweite", "erste<br>zweite"},
      {"empty lines inside stay", "a<br><br>b", "a<br><br>b"},
      {"trailing break", "a<br>", "a"},
      {"empty", "", ""},
      {"21 lines", Numbered(21, "<br>"), NumberedBr(1, 21)},
      {"22 lines", Numbered(22, "\r\n"), NumberedBr(1, 21) + dots + "22"},
      {"30 lines", Numbered(30, "<BR>"), NumberedBr(1, 21) + dots + "30"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(PrepareMessageText(c.text), c.expected);
  }
}

// Answers the message box for the tests that go through ShowHTMLMessage.
struct AnswerWith : TScopedOverride<THTMLMessageHook> {
  explicit AnswerWith(TModalResult answer)
      : TScopedOverride(SetHTMLMessageHook, [answer](const std::string&, const std::string&,
                                                     const std::string&) { return answer; }) {}
};

TEST(ShowHTMLMessage, HookAnswersAndTheCallIsRecorded) {
  AnswerWith hook(TModalResult::mrOk);
  const int before = LastHTMLMessage().count;
  EXPECT_EQ(ShowHTMLMessage("Parvela <b>fehlt</b>!"), TModalResult::mrOk);
  EXPECT_EQ(LastHTMLMessage().text, "Parvela <b>fehlt</b>!");
  EXPECT_EQ(LastHTMLMessage().caption, "");
  EXPECT_EQ(LastHTMLMessage().count, before + 1);
}

TEST(ShowHTMLMessage, ModalBoxClosesOnAKey) {
  const TScopedOverride noHook(SetHTMLMessageHook, THTMLMessageHook());
  ASSERT_FALSE(noHook.Previous());
  bool pressed = false;
  QTimer safety;  // a box the test failed to close must not wait for a person
  safety.setSingleShot(true);
  QObject::connect(&safety, &QTimer::timeout, [] {
    if (auto* box = dynamic_cast<TFSB_BOX*>(QApplication::activeModalWidget())) box->Close({});
  });
  safety.start(10000);
  QTimer::singleShot(0, [&] {
    auto* box = dynamic_cast<TFSB_BOX*>(QApplication::activeModalWidget());
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->FMsgHTML->Markup(), "<b>Fertig!</b><br>1 Adresse");
    QTest::keyClick(box->FB_BREAK2, Qt::Key_Space);
    pressed = true;
  });
  EXPECT_EQ(ShowHTMLMessage("<b>Fertig!</b><br>1 Adresse"), TModalResult::mrCancel);
  EXPECT_TRUE(pressed);
}

// A box set up for a message and shown, as ShowHTMLMessage does before its modal loop.
struct ShownBox {
  TFSB_BOX box;
  explicit ShownBox(const std::string& text, const std::string& help = {},
                    const std::string& caption = {})
      : box(nullptr, QSize(800, 600)) {
    box.Setup(text, help, caption);
    box.show();
    QApplication::processEvents();
  }
};

TEST(FSB_BOX, KeysThatCloseAndKeysThatDoNot) {
  struct Case {
    const char* name;
    Qt::Key key;
    Qt::KeyboardModifiers modifiers;
    TModalResult result;  // mrNone: stays open
  } cases[] = {
      {"Space", Qt::Key_Space, Qt::NoModifier, TModalResult::mrCancel},
      {"Enter", Qt::Key_Return, Qt::NoModifier, TModalResult::mrCancel},
      {"Escape", Qt::Key_Escape, Qt::NoModifier, TModalResult::mrCancel},
      {"letter", Qt::Key_A, Qt::NoModifier, TModalResult::mrCancel},
      {"F1", Qt::Key_F1, Qt::NoModifier, TModalResult::mrNone},
      {"Shift alone", Qt::Key_Shift, Qt::ShiftModifier, TModalResult::mrNone},
      {"Ctrl alone", Qt::Key_Control, Qt::ControlModifier, TModalResult::mrNone},
      {"Shift+A", Qt::Key_A, Qt::ShiftModifier, TModalResult::mrNone},
      {"Ctrl+Enter", Qt::Key_Return, Qt::ControlModifier, TModalResult::mrOk},
      {"Shift+Escape", Qt::Key_Escape, Qt::ShiftModifier, TModalResult::mrCancel},
      {"Alt+Right", Qt::Key_Right, Qt::AltModifier, TModalResult::mrNone},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ShownBox s("Nachricht", "Hilfe dazu");
    QTest::keyPress(s.box.FB_BREAK2, c.key, c.modifiers);
    EXPECT_EQ(s.box.isVisible(), c.result == TModalResult::mrNone);
    if (c.result != TModalResult::mrNone) {
      EXPECT_EQ(s.box.ModalResult(), c.result);
    }
  }
}

TEST(FSB_BOX, ArrowsWithAModifierMoveBetweenTheButtons) {
  ShownBox s("Nachricht", "Hilfe dazu");
  s.box.activateWindow();
  s.box.FB_BREAK2->setFocus();
  QTest::keyPress(s.box.FB_BREAK2, Qt::Key_Left, Qt::ShiftModifier);
  EXPECT_EQ(s.box.focusWidget(), s.box.FBhelpS);
  QTest::keyPress(s.box.FBhelpS, Qt::Key_Right, Qt::ShiftModifier);
  EXPECT_EQ(s.box.focusWidget(), s.box.FB_BREAK2);
}

TEST(FSB_BOX, LayoutCaptionAndHelp) {
  QGuiApplication::setApplicationDisplayName(QStringLiteral("vCard Parvela"));
  {
    ShownBox s("<b>Fertig!</b><br>2 Adressen in /tmp/pv.vcf");
    EXPECT_EQ(s.box.windowTitle(), QStringLiteral("vCard Parvela"));
    EXPECT_FALSE(s.box.FBhelpS->isVisible());
    const THTMLLayout& layout = s.box.FMsgHTML->Layout();
    ASSERT_EQ(layout.lines.size(), 2u);
    EXPECT_TRUE(layout.lines[0].items[0].font.bold());
    const int textHeight = s.box.FMsgHTML->height();
    EXPECT_EQ(textHeight, layout.height + 6);
    EXPECT_EQ(s.box.Pmsg->y(), textHeight + 2);
    // The client area within the 2-pixel border.
    EXPECT_EQ(s.box.Client()->geometry(), QRect(2, 2, 406, textHeight + 37));
    EXPECT_EQ(s.box.height(), textHeight + 37 + 4);
    EXPECT_EQ(s.box.width(), 406 + 4);
    EXPECT_EQ(s.box.focusWidget(), s.box.FB_BREAK2);
  }
  {
    ShownBox s("Text", "Erste Zeile<br>zweite Zeile", "Titel");
    EXPECT_EQ(s.box.windowTitle(), QStringLiteral("Titel"));
    ASSERT_TRUE(s.box.FBhelpS->isVisible());
    const int before = s.box.height();
    QTest::mouseClick(s.box.FBhelpS, Qt::LeftButton);
    EXPECT_TRUE(s.box.FP_help->isVisible());
    EXPECT_FALSE(s.box.FBhelpS->isEnabled());
    EXPECT_EQ(s.box.FHelpHTML->Layout().lines.size(), 2u);
    EXPECT_EQ(s.box.FP_help->height(), s.box.FHelpHTML->height() + 5);
    EXPECT_EQ(s.box.height(), before + s.box.FP_help->height());
    EXPECT_EQ(s.box.Client()->height(), s.box.height() - 4);
    EXPECT_TRUE(s.box.isVisible());
  }
}

// The text keeps the border's distance from the window's edge: its first dark pixels are neither
// in the border nor glued to it, and the border itself is the form's white.
TEST(FSB_BOX, TextKeepsTheTwoPixelBorder) {
  ShownBox s("<b>Fertig!</b><br>2 Adressen");
  EXPECT_EQ(s.box.FMsgHTML->mapTo(&s.box, QPoint(0, 0)), QPoint(2, 2));
  EXPECT_EQ(s.box.Pmsg->mapTo(&s.box, QPoint(0, 0)).x(), 2);
  EXPECT_EQ(s.box.Pmsg->width(), 406);
  const QImage image = s.box.grab().toImage();
  int left = image.width(), top = image.height();
  for (int y = 0; y < s.box.Pmsg->mapTo(&s.box, QPoint()).y(); ++y)
    for (int x = 0; x < image.width(); ++x)
      if (qGray(image.pixel(x, y)) < 128) {
        left = std::min(left, x);
        top = std::min(top, y);
      }
  EXPECT_GE(left, 3);
  EXPECT_GE(top, 2);
  for (int x = 0; x < image.width(); ++x) {
    EXPECT_EQ(image.pixelColor(x, 0), QColor(Qt::white));
    EXPECT_EQ(image.pixelColor(x, 1), QColor(Qt::white));
  }
}

TEST(FSB_BOX, KeepsItsOwnColoursUnderADarkTheme) {
  const QPalette before = QApplication::palette();
  QPalette dark(QColor(0xEE, 0xEE, 0xEE), QColor(0x35, 0x35, 0x35), QColor(0x50, 0x50, 0x50),
                QColor(0x20, 0x20, 0x20), QColor(0x30, 0x30, 0x30), QColor(0xFA, 0xFA, 0xFA),
                Qt::white, QColor(0x2A, 0x2A, 0x2A), QColor(0x25, 0x25, 0x25));
  QApplication::setPalette(dark);
  {
    ShownBox s("Parvela <b>fehlt</b>!");
    for (QWidget* w : {static_cast<QWidget*>(&s.box), static_cast<QWidget*>(s.box.FMsgHTML),
                       static_cast<QWidget*>(s.box.Pmsg), static_cast<QWidget*>(s.box.FB_BREAK2)}) {
      SCOPED_TRACE(w->metaObject()->className());
      const QPalette& p = w->palette();
      EXPECT_LT(qGray(p.color(QPalette::WindowText).rgb()), 80);
      EXPECT_LT(qGray(p.color(QPalette::ButtonText).rgb()), 80);
      EXPECT_GT(qGray(p.color(QPalette::Window).rgb()), 200);
      EXPECT_GT(qGray(p.color(QPalette::Button).rgb()), 200);
    }
  }
  QApplication::setPalette(before);
}

TEST(FSB_BOX, FontSizesFollowTheScreenWidth) {
  TFSB_BOX narrow(nullptr, QSize(800, 600));
  EXPECT_EQ(narrow.font().pixelSize(), 11);
  EXPECT_EQ(narrow.FMsgHTML->font().pixelSize(), 11);
  EXPECT_EQ(narrow.Panel2->width(), 89);
  EXPECT_EQ(narrow.MaxHeight(), 420);

  TFSB_BOX wide(nullptr, QSize(801, 1001));
  EXPECT_EQ(wide.font().pointSize(), 9);
  EXPECT_EQ(wide.FMsgHTML->font().pointSize(), 10);
  EXPECT_EQ(wide.FHelpHTML->font().pointSize(), 10);
  EXPECT_EQ(wide.Panel2->width(), 97);
  EXPECT_EQ(wide.FB_BREAK2->geometry(), QRect(2, 4, 93, 25));
  EXPECT_EQ(wide.MaxHeight(), 701);
}

TEST(FSB_BOX, ShellLinksCloseTheBoxOthersDoNothing) {
  std::mutex lock;
  std::condition_variable opened;
  std::vector<std::string> targets;
  const TScopedOverride shell(SetShellOpenHook, [&](const std::string& t) {
    std::lock_guard<std::mutex> guard(lock);
    targets.push_back(t);
    opened.notify_all();
    return true;
  });
  {
    TShellJobPool pool;
    struct Case {
      std::string target;
      bool closes;
    } cases[] = {{"https://example.org/", true}, {"mailto:a@b.de", true}, {"x", false}};
    for (const auto& c : cases) {
      SCOPED_TRACE(c.target);
      ShownBox s("Siehe <a href=\"" + c.target + "\">hier</a>.");
      const THTMLLayout& layout = s.box.FMsgHTML->Layout();
      const THTMLItem* link = layout.AnchorAt(layout.lines[0].items[1].rect.center());
      ASSERT_NE(link, nullptr);
      QTest::mouseClick(s.box.FMsgHTML, Qt::LeftButton, {}, link->rect.center());
      EXPECT_EQ(s.box.isVisible(), !c.closes);
      if (c.closes) {
        EXPECT_EQ(s.box.ModalResult(), TModalResult::mrCancel);
      }
    }
    std::unique_lock<std::mutex> guard(lock);
    EXPECT_TRUE(
        opened.wait_for(guard, std::chrono::seconds(10), [&] { return targets.size() >= 2; }));
  }
  std::sort(targets.begin(), targets.end());
  EXPECT_EQ(targets, (std::vector<std::string>{"https://example.org/", "mailto:a@b.de"}));
}

}  // namespace
}  // namespace pv
