#include <gtest/gtest.h>

#include <QImage>
#include <QWidget>
#include <cmath>

#include "widgets/CircularProgress.h"

namespace pv {
namespace {

const QColor kBackground(255, 255, 255);

// Paints the control into a white image of its size.
QImage Render(TCircularProgress& c) {
  QImage img(c.size(), QImage::Format_RGB32);
  img.fill(kBackground);
  c.render(&img, QPoint(), QRegion(), QWidget::DrawChildren);
  return img;
}

// The pixel on the middle line of segment i at a share of the outer radius (square control, no
// border); by default halfway through the ring.
QPoint SegmentMiddle(const TCircularProgress& c, int i, double share = 1 - 7.0 / 60) {
  const double r = c.width() / 2.0;
  const double sweep = TCircularProgress::SweepAngle(c.width(), c.height());
  const double deg = (i - 1) * 30 - 90 + sweep / 2;
  const double radius = r * share;
  const double rad = deg * M_PI / 180;
  return QPoint(static_cast<int>(r + radius * std::cos(rad)),
                static_cast<int>(r + radius * std::sin(rad)));
}

TEST(CircularProgress, SweepAngleGrowsWithTheSmallerSide) {
  struct Case {
    int w, h, degrees;
  } cases[] = {{0, 0, 22},    {39, 80, 22},   {40, 40, 23},   {80, 59, 23},   {60, 60, 24},
               {99, 500, 24}, {100, 100, 25}, {300, 199, 25}, {200, 200, 26}, {1000, 900, 26}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.w << "x" << c.h);
    EXPECT_EQ(TCircularProgress::SweepAngle(c.w, c.h), c.degrees);
  }
}

TEST(CircularProgress, HoleIsSevenThirtiethsInRoundedHalfToEven) {
  struct Case {
    int w, h;
    QRect hole;
  } cases[] = {{60, 60, QRect(14, 14, 32, 32)},
               {50, 50, QRect(12, 12, 27, 27)},
               {45, 45, QRect(10, 10, 24, 24)},
               {15, 75, QRect(4, 18, 8, 40)}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.w << "x" << c.h);
    EXPECT_EQ(TCircularProgress::HoleRect(c.w, c.h), c.hole);
  }
}

TEST(CircularProgress, ProgressSegmentCount) {
  struct Case {
    int min, max, pos, expected;
  } cases[] = {{0, 100, 0, -1},   {0, 100, 50, 6},   {0, 100, 100, 12}, {0, 100, 99, 12},
               {0, 100, 4, 0},    {0, 100, 5, 1},    {0, 24, 1, 0},     {0, 24, 3, 2},
               {0, 24, 5, 2},     {10, 10, 10, 12},  {50, 100, 75, 6},  {50, 100, 60, 2},
               {50, 100, 50, -1}, {50, 100, 100, 12}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.min << ".." << c.max << " @" << c.pos);
    EXPECT_EQ(TCircularProgress::ProgressSegmentCount(c.min, c.max, c.pos), c.expected);
  }
}

TEST(CircularProgress, RangeSettersKeepPositionInside) {
  TCircularProgress c;
  c.SetPosition(50);
  c.SetMax(40);
  EXPECT_EQ(c.Position(), 40);
  c.SetMin(120);  // above Max
  c.SetMin(-1);
  c.SetMax(-5);
  EXPECT_EQ(c.Min(), 0);
  EXPECT_EQ(c.Max(), 40);
  c.SetMin(30);
  c.SetPosition(10);  // outside the range
  EXPECT_EQ(c.Position(), 40);
  c.SetMax(100);
  c.SetMin(45);
  EXPECT_EQ(c.Position(), 45);
}

TEST(CircularProgress, TwelveTicksFillTheRingAndTheThirteenthStartsClearing) {
  TCircularProgress c;
  const TProgressAppearance& a = c.Appearance();
  c.SetPosition(0);  // highlight before segment 1
  for (int i = 0; i < 12; ++i) c.Tick();
  EXPECT_EQ(c.CurrentSegment(), 12);
  EXPECT_TRUE(c.Filling());
  for (int i = 1; i <= 11; ++i) EXPECT_EQ(c.SegmentColor(i), a.ActiveSegmentColor()) << i;
  EXPECT_EQ(c.SegmentColor(12), a.TransitionSegmentColor());

  c.Tick();
  EXPECT_EQ(c.CurrentSegment(), 1);
  EXPECT_FALSE(c.Filling());
  EXPECT_EQ(c.SegmentColor(1), a.TransitionSegmentColor());
  for (int i = 2; i <= 12; ++i) EXPECT_EQ(c.SegmentColor(i), a.ActiveSegmentColor()) << i;

  // The clearing revolution leaves the inactive colour behind the highlight.
  for (int i = 0; i < 11; ++i) c.Tick();
  for (int i = 1; i <= 11; ++i) EXPECT_EQ(c.SegmentColor(i), a.InActiveSegmentColor()) << i;
  c.Tick();
  EXPECT_TRUE(c.Filling());
  EXPECT_EQ(c.CurrentSegment(), 1);
}

