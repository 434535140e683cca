#include <gtest/gtest.h>

#include <QFontMetrics>
#include <QImage>
#include <QMouseEvent>
#include <QPixmap>
#include <QTest>
#include <memory>
#include <string>
#include <vector>

#include "files/ScopedOverride.h"
#include "tests/support/TempDir.h"
#include "widgets/AnsiQt.h"
#include "widgets/HTMLMarkup.h"
#include "widgets/HTMLShell.h"
#include "widgets/HTMLabel.h"

namespace pv {
namespace {

// The main window's label text and its plain form.
const std::string kMainText =
    "Die erstellte Datei k\xF6nnen Sie in die g\xE4ngigen <B>Webapplicationen </B>einlesen, und "
    "damit auch <B>Smartphones </B>zur Verf\xFCgung stellen. <A href=\"x\">Verzeichnis w\xE4hlen "
    "und Datei erstellen</A>.";
const QString kMainPlain = AnsiToQString(
    "Die erstellte Datei k\xF6nnen Sie in die g\xE4ngigen Webapplicationen einlesen, und damit "
    "auch Smartphones zur Verf\xFCgung stellen. Verzeichnis w\xE4hlen und Datei erstellen.");

QFont MainFont() {
  QFont f(UiFontFamily());
  f.setPixelSize(12);
  return f;
}

// A shown window holding one label with the main window's font.
struct Fixture {
  QWidget window;
  THTMLabel* label;
  Fixture(const std::string& markup, int width, int height = 76) {
    window.resize(width + 40, 400);
    label = new THTMLabel(&window);
    label->setFont(MainFont());
    label->setGeometry(9, 12, width, height);
    label->SetHTMLString(markup);
    window.show();
  }
};

std::vector<QString> LineTexts(const THTMLLayout& layout) {
  std::vector<QString> texts;
  for (const auto& line : layout.lines) texts.push_back(line.Text());
  return texts;
}

const THTMLItem* FindItem(const THTMLLayout& layout, const QString& text) {
  for (const auto& line : layout.lines) {
    for (const auto& item : line.items) {
      if (item.text == text) return &item;
    }
  }
  return nullptr;
}

void Click(THTMLabel* label, QPoint at) { QTest::mouseClick(label, Qt::LeftButton, {}, at); }

void MoveMouse(THTMLabel* label, QPoint at) {
  QMouseEvent move(QEvent::MouseMove, QPointF(at), QPointF(label->mapToGlobal(at)), Qt::NoButton,
                   Qt::NoButton, Qt::NoModifier);
  QCoreApplication::sendEvent(label, &move);
}

// Replaces the desktop shell for one test and records what it was asked to open.
struct ShellSpy {
  std::vector<std::string> opened;
  TScopedOverride<TShellOpenHook> hook{SetShellOpenHook, [this](const std::string& t) {
                                         opened.push_back(t);
                                         return true;
                                       }};
};

TEST(HTMLabel, MainWindowTextWrapsWithinTheLabelAndSetsItsHeight) {
  Fixture f(kMainText, 240);
  f.label->SetAutoSizing(true);
  const THTMLLayout& layout = f.label->Layout();
  const QRect area = f.label->TextRect();
  const int right = area.x() + area.width();

  ASSERT_GE(layout.lines.size(), 3u);
  QString joined;
  for (const auto& line : layout.lines) joined += line.Text();
  EXPECT_EQ(joined, kMainPlain);

  const int minHeight = QFontMetrics(MainFont(), f.label).height();
  int y = area.y();
  for (std::size_t i = 0; i < layout.lines.size(); ++i) {
    SCOPED_TRACE(layout.lines[i].Text().toStdString());
    const THTMLLine& line = layout.lines[i];
    EXPECT_EQ(line.rect.y(), y);
    EXPECT_GE(line.rect.height(), minHeight);
    y += line.rect.height();
    EXPECT_LE(area.x() + line.width, right);
    EXPECT_EQ(line.items.front().rect.x(), area.x() + 1);
    if (i + 1 < layout.lines.size()) {
      // Greedy: the next line's first word did not fit behind this line.
      EXPECT_TRUE(line.Text().endsWith(u' '));
      EXPECT_GE(area.x() + line.width + layout.lines[i + 1].items.front().rect.width(), right);
    }
  }
  EXPECT_EQ(layout.height, y - area.y());
  EXPECT_EQ(f.label->height(), layout.height + 6);

  const THTMLItem* bold = FindItem(layout, QStringLiteral("Smartphones "));
  ASSERT_NE(bold, nullptr);
  EXPECT_TRUE(bold->font.bold());
  const THTMLItem* link = FindItem(layout, QStringLiteral("erstellen"));
  ASSERT_NE(link, nullptr);
  EXPECT_EQ(link->anchor, "x");
  EXPECT_EQ(link->color, QColor(0, 0, 255));
  EXPECT_TRUE(link->font.underline());
  EXPECT_FALSE(link->font.bold());

  // A narrower label grows taller.
  const int height = f.label->height();
  f.label->resize(150, f.label->height());
  EXPECT_GT(f.label->height(), height);
  EXPECT_EQ(f.label->height(), f.label->Layout().height + 6);
}

TEST(HTMLabel, AnchorClickGoesToTheHandlerOrToTheShell) {
  struct Case {
    std::string target;
    bool toShell;
  } cases[] = {{"x", false},
               {"mailto:a", true},
               {"http://example.org/a", true},
               {"file:///tmp/a.txt", true},
               {"mail:a", false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.target);
    ShellSpy shell;
    Fixture f("Vorher <A href=\"" + c.target + "\">Verweis</A> nachher", 240);
    std::vector<std::string> clicked;
    f.label->OnAnchorClick = [&](THTMLabel* sender, const std::string& a) {
      EXPECT_EQ(sender, f.label);
      clicked.push_back(a);
    };
    const THTMLItem* item = FindItem(f.label->Layout(), QStringLiteral("Verweis"));
    ASSERT_NE(item, nullptr);
    const QPoint inside = item->rect.center();
    Click(f.label, inside);
    EXPECT_EQ(clicked, c.toShell ? std::vector<std::string>{} : std::vector{c.target});
    EXPECT_EQ(shell.opened, c.toShell ? std::vector{c.target} : std::vector<std::string>{});

    Click(f.label, QPoint(2, inside.y()));  // on "Vorher"
    EXPECT_EQ(clicked.size() + shell.opened.size(), 1u);
  }
}

TEST(HTMLabel, MainWindowAnchorReachesItsHandler) {
  ShellSpy shell;
  Fixture f(kMainText, 240);
  f.label->SetAutoSizing(true);
  std::string clicked;
  f.label->OnAnchorClick = [&](THTMLabel*, const std::string& a) { clicked = a; };
  const THTMLItem* item = FindItem(f.label->Layout(), AnsiToQString("w\xE4hlen "));
  ASSERT_NE(item, nullptr);
  Click(f.label, item->rect.center());
  EXPECT_EQ(clicked, "x");
  EXPECT_TRUE(shell.opened.empty());
}

TEST(HTMLabel, LinesJoinWithoutSeparatorAndBreakOnlyAtMarkup) {
  struct Case {
    std::vector<std::string> lines;
    std::vector<QString> shown;
  } cases[] = {
      {{"a", "b"}, {"ab"}},   {{"a<BR>b"}, {"a", "b"}}, {{"a<br>", "b"}, {"a", "b"}},
      {{"a\r\nb"}, {"ab"}},   {{"a<hr>b"}, {"a", "b"}}, {{"a<BR><BR>b"}, {"a", "", "b"}},
      {{"a<BR>"}, {"a"}},     {{"<b>"}, {""}},          {{"a <p>b</p>c"}, {"a b", "c"}},
      {{"1 < 2"}, {"1 < 2"}},  // a '<' without a closing '>' is text
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.lines.front());
    Fixture f("", 240);
    f.label->SetHTMLText(c.lines);
    EXPECT_EQ(LineTexts(f.label->Layout()).size(), c.shown.size());
    QStringList got;
    for (const auto& t : LineTexts(f.label->Layout())) got << t;
    QStringList want;
    for (const auto& t : c.shown) want << t;
    EXPECT_EQ(got.join('|').toStdString(), want.join('|').toStdString());
  }
  Fixture empty("", 240);
  EXPECT_TRUE(empty.label->Layout().lines.empty());
  EXPECT_EQ(empty.label->Layout().height, 0);
}

TEST(HTMLabel, FontTagColourAndSize) {
  const QColor black(0, 0, 0);
  const QColor red(255, 0, 0);
  struct Case {
    std::string tag;
    QColor color, background;
    int points;  // 0: the control's size
  } cases[] = {
      {"<font color=\"#ff0000\">", red, QColor(), 0},
      {"<FONT COLOR=\"#FF0000\">", red, QColor(), 0},
      {"<font bgcolor=\"#ff0000\">", black, red, 0},
      {"<font color=\"clGreen\" bgcolor=\"clYellow\">", QColor(0, 128, 0), QColor(255, 255, 0), 0},
      {"<font color=\"noSuchColour\">", black, QColor(), 0},
      {"<font color=\"#0000\">", black, QColor(), 0},
      {"<font size=\"1\">", black, QColor(), 8},
      {"<font size=\"3\">", black, QColor(), 12},
      {"<font size=\"5\">", black, QColor(), 16},
      {"<font size=\"11\">", black, QColor(), 11},
      {"<font size=\"0\">", black, QColor(), 0},
      {"<font size=\"gross\">", black, QColor(), 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.tag);
    Fixture f("a" + c.tag + "b</font>c", 240);
    f.label->SetFontColor(black);
    const THTMLLayout& layout = f.label->Layout();
    const THTMLItem* b = FindItem(layout, "b");
    const THTMLItem* after = FindItem(layout, "c");
    ASSERT_NE(b, nullptr);
    ASSERT_NE(after, nullptr);
    EXPECT_EQ(b->color, c.color);
    EXPECT_EQ(b->background, c.background);
    if (c.points) {
      EXPECT_EQ(b->font.pointSize(), c.points);
    } else {
      EXPECT_EQ(b->font.pixelSize(), 12);
    }
    EXPECT_EQ(after->color, black);
    EXPECT_FALSE(after->background.isValid());
    EXPECT_EQ(after->font.pixelSize(), 12);
  }
}

TEST(HTMLabel, EntitiesAndAmpersands) {
  struct Case {
    std::string markup;
    QString shown;
    QString drawn;  // Qt mnemonic form: '&' marks an underlined character
  } cases[] = {
      {"Tom &amp; Jerry", "Tom & Jerry", "Tom && Jerry"},
      {"&quot;x&quot;", "\"x\"", "\"x\""},
      {"5 &euro;", QString("5 ") + QChar(0x20AC), QString("5 ") + QChar(0x20AC)},
      {"&copy;&reg;&trade;&sect;&para;&permil;",
       QString(QChar(0xA9)) + QChar(0xAE) + QChar(0x2122) + QChar(0xA7) + QChar(0xB6) +
           QChar(0x2030),
       QString(QChar(0xA9)) + QChar(0xAE) + QChar(0x2122) + QChar(0xA7) + QChar(0xB6) +
           QChar(0x2030)},
      {"&lt;b&gt;x", "<b>x", "<b>x"},  // not a tag
      {"a&nbsp;b", "a b", "a b"},
      {"&amp;lt;", "&lt;", "&&lt;"},
      {"&Datei", "Datei", "&Datei"},  // a lone '&' underlines the next character
      {"x&", "x", "x"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.markup);
    Fixture f(c.markup, 400);
    const THTMLLayout& layout = f.label->Layout();
    ASSERT_EQ(layout.lines.size(), 1u);
    EXPECT_EQ(layout.lines[0].Text(), c.shown);
    QString drawn;
    for (const auto& item : layout.lines[0].items) drawn += item.drawText;
    EXPECT_EQ(drawn, c.drawn);
  }
}

TEST(HTMLabel, EllipsisKeepsOneLineEndingInAnEllipsis) {
  const std::string text =
      "Ein langer Text, der <b>nicht</b> in eine Zeile passt, weil das Feld nur schmal ist.";
  Fixture f(text, 120);
  EXPECT_GT(f.label->Layout().lines.size(), 1u);
  f.label->SetEllipsis(true);
  const THTMLLayout& layout = f.label->Layout();
  ASSERT_EQ(layout.lines.size(), 1u);
  const QString shown = layout.lines[0].Text();
  EXPECT_TRUE(shown.endsWith(QChar(0x2026))) << shown.toStdString();
  EXPECT_TRUE(shown.startsWith(QStringLiteral("Ein l")));
  EXPECT_LE(layout.lines[0].width, f.label->TextRect().width());

  Fixture fits("kurz", 120);
  fits.label->SetEllipsis(true);
  EXPECT_EQ(fits.label->Layout().lines[0].Text(), QStringLiteral("kurz"));
}

TEST(HTMLabel, WordWiderThanTheLineGetsALineOfItsOwn) {
  Fixture f("aa Donaudampfschifffahrtsgesellschaftskapit\xE4nsm\xFCtze bb", 100);
  const THTMLLayout& layout = f.label->Layout();
  ASSERT_EQ(layout.lines.size(), 3u);
  EXPECT_EQ(layout.lines[0].Text(), QStringLiteral("aa "));
  EXPECT_GT(layout.lines[1].width, f.label->TextRect().width());
  EXPECT_EQ(layout.lines[2].Text(), QStringLiteral("bb"));

  // Without a blank before it a run has no break opportunity and stays on the line.
  Fixture glued("aa<b>Donaudampfschifffahrtsgesellschaft</b>", 100);
  EXPECT_EQ(glued.label->Layout().lines.size(), 1u);
}

TEST(HTMLabel, ListsParagraphsAndHiddenText) {
  Fixture f("<UL><LI>eins</LI><LI>zwei<LI>drei</LI></UL>danach", 240);
  const THTMLLayout& layout = f.label->Layout();
  ASSERT_EQ(layout.lines.size(), 4u);
  for (int i = 0; i < 3; ++i) {
    SCOPED_TRACE(i);
    const auto& items = layout.lines[i].items;
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[0].kind, THTMLItem::TKind::Bullet);
    EXPECT_EQ(items[0].text, QString(QChar(0x2022)));
    EXPECT_EQ(items[1].rect.x() - items[0].rect.x(), 12);
  }
  EXPECT_EQ(layout.lines[3].items.front().rect.x(), f.label->TextRect().x() + 1);

