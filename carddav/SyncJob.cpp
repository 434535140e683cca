#include "carddav/SyncJob.h"

#include <QEventLoop>
#include <QTimer>
#include <exception>
#include <utility>

#include "files/AnsiText.h"

namespace pv::carddav {
namespace {

// How often the worker looks whether the window asked it to stop.
constexpr int kStopPollMs = 100;

}  // namespace

TCardDavJob::TCardDavJob(HWND wnd, TSyncSettings settings,
                         std::shared_ptr<const std::atomic<bool>> stop, TCardSource source)
    : wnd_(wnd),
      settings_(std::move(settings)),
      stop_(std::move(stop)),
      source_(std::move(source)) {
  if (!source_) source_ = DatabaseSource(settings_.DbFolder, settings_.VCardVersion);
}

void TCardDavJob::Execute() {
  auto cell = std::make_unique<TResultCell>();
  try {
    Run(*cell);
  } catch (const std::exception& e) {
    cell->Ok = false;
    cell->Text = e.what();
  }
  TResultCell* raw = cell.release();
  if (!PostMessage(wnd_, WM_SYNCDONE, reinterpret_cast<std::uintptr_t>(raw), 0)) delete raw;
}

// The loop is made first: it gives this thread the event dispatcher that the timers and the
// network access below need. Every object of the run lives and dies on this thread.
void TCardDavJob::Run(TResultCell& cell) {
  QEventLoop loop;
  TSyncRun run(settings_, source_);
  bool ended = false;
  QTimer watch;
  watch.setInterval(kStopPollMs);
  QObject::connect(&watch, &QTimer::timeout, &loop, [&] {
    if (stop_ && stop_->load()) {
      watch.stop();
      run.Cancel();
    }
  });
  run.Start([&](bool ok, const QString& text) {
    QString shown = text;
    const TSyncCounts& n = run.Counts();
    if (!ok && n.Added + n.Changed + n.Removed > 0) shown += u'\n' + SummaryLine(n);
    cell.Ok = ok;
    cell.Text = Utf8ToAnsi(shown.toStdString());
    ended = true;
    loop.quit();
  });
  watch.start();
  if (!ended) loop.exec();
}

}  // namespace pv::carddav