TEST(CircularProgress, ChangedRectInParentCoordinates) {
  const QRect r(30, 94, 50, 50);  // the main window's instance
  EXPECT_EQ(TCircularProgress::ChangedRect(r, 1), QRect(30, 94, 50, 25));
  EXPECT_EQ(TCircularProgress::ChangedRect(r, 8), QRect(30, 119, 29, 25));
  EXPECT_EQ(TCircularProgress::ChangedRect(r, 12), QRect(30, 94, 25, 29));
  for (int other : {0, 13, 50}) EXPECT_EQ(TCircularProgress::ChangedRect(r, other), r);
  // Odd sizes: the right and lower parts take the extra pixel; margins stay inside the control.
  EXPECT_EQ(TCircularProgress::ChangedRect(QRect(0, 0, 51, 51), 6), QRect(25, 25, 26, 26));
  EXPECT_EQ(TCircularProgress::ChangedRect(QRect(0, 0, 6, 6), 9), QRect(0, 3, 6, 3));
}

// Every pixel a tick changes must lie inside the rectangle the tick repaints.
TEST(CircularProgress, ChangedRectCoversEveryRepaintedPixel) {
  const QSize sizes[] = {{60, 60}, {50, 50}, {39, 80}, {200, 200}, {31, 31}};
  for (const QSize& size : sizes) {
    TCircularProgress c;
    c.resize(size);
    c.SetPosition(40);
    c.Tick();
    QImage before = Render(c);
    for (int n = 0; n < 25; ++n) {
      c.Tick();
      const QImage after = Render(c);
      const QRect part = TCircularProgress::ChangedRect(c.rect(), c.CurrentSegment());
      int outside = 0, changed = 0;
      for (int y = 0; y < size.height(); ++y) {
        for (int x = 0; x < size.width(); ++x) {
          if (before.pixel(x, y) == after.pixel(x, y)) continue;
          ++changed;
          if (!part.contains(x, y)) ++outside;
        }
      }
      SCOPED_TRACE(testing::Message()
                   << size.width() << "x" << size.height() << " segment " << c.CurrentSegment());
      EXPECT_GT(changed, 0);
      EXPECT_EQ(outside, 0);
      before = after;
    }
  }
}

TEST(CircularProgress, PaintsSegmentsAroundAnAntialiasedHole) {
  TCircularProgress c;  // 60 by 60; highlight on 1, filling
  c.Tick();
  c.Tick();  // highlight on 3
  const QImage img = Render(c);
  const TProgressAppearance& a = c.Appearance();
  EXPECT_EQ(QColor(img.pixel(SegmentMiddle(c, 1))), a.ActiveSegmentColor());
  EXPECT_EQ(QColor(img.pixel(SegmentMiddle(c, 3))), a.TransitionSegmentColor());
  EXPECT_EQ(QColor(img.pixel(SegmentMiddle(c, 7))), a.InActiveSegmentColor());
  EXPECT_EQ(QColor(img.pixel(30, 30)), kBackground);  // the hole
  EXPECT_EQ(QColor(img.pixel(0, 0)), kBackground);    // outside the ring

  // Across the hole's edge (radius 16 of 30) segment 7 blends into the background.
  int blended = 0;
  for (double share = 0.4; share < 0.7; share += 0.01) {
    const QColor p(img.pixel(SegmentMiddle(c, 7, share)));
    if (p != kBackground && p != a.InActiveSegmentColor()) ++blended;
  }
  EXPECT_GT(blended, 0);
}

TEST(CircularProgress, NoneColourLeavesSegmentsUnpaintedAndBackgroundFills) {
  TCircularProgress c;
  c.Appearance().SetInActiveSegmentColor(clNone);
  c.Appearance().SetTransitionSegmentColor(QColor(0, 0, 160, 10));  // drawn opaque
  QImage img = Render(c);
  EXPECT_EQ(QColor(img.pixel(SegmentMiddle(c, 6))), kBackground);
  EXPECT_EQ(QColor(img.pixel(SegmentMiddle(c, 1))), QColor(0, 0, 160));

  c.Appearance().SetBackGroundColor(QColor(1, 2, 3));
  img = Render(c);
  EXPECT_EQ(QColor(img.pixel(SegmentMiddle(c, 6))), QColor(1, 2, 3));
  EXPECT_EQ(QColor(img.pixel(30, 30)), QColor(1, 2, 3));
}

TEST(CircularProgress, TimerFollowsTheControlsOwnEnabledFlag) {
  QWidget form;
  auto* c = new TCircularProgress(&form);
  EXPECT_TRUE(c->TimerActive());
  c->setEnabled(false);
  EXPECT_FALSE(c->TimerActive());

  // The form being disabled does not stop a control that is itself enabled.
  form.setEnabled(false);
  c->SetEnabled(true);
  EXPECT_TRUE(c->TimerActive());
  form.setEnabled(true);
  EXPECT_TRUE(c->TimerActive());

  c->SetInterval(0);
  EXPECT_FALSE(c->TimerActive());
  c->SetInterval(250);
  EXPECT_TRUE(c->TimerActive());
  EXPECT_EQ(c->Interval(), 250u);
}

TEST(CircularProgress, DisabledTickFreezesTheRingButReportsProgress) {
  TCircularProgress c;
  int updates = 0;
  c.OnProgressUpdate = [&] { ++updates; };
  c.SetEnabled(false);
  c.Tick();
  EXPECT_EQ(c.CurrentSegment(), 1);
  EXPECT_EQ(updates, 1);
}

}  // namespace
}  // namespace pv