  Fixture right("<P align=\"right\">r</P><P ALIGN=\"center\">c</P>l", 240);
  const auto& lines = right.label->Layout().lines;
  ASSERT_EQ(lines.size(), 3u);
  const int end = right.label->TextRect().x() + right.label->TextRect().width();
  EXPECT_EQ(lines[0].items[0].rect.right() + 1, end);
  const QRect c = lines[1].items[0].rect;
  EXPECT_NEAR(c.x() - (right.label->TextRect().x() + 1), end - (c.right() + 1), 1);
  EXPECT_EQ(lines[2].items[0].rect.x(), right.label->TextRect().x() + 1);

  Fixture hidden("a<Z>unsichtbar</Z>b", 240);
  EXPECT_EQ(hidden.label->Layout().lines[0].Text(), QStringLiteral("ab"));
}

TEST(HTMLabel, SuperscriptRaisesAndGrowsTheLine) {
  Fixture plain("x", 240);
  Fixture sup("x<SUP>2</SUP>", 240);
  const int h = plain.label->Layout().lines[0].rect.height();
  const THTMLLine& line = sup.label->Layout().lines[0];
  EXPECT_EQ(line.rect.height(), h + h / 4);
  EXPECT_EQ(line.items[0].rect.y() - line.items[1].rect.y(), h / 4);
}

