#include "widgets/HTMLabel.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QEnterEvent>
#include <QFileIconProvider>
#include <QFileInfo>
#include <QFontDatabase>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QStyleOptionFocusRect>
#include <QTextDocument>
#include <QToolTip>

#include "files/AnsiText.h"
#include "files/FileUtil.h"
#include "widgets/AnsiQt.h"
#include "widgets/HTMLMarkup.h"
#include "widgets/HTMLShell.h"

namespace pv {
namespace {

constexpr int kAutoSizeExtent = 65535;  // how far an auto-sized text rectangle reaches
constexpr int kAutoSizeMargin = 6;      // auto-sized control = text size + this
constexpr int kGradientBands = 64;
const QPoint kAnchorHintOffset(10, -10);
constexpr int kSmallIcon = 16;
constexpr int kLargeIcon = 32;

void DrawBevel(QPainter& p, QRect r, TBevelCut cut, int width, const QPalette& palette) {
  if (cut == TBevelCut::bvNone || cut == TBevelCut::bvSpace) return;
  const QColor light = palette.color(QPalette::Light);
  const QColor dark = palette.color(QPalette::Dark);
  const QColor topLeft = cut == TBevelCut::bvRaised ? light : dark;
  const QColor bottomRight = cut == TBevelCut::bvRaised ? dark : light;
  for (int i = 0; i < width && r.width() > 0 && r.height() > 0; ++i) {
    p.setPen(topLeft);
    p.drawLine(r.topLeft(), r.topRight());
    p.drawLine(r.topLeft(), r.bottomLeft());
    p.setPen(bottomRight);
    p.drawLine(r.bottomLeft(), r.bottomRight());
    p.drawLine(r.topRight(), r.bottomRight());
    r.adjust(1, 1, -1, -1);
  }
}

void DrawRun(QPainter& p, const THTMLItem& item, const QRect& rect, const QColor& color) {
  constexpr int flags = Qt::AlignLeft | Qt::AlignBottom | Qt::TextSingleLine |
                        Qt::TextShowMnemonic | Qt::TextDontClip;
  p.setFont(item.font);
  p.setPen(color);
  if (item.angle == 0) {
    p.drawText(rect, flags, item.drawText);
    return;
  }
  p.save();
  p.translate(rect.x(), rect.y() + rect.height());
  p.rotate(-item.angle);
  p.drawText(QRect(0, -rect.height(), rect.width(), rect.height()), flags, item.drawText);
  p.restore();
}

void DrawZigZag(QPainter& p, const QRect& rect) {
  p.setPen(QPen(QColor(255, 0, 0), 1));
  const int bottom = rect.y() + rect.height() - 1;
  QPolygon wave;
  for (int x = rect.x(), i = 0; x <= rect.x() + rect.width(); x += 2, ++i) {
    wave << QPoint(x, i % 2 == 0 ? bottom : bottom - 2);
  }
  p.drawPolyline(wave);
}

void DrawParagraph(QPainter& p, const THTMLLine& line) {
  if (!line.background.isValid()) return;
  if (!line.backgroundTo.isValid()) {
    p.fillRect(line.rect, line.background);
    return;
  }
  const QColor& a = line.background;
  const QColor& b = line.backgroundTo;
  const int w = line.rect.width();
  for (int i = 0; i < kGradientBands; ++i) {
    const int x0 = line.rect.x() + w * i / kGradientBands;
    const int x1 = line.rect.x() + w * (i + 1) / kGradientBands;
    auto mix = [i](int from, int to) { return from + (to - from) * i / (kGradientBands - 1); };
    p.fillRect(QRect(x0, line.rect.y(), x1 - x0, line.rect.height()),
               QColor(mix(a.red(), b.red()), mix(a.green(), b.green()), mix(a.blue(), b.blue())));
  }
}

QString& ForcedUiFontFamily() {
  static QString family;
  return family;
}

// Accessible view of the label: a link while it can take the focus (its name is the focused or
// first anchor's text and "press" activates it), else static text; the name defaults to the
// label's plain text.
class THTMLabelAccessible : public QAccessibleWidget {
 public:
  explicit THTMLabelAccessible(THTMLabel* label)
      : QAccessibleWidget(label,
                          label->AnchorCount() > 0 ? QAccessible::Link : QAccessible::StaticText) {}

