// The hidden message window: receives messages posted from any thread and hands them, on the
// thread that created it, to its handler.
#pragma once

#include <QObject>
#include <functional>

#include "export/Messages.h"

namespace pv {

// The message record of a window procedure.
struct TMessage {
  unsigned Msg = 0;
  std::uintptr_t WParam = 0;
  std::intptr_t LParam = 0;
  std::intptr_t Result = 0;
};

using TWndMethod = std::function<void(TMessage&)>;

class TUtilWindow : public QObject, public TMessageTarget {
 public:
  explicit TUtilWindow(TWndMethod method);
  ~TUtilWindow() override;

  // Thread-safe: queues the message for the window's thread. A WM_EXPORTDONE cell that never
  // reaches the handler is freed with the queued event.
  bool Post(unsigned msg, std::uintptr_t wParam, std::intptr_t lParam) override;

 protected:
  bool event(QEvent* e) override;

 private:
  TWndMethod method_;
};

// Creates the hidden window for method; DeallocateUtilWindow destroys it (pending messages with
// it).
HWND AllocateUtilWindow(TWndMethod method);
void DeallocateUtilWindow(HWND wnd);

// What the window procedure answers for messages its handler leaves alone.
std::intptr_t DefWindowProc(HWND wnd, unsigned msg, std::uintptr_t wParam, std::intptr_t lParam);

}  // namespace pv
