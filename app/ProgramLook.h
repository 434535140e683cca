// What the program's windows share in their look: the id the program is installed under, its
// icon, and the fixed light palette of its white forms.
#pragma once

#include <QIcon>
#include <QPalette>

namespace pv {

// The reverse-DNS id: the desktop file's and the AppStream data's name, and the icon's name.
inline constexpr const char* kAppId = "io.github.vcardparvela.VcardParvela";

// The program's icon in all its sizes, from the program's resources; never null.
QIcon ProgramIcon();

// The palette of a white form, set as a whole so that a desktop theme's colours never mix in:
// black text on white, button faces light grey, disabled text grey, links blue.
QPalette FormPalette();

}  // namespace pv
