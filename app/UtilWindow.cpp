#include "app/UtilWindow.h"

#include <QCoreApplication>
#include <QEvent>

namespace pv {
namespace {

const QEvent::Type kPostedMessage = static_cast<QEvent::Type>(QEvent::registerEventType());

class TPostedMessage : public QEvent {
 public:
  TPostedMessage(unsigned msg, std::uintptr_t w, std::intptr_t l)
      : QEvent(kPostedMessage), message{msg, w, l, 0} {}
  // The event owns the result cell until the handler has taken it.
  ~TPostedMessage() override {
    if (CarriesResultCell(message.Msg)) delete reinterpret_cast<TResultCell*>(message.WParam);
  }
  TMessage message;
};

}  // namespace

TUtilWindow::TUtilWindow(TWndMethod method) : method_(std::move(method)) {}

TUtilWindow::~TUtilWindow() { QCoreApplication::removePostedEvents(this); }

bool TUtilWindow::Post(unsigned msg, std::uintptr_t wParam, std::intptr_t lParam) {
  QCoreApplication::postEvent(this, new TPostedMessage(msg, wParam, lParam));
  return true;
}

bool TUtilWindow::event(QEvent* e) {
  if (e->type() != kPostedMessage) return QObject::event(e);
  auto* posted = static_cast<TPostedMessage*>(e);
  TMessage message = posted->message;
  posted->message.WParam = 0;  // the handler owns the cell now
  if (method_) {
    method_(message);
  } else if (CarriesResultCell(message.Msg)) {
    delete reinterpret_cast<TResultCell*>(message.WParam);
  }
  return true;
}

HWND AllocateUtilWindow(TWndMethod method) { return new TUtilWindow(std::move(method)); }

void DeallocateUtilWindow(HWND wnd) { delete static_cast<TUtilWindow*>(wnd); }

std::intptr_t DefWindowProc(HWND, unsigned, std::uintptr_t, std::intptr_t) { return 0; }

}  // namespace pv
