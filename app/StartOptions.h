// What the program settles before any Qt application object exists: --help and --version, and a
// window asked for where there is no display to show it on.
#pragma once

#include <cstdio>
#include <functional>
#include <string>

namespace pv {

// The text of --help (German, UTF-8) and of --version.
std::string HelpText();
std::string VersionText();

// The process's view of its surroundings, replaceable in tests.
struct TStartEnvironment {
  std::function<const char*(const char* name)> getenv;  // null for an unset variable
  // True when a local stream socket at path (a leading '@' names an abstract one) accepts.
  std::function<bool(const std::string& path)> socketAccepts;
};
TStartEnvironment SystemStartEnvironment();

// True when a window can be shown: Qt's platform is set to one without a display server
// (offscreen, vnc, ...), or $DISPLAY names a reachable X server (a remote one is taken on
// trust), or $WAYLAND_DISPLAY names a Wayland socket that exists.
bool DisplayAvailable(const TStartEnvironment& env);

// Handles the first argument before the application starts: --help/-h and --version/-V print
// to out and give 0; a window (no "AUTO") without a display prints one line to err and gives 1.
// -1: go on with the ordinary start.
int HandleStartOptions(int argc, char** argv, const TStartEnvironment& env, std::FILE* out,
                       std::FILE* err);

}  // namespace pv
