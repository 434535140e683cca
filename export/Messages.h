// How a background job reports back to the window thread: an opaque window handle and a post
// function, as a window message would be. The receiver owns what travels in the message.
#pragma once

#include <cstdint>
#include <string>

namespace pv {

inline constexpr unsigned WM_QUERYENDSESSION = 17;
inline constexpr unsigned WM_USER = 0x0400;
// Posted by the export job when it has finished; WParam is a TResultCell* owned by the receiver.
inline constexpr unsigned WM_EXPORTDONE = WM_USER + 1;
// Posted by the online address book's sync job when it has ended; WParam as for WM_EXPORTDONE.
inline constexpr unsigned WM_SYNCDONE = WM_USER + 2;

// The receiving side of posted messages. Post() may be called from any thread and must not block
// on the receiver's thread; it returns false when the message could not be queued.
class TMessageTarget {
 public:
  virtual ~TMessageTarget() = default;
  virtual bool Post(unsigned msg, std::uintptr_t wParam, std::intptr_t lParam) = 0;
};

using HWND = TMessageTarget*;

// Queues the message for the target's thread; false for no target or a failed post.
inline bool PostMessage(HWND wnd, unsigned msg, std::uintptr_t wParam, std::intptr_t lParam) {
  return wnd != nullptr && wnd->Post(msg, wParam, lParam);
}

// True for the messages whose WParam is a TResultCell* (freed by whoever holds the message last).
inline bool CarriesResultCell(unsigned msg) { return msg == WM_EXPORTDONE || msg == WM_SYNCDONE; }

// The heap cell of WM_EXPORTDONE and WM_SYNCDONE: the job's result text (HTML markup, Windows-1252)
// and whether the export succeeded (a file was written, or there was nothing new).
struct TResultCell {
  std::string Text;
  bool Ok = false;
};

}  // namespace pv
