#include "app/MainWindowBalloon.h"

#include <QEvent>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QHelpEvent>
#include <QPainter>
#include <QRegion>
#include <QScreen>
#include <QStyle>
#include <algorithm>
#include <cmath>

#include "widgets/AnsiQt.h"

namespace pv {
namespace {

constexpr int kPadding = 8;
constexpr int kRadius = 7;
constexpr int kStemHeight = 12;
constexpr int kStemWidth = 14;
constexpr int kStemOffset = 20;  // from the body's left edge to the stem's tip
constexpr int kIconSize = 16;
constexpr int kGap = 6;
constexpr int kMaxTextWidth = 240;
constexpr double kMinContrast = 4.5;

double Linear(int channel) {
  const double c = channel / 255.0;
  return c <= 0.03928 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
}

double Luminance(const QColor& c) {
  const QColor rgb = c.isValid() ? c.toRgb() : QColor(Qt::black);
  return 0.2126 * Linear(rgb.red()) + 0.7152 * Linear(rgb.green()) + 0.0722 * Linear(rgb.blue());
}

QStyle::StandardPixmap IconPixmap(int icon) {
  switch (icon) {
    case 2:
      return QStyle::SP_MessageBoxWarning;
    case 3:
      return QStyle::SP_MessageBoxCritical;
    default:
      return QStyle::SP_MessageBoxInformation;
  }
}

QFont TitleFont(QFont font) {
  font.setBold(true);
  return font;
}

}  // namespace

double ContrastRatio(const QColor& a, const QColor& b) {
  const double la = Luminance(a), lb = Luminance(b);
  return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

QColor ReadableTextColor(const QColor& back, const QColor& text) {
  const QColor given = text.isValid() ? text : QColor(Qt::black);
  if (ContrastRatio(back, given) >= kMinContrast) return given;
  const QColor white(Qt::white), black(Qt::black);
  return ContrastRatio(back, white) >= ContrastRatio(back, black) ? white : black;
}

TBalloonTip::TBalloonTip(QWidget* control, int icon, const QString& title, const QString& text,
                         const QColor& back, const QColor& textColor)
    : QWidget(control, Qt::ToolTip | Qt::FramelessWindowHint),
      FControl(control),
      FIcon(((icon % 4) + 4) % 4),
      FTitle(title),
      FText(text),
      FBackColor(back.isValid() ? back : QColor(Qt::white)),
      FTextColor(ReadableTextColor(FBackColor, textColor)) {
  setAttribute(Qt::WA_ShowWithoutActivating);
  QFont f = control->window()->font();
  f.setBold(false);
  setFont(f);
  FAutoPop.setSingleShot(true);
  FAutoPop.setInterval(AutoPopMs);
  QObject::connect(&FAutoPop, &QTimer::timeout, this, [this] { Pop(); });
  control->installEventFilter(this);
}

QRect TBalloonTip::TitleRect() const {
  const int top = (FStemOnTop ? kStemHeight : 0) + kPadding;
  const int left = kPadding + (FIcon != 0 ? kIconSize + kGap : 0);
  const QFontMetrics fm(TitleFont(font()));
  return QRect(left, top, fm.horizontalAdvance(FTitle), std::max(kIconSize, fm.height()));
}

QRect TBalloonTip::TextRect() const {
  const QRect title = TitleRect();
  const QRect r = QFontMetrics(font()).boundingRect(QRect(0, 0, kMaxTextWidth, 100000),
                                                    Qt::TextWordWrap, FText);
  return QRect(kPadding, title.bottom() + 1 + kGap, r.width(), r.height());
}

QPainterPath TBalloonTip::Outline() const {
  const int top = FStemOnTop ? kStemHeight : 0;
  QPainterPath body;
  body.addRoundedRect(QRectF(0.5, top + 0.5, FBody.width() - 1, FBody.height() - 1), kRadius,
                      kRadius);
  // The stem leans from the body towards its tip, like the stem of a speech balloon.
  const double edge = FStemOnTop ? top + 1.0 : FBody.height() - 1.0;
  const double tip = FStemOnTop ? 0.5 : FBody.height() + kStemHeight - 0.5;
  QPainterPath stem;
  stem.moveTo(FStemX + 0.5, tip);
  stem.lineTo(FStemX + 4.5, edge);
  stem.lineTo(FStemX + 4.5 + kStemWidth, edge);
  stem.closeSubpath();
  return body.united(stem).simplified();
}

void TBalloonTip::Arrange(QPoint point) {
  FStemOnTop = true;  // the rectangles below are measured from the same origin either way
  const QRect title = TitleRect(), text = TextRect();
  FBody = QSize(std::max(title.right(), text.right()) + 1 + kPadding,
                text.bottom() + 1 + kPadding - kStemHeight);
  const QSize whole(FBody.width(), FBody.height() + kStemHeight);

  QScreen* screen = QGuiApplication::screenAt(point);
  if (screen == nullptr && FControl) screen = FControl->screen();
  const QRect avail = screen != nullptr ? screen->availableGeometry() : QRect(point, whole);

  FStemOnTop =
      point.y() + whole.height() <= avail.bottom() + 1 || point.y() - whole.height() < avail.top();
  int left = point.x() - kStemOffset;
  left = std::max(avail.left(), std::min(left, avail.right() + 1 - whole.width()));
  FStemX = std::clamp(point.x() - left, kRadius,
                      std::max(kRadius, whole.width() - kRadius - kStemWidth - 5));
  FStem = point;
  resize(whole);
  move(left, FStemOnTop ? point.y() : point.y() - whole.height());
  setMask(QRegion(Outline().toFillPolygon().toPolygon()));
}

void TBalloonTip::Popup(QPoint point) {
  Arrange(point);
  show();
  raise();
  update();
  FAutoPop.start();
}

void TBalloonTip::Pop() {
  FAutoPop.stop();
  if (isVisible()) hide();
}

bool TBalloonTip::eventFilter(QObject* watched, QEvent* e) {
  if (watched != FControl) return QWidget::eventFilter(watched, e);
  switch (e->type()) {
    case QEvent::ToolTip:
      Popup(static_cast<QHelpEvent*>(e)->globalPos());
      return true;  // the balloon stands in for the control's plain tool tip
    case QEvent::Leave:
    case QEvent::MouseButtonPress:
    case QEvent::KeyPress:
    case QEvent::Wheel:
    case QEvent::Hide:
      Pop();
      break;
    default:
      break;
  }
  return QWidget::eventFilter(watched, e);
}

void TBalloonTip::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  const QPainterPath outline = Outline();
  p.fillPath(outline, FBackColor);
  p.setPen(QPen(FBackColor.darker(170), 1));
  p.drawPath(outline);

  const QRect title = TitleRect();
  if (FIcon != 0) {
    const QPixmap icon = style()->standardIcon(IconPixmap(FIcon)).pixmap(kIconSize, kIconSize);
    p.drawPixmap(kPadding, title.top() + (title.height() - kIconSize) / 2, icon);
  }
  p.setPen(FTextColor);
  p.setFont(TitleFont(font()));
  p.drawText(title, Qt::AlignLeft | Qt::AlignVCenter, FTitle);
  p.setFont(font());
  p.drawText(TextRect(), Qt::TextWordWrap, FText);
}

void TBalloonTip::mousePressEvent(QMouseEvent*) { Pop(); }

TBalloonTip* ShowBalloonTip(QWidget* control, int icon, const std::string& title,
                            const QString& text, const QColor& backColor, const QColor& textColor) {
  if (control == nullptr) return nullptr;
  for (TBalloonTip* old : control->findChildren<TBalloonTip*>(Qt::FindDirectChildrenOnly))
    delete old;
  // Shown also while the window is not the active one (Qt asks the top-level window).
  control->window()->setAttribute(Qt::WA_AlwaysShowToolTips);
  return new TBalloonTip(control, icon, AnsiToQString(title), text, backColor, textColor);
}

}  // namespace pv
