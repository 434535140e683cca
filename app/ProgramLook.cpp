#include "app/ProgramLook.h"

#include <QColor>
#include <QString>

namespace pv {
namespace {

constexpr int kIconSizes[] = {16, 22, 24, 32, 48, 64, 128, 256};

const QColor kInk(0, 0, 0);
const QColor kPaper(255, 255, 255);
const QColor kButtonFace(0xF0, 0xF0, 0xF0);
const QColor kGreyInk(0x6D, 0x6D, 0x6D);  // disabled text: 5.1:1 on white
const QColor kShadow(0xA0, 0xA0, 0xA0);
const QColor kMid(0xC8, 0xC8, 0xC8);
const QColor kHighlight(0x00, 0x55, 0xB0);
const QColor kLink(0, 0, 255);
const QColor kTipBack(0xFF, 0xFF, 0xE1);

}  // namespace

QIcon ProgramIcon() {
  QIcon icon;
  for (int size : kIconSizes) {
    icon.addFile(QStringLiteral(":/icons/%1x%1/apps/%2.png").arg(size).arg(QLatin1String(kAppId)),
                 QSize(size, size));
  }
  return icon;
}

QPalette FormPalette() {
  QPalette p(kInk, kButtonFace, kPaper, kShadow, kMid, kInk, kPaper, kPaper, kPaper);
  p.setColor(QPalette::ButtonText, kInk);
  p.setColor(QPalette::Shadow, kShadow.darker(150));
  p.setColor(QPalette::Highlight, kHighlight);
  p.setColor(QPalette::HighlightedText, kPaper);
  p.setColor(QPalette::Link, kLink);
  p.setColor(QPalette::LinkVisited, kLink.darker(130));
  p.setColor(QPalette::AlternateBase, kButtonFace);
  p.setColor(QPalette::ToolTipBase, kTipBack);
  p.setColor(QPalette::ToolTipText, kInk);
  p.setColor(QPalette::PlaceholderText, kGreyInk);
  for (QPalette::ColorRole role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
    p.setColor(QPalette::Disabled, role, kGreyInk);
  p.setColor(QPalette::Disabled, QPalette::Base, kButtonFace);
  return p;
}

}  // namespace pv
