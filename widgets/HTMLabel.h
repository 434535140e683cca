// THTMLabel, a label that shows a small HTML-like markup (bold, italic, colours, fonts, anchors,
// lists, pictures, paragraph backgrounds), wraps it to its width, can grow to fit its text and
// reports clicks on anchors. Text is 8-bit Windows-1252, as everywhere in the system.
#pragma once

#include <QColor>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QWidget>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "widgets/HTMLImages.h"
#include "widgets/HTMLLayout.h"

namespace pv {

enum class TAutoSizeType { asVertical, asHorizontal, asBoth };
enum class TVAlignment { tvaTop, tvaCenter, tvaBottom };
enum class TBevelCut { bvNone, bvLowered, bvRaised, bvSpace };
enum class TBorderStyle { bsNone, bsSingle };
// Where a parent docks the control; only decides which dimension AutoSizing may change.
enum class TAlign { alNone, alTop, alBottom, alLeft, alRight, alClient };

// The font family of the program's windows: "Tahoma" where installed; else the metric-compatible
// Tahoma of Wine's fonts, loaded for this process only; else "DejaVu Sans". Chosen once.
QString UiFontFamily();
// Test seam: the family UiFontFamily returns from now on; empty: the choice above again. Returns
// the family forced before (for TScopedOverride). Window thread only.
QString SetUiFontFamily(QString family);
// The choice behind UiFontFamily: "Tahoma" when a family of that name is known to the font
// database; else the family of the first of fallbackFiles that loads as an application font; else
// "DejaVu Sans". Every loadable file is loaded (faces of one family).
QString ChooseUiFontFamily(const QStringList& fallbackFiles);
// The file of Debian's fonts-wine that UiFontFamily loads (its regular Tahoma).
QStringList WineTahomaFiles();

class THTMLabel;
using TAnchorClick = std::function<void(THTMLabel* sender, const std::string& anchor)>;
// The handler may change the hint text (the anchor's target).
using TAnchorHintEvent = std::function<void(THTMLabel* sender, std::string& anchor)>;
using TLabelNotify = std::function<void(THTMLabel* sender)>;

// A hint the label shows for a point.
struct THTMLHint {
  std::string text;       // Windows-1252
  bool atAnchor = false;  // an anchor's target (shown 10 pixels right of and above the cursor)
  bool markup = false;    // the text is the markup itself (shown as rich text)
};

class THTMLabel : public QWidget {
  Q_OBJECT

 public:
  explicit THTMLabel(QWidget* parent = nullptr);
  ~THTMLabel() override;

  // The markup: all lines joined without separators. Writing removes every CR and LF (line
  // breaks are written as markup) and repaints.
  const std::vector<std::string>& HTMLText() const { return FHTMLText; }
  void SetHTMLText(const std::vector<std::string>& lines);
  // One text, split into the lines of the list at CR LF, CR or LF.
  void SetHTMLString(const std::string& text);
  // The same from Unicode text (characters outside Windows-1252 become '?').
  void SetHTMLQString(const QString& text);
  // The joined markup, as laid out (before its entities are replaced).
  const std::string& Markup() const { return FMarkup; }

  bool AutoSizing() const { return FAutoSizing; }
  // On: with Align left or right the width becomes 6, with Align top or bottom the height; then
  // the control follows its text (see AutoSizeType).
  void SetAutoSizing(bool value);
  TAutoSizeType AutoSizeType() const { return FAutoSizeType; }
  void SetAutoSizeType(TAutoSizeType value);  // re-applies AutoSizing
  TAlign Align() const { return FAlign; }
  void SetAlign(TAlign value);
  TVAlignment VAlignment() const { return FVAlignment; }
  void SetVAlignment(TVAlignment value);
  bool Ellipsis() const { return FEllipsis; }
  void SetEllipsis(bool value);

  // Colours; an invalid QColor is "clNone" (not painted).
  QColor URLColor() const { return FURLColor; }
  void SetURLColor(const QColor& value);
  QColor HoverColor() const { return FHoverColor; }
  void SetHoverColor(const QColor& value);
  QColor HoverFontColor() const { return FHoverFontColor; }
  void SetHoverFontColor(const QColor& value);
  QColor ShadowColor() const { return FShadowColor; }
  void SetShadowColor(const QColor& value);
  int ShadowOffset() const { return FShadowOffset; }
  void SetShadowOffset(int value);
  // Font colour of the text; invalid: the palette's window text.
  QColor FontColor() const { return FFontColor; }
  void SetFontColor(const QColor& value);
  // Background and frame colour; invalid: the parent's background shows.
  QColor Color() const { return FColor; }
  void SetColor(const QColor& value);
  bool Transparent() const { return FTransparent; }
  void SetTransparent(bool value);

  bool Hover() const { return FHover; }
  void SetHover(bool value);
  bool AnchorHint() const { return FAnchorHint; }
  void SetAnchorHint(bool value);
  bool HintShowFull() const { return FHintShowFull; }
  void SetHintShowFull(bool value);
  bool HTMLHint() const { return FHTMLHint; }
  void SetHTMLHint(bool value);

  TBevelCut BevelInner() const { return FBevelInner; }
  void SetBevelInner(TBevelCut value);
  TBevelCut BevelOuter() const { return FBevelOuter; }
  void SetBevelOuter(TBevelCut value);
  int BevelWidth() const { return FBevelWidth; }
  void SetBevelWidth(int value);
  TBorderStyle BorderStyle() const { return FBorderStyle; }
  void SetBorderStyle(TBorderStyle value);
  int BorderWidth() const { return FBorderWidth; }
  void SetBorderWidth(int value);

