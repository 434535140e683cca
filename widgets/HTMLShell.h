// Opening a link target with the desktop shell ("open"): web and mail addresses and file URLs.
#pragma once

#include <functional>
#include <string>

namespace pv {

// Asks the desktop to open target (Windows-1252), as a double click in a file manager would.
// Returns false when the target is no valid address or no program took it. Thread-safe.
bool ShellOpen(const std::string& target);

// Replaces what ShellOpen does (tests; null restores the desktop). Returns the previous hook.
using TShellOpenHook = std::function<bool(const std::string& target)>;
TShellOpenHook SetShellOpenHook(TShellOpenHook hook);

// A link target that goes to the shell rather than to the program: it contains "://" or "mailto:".
bool IsShellTarget(const std::string& target);

}  // namespace pv
