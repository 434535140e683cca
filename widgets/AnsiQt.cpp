#include "widgets/AnsiQt.h"

#include "files/AnsiText.h"

namespace pv {

QString AnsiToQString(std::string_view text) { return QString::fromStdU16String(AnsiToWide(text)); }

std::string QStringToAnsi(const QString& text) { return WideToAnsi(text.toStdU16String()); }

}  // namespace pv