TEST(HTMLabel, ImagesFromListContainerFileAndUnfetchedAddress) {
  test::TempDir dir;
  QImage red(10, 8, QImage::Format_RGB32);
  red.fill(Qt::red);
  ASSERT_TRUE(red.save(QString::fromStdString(dir / "bild.png")));
  THTMLImageList list;
  list.Add(QPixmap(20, 20));
  THTMLPictureContainer container;
  container.Add("Logo", QPixmap(30, 12));

  struct Case {
    std::string tag;
    QSize size;  // empty: the image takes no room
  } cases[] = {
      {"<IMG src=\"IDX:0\">", QSize(20, 20)},
      {"<IMG src=\"IDX:7\">", QSize()},
      {"<IMG src=\"logo\">", QSize(30, 12)},
      {"<IMG src=\"logo\" width=\"60\" height=\"24\">", QSize(60, 24)},
      {"<IMG src=\"logo\" width=\"60\">", QSize(30, 12)},
      {"<IMG src=\"fehlt\">", QSize()},
      {"<IMG src=\"FILE://" + dir.path() + "/bild.png\">", QSize(10, 8)},
      {"<IMG src=\"file://" + dir.path() + "/nichtda.png\">", QSize()},
      {"<IMG src=\"http://example.org/bild.png\">", QSize()},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.tag);
    Fixture f("a" + c.tag + "b", 240);
    f.label->SetImages(&list);
    f.label->SetPictureContainer(&container);
    const THTMLLayout& layout = f.label->Layout();
    ASSERT_EQ(layout.lines.size(), 1u);
    const auto& items = layout.lines[0].items;
    if (c.size.isEmpty()) {
      ASSERT_EQ(items.size(), 2u);
      EXPECT_EQ(items[1].rect.x(), items[0].rect.right() + 1);
      continue;
    }
    ASSERT_EQ(items.size(), 3u);
    EXPECT_EQ(items[1].kind, THTMLItem::TKind::Picture);
    EXPECT_EQ(items[1].rect.size(), c.size);
    EXPECT_EQ(items[1].rect.bottom(), items[0].rect.bottom());
    EXPECT_GE(layout.lines[0].rect.height(), c.size.height());
  }

  // A destroyed container is forgotten.
  Fixture f("<IMG src=\"x\">", 240);
  {
    THTMLPictureContainer temporary;
    temporary.Add("x", QPixmap(5, 5));
    f.label->SetPictureContainer(&temporary);
    EXPECT_EQ(f.label->Layout().lines[0].items.size(), 1u);
  }
  EXPECT_EQ(f.label->PictureContainer(), nullptr);
  EXPECT_TRUE(f.label->Layout().lines[0].items.empty());
}

