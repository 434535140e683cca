#include "widgets/HTMLLayout.h"

#include <QFontMetrics>
#include <QPaintDevice>
#include <QStringList>
#include <algorithm>
#include <charconv>
#include <optional>

#include "files/AnsiText.h"
#include "widgets/AnsiQt.h"
#include "widgets/HTMLMarkup.h"

namespace pv {
namespace {

constexpr int kListIndent = 12;      // per list level; the bullet sits this far left of the text
constexpr int kRuleRoom = 2;         // extra height of a line with a horizontal rule
constexpr int kTabColumns = 8;       // tab stops, in characters of the run
constexpr int kMaxPointSize = 1000;  // a font tag asks for no larger font than this
constexpr int kFontSizes[] = {8, 10, 12, 14, 16};  // font tag SIZE 1 to 5, in points

enum class TPictureAlign { Bottom, Top, Middle };
enum class TParaAlign { Left, Right, Center };
enum class TTagAction { None, EndLineAfter, EndLineBefore };

// A whole number with optional blanks around it and an optional sign; nothing for anything else.
std::optional<int> ParseInt(std::string_view v) {
  while (!v.empty() && v.front() == ' ') v.remove_prefix(1);
  while (!v.empty() && v.back() == ' ') v.remove_suffix(1);
  if (!v.empty() && v.front() == '+') v.remove_prefix(1);
  int value = 0;
  const auto [end, ec] = std::from_chars(v.data(), v.data() + v.size(), value);
  if (v.empty() || ec != std::errc() || end != v.data() + v.size()) return std::nullopt;
  return value;
}

std::string ExpandTabs(std::string_view raw) {
  std::string out;
  for (char c : raw) {
    if (c != '\t') {
      out += c;
      continue;
    }
    do out += ' ';
    while (out.size() % kTabColumns != 0);
  }
  return out;
}

// The longest start of text that fits into width together with an ellipsis, and the ellipsis.
QString ElideWithMark(const QFontMetrics& fm, const QString& text, int width) {
  const QString mark(QChar(0x2026));
  if (fm.horizontalAdvance(mark) > width) return {};
  qsizetype lo = 0, hi = text.size();
  while (lo < hi) {
    const qsizetype mid = (lo + hi + 1) / 2;
    if (fm.horizontalAdvance(text.left(mid) + mark) <= width) {
      lo = mid;
    } else {
      hi = mid - 1;
    }
  }
  return text.left(lo) + mark;
}

struct TState {
  QFont font;
  QColor color;
  QColor background;
  bool shadow = false;
  bool error = false;
  bool hidden = false;
  int script = 0;  // 1 superscript, -1 subscript
  int angle = 0;

  bool inAnchor = false;
  std::string target;
  int anchorIndex = -1;
  int anchorCount = 0;
  QColor anchorSavedColor, anchorSavedBackground;
  bool anchorSavedUnderline = false;

  bool highlight = false;
  QColor highlightSavedColor, highlightSavedBackground;

  TParaAlign align = TParaAlign::Left;
  int indent = 0;
  QColor paraColor, paraColorTo;

  int listLevel = 0;
  bool inItem = false;
};

struct TLineBuilder {
  int top = 0;
  int x = 0;
  std::vector<THTMLItem> items;
  std::vector<int> raise;  // per item: pixels raised (superscript) or lowered (negative)
  bool hasContent = false;
  bool endsWithBlank = false;
  bool hasBullet = false;
  bool rule = false;
  bool resetPara = false;
  TPictureAlign pictureAlign = TPictureAlign::Bottom;
  int tallestPicture = 0;
};

class TLayouter {
 public:
  TLayouter(std::string_view markup, const QRect& rect, const THTMLStyle& style, bool drawing)
      : markup_(markup), rect_(rect), style_(style), drawing_(drawing) {
    st_.font = style.font;
    st_.color = style.fontColor;
  }

  THTMLLayout Run();

 private:
  int Left() const { return rect_.x() + 1; }
  int Right() const { return rect_.x() + rect_.width(); }
  int LineStart() const {
    return Left() + st_.indent + (st_.inItem ? kListIndent * std::max(st_.listLevel, 1) : 0);
  }
  QFontMetrics Metrics(const QFont& font) const {
    return style_.device ? QFontMetrics(font, style_.device) : QFontMetrics(font);
  }
  int Dpi() const { return style_.device ? style_.device->logicalDpiY() : 96; }
  bool NoRoom(const TLineBuilder& line, int width) const {
    return !style_.ellipsis && line.hasContent && line.endsWithBlank && line.x + width >= Right();
  }

