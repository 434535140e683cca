// Text crossing into Qt and back: the program's Windows-1252 text as a QString and the reverse.
// Every place that hands program text to Qt, or takes it back, goes through this pair.
#pragma once

#include <QString>
#include <string>
#include <string_view>

namespace pv {

// Windows-1252 text as a QString (one UTF-16 unit per byte; the five undefined bytes keep their
// value as a code point).
QString AnsiToQString(std::string_view text);

// A QString as Windows-1252 text; characters outside Windows-1252 become '?'.
std::string QStringToAnsi(const QString& text);

}  // namespace pv
