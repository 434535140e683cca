// Layout of mini-HTML markup: the lines of text runs, bullets and pictures that a label shows, with
// their fonts, colours and anchors, in control coordinates. Measuring, hit tests and painting all
// work on this result; nothing here draws.
#pragma once

#include <QColor>
#include <QFont>
#include <QPalette>
#include <QPixmap>
#include <QPoint>
#include <QRect>
#include <QString>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

class QPaintDevice;

namespace pv {

// What the layout takes from the control besides the markup. An invalid QColor stands for no
// colour (the hover colours' "clNone").
struct THTMLStyle {
  QFont font;                  // the control's font
  QColor fontColor{0, 0, 0};   // the control's font colour
  QColor urlColor{0, 0, 255};  // anchor text
  QColor hoverColor;           // background of a highlighted anchor
  QColor hoverFontColor;       // font colour of a highlighted anchor
  QColor shadowColor{128, 128, 128};
  int shadowOffset = 2;
  bool ellipsis = false;                 // no wrapping; lines end in an ellipsis at the right edge
  bool hover = false;                    // only the anchor under the mouse is underlined
  int hoverAnchor = -1;                  // ordinal of the anchor under the mouse, -1 for none
  QPalette palette;                      // system colours in markup
  const QPaintDevice* device = nullptr;  // font metrics and resolution; null: 96 dots per inch
  // The picture an image source names (IDX:, SSYS:, LSYS:, an address or a container name); a
  // null pixmap takes no room.
  std::function<QPixmap(const std::string& source)> picture;
};

// One piece of a line.
struct THTMLItem {
  enum class TKind { Text, Bullet, Picture };
  TKind kind = TKind::Text;
  QRect rect;        // the room the piece takes, in control coordinates
  QString text;      // the text as shown (Text, Bullet)
  QString drawText;  // the same in Qt's mnemonic form ('&' before an underlined character)
  QFont font;
  QColor color;
  QColor background;     // invalid: none
  QPixmap picture;       // at the size of rect (Picture)
  std::string anchor;    // target of the anchor the piece belongs to; empty outside anchors
  int anchorIndex = -1;  // ordinal of that anchor in the markup
  bool shadow = false;
  bool error = false;  // zig-zag underline
  int angle = 0;       // rotation in degrees, counter-clockwise
};

struct THTMLLine {
  QRect rect;                    // the text rectangle's width, the line's top and height
  int width = 0;                 // from the text rectangle's left edge to the end of the content
  std::vector<THTMLItem> items;  // in order of the markup (bullets first on their line)
  bool rule = false;             // a horizontal line is drawn under it
  QColor background;             // paragraph colour; invalid: none
  QColor backgroundTo;           // with background: the gradient's right end
  QString Text() const;          // the shown text of all items
};

struct THTMLLayout {
  std::vector<THTMLLine> lines;
  int width = 0;        // the widest line
  int height = 0;       // from the text rectangle's top to the last line's bottom
  QColor bodyColor;     // body tag colour; invalid: none
  QPixmap bodyPicture;  // body tag background picture (tiled)

  // The anchor item whose room contains point; null when none (or its target is empty).
  const THTMLItem* AnchorAt(QPoint point) const;
  // All lines' text joined with '\n' (tests and diagnostics).
  QString Text() const;
};

// Lays out markup (lines joined, CR and LF removed, the one-character entities already replaced)
// in textRect. Lines start one pixel right of its left edge at its top. drawing: stop once the
// next line would not fit above the rectangle's bottom (the text's height is then that of the
// lines that fit); measuring goes on to the end of the markup.
THTMLLayout LayoutHTML(std::string_view markup, const QRect& textRect, const THTMLStyle& style,
                       bool drawing);

}  // namespace pv