  bool AddRun(std::string_view raw, TLineBuilder& line);
  void AddItem(THTMLItem item, int raise, TLineBuilder& line);
  TTagAction ApplyTag(std::string_view tag, TLineBuilder& line);
  // The tags that only change the run's style (bold ... hidden); false for any other tag.
  bool ApplyStyleTag(const std::string& upper);
  void SetHighlight(bool on);
  void EndFont();
  void BeginAnchor(std::string_view tag);
  void EndAnchor();
  void FontTag(const std::string& upper);
  void ParaTag(const std::string& upper, TLineBuilder& line);
  void ResetPara();
  TTagAction ListItem(TLineBuilder& line);
  TTagAction Image(std::string_view tag, const std::string& upper, TLineBuilder& line);
  void BodyTag(std::string_view tag, const std::string& upper);
  THTMLLine FinishLine(TLineBuilder& line);
  void Elide(std::vector<THTMLItem>& items) const;

  std::string_view markup_;
  QRect rect_;
  const THTMLStyle& style_;
  bool drawing_;
  TState st_;
  THTMLLayout out_;
};

THTMLLayout TLayouter::Run() {
  std::size_t pos = 0;
  int y = rect_.y();
  while (pos < markup_.size()) {
    TLineBuilder line;
    line.top = y;
    line.x = LineStart();
    bool endLine = false;
    while (!endLine && pos < markup_.size()) {
      if (markup_[pos] == '<') {
        const std::size_t gt = markup_.find('>', pos);
        if (gt != std::string_view::npos) {
          const TTagAction action = ApplyTag(markup_.substr(pos, gt - pos + 1), line);
          if (action == TTagAction::EndLineBefore) break;
          pos = gt + 1;
          endLine = action == TTagAction::EndLineAfter;
          continue;
        }
        // A '<' without a closing '>' is shown as text.
      }
      std::size_t stop = markup_.find('<', pos + 1);
      if (stop == std::string_view::npos) stop = markup_.size();
      if (!style_.ellipsis) {
        const std::size_t blank = markup_.find(' ', pos);
        if (blank < stop) stop = blank + 1;
      }
      if (!AddRun(markup_.substr(pos, stop - pos), line)) break;
      pos = stop;
    }
    out_.lines.push_back(FinishLine(line));
    const THTMLLine& done = out_.lines.back();
    y = done.rect.y() + done.rect.height();
    out_.width = std::max(out_.width, done.width);
    out_.height = y - rect_.y();
    if (drawing_ && y + Metrics(st_.font).height() > rect_.y() + rect_.height()) break;
  }
  return std::move(out_);
}

bool TLayouter::AddRun(std::string_view raw, TLineBuilder& line) {
  if (st_.hidden) return true;
  THTMLItem item;
  item.drawText = HTMLRunText(ExpandTabs(raw), &item.text);
  if (item.text.isEmpty()) return true;
  const QFontMetrics fm = Metrics(st_.font);
  const int width = fm.horizontalAdvance(item.text);
  if (NoRoom(line, width)) return false;
  const int height = fm.height();
  item.rect = QRect(line.x, 0, width, height);
  item.font = st_.font;
  item.color = st_.color;
  item.background = st_.background;
  item.shadow = st_.shadow;
  item.error = st_.error;
  item.angle = st_.angle;
  AddItem(std::move(item), st_.script * (height / 4), line);
  line.endsWithBlank = raw.back() == ' ';
  return true;
}

void TLayouter::AddItem(THTMLItem item, int raise, TLineBuilder& line) {
  if (st_.inAnchor) {
    item.anchor = st_.target;
    item.anchorIndex = st_.anchorIndex;
  }
  line.x = item.rect.x() + item.rect.width();
  line.items.push_back(std::move(item));
  line.raise.push_back(raise);
  line.hasContent = true;
  line.endsWithBlank = false;
}

bool TLayouter::ApplyStyleTag(const std::string& u) {
  auto is = [&u](std::string_view t) { return u == t; };
  auto starts = [&u](std::string_view p) { return u.starts_with(p); };
  if (is("<B>") || is("</B>")) {
    st_.font.setBold(is("<B>"));
  } else if (is("<I>") || is("</I>")) {
    st_.font.setItalic(is("<I>"));
  } else if (is("<U>") || is("</U>")) {
    st_.font.setUnderline(is("<U>"));
  } else if (is("<S>") || is("</S>")) {
    st_.font.setStrikeOut(is("<S>"));
  } else if (is("<SUB>") || is("<SUP>")) {
    st_.script = is("<SUP>") ? 1 : -1;
  } else if (starts("</SU")) {
    st_.script = 0;
  } else if (starts("<SH") || starts("</SH")) {
    st_.shadow = starts("<SH");
  } else if (starts("<HI") || starts("</HI")) {
    SetHighlight(starts("<HI"));
  } else if (starts("<E") || starts("</E")) {
    st_.error = starts("<E");
  } else if (starts("<Z") || starts("</Z")) {
    st_.hidden = starts("<Z");
  } else {
    return false;
  }
  return true;
}

void TLayouter::SetHighlight(bool on) {
  if (on) {
    if (!st_.highlight) {
      st_.highlightSavedColor = st_.color;
      st_.highlightSavedBackground = st_.background;
    }
    st_.background = style_.palette.color(QPalette::Active, QPalette::Highlight);
    st_.color = style_.palette.color(QPalette::Active, QPalette::HighlightedText);
  } else if (st_.highlight) {
    st_.color = st_.highlightSavedColor;
    st_.background = st_.highlightSavedBackground;
  }
  st_.highlight = on;
}

void TLayouter::EndFont() {
  st_.font.setFamily(style_.font.family());
  if (style_.font.pointSizeF() > 0) {
    st_.font.setPointSizeF(style_.font.pointSizeF());
  } else {
    st_.font.setPixelSize(style_.font.pixelSize());
  }
  st_.color = style_.fontColor;
  st_.background = QColor();
}

TTagAction TLayouter::ApplyTag(std::string_view tag, TLineBuilder& line) {
  const std::string u = AnsiUpperCase(tag);
  if (ApplyStyleTag(u)) return TTagAction::None;
  auto starts = [&u](std::string_view p) { return u.starts_with(p); };
  const TTagAction endIfContent = line.hasContent ? TTagAction::EndLineAfter : TTagAction::None;

  if (starts("<BR")) {
    return TTagAction::EndLineAfter;
  } else if (starts("<HR")) {
    line.rule = true;
    return TTagAction::EndLineAfter;
  } else if (starts("<A")) {
    BeginAnchor(tag);
  } else if (starts("</A")) {
    EndAnchor();
  } else if (starts("<F")) {
    FontTag(u);
  } else if (starts("</F")) {
    EndFont();
  } else if (starts("<P")) {
    ParaTag(u, line);
  } else if (starts("</P")) {
    if (!line.hasContent) {
      ResetPara();
      return TTagAction::None;
    }
    line.resetPara = true;
    return TTagAction::EndLineAfter;
  } else if (starts("<U")) {
    ++st_.listLevel;
    return endIfContent;
  } else if (starts("</U")) {
    if (st_.listLevel > 0) {
      --st_.listLevel;
    } else {
      st_.font.setUnderline(false);
    }
  } else if (starts("<L")) {
    return ListItem(line);
  } else if (starts("</L")) {
    st_.inItem = false;
    return endIfContent;
  } else if (starts("<IN")) {
    if (const auto x = HTMLAttribute(u, "X")) {
      if (const auto v = ParseInt(*x)) line.x = std::max(line.x, rect_.x() + *v);
    }
  } else if (starts("<IM")) {
    return Image(tag, u, line);
  } else if (starts("<R")) {
    if (const auto a = HTMLAttribute(u, "A")) st_.angle = ParseInt(*a).value_or(0);
  } else if (starts("</R")) {
    st_.angle = 0;
  } else if (starts("<BO")) {
    BodyTag(tag, u);
  }
  // Anything else (the blink tag among them) has no effect.
  return TTagAction::None;
}

void TLayouter::BeginAnchor(std::string_view tag) {
  if (st_.inAnchor) EndAnchor();
  st_.inAnchor = true;
  st_.target = HTMLFirstQuoted(tag);
  st_.anchorIndex = st_.anchorCount++;
  st_.anchorSavedColor = st_.color;
  st_.anchorSavedBackground = st_.background;
  st_.anchorSavedUnderline = st_.font.underline();
  st_.color = style_.urlColor;
  const bool lit = !style_.hover || st_.anchorIndex == style_.hoverAnchor;
  if (!lit) return;
  st_.font.setUnderline(true);
  if (style_.hoverColor.isValid()) st_.background = style_.hoverColor;
  if (style_.hover && style_.hoverFontColor.isValid()) st_.color = style_.hoverFontColor;
}

void TLayouter::EndAnchor() {
  if (!st_.inAnchor) return;
  st_.inAnchor = false;
  st_.target.clear();
  st_.anchorIndex = -1;
  st_.color = st_.anchorSavedColor;
  st_.background = st_.anchorSavedBackground;
  st_.font.setUnderline(st_.anchorSavedUnderline);
}

void TLayouter::FontTag(const std::string& upper) {
  if (const auto face = HTMLAttribute(upper, "FACE")) st_.font.setFamily(AnsiToQString(*face));
  if (const auto color = HTMLAttribute(upper, "COLOR")) {
    st_.color = HTMLColor(*color, style_.palette);
  }
  if (const auto bg = HTMLAttribute(upper, "BGCOLOR")) {
    st_.background = HTMLColor(*bg, style_.palette);
  }
  if (const auto size = HTMLAttribute(upper, "SIZE")) {
    if (const auto v = ParseInt(*size); v && *v > 0) {
      st_.font.setPointSize(*v <= 5 ? kFontSizes[*v - 1] : std::min(*v, kMaxPointSize));
    }
  }
}

void TLayouter::ParaTag(const std::string& upper, TLineBuilder& line) {
  if (const auto align = HTMLAttribute(upper, "ALIGN")) {
    if (align->find("LEFT") != std::string::npos) st_.align = TParaAlign::Left;
    if (align->find("RIGHT") != std::string::npos) st_.align = TParaAlign::Right;
    if (align->find("CENTER") != std::string::npos) st_.align = TParaAlign::Center;
  }
  if (const auto indent = HTMLAttribute(upper, "INDENT")) {
    st_.indent = std::max(0, ParseInt(*indent).value_or(0));
    if (!line.hasContent) line.x = LineStart();
  }
  if (const auto bg = HTMLAttribute(upper, "BGCOLOR")) {
    st_.paraColor = HTMLColor(*bg, style_.palette);
    const auto to = HTMLAttribute(upper, "BGCOLORTO");
    st_.paraColorTo = to ? HTMLColor(*to, style_.palette) : QColor();
  }
}

void TLayouter::ResetPara() {
  st_.align = TParaAlign::Left;
  st_.indent = 0;
  st_.paraColor = st_.paraColorTo = QColor();
}

TTagAction TLayouter::ListItem(TLineBuilder& line) {
  if (line.hasBullet) return TTagAction::EndLineBefore;
  st_.inItem = true;
  line.hasBullet = true;
  line.x = std::max(line.x, LineStart());
  QFont font = st_.font;
  font.setUnderline(false);
  font.setStrikeOut(false);
  const QFontMetrics fm = Metrics(font);
  THTMLItem bullet;
  bullet.kind = THTMLItem::TKind::Bullet;
  bullet.text = bullet.drawText =
      st_.listLevel % 2 == 1 ? QString(QChar(0x2022)) : QStringLiteral("o");
  bullet.rect = QRect(line.x - kListIndent, 0, fm.horizontalAdvance(bullet.text), fm.height());
  bullet.font = font;
  bullet.color = st_.color;
  const int textX = line.x;
  line.items.push_back(std::move(bullet));
  line.raise.push_back(0);
  line.hasContent = true;
  line.endsWithBlank = false;
  line.x = textX;
  return TTagAction::None;
}

TTagAction TLayouter::Image(std::string_view tag, const std::string& upper, TLineBuilder& line) {
  const auto source = HTMLAttribute(tag, "SRC");
  if (!source || !style_.picture || st_.hidden) return TTagAction::None;
  QPixmap picture = style_.picture(*source);
  if (picture.isNull()) return TTagAction::None;
  QSize size = picture.deviceIndependentSize().toSize();
  const int w = ParseInt(HTMLAttribute(upper, "WIDTH").value_or("")).value_or(0);
  const int h = ParseInt(HTMLAttribute(upper, "HEIGHT").value_or("")).value_or(0);
  if (w > 0 && h > 0) size = QSize(w * Dpi() / 96, h * Dpi() / 96);
  if (size.isEmpty()) return TTagAction::None;
  if (NoRoom(line, size.width())) return TTagAction::EndLineBefore;
  if (const auto align = HTMLAttribute(upper, "ALIGN")) {
    if (*align == "TOP") line.pictureAlign = TPictureAlign::Top;
    if (*align == "MIDDLE") line.pictureAlign = TPictureAlign::Middle;
  }
  THTMLItem item;
  item.kind = THTMLItem::TKind::Picture;
  item.rect = QRect(QPoint(line.x, 0), size);
  item.picture = picture.deviceIndependentSize().toSize() == size
                     ? picture
                     : picture.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
  line.tallestPicture = std::max(line.tallestPicture, size.height());
  AddItem(std::move(item), 0, line);
  return TTagAction::None;
}

void TLayouter::BodyTag(std::string_view tag, const std::string& upper) {
  if (const auto bg = HTMLAttribute(upper, "BGCOLOR")) {
    out_.bodyColor = HTMLColor(*bg, style_.palette);
  }
  if (const auto picture = HTMLAttribute(tag, "BACKGROUND"); picture && style_.picture) {
    out_.bodyPicture = style_.picture(*picture);
  }
}

THTMLLine TLayouter::FinishLine(TLineBuilder& line) {
  int textHeight = Metrics(st_.font).height();
  int up = 0, down = 0;
  for (std::size_t i = 0; i < line.items.size(); ++i) {
    textHeight = std::max(textHeight, line.items[i].rect.height());
    up = std::max(up, line.raise[i]);
    down = std::max(down, -line.raise[i]);
  }
  const int bottom = line.top + up + textHeight;
  const int pictureTop = bottom - line.tallestPicture;
  for (std::size_t i = 0; i < line.items.size(); ++i) {
    THTMLItem& item = line.items[i];
    const int h = item.rect.height();
    int top = bottom - h - line.raise[i];
    if (item.kind != THTMLItem::TKind::Picture && line.tallestPicture > 0) {
      if (line.pictureAlign == TPictureAlign::Top) top = pictureTop;
      if (line.pictureAlign == TPictureAlign::Middle) {
        top = pictureTop + (line.tallestPicture - h) / 2;
      }
    }
    item.rect.moveTop(top);
  }

  auto contentEnd = [&line, this] {
    int end = Left();
    for (const auto& item : line.items) end = std::max(end, item.rect.x() + item.rect.width());
    return end;
  };
  if (style_.ellipsis && contentEnd() > Right()) Elide(line.items);
  const int free = Right() - contentEnd();
  if (free > 0 && st_.align != TParaAlign::Left) {
    const int shift = st_.align == TParaAlign::Right ? free : free / 2;
    for (auto& item : line.items) item.rect.translate(shift, 0);
  }

  THTMLLine out;
  out.rect = QRect(rect_.x(), line.top, rect_.width(),
                   up + textHeight + down + (line.rule ? kRuleRoom : 0));
  out.width = line.items.empty() ? 0 : contentEnd() - rect_.x();
  out.items = std::move(line.items);
  out.rule = line.rule;
  out.background = st_.paraColor;
  out.backgroundTo = st_.paraColorTo;
  if (line.resetPara) ResetPara();
  return out;
}

void TLayouter::Elide(std::vector<THTMLItem>& items) const {
  const int right = Right();
  auto cut = std::find_if(items.begin(), items.end(),
                          [right](const THTMLItem& i) { return i.rect.x() >= right; });
  items.erase(cut, items.end());
  if (items.empty()) return;
  THTMLItem& last = items.back();
  const int room = right - last.rect.x();
  if (last.kind == THTMLItem::TKind::Picture) {
    if (room >= last.rect.width()) return;
    last.picture = last.picture.copy(0, 0, room, last.rect.height());
    last.rect.setWidth(room);
    return;
  }
  const QFontMetrics fm = Metrics(last.font);
  last.text = ElideWithMark(fm, last.text, room);
  last.drawText = QString(last.text).replace(u'&', QStringLiteral("&&"));
  last.rect.setWidth(fm.horizontalAdvance(last.text));
}

}  // namespace

QString THTMLLine::Text() const {
  QString text;
  for (const auto& item : items) text += item.text;
  return text;
}

const THTMLItem* THTMLLayout::AnchorAt(QPoint point) const {
  for (const auto& line : lines) {
    for (const auto& item : line.items) {
      if (item.anchorIndex >= 0 && !item.anchor.empty() && item.rect.contains(point)) {
        return &item;
      }
    }
  }
  return nullptr;
}

QString THTMLLayout::Text() const {
  QStringList parts;
  for (const auto& line : lines) parts << line.Text();
  return parts.join(u'\n');
}

THTMLLayout LayoutHTML(std::string_view markup, const QRect& textRect, const THTMLStyle& style,
                       bool drawing) {
  return TLayouter(markup, textRect, style, drawing).Run();
}

}  // namespace pv