  QString text(QAccessible::Text t) const override {
    QString s = QAccessibleWidget::text(t);
    if (t != QAccessible::Name || !s.isEmpty()) return s;
    const THTMLabel* l = Label();
    if (l->AnchorCount() > 0) return l->AnchorText(std::max(0, l->FocusAnchor()));
    return AnsiToQString(HTMLToPlainText(l->Markup()));
  }
  QStringList actionNames() const override {
    return Label()->AnchorCount() > 0 ? QStringList{pressAction()} : QStringList{};
  }
  void doAction(const QString& name) override {
    if (name != pressAction() || !Label()->isEnabled()) return;
    THTMLabel* l = Label();
    if (l->FocusAnchor() < 0) l->setFocus(Qt::OtherFocusReason);
    l->ActivateFocusAnchor();
  }

 private:
  THTMLabel* Label() const { return static_cast<THTMLabel*>(widget()); }
};

QAccessibleInterface* LabelAccessibleFactory(const QString& key, QObject* object) {
  if (key != QLatin1String("pv::THTMLabel")) return nullptr;
  auto* label = qobject_cast<THTMLabel*>(object);
  return label ? new THTMLabelAccessible(label) : nullptr;
}

// The style's focus frame around r, a little wider than the text it marks.
void DrawFocusFrame(QPainter& p, QWidget* w, const QRect& r) {
  if (r.isEmpty()) return;
  QStyleOptionFocusRect option;
  option.initFrom(w);
  option.rect = r.adjusted(-1, 0, 1, 0);
  option.backgroundColor = w->palette().color(QPalette::Window);
  w->style()->drawPrimitive(QStyle::PE_FrameFocusRect, &option, &p, w);
}

}  // namespace

QStringList WineTahomaFiles() {
  // Only the regular face: Wine's bold Tahoma is wider but its strokes are no heavier, so bold
  // text would look regular; the font engine's emboldened regular face does look bold.
  return {QStringLiteral("/usr/share/wine/fonts/tahoma.ttf")};
}

QString ChooseUiFontFamily(const QStringList& fallbackFiles) {
  QString tahoma = QStringLiteral("Tahoma");
  if (QFontDatabase::families().contains(tahoma, Qt::CaseInsensitive)) return tahoma;
  QString loaded;
  for (const QString& file : fallbackFiles) {
    const int id = QFontDatabase::addApplicationFont(file);
    const QStringList families =
        id >= 0 ? QFontDatabase::applicationFontFamilies(id) : QStringList();
    if (loaded.isEmpty() && !families.isEmpty()) loaded = families.front();
  }
  return loaded.isEmpty() ? QStringLiteral("DejaVu Sans") : loaded;
}

QString UiFontFamily() {
  if (!ForcedUiFontFamily().isEmpty()) return ForcedUiFontFamily();
  static const QString family = ChooseUiFontFamily(WineTahomaFiles());
  return family;
}

QString SetUiFontFamily(QString family) {
  std::swap(ForcedUiFontFamily(), family);
  return family;
}

THTMLabel::THTMLabel(QWidget* parent) : QWidget(parent) {
  static const bool factory = [] {
    QAccessible::installFactory(LabelAccessibleFactory);
    return true;
  }();
  (void)factory;
  setMouseTracking(true);
  setFocusPolicy(Qt::NoFocus);
}
THTMLabel::~THTMLabel() = default;

void THTMLabel::SetHTMLText(const std::vector<std::string>& lines) {
  FHTMLText.clear();
  FMarkup.clear();
  for (const std::string& line : lines) {
    std::string clean;
    for (char c : line) {
      if (c != '\r' && c != '\n') clean += c;
    }
    FMarkup += clean;
    FHTMLText.push_back(std::move(clean));
  }
  FPrepared = ReplaceHTMLEntities(FMarkup);
  ForgetAnchor();
  Changed();
}

void THTMLabel::SetHTMLString(const std::string& text) { SetHTMLText(SplitLines(text)); }

void THTMLabel::SetHTMLQString(const QString& text) { SetHTMLString(QStringToAnsi(text)); }

void THTMLabel::SetAutoSizing(bool value) {
  FAutoSizing = value;
  if (value && !FSizing) {
    if (FAlign == TAlign::alLeft || FAlign == TAlign::alRight) resize(kAutoSizeMargin, height());
    if (FAlign == TAlign::alTop || FAlign == TAlign::alBottom) resize(width(), kAutoSizeMargin);
  }
  Changed();
}

void THTMLabel::SetAutoSizeType(TAutoSizeType value) {
  FAutoSizeType = value;
  SetAutoSizing(FAutoSizing);
}

void THTMLabel::SetAlign(TAlign value) { Set(FAlign, value); }
void THTMLabel::SetVAlignment(TVAlignment value) { Set(FVAlignment, value); }
void THTMLabel::SetEllipsis(bool value) { Set(FEllipsis, value); }
void THTMLabel::SetURLColor(const QColor& value) { Set(FURLColor, value); }
void THTMLabel::SetHoverColor(const QColor& value) { Set(FHoverColor, value); }
void THTMLabel::SetHoverFontColor(const QColor& value) { Set(FHoverFontColor, value); }
void THTMLabel::SetShadowColor(const QColor& value) { Set(FShadowColor, value); }
void THTMLabel::SetShadowOffset(int value) { Set(FShadowOffset, value); }
void THTMLabel::SetFontColor(const QColor& value) { Set(FFontColor, value); }
void THTMLabel::SetColor(const QColor& value) { Set(FColor, value); }
void THTMLabel::SetTransparent(bool value) { Set(FTransparent, value); }
void THTMLabel::SetHover(bool value) { Set(FHover, value); }
void THTMLabel::SetAnchorHint(bool value) { Set(FAnchorHint, value); }
void THTMLabel::SetHintShowFull(bool value) { Set(FHintShowFull, value); }
void THTMLabel::SetHTMLHint(bool value) { Set(FHTMLHint, value); }
void THTMLabel::SetBevelInner(TBevelCut value) { Set(FBevelInner, value); }
void THTMLabel::SetBevelOuter(TBevelCut value) { Set(FBevelOuter, value); }
void THTMLabel::SetBevelWidth(int value) { Set(FBevelWidth, std::max(0, value)); }
void THTMLabel::SetBorderStyle(TBorderStyle value) { Set(FBorderStyle, value); }
void THTMLabel::SetBorderWidth(int value) { Set(FBorderWidth, std::max(0, value)); }

void THTMLabel::SetImages(THTMLImageList* value) {
  if (FImages == value) return;
  if (FImages) disconnect(FImages, nullptr, this, nullptr);
  FImages = value;
  if (value) connect(value, &QObject::destroyed, this, [this] { Changed(); });
  Changed();
}

void THTMLabel::SetPictureContainer(THTMLPictureContainer* value) {
  if (FPictureContainer == value) return;
  if (FPictureContainer) disconnect(FPictureContainer, nullptr, this, nullptr);
  FPictureContainer = value;
  if (value) connect(value, &QObject::destroyed, this, [this] { Changed(); });
  Changed();
}

QRect THTMLabel::TextRect() const {
  int inset = 0;
  if (FBevelOuter != TBevelCut::bvNone) inset += FBevelWidth;
  if (FBevelInner != TBevelCut::bvNone) inset += FBevelWidth;
  if (FBorderStyle == TBorderStyle::bsSingle) inset += FBorderWidth;
  return rect().adjusted(inset, inset, -inset, -inset);
}

bool THTMLabel::VerticalAuto() const {
  return FAutoSizing &&
         (FAlign == TAlign::alNone || FAlign == TAlign::alTop || FAlign == TAlign::alBottom) &&
         FAutoSizeType != TAutoSizeType::asHorizontal;
}

bool THTMLabel::HorizontalAuto() const {
  return FAutoSizing &&
         (FAlign == TAlign::alNone || FAlign == TAlign::alLeft || FAlign == TAlign::alRight) &&
         FAutoSizeType != TAutoSizeType::asVertical;
}

THTMLStyle THTMLabel::Style() const {
  THTMLStyle s;
  s.font = font();
  s.fontColor = FFontColor.isValid() ? FFontColor : palette().color(QPalette::WindowText);
  s.urlColor = FURLColor;
  s.hoverColor = FHoverColor;
  s.hoverFontColor = FHoverFontColor;
  if (!isEnabled()) {
    // Disabled like any other control: all text, the anchors too, in the palette's disabled ink.
    s.fontColor = palette().color(QPalette::Disabled, QPalette::WindowText);
    s.urlColor = s.fontColor;
    s.hoverColor = QColor();
    s.hoverFontColor = QColor();
  }
  s.shadowColor = FShadowColor;
  s.shadowOffset = FShadowOffset;
  s.ellipsis = FEllipsis;
  s.hover = FHover;
  s.hoverAnchor = FHoverAnchor;
  s.palette = palette();
  s.device = this;
  s.picture = [this](const std::string& source) { return Picture(source); };
  return s;
}

const THTMLLayout& THTMLabel::Layout() const {
  if (FLayoutCache) return *FLayoutCache;
  const THTMLStyle style = Style();
  QRect r = TextRect();
  if (VerticalAuto()) r.setHeight(r.height() + kAutoSizeExtent);
  if (HorizontalAuto()) r.setWidth(r.width() + kAutoSizeExtent);
  if (FVAlignment != TVAlignment::tvaTop) {
    const int textHeight = LayoutHTML(FPrepared, r, style, false).height;
    if (textHeight < height()) {
      const int diff = height() - textHeight;
      r.setTop(r.top() + (FVAlignment == TVAlignment::tvaCenter ? diff / 2 : diff));
    }
  }
  FLayoutCache = LayoutHTML(FPrepared, r, style, true);
  return *FLayoutCache;
}

void THTMLabel::LayoutText() {
  if (FSizing) return;
  const THTMLLayout& layout = Layout();
  QSize target = size();
  if (VerticalAuto()) target.setHeight(layout.height + kAutoSizeMargin);
  if (HorizontalAuto()) target.setWidth(layout.width + kAutoSizeMargin);
  if (target == size()) return;
  FSizing = true;
  resize(target);
  FSizing = false;
}

bool THTMLabel::AnchorAt(QPoint point, std::string* target, QRect* rect) const {
  const THTMLItem* item = Layout().AnchorAt(point);
  if (!item) return false;
  if (target) *target = item->anchor;
  if (rect) *rect = item->rect;
  return true;
}

std::optional<THTMLHint> THTMLabel::HintAt(QPoint point) {
  std::string target;
  if (FAnchorHint && AnchorAt(point, &target)) {
    if (OnAnchorHint) OnAnchorHint(this, target);
    return THTMLHint{target, true, false};
  }
  if (FHintShowFull) {
    if (FHTMLHint) return THTMLHint{FMarkup, false, true};
    return THTMLHint{HTMLToPlainText(FPrepared), false, false};
  }
  return std::nullopt;
}

bool THTMLabel::hasHeightForWidth() const { return VerticalAuto(); }

int THTMLabel::heightForWidth(int width) const {
  if (!VerticalAuto()) return QWidget::heightForWidth(width);
  QRect r = TextRect();
  r.setWidth(r.width() + width - this->width());
  r.setHeight(r.height() + kAutoSizeExtent);
  return LayoutHTML(FPrepared, r, Style(), true).height + kAutoSizeMargin;
}

QSize THTMLabel::sizeHint() const {
  if (!FAutoSizing) return QWidget::sizeHint();
  const THTMLLayout& layout = Layout();
  return QSize(HorizontalAuto() ? layout.width + kAutoSizeMargin : width(),
               VerticalAuto() ? layout.height + kAutoSizeMargin : height());
}

QPixmap THTMLabel::Picture(const std::string& source) const {
  const std::string upper = AnsiUpperCase(source);
  if (upper.starts_with("IDX:")) {
    bool ok = false;
    const int index = AnsiToQString(source.substr(4)).trimmed().toInt(&ok);
    return ok && FImages ? FImages->Picture(index) : QPixmap();
  }
  if (upper.starts_with("SSYS:") || upper.starts_with("LSYS:")) {
    const QString path = AnsiToQString(source.substr(5)).trimmed();
    bool isIndex = false;
    path.toInt(&isIndex);
    if (isIndex || path.isEmpty()) return {};  // icon numbers of the system have no counterpart
    const QIcon icon = QFileIconProvider().icon(QFileInfo(path));
    return icon.pixmap(upper[0] == 'L' ? kLargeIcon : kSmallIcon);
  }
  if (source.find("://") != std::string::npos) return FPictureCache.Picture(source);
  if (source.find(':') == std::string::npos && FPictureContainer) {
    return FPictureContainer->Find(source);
  }
  return {};
}

void THTMLabel::Changed() {
  FLayoutCache.reset();
  if (FAutoSizing) LayoutText();
  UpdateFocusPolicy();
  update();
}

void THTMLabel::UpdateFocusPolicy() {
  const int anchors = AnchorCount();
  if (FFocusAnchor >= anchors) FFocusAnchor = anchors - 1;
  setFocusPolicy(anchors > 0 ? Qt::StrongFocus : Qt::NoFocus);
}

int THTMLabel::AnchorCount() const {
  int count = 0;
  for (const THTMLLine& line : Layout().lines) {
    for (const THTMLItem& item : line.items) {
      if (item.anchorIndex >= 0 && !item.anchor.empty())
        count = std::max(count, item.anchorIndex + 1);
    }
  }
  return count;
}

QString THTMLabel::AnchorText(int index) const {
  QString text;
  for (const THTMLLine& line : Layout().lines) {
    for (const THTMLItem& item : line.items) {
      if (item.anchorIndex == index && index >= 0) text += item.text;
    }
  }
  return text.trimmed();
}

std::string THTMLabel::AnchorTarget(int index) const {
  for (const THTMLLine& line : Layout().lines) {
    for (const THTMLItem& item : line.items) {
      if (item.anchorIndex == index && index >= 0) return item.anchor;
    }
  }
  return {};
}

QRect THTMLabel::AnchorBounds(int index) const {
  QRect bounds;
  for (const THTMLLine& line : Layout().lines) {
    for (const THTMLItem& item : line.items) {
      if (item.anchorIndex == index && index >= 0) bounds |= item.rect;
    }
  }
  return bounds;
}

bool THTMLabel::ActivateFocusAnchor() {
  const std::string target = AnchorTarget(FFocusAnchor);
  if (target.empty() || !isEnabled()) return false;
  ClickAnchor(target);
  return true;
}

void THTMLabel::ClickAnchor(const std::string& target) {
  if (FOpenLinksInShell && IsShellTarget(target)) {
    OpenLinkInShell(target);
    return;
  }
  if (OnAnchorClick) OnAnchorClick(this, target);
}

void THTMLabel::ForgetAnchor() {
  FHoverAnchor = -1;
  FAnchorTarget.clear();
  FAnchorRect = QRect();
}

bool THTMLabel::event(QEvent* e) {
  if (e->type() != QEvent::ToolTip) return QWidget::event(e);
  auto* help = static_cast<QHelpEvent*>(e);
  const std::optional<THTMLHint> hint = HintAt(help->pos());
  if (!hint) return QWidget::event(e);
  QString text = AnsiToQString(hint->text);
  if (!hint->markup) {
    text = Qt::convertFromPlainText(text.replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
  }
  const QPoint at = help->globalPos() + (hint->atAnchor ? kAnchorHintOffset : QPoint());
  QToolTip::showText(at, text, this);
  return true;
}

void THTMLabel::paintEvent(QPaintEvent*) {
  QPainter p(this);
  if (!FTransparent && FColor.isValid()) p.fillRect(rect(), FColor);

  QRect frame = rect();
  DrawBevel(p, frame, FBevelOuter, FBevelWidth, palette());
  if (FBevelOuter != TBevelCut::bvNone)
    frame.adjust(FBevelWidth, FBevelWidth, -FBevelWidth, -FBevelWidth);
  if (FBorderWidth > 0 && FColor.isValid() && !FTransparent) {
    const QPen pen(FColor, FBorderWidth, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin);
    p.setPen(pen);
    p.setBrush(Qt::NoBrush);
    const int half = FBorderWidth / 2;
    p.drawRect(frame.adjusted(half, half, -(FBorderWidth - half), -(FBorderWidth - half)));
    frame.adjust(FBorderWidth, FBorderWidth, -FBorderWidth, -FBorderWidth);
  }
  DrawBevel(p, frame, FBevelInner, FBevelWidth, palette());
  if (FBorderStyle == TBorderStyle::bsSingle && FBorderWidth > 0) {
    const int half = FBorderWidth / 2;
    p.setPen(QPen(Qt::black, FBorderWidth, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
    p.setBrush(Qt::NoBrush);
    p.drawRect(rect().adjusted(half, half, -(FBorderWidth - half), -(FBorderWidth - half)));
  }

  const THTMLLayout& layout = Layout();
  const QRect area = TextRect();
  if (layout.bodyColor.isValid()) p.fillRect(area, layout.bodyColor);
  if (!layout.bodyPicture.isNull()) p.drawTiledPixmap(area, layout.bodyPicture);
  for (const THTMLLine& line : layout.lines) DrawParagraph(p, line);
  const int shadow = FShadowOffset;
  const QColor disabledInk = palette().color(QPalette::Disabled, QPalette::WindowText);
  for (const THTMLLine& line : layout.lines) {
    for (const THTMLItem& item : line.items) {
      if (item.background.isValid()) p.fillRect(item.rect, item.background);
      if (item.kind == THTMLItem::TKind::Picture) {
        p.drawPixmap(item.rect.topLeft(), item.picture);
        continue;
      }
      if (item.shadow) DrawRun(p, item, item.rect.translated(shadow, shadow), FShadowColor);
      DrawRun(p, item, item.rect, isEnabled() ? item.color : disabledInk);
      if (item.error) DrawZigZag(p, item.rect);
    }
    if (line.rule) {
      const int y = line.rect.y() + line.rect.height() - 1;
      p.setPen(QPen(Qt::black, 1));
      p.drawLine(line.rect.x(), y, line.rect.x() + line.rect.width() - 1, y);
    }
  }
  if (hasFocus()) DrawFocusFrame(p, this, AnchorBounds(FFocusAnchor));
}

void THTMLabel::MouseAt(QPoint point) {
  const THTMLItem* item = Layout().AnchorAt(point);
  if (!item) {
    if (!FHandCursor) return;
    FHandCursor = false;
    unsetCursor();
    ForgetAnchor();
    FLayoutCache.reset();
    if (OnAnchorExit) OnAnchorExit(this, std::string());
    if (FHover) update();
    return;
  }
  if (!FHandCursor) {
    FHandCursor = true;
    setCursor(Qt::PointingHandCursor);
  }
  if (FHoverAnchor >= 0 && item->anchor == FAnchorTarget && item->rect == FAnchorRect) return;
  if (FAnchorHint) QToolTip::hideText();
  FHoverAnchor = item->anchorIndex;
  FAnchorTarget = item->anchor;
  FAnchorRect = item->rect;
  FLayoutCache.reset();  // item is gone from here on
  const std::string target = FAnchorTarget;
  if (OnAnchorEnter) OnAnchorEnter(this, target);
  if (FHover) update();
}

void THTMLabel::mouseMoveEvent(QMouseEvent* e) {
  QWidget::mouseMoveEvent(e);
  MouseAt(e->position().toPoint());
}

void THTMLabel::mousePressEvent(QMouseEvent* e) {
  QWidget::mousePressEvent(e);
  std::string target;
  if (!AnchorAt(e->position().toPoint(), &target)) return;
  ClickAnchor(target);
}

void THTMLabel::keyPressEvent(QKeyEvent* e) {
  const int key = e->key();
  const bool activates = key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Space;
  if (activates && e->modifiers() == Qt::NoModifier && ActivateFocusAnchor()) {
    e->accept();
    return;
  }
  QWidget::keyPressEvent(e);
}

void THTMLabel::focusInEvent(QFocusEvent* e) {
  QWidget::focusInEvent(e);
  const int anchors = AnchorCount();
  if (e->reason() == Qt::BacktabFocusReason) {
    FFocusAnchor = anchors - 1;
  } else if (FFocusAnchor < 0 || e->reason() == Qt::TabFocusReason) {
    FFocusAnchor = anchors > 0 ? 0 : -1;
  }
  update();
}

void THTMLabel::focusOutEvent(QFocusEvent* e) {
  QWidget::focusOutEvent(e);
  update();
}

bool THTMLabel::focusNextPrevChild(bool next) {
  const int to = FFocusAnchor + (next ? 1 : -1);
  if (hasFocus() && to >= 0 && to < AnchorCount()) {
    FFocusAnchor = to;
    update();
    if (QAccessible::isActive()) {
      QAccessibleEvent ev(this, QAccessible::NameChanged);
      QAccessible::updateAccessibility(&ev);
    }
    return true;
  }
  return QWidget::focusNextPrevChild(next);
}

void THTMLabel::enterEvent(QEnterEvent* e) {
  QWidget::enterEvent(e);
  if (OnMouseEnter) OnMouseEnter(this);
}

void THTMLabel::leaveEvent(QEvent* e) {
  QWidget::leaveEvent(e);
  if (FHover) {
    ForgetAnchor();
    FLayoutCache.reset();
    update();
  }
  if (OnMouseLeave) OnMouseLeave(this);
}

void THTMLabel::resizeEvent(QResizeEvent* e) {
  QWidget::resizeEvent(e);
  FLayoutCache.reset();
  if (FAutoSizing && !FSizing) LayoutText();
}

void THTMLabel::changeEvent(QEvent* e) {
  QWidget::changeEvent(e);
  if (e->type() == QEvent::FontChange || e->type() == QEvent::PaletteChange ||
      e->type() == QEvent::EnabledChange)
    Changed();
}

}  // namespace pv
