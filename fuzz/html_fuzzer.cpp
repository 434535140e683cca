// The mini-HTML markup and its layout on Qt's offscreen platform. Entity replacement is a fixed
// point, 8-bit text survives the way through QString, and the layout is orderly: lines go down
// the page, the widest line gives the width, and a layout for drawing is the measuring layout cut
// where the rectangle ends.
#include <QGuiApplication>
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <iterator>
#include <string>
#include <string_view>

#include "fuzz/FuzzUtil.h"
#include "widgets/AnsiQt.h"
#include "widgets/HTMLLayout.h"
#include "widgets/HTMLMarkup.h"

namespace {

constexpr int kWidths[] = {1, 40, 180, 409, 2000};

void CheckLayout(const pv::THTMLLayout& layout) {
  int widest = 0;
  int previousTop = -1 << 30;
  for (const pv::THTMLLine& line : layout.lines) {
    FUZZ_CHECK(line.rect.top() >= previousTop);
    FUZZ_CHECK(line.rect.height() >= 0 && line.width >= 0);
    previousTop = line.rect.top();
    widest = std::max(widest, line.width);
  }
  FUZZ_CHECK(layout.width == widest);
  FUZZ_CHECK(layout.height >= 0);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  static QGuiApplication* app = new QGuiApplication(*argc, *argv);
  (void)app;
  // Fill the font caches once, so that they do not count as memory taken by an input.
  pv::LayoutHTML("<b>warm</b> up <A HREF=\"x\">link</A><BR>x", QRect(0, 0, 100, 50),
                 pv::THTMLStyle{}, true);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const uint8_t flags = data[0];
  const std::string_view markup(reinterpret_cast<const char*>(data) + 1, size - 1);

  const std::string replaced = pv::ReplaceHTMLEntities(markup);
  FUZZ_CHECK(pv::ReplaceHTMLEntities(replaced) == replaced);
  FUZZ_CHECK(pv::QStringToAnsi(pv::AnsiToQString(markup)) == markup);
  if (auto href = pv::HTMLAttribute(markup, "HREF")) FUZZ_CHECK(href->find('"') == href->npos);
  const std::string plain = pv::HTMLToPlainText(markup);
  (void)plain;

  pv::THTMLStyle style;
  style.ellipsis = flags & 1;
  style.hover = flags & 2;
  style.hoverAnchor = (flags & 4) ? 0 : -1;
  if (flags & 8) style.hoverColor = QColor(255, 255, 0);
  const QRect rect(0, 0, kWidths[(flags >> 4) % std::size(kWidths)], 60);
  const pv::THTMLLayout measured = pv::LayoutHTML(replaced, rect, style, false);
  CheckLayout(measured);
  const pv::THTMLLayout drawn = pv::LayoutHTML(replaced, rect, style, true);
  CheckLayout(drawn);
  FUZZ_CHECK(drawn.lines.size() <= measured.lines.size());
  for (size_t i = 0; i < drawn.lines.size(); ++i) {
    FUZZ_CHECK(drawn.lines[i].Text() == measured.lines[i].Text());
  }
  for (const pv::THTMLLine& line : drawn.lines) {
    for (const pv::THTMLItem& item : line.items) {
      if (item.anchor.empty() || item.rect.isEmpty()) continue;
      // The middle of an anchor's piece hits an anchor.
      FUZZ_CHECK(drawn.AnchorAt(item.rect.center()) != nullptr);
    }
  }
  return 0;
}
