// The conversion of the database's UTF-8 text into the system's Windows-1252, written into a
// caller's string so that reading a million rows does not allocate for every value.
#pragma once

#include <string>
#include <string_view>

namespace pv {

// Replaces out by text converted from UTF-8 to Windows-1252, exactly as Utf8ToAnsi does (a
// character outside the code page becomes '?'; text that is not valid UTF-8 is taken byte for
// byte), reusing out's capacity. text must not point into out.
void AssignUtf8AsAnsi(std::string& out, std::string_view text);

}  // namespace pv
