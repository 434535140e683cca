// The balloon hint of the main window's start button: a rounded popup with a stem, an icon, a
// bold title and a text, shown whenever the mouse rests on its control.
#pragma once

#include <QColor>
#include <QPainterPath>
#include <QPoint>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <QWidget>
#include <string>

namespace pv {

// The contrast ratio of two colours (1 for equal ones up to 21 for black on white), from their
// relative luminance as used for judging text legibility.
double ContrastRatio(const QColor& a, const QColor& b);

// The colour a text on back is painted in: text when it stands out from back by at least 4.5:1,
// else white or black, whichever stands out more. Invalid colours count as black.
QColor ReadableTextColor(const QColor& back, const QColor& text);

class TBalloonTip : public QWidget {
  Q_OBJECT

 public:
  // The balloon of control (a child object of it, gone with it). icon mod 4: 0 none,
  // 1 information, 2 warning, 3 error. textColor is replaced by a readable one when it does not
  // stand out from back (see ReadableTextColor).
  TBalloonTip(QWidget* control, int icon, const QString& title, const QString& text,
              const QColor& back, const QColor& textColor);

  QWidget* Control() const { return FControl; }
  int Icon() const { return FIcon; }
  const QString& Title() const { return FTitle; }
  const QString& Text() const { return FText; }
  const QColor& BackColor() const { return FBackColor; }
  // The colour title and text are painted in.
  const QColor& TextColor() const { return FTextColor; }
  // Where the stem points (global coordinates) while the balloon shows.
  QPoint StemPoint() const { return FStem; }

  // Shows the balloon with its stem on point (global coordinates): below the point, or above it
  // when there is no room below on that screen. Hidden again after AutoPopMs.
  void Popup(QPoint point);
  // Hides the balloon when it shows.
  void Pop();

  static constexpr int AutoPopMs = 10000;

 protected:
  bool eventFilter(QObject* watched, QEvent* e) override;
  void paintEvent(QPaintEvent* e) override;
  void mousePressEvent(QMouseEvent* e) override;

 private:
  QRect TitleRect() const;
  QRect TextRect() const;
  QPainterPath Outline() const;
  void Arrange(QPoint point);

  QPointer<QWidget> FControl;
  int FIcon;
  QString FTitle;
  QString FText;
  QColor FBackColor;
  QColor FTextColor;
  QPoint FStem;
  bool FStemOnTop = true;
  int FStemX = 0;  // the stem's tip, in the balloon's coordinates
  QSize FBody;     // the rounded body without the stem
  QTimer FAutoPop;
};

// Puts a balloon hint over control: it shows whenever the mouse rests on the control (also while
// the window is inactive) and hides when the mouse leaves, a key or button is pressed, or after
// a while. Title is Windows-1252 text; colours as for TBalloonTip. An earlier balloon of the same
// control is replaced. Returns the balloon; null for no control.
TBalloonTip* ShowBalloonTip(QWidget* control, int icon, const std::string& title,
                            const QString& text, const QColor& backColor, const QColor& textColor);

}  // namespace pv
