// Opening a link target with the desktop shell ("open"): web and mail addresses and file URLs.
#pragma once

#include <functional>
#include <string>

namespace pv {

// Asks the desktop to open target (Windows-1252), as a double click in a file manager would.
// Returns false when the target is no valid address or no program took it. Thread-safe.
bool ShellOpen(const std::string& target);

// Test seam: replaces what ShellOpen does (null restores the desktop). Returns the previous hook
// (for TScopedOverride). Safe from any thread: the shell pool's jobs read it.
using TShellOpenHook = std::function<bool(const std::string& target)>;
TShellOpenHook SetShellOpenHook(TShellOpenHook hook);

// Opens target with ShellOpen as a job of the installed runner (the program's shell job pool), so
// that a slow desktop never holds up the window; at once on the calling thread when none is
// installed. Window thread only.
void OpenLinkInShell(const std::string& target);

// The runner OpenLinkInShell hands its targets to; null opens them at once. Returns the previous
// runner (for TScopedOverride). Window thread only.
using TShellJobRunner = std::function<void(const std::string& target)>;
TShellJobRunner SetShellJobRunner(TShellJobRunner runner);

// A link target that goes to the shell rather than to the program: it contains "://" or "mailto:".
bool IsShellTarget(const std::string& target);

}  // namespace pv
