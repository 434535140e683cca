#include "widgets/HTMLShell.h"

#include <QDesktopServices>
#include <QUrl>
#include <mutex>

#include "widgets/AnsiQt.h"

namespace pv {
namespace {

std::mutex& HookLock() {
  static std::mutex lock;
  return lock;
}

TShellOpenHook& Hook() {
  static TShellOpenHook hook;
  return hook;
}

TShellJobRunner& Runner() {
  static TShellJobRunner runner;
  return runner;
}

}  // namespace

bool ShellOpen(const std::string& target) {
  TShellOpenHook hook;
  {
    std::lock_guard<std::mutex> guard(HookLock());
    hook = Hook();
  }
  if (hook) return hook(target);
  const QUrl url(AnsiToQString(target).trimmed(), QUrl::TolerantMode);
  if (!url.isValid() || url.scheme().isEmpty()) return false;
  // Jobs of the shell pool call this from several threads; the desktop services keep state of
  // their own (the browser they found), so one request at a time.
  static std::mutex openLock;
  std::lock_guard<std::mutex> guard(openLock);
  return QDesktopServices::openUrl(url);
}

TShellOpenHook SetShellOpenHook(TShellOpenHook hook) {
  std::lock_guard<std::mutex> guard(HookLock());
  std::swap(Hook(), hook);
  return hook;
}

void OpenLinkInShell(const std::string& target) {
  if (const TShellJobRunner runner = Runner()) {
    runner(target);
  } else {
    ShellOpen(target);
  }
}

TShellJobRunner SetShellJobRunner(TShellJobRunner runner) {
  std::swap(Runner(), runner);
  return runner;
}

bool IsShellTarget(const std::string& target) {
  return target.find("://") != std::string::npos || target.find("mailto:") != std::string::npos;
}

}  // namespace pv