TEST(HTMLabel, HoverUnderlinesOnlyTheAnchorUnderTheMouse) {
  Fixture f("<A href=\"1\">eins</A> und <A href=\"2\">zwei</A>", 240);
  f.label->SetHover(true);
  f.label->SetHoverFontColor(QColor(255, 0, 0));
  std::vector<std::string> events;
  f.label->OnAnchorEnter = [&](THTMLabel*, const std::string& a) { events.push_back("+" + a); };
  f.label->OnAnchorExit = [&](THTMLabel*, const std::string& a) { events.push_back("-" + a); };
  auto item = [&](const char* text) { return *FindItem(f.label->Layout(), text); };
  EXPECT_FALSE(item("eins").font.underline());
  EXPECT_FALSE(item("zwei").font.underline());

  MoveMouse(f.label, item("zwei").rect.center());
  EXPECT_EQ(f.label->cursor().shape(), Qt::PointingHandCursor);
  EXPECT_FALSE(item("eins").font.underline());
  EXPECT_TRUE(item("zwei").font.underline());
  EXPECT_EQ(item("zwei").color, QColor(255, 0, 0));
  EXPECT_EQ(item("eins").color, QColor(0, 0, 255));
  MoveMouse(f.label, item("zwei").rect.center() + QPoint(1, 0));  // same anchor: no event

  MoveMouse(f.label, item("und ").rect.center());
  EXPECT_EQ(f.label->cursor().shape(), Qt::ArrowCursor);
  EXPECT_FALSE(item("zwei").font.underline());
  MoveMouse(f.label, item("eins").rect.center());
  EXPECT_EQ(events, (std::vector<std::string>{"+2", "-", "+1"}));
}

