// The circular progress indicator: a ring of twelve antialiased segments that a timer animates
// clockwise (one revolution fills the ring, the next clears it), with its colour set.
#pragma once

#include <QColor>
#include <QPainterPath>
#include <QRect>
#include <QTimer>
#include <QWidget>
#include <array>
#include <cstdint>
#include <functional>
#include <string>

namespace pv {

// A colour that is not painted: any invalid QColor counts as none.
inline const QColor clNone{};
inline const QColor clSilver{192, 192, 192};
inline bool IsNoneColor(const QColor& c) { return !c.isValid(); }

// The six colours of the indicator. Each setter that changes a value calls OnChange afterwards.
class TProgressAppearance {
 public:
  TProgressAppearance() = default;
  TProgressAppearance(const TProgressAppearance&) = delete;
  TProgressAppearance& operator=(const TProgressAppearance&) = delete;

  const QColor& BackGroundColor() const { return FBackGroundColor; }
  const QColor& BorderColor() const { return FBorderColor; }
  const QColor& ActiveSegmentColor() const { return FActiveSegmentColor; }
  const QColor& InActiveSegmentColor() const { return FInActiveSegmentColor; }
  const QColor& TransitionSegmentColor() const { return FTransitionSegmentColor; }
  const QColor& ProgressSegmentColor() const { return FProgressSegmentColor; }

  void SetBackGroundColor(const QColor& c) { Set(FBackGroundColor, c); }
  void SetBorderColor(const QColor& c) { Set(FBorderColor, c); }
  void SetActiveSegmentColor(const QColor& c) { Set(FActiveSegmentColor, c); }
  void SetInActiveSegmentColor(const QColor& c) { Set(FInActiveSegmentColor, c); }
  void SetTransitionSegmentColor(const QColor& c) { Set(FTransitionSegmentColor, c); }
  void SetProgressSegmentColor(const QColor& c) { Set(FProgressSegmentColor, c); }

  // Copies all six colours; OnChange is called once when any of them differed.
  void Assign(const TProgressAppearance& source);

  std::function<void()> OnChange;

 private:
  void Set(QColor& field, const QColor& value);

  QColor FBackGroundColor = clNone;
  QColor FBorderColor = clNone;
  QColor FActiveSegmentColor{159, 159, 255};
  QColor FInActiveSegmentColor = clSilver;
  QColor FTransitionSegmentColor{0, 0, 160};
  QColor FProgressSegmentColor{128, 0, 64};
};

// The busy spinner of the main window. It paints on its parent's background (no fill of its own
// unless BackGroundColor is set). Its timer runs exactly while the control's own enabled flag is
// set, so the ring keeps turning when only the surrounding form is disabled.
class TCircularProgress : public QWidget {
  Q_OBJECT

 public:
  static constexpr int SegmentCount = 12;

  // A 60 by 60 control with the default colours, range 0..100, position 0, timer period 100 ms;
  // the timer follows the enabled flag from the start.
  explicit TCircularProgress(QWidget* parent = nullptr);
  ~TCircularProgress() override;

  TProgressAppearance& Appearance() { return FAppearance; }
  const TProgressAppearance& Appearance() const { return FAppearance; }
  // Copies the given colours (ownership stays with the caller).
  void SetAppearance(const TProgressAppearance& value) { FAppearance.Assign(value); }

  int Min() const { return FMin; }
  int Max() const { return FMax; }
  int Position() const { return FPosition; }
  int Step() const { return FStep; }
  // Ignored when equal to the current value, negative or above Max; pulls Position up to it.
  void SetMin(int value);
  // Ignored when equal to the current value or negative; pulls Position down to it.
  void SetMax(int value);
  // Ignored outside Min..Max; otherwise also moves the highlight to segment `value` and restarts
  // the filling phase.
  void SetPosition(int value);
  // Stored only.
  void SetStep(int value) { FStep = value; }

  // Timer period in ms. 0 keeps the timer from running at all.
  std::uint32_t Interval() const { return FInterval; }
  void SetInterval(std::uint32_t ms);

  std::string Version() const { return "1.0.1.0"; }

  // The control's own enabled flag (not the effective state inherited from a disabled parent).
  bool Enabled() const { return !testAttribute(Qt::WA_ForceDisabled); }
  // Sets the enabled flag and lets the timer follow it, also when the parent is disabled (Qt sends
  // no change event then).
  void SetEnabled(bool value);
  bool TimerActive() const { return FTimer.isActive(); }

  // The highlighted segment (normally 1..12) and the phase of the two-revolution cycle.
  int CurrentSegment() const { return FCurrentSegment; }
  bool Filling() const { return FFilling; }
  // Number of segments shown in the progress colour; -1 for none.
  int ProgressSegments() const { return ProgressSegmentCount(FMin, FMax, FPosition); }
  // The colour segment i (1..12) is painted in now; clNone when it is left unpainted.
  QColor SegmentColor(int i) const;

  // One timer period: advances the highlight when enabled, asks for a repaint of the part of the
  // control that changed, then calls OnProgressUpdate (enabled or not).
  void Tick();

  std::function<void()> OnProgressUpdate;
  std::function<void()> OnMouseEnter;
  std::function<void()> OnMouseLeave;

  // Pure rules behind the drawing, open for tests.

  // Sweep of one segment in degrees for a control of that size (by the smaller side).
  static int SweepAngle(int width, int height);
  // The hole of the ring inside an outer box of w by h at (0, 0).
  static QRect HoleRect(int w, int h);
  // Segments in the progress colour for a position in min..max: 12 at max, -1 at or below min,
  // else the proportional share of the range rounded to nearest (ties to even).
  static int ProgressSegmentCount(int min, int max, int position);
  // Colour of segment i given the highlighted segment, the phase and the progress count.
  static QColor SegmentColorFor(const TProgressAppearance& a, int i, int current, bool filling,
                                int progress);
  // The part of r that holds the segments changed by a tick that made `segment` current; all of r
  // for a segment outside 1..12.
  static QRect ChangedRect(const QRect& r, int segment);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void changeEvent(QEvent* event) override;
  void enterEvent(QEnterEvent* event) override;
  void leaveEvent(QEvent* event) override;
  QSize sizeHint() const override { return {60, 60}; }

 private:
  void RebuildGeometry();
  void SyncTimer();

  TProgressAppearance FAppearance;
  int FMin = 0;
  int FMax = 100;
  int FPosition = 0;
  int FStep = 10;
  std::uint32_t FInterval = 100;
  int FCurrentSegment = 1;
  bool FFilling = true;
  std::array<QPainterPath, SegmentCount> FSegmentPaths;
  QPainterPath FRingClip;  // the control's box minus the hole
  QTimer FTimer;
};

}  // namespace pv
