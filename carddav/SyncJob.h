// A sync run as a job of the window's worker pool: the whole run on the worker thread, with an
// event loop and network access of its own, so the window's thread only starts it and shows its
// result. The result goes back as WM_SYNCDONE, as an export's does.
#pragma once

#include <atomic>
#include <memory>

#include "carddav/SyncRun.h"
#include "export/Messages.h"
#include "export/WorkerThreadPool.h"

namespace pv::carddav {

class TCardDavJob : public TWorkerThreadJob {
 public:
  // source empty: the records of settings.DbFolder in settings.VCardVersion. Once stop holds true,
  // the run ends early with what the server has confirmed in the ledger.
  TCardDavJob(HWND wnd, TSyncSettings settings, std::shared_ptr<const std::atomic<bool>> stop,
              TCardSource source = {});

  // Runs the sync and posts WM_SYNCDONE with a TResultCell in every case: Ok, and Text the
  // summary line or the reason it failed, plain text in Windows-1252 (not markup).
  void Execute() override;

 private:
  void Run(TResultCell& cell);

  HWND wnd_;
  TSyncSettings settings_;
  std::shared_ptr<const std::atomic<bool>> stop_;
  TCardSource source_;
};

}  // namespace pv::carddav
