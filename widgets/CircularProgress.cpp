#include "widgets/CircularProgress.h"

#include <QEnterEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QResizeEvent>
#include <algorithm>
#include <climits>
#include <cmath>

namespace pv {

namespace {

// Sweep of a segment by the smaller side of the control: below `below` pixels, `degrees`.
struct SweepStep {
  int below;
  int degrees;
};
constexpr SweepStep kSweepSteps[] = {{40, 22}, {60, 23}, {100, 24}, {200, 25}};
constexpr int kLargestSweep = 26;

// Extra pixels for the quarters whose segment starts exactly on the centre line, so that its
// antialiased edge is repainted too.
constexpr int kEdgeMargin = 4;

int RoundHalfEven(double v) { return static_cast<int>(std::nearbyint(v)); }

}  // namespace

void TProgressAppearance::Set(QColor& field, const QColor& value) {
  if (field == value) return;
  field = value;
  if (OnChange) OnChange();
}

void TProgressAppearance::Assign(const TProgressAppearance& source) {
  if (&source == this) return;
  QColor TProgressAppearance::*const fields[] = {
      &TProgressAppearance::FBackGroundColor,        &TProgressAppearance::FBorderColor,
      &TProgressAppearance::FActiveSegmentColor,     &TProgressAppearance::FInActiveSegmentColor,
      &TProgressAppearance::FTransitionSegmentColor, &TProgressAppearance::FProgressSegmentColor};
  bool changed = false;
  for (auto field : fields) {
    if (this->*field != source.*field) {
      this->*field = source.*field;
      changed = true;
    }
  }
  if (changed && OnChange) OnChange();
}

TCircularProgress::TCircularProgress(QWidget* parent) : QWidget(parent) {
  FAppearance.OnChange = [this] { update(); };
  FTimer.setInterval(static_cast<int>(FInterval));
  connect(&FTimer, &QTimer::timeout, this, &TCircularProgress::Tick);
  resize(60, 60);
  RebuildGeometry();
  SyncTimer();
}

TCircularProgress::~TCircularProgress() { FTimer.stop(); }

void TCircularProgress::SetMin(int value) {
  if (value == FMin || value < 0 || value > FMax) return;
  FMin = value;
  if (FPosition < FMin) FPosition = FMin;
  update();
}

void TCircularProgress::SetMax(int value) {
  if (value == FMax || value < 0) return;
  FMax = value;
  if (FPosition > FMax) FPosition = FMax;
  update();
}

void TCircularProgress::SetPosition(int value) {
  if (value < FMin || value > FMax) return;
  FPosition = value;
  FCurrentSegment = value;
  FFilling = true;
  update();
}

void TCircularProgress::SetInterval(std::uint32_t ms) {
  if (ms == FInterval) return;
  FInterval = ms;
  FTimer.setInterval(static_cast<int>(std::min<std::uint32_t>(ms, INT_MAX)));
  SyncTimer();
}

void TCircularProgress::SetEnabled(bool value) {
  setEnabled(value);
  SyncTimer();
}

void TCircularProgress::SyncTimer() {
  const bool run = Enabled() && FInterval > 0;
  if (run && !FTimer.isActive()) {
    FTimer.start();
  } else if (!run) {
    FTimer.stop();
  }
}

QColor TCircularProgress::SegmentColor(int i) const {
  return SegmentColorFor(FAppearance, i, FCurrentSegment, FFilling, ProgressSegments());
}

void TCircularProgress::Tick() {
  if (Enabled()) {
    if (FCurrentSegment < SegmentCount) {
      ++FCurrentSegment;
    } else {
      FFilling = !FFilling;
      FCurrentSegment = 1;
    }
    update(ChangedRect(rect(), FCurrentSegment));
  }
  if (OnProgressUpdate) OnProgressUpdate();
}

int TCircularProgress::SweepAngle(int width, int height) {
  const int s = std::min(width, height);
  for (const auto& step : kSweepSteps) {
    if (s < step.below) return step.degrees;
  }
  return kLargestSweep;
}

QRect TCircularProgress::HoleRect(int w, int h) {
  const int left = RoundHalfEven(7.0 * w / 30.0);
  const int top = RoundHalfEven(7.0 * h / 30.0);
  const int width = RoundHalfEven(w - 14.0 * w / 30.0);
  const int height = RoundHalfEven(h - 14.0 * h / 30.0);
  return QRect(left, top, width, height);
}

int TCircularProgress::ProgressSegmentCount(int min, int max, int position) {
  if (position == max) return SegmentCount;
  if (position <= min) return -1;
  // The share is measured from min, so a range that does not start at 0 fills the ring in
  // proportion too. Single precision and ties to even, as the ring has always rounded.
  const float perSegment = static_cast<float>(max - min) / static_cast<float>(SegmentCount);
  const float share = static_cast<float>(position - min) / perSegment;
  return static_cast<int>(std::nearbyint(share));
}

QColor TCircularProgress::SegmentColorFor(const TProgressAppearance& a, int i, int current,
                                          bool filling, int progress) {
  if (i == current) return a.TransitionSegmentColor();
  const QColor& rest = i <= progress ? a.ProgressSegmentColor() : a.InActiveSegmentColor();
  const bool behind = i < current;
  // Filling paints the segments behind the highlight active; clearing those ahead of it.
  return behind == filling ? a.ActiveSegmentColor() : rest;
}

QRect TCircularProgress::ChangedRect(const QRect& r, int segment) {
  const int l = r.left(), t = r.top(), w = r.width(), h = r.height();
  const int hw = w / 2, hh = h / 2;
  QRect part;
  switch (segment) {
    case 1:  // upper half
      part = QRect(l, t, w, hh);
      break;
    case 2:
    case 3:  // upper right quarter
      part = QRect(l + hw, t, w - hw, hh);
      break;
    case 4:  // right half
      part = QRect(l + hw, t, w - hw, h);
      break;
    case 5:
    case 6:  // lower right quarter
      part = QRect(l + hw, t + hh, w - hw, h - hh);
      break;
    case 7:  // lower half
      part = QRect(l, t + hh, w, h - hh);
      break;
    case 8:
    case 9:  // lower left quarter, segment 7 starts on the vertical centre line
      part = QRect(l, t + hh, hw + kEdgeMargin, h - hh);
      break;
    case 10:  // left half
      part = QRect(l, t, hw, h);
      break;
    case 11:
    case 12:  // upper left quarter, segment 10 starts on the horizontal centre line
      part = QRect(l, t, hw, hh + kEdgeMargin);
      break;
    default:
      return r;
  }
  return part & r;
}

void TCircularProgress::RebuildGeometry() {
  const QColor& border = FAppearance.BorderColor();
  const int w = width() - (IsNoneColor(border) ? 0 : 1);
  const int h = height() - (IsNoneColor(border) ? 0 : 1);
  const QRectF box(0, 0, w, h);
  const int sweep = SweepAngle(width(), height());
  for (int i = 0; i < SegmentCount; ++i) {
    // Angles run clockwise from three o'clock on screen; Qt counts them anticlockwise.
    const int start = i * 30 - 90;
    QPainterPath pie;
    pie.moveTo(box.center());
    pie.arcTo(box, -start, -sweep);
    pie.closeSubpath();
    FSegmentPaths[static_cast<std::size_t>(i)] = pie;
  }
  QPainterPath ring;
  ring.addRect(QRectF(rect()));
  QPainterPath hole;
  hole.addEllipse(QRectF(HoleRect(w, h)));
  FRingClip = ring.subtracted(hole);
}

void TCircularProgress::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  const TProgressAppearance& a = FAppearance;
  if (!IsNoneColor(a.BackGroundColor())) {
    painter.fillRect(rect(), a.BackGroundColor());
  }
  if (!IsNoneColor(a.BorderColor())) {
    painter.setPen(a.BorderColor());
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
  }
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setClipPath(FRingClip);
  const int progress = ProgressSegments();
  for (int i = 1; i <= SegmentCount; ++i) {
    QColor c = SegmentColorFor(a, i, FCurrentSegment, FFilling, progress);
    if (IsNoneColor(c)) continue;
    c.setAlpha(255);
    painter.fillPath(FSegmentPaths[static_cast<std::size_t>(i - 1)], c);
  }
}

void TCircularProgress::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  RebuildGeometry();
}

void TCircularProgress::changeEvent(QEvent* event) {
  QWidget::changeEvent(event);
  if (event->type() == QEvent::EnabledChange) SyncTimer();
}

void TCircularProgress::enterEvent(QEnterEvent* event) {
  QWidget::enterEvent(event);
  if (OnMouseEnter) OnMouseEnter();
}

void TCircularProgress::leaveEvent(QEvent* event) {
  QWidget::leaveEvent(event);
  if (OnMouseLeave) OnMouseLeave();
}

}  // namespace pv