  // Picture sources; not owned, forgotten when destroyed.
  THTMLImageList* Images() const { return FImages; }
  void SetImages(THTMLImageList* value);
  THTMLPictureContainer* PictureContainer() const { return FPictureContainer; }
  void SetPictureContainer(THTMLPictureContainer* value);

  // Keyboard: a label that shows an anchor with a target takes the focus (Tab reaches it). The
  // focused anchor gets a focus frame; Enter or Space activates it like a click; Tab and Backtab
  // step through the label's anchors before leaving it. Index of the focused anchor, -1: none.
  int FocusAnchor() const { return FFocusAnchor; }
  // The shown text of anchor index (its runs joined); empty for none.
  QString AnchorText(int index) const;
  // The number of anchors with a target.
  int AnchorCount() const;
  // Activates the focused anchor as a click would; false when there is none.
  bool ActivateFocusAnchor();

  // On (default): a click on an anchor whose target contains "://" or "mailto:" opens the target
  // with the desktop shell instead of calling OnAnchorClick. Off: every anchor click goes to
  // OnAnchorClick (for owners that open links themselves).
  bool OpenLinksInShell() const { return FOpenLinksInShell; }
  void SetOpenLinksInShell(bool value) { FOpenLinksInShell = value; }

  TAnchorClick OnAnchorClick;
  TAnchorClick OnAnchorEnter;
  TAnchorClick OnAnchorExit;  // called with an empty target
  TAnchorHintEvent OnAnchorHint;
  TLabelNotify OnMouseEnter;
  TLabelNotify OnMouseLeave;

  // The client rectangle less the frames.
  QRect TextRect() const;
  // The text as it is painted now (vertical alignment and auto-sizing applied). The reference
  // stays valid until the next change of the control (text, property, size, font, hover).
  const THTMLLayout& Layout() const;
  // Lays the text out and, with AutoSizing, resizes the control to it (text height or width + 6).
  void LayoutText();
  // The anchor under point: its target and the room of the run or picture under the point.
  bool AnchorAt(QPoint point, std::string* target = nullptr, QRect* rect = nullptr) const;
  // The hint for point, or nothing (the widget's own tool tip then applies). Calls OnAnchorHint.
  std::optional<THTMLHint> HintAt(QPoint point);
  // Index of the anchor under the mouse (-1: none).
  int HoverAnchor() const { return FHoverAnchor; }

  bool hasHeightForWidth() const override;
  int heightForWidth(int width) const override;
  QSize sizeHint() const override;

 protected:
  bool event(QEvent* e) override;
  void paintEvent(QPaintEvent* e) override;
  void mouseMoveEvent(QMouseEvent* e) override;
  void mousePressEvent(QMouseEvent* e) override;
  void enterEvent(QEnterEvent* e) override;
  void leaveEvent(QEvent* e) override;
  void resizeEvent(QResizeEvent* e) override;
  void changeEvent(QEvent* e) override;
  void keyPressEvent(QKeyEvent* e) override;
  void focusInEvent(QFocusEvent* e) override;
  void focusOutEvent(QFocusEvent* e) override;
  bool focusNextPrevChild(bool next) override;

 private:
  void ClickAnchor(const std::string& target);
  void UpdateFocusPolicy();
  QRect AnchorBounds(int index) const;
  std::string AnchorTarget(int index) const;
  THTMLStyle Style() const;
  bool VerticalAuto() const;
  bool HorizontalAuto() const;
  QPixmap Picture(const std::string& source) const;
  void MouseAt(QPoint point);
  void ForgetAnchor();
  void Changed();  // a property changed: lay out anew and repaint
  template <class T>
  void Set(T& field, const T& value) {
    if (field == value) return;
    field = value;
    Changed();
  }

  std::vector<std::string> FHTMLText;
  std::string FMarkup;    // lines joined
  std::string FPrepared;  // FMarkup with the one-character entities replaced
  bool FAutoSizing = false;
  TAutoSizeType FAutoSizeType = TAutoSizeType::asVertical;
  TAlign FAlign = TAlign::alNone;
  TVAlignment FVAlignment = TVAlignment::tvaTop;
  bool FEllipsis = false;
  QColor FURLColor{0, 0, 255};
  QColor FHoverColor;
  QColor FHoverFontColor;
  QColor FShadowColor{128, 128, 128};
  int FShadowOffset = 2;
  QColor FFontColor;
  QColor FColor;
  bool FTransparent = false;
  bool FHover = false;
  bool FAnchorHint = false;
  bool FHintShowFull = false;
  bool FHTMLHint = false;
  TBevelCut FBevelInner = TBevelCut::bvNone;
  TBevelCut FBevelOuter = TBevelCut::bvNone;
  int FBevelWidth = 1;
  TBorderStyle FBorderStyle = TBorderStyle::bsNone;
  int FBorderWidth = 0;
  QPointer<THTMLImageList> FImages;
  QPointer<THTMLPictureContainer> FPictureContainer;
  bool FOpenLinksInShell = true;

  // The anchor under the mouse.
  int FHoverAnchor = -1;
  std::string FAnchorTarget;
  QRect FAnchorRect;
  bool FHandCursor = false;
  int FFocusAnchor = -1;  // the anchor that Enter or Space activates

  bool FSizing = false;  // LayoutText is resizing the control
  mutable THTMLPictureCache FPictureCache;
  mutable std::optional<THTMLLayout> FLayoutCache;  // Layout() until something changes
};

}  // namespace pv