TEST(HTMLabel, HintsShowTheTargetOrTheWholeText) {
  Fixture f("Text<BR>mit <A href=\"ziel\">Verweis</A><hr>und <b>Ende</b>", 240);
  const QPoint onAnchor = FindItem(f.label->Layout(), "Verweis")->rect.center();
  EXPECT_FALSE(f.label->HintAt(onAnchor));

  f.label->SetAnchorHint(true);
  f.label->OnAnchorHint = [](THTMLabel*, std::string& hint) { hint += "!"; };
  auto hint = f.label->HintAt(onAnchor);
  ASSERT_TRUE(hint);
  EXPECT_EQ(hint->text, "ziel!");
  EXPECT_TRUE(hint->atAnchor);

  f.label->SetHintShowFull(true);
  hint = f.label->HintAt(QPoint(1, 1));
  ASSERT_TRUE(hint);
  EXPECT_EQ(hint->text, "Text\r\nmit Verweis\r\nund Ende");
  f.label->SetHTMLHint(true);
  EXPECT_EQ(f.label->HintAt(QPoint(1, 1))->text, f.label->Markup());
}

TEST(HTMLabel, VerticalAlignmentAndHorizontalAutoSize) {
  Fixture f("a", 100, 60);
  const int h = f.label->Layout().height;
  const int top = f.label->TextRect().y();
  f.label->SetVAlignment(TVAlignment::tvaCenter);
  EXPECT_EQ(f.label->Layout().lines[0].rect.y(), top + (60 - h) / 2);
  f.label->SetVAlignment(TVAlignment::tvaBottom);
  EXPECT_EQ(f.label->Layout().lines[0].rect.y(), top + 60 - h);

  Fixture g("ein Wort", 10, 30);
  g.label->SetAutoSizeType(TAutoSizeType::asHorizontal);
  g.label->SetAutoSizing(true);
  EXPECT_EQ(g.label->width(), g.label->Layout().width + 6);
  EXPECT_EQ(g.label->height(), 30);
  EXPECT_EQ(g.label->Layout().lines.size(), 1u);
}

