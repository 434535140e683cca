// The user's folders: the temporary folder and the program's working folder in it, the desktop,
// and the connection of a network share (which has no counterpart here).
#pragma once

#include <string>

namespace pv {

inline constexpr const char* WorkFolderName = "PVTempDir";
inline constexpr int CSIDL_DESKTOP = 0;

// $TMPDIR when set, else ${XDG_CACHE_HOME:-$HOME/.cache}; with a trailing '/'. Empty when neither
// can be found.
std::string GetTempFolder();

// <temp folder>/PVTempDir/<name>/ (without <name>/ when name is empty), created with mode 0700
// when missing. A folder on that path owned by another user, or open to others, is refused: the
// result is still the path, but IsPrivateFolder() is false for it and nothing should be read there.
std::string GetWorkFolder(const std::string& name);

// True when the folder exists, is a real folder (no link), belongs to this user and only this user
// may enter or change it (mode 0700 or stricter). For a folder inside the working folder the same
// holds for every folder from PVTempDir down to it.
bool IsPrivateFolder(const std::string& dir);

// The desktop folder (CSIDL_DESKTOP) with a trailing '/': XDG_DESKTOP_DIR from user-dirs.dirs, else
// $HOME/Desktop; empty when the folder does not exist or another CSIDL is asked for.
std::string GetSpecialFolder(int csidl);

// A path that starts with two delimiters would name a network share; there is none here:
// 50 (not supported) for such a path, 0 and nothing done for any other.
int ConnectUNCPath(const std::u16string& path);
int AddShareConnection(const std::u16string& path);

}  // namespace pv