TEST(HTMLMarkup, AttributesAndColours) {
  EXPECT_EQ(HTMLAttribute("<FONT BGCOLOR=\"#ff0000\">", "COLOR"), std::nullopt);
  EXPECT_EQ(HTMLAttribute("<font bgcolor=\"a\" color=\"b\">", "COLOR"), "b");
  EXPECT_EQ(HTMLAttribute("<p bgcolorto=\"a\" bgcolor=\"b\">", "BGCOLOR"), "b");
  EXPECT_EQ(HTMLAttribute("<img src=\"Bild.PNG\">", "SRC"), "Bild.PNG");
  EXPECT_EQ(HTMLAttribute("<img src=\"offen>", "SRC"), std::nullopt);
  EXPECT_EQ(HTMLFirstQuoted("<a target=\"t\" href=\"h\">"), "t");
  EXPECT_EQ(HTMLFirstQuoted("<a href=x>"), "");

  QPalette palette;
  palette.setColor(QPalette::Button, QColor(1, 2, 3));
  struct Case {
    std::string value;
    QColor color;
  } cases[] = {
      {"#FF8000", QColor(255, 128, 0)}, {"#ff8000", QColor(255, 128, 0)},
      {"#12", QColor(0x12, 0, 0)},      {"#zz0000", QColor(0, 0, 0)},
      {"CLRED", QColor(255, 0, 0)},     {"clNavy", QColor(0, 0, 128)},
      {"clBtnFace", QColor(1, 2, 3)},   {"purple", QColor(0, 0, 0)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.value);
    EXPECT_EQ(HTMLColor(c.value, palette), c.color);
  }
}

}  // namespace
}  // namespace pv
