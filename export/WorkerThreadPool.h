// The worker pool that runs jobs on background threads so that the window stays responsive, and
// the auto-reset event its threads wait on.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace pv {

// The lock and wake-up signal of a group of events. Events that share one can be waited for
// together (TAutoResetEvent::WaitAny).
struct TEventLock {
  std::mutex Mutex;
  std::condition_variable Changed;
};

// An event that stays signalled until one waiter takes the signal (then it is unsignalled again).
// Starts unsignalled. All calls are thread-safe.
class TAutoResetEvent {
 public:
  // lock: shared with the other events a thread wants to wait for together; a new one by default.
  explicit TAutoResetEvent(std::shared_ptr<TEventLock> lock = std::make_shared<TEventLock>());
  TAutoResetEvent(const TAutoResetEvent&) = delete;
  TAutoResetEvent& operator=(const TAutoResetEvent&) = delete;

  // Signals the event; one waiter (present or next) takes it. Never blocks beyond the short lock.
  void Set();
  // Blocks until the event is signalled, then unsignals it.
  void Wait();
  // As Wait, but gives up after timeout: false when the event was not signalled by then.
  bool WaitFor(std::chrono::milliseconds timeout);
  // Blocks until one of events is signalled, unsignals it and returns its index; when several are,
  // the first in the list wins. All events must share one TEventLock.
  static std::size_t WaitAny(std::initializer_list<TAutoResetEvent*> events);

 private:
  std::shared_ptr<TEventLock> lock_;
  bool signalled_ = false;  // guarded by lock_->Mutex
};

// Base of everything the pool runs. The pool owns a job from AddJob on, runs Execute once on a
// worker thread and frees the job afterwards, whether Execute raised an error or not.
class TWorkerThreadJob {
 public:
  virtual ~TWorkerThreadJob() = default;
  virtual void Execute() = 0;
};

class TclThreadPool;

// One worker thread of a pool. Idle it blocks on its two events and uses no time; busy from
// AssignJob until its job has been run, freed and the pool's queue looked at.
class TclWorkerThread {
 public:
  // Starts the thread (raises std::system_error when it cannot be started).
  explicit TclWorkerThread(TclThreadPool& pool);
  // Stop, then waits without limit until the thread has ended; frees a job that was assigned but
  // never started. Must not be called from the worker's own thread.
  ~TclWorkerThread();
  TclWorkerThread(const TclWorkerThread&) = delete;
  TclWorkerThread& operator=(const TclWorkerThread&) = delete;

  // Gives the idle worker a job to run (the worker owns it from now on). Caller holds the pool's
  // lock and has seen Busy() false.
  void AssignJob(std::unique_ptr<TWorkerThreadJob> job);
  // Asks the thread to end: a running job finishes first, no queued job is taken afterwards.
  void Stop();
  // A job is assigned and not yet finished (nor the queue looked at).
  bool Busy() const { return busy_.load(); }

 private:
  friend class TclThreadPool;
  void Run();  // the thread body

  TclThreadPool& pool_;
  // Set by AssignJob under the pool's lock; cleared by the worker under the pool's lock after
  // its job, or without it when the thread ends.
  std::atomic<bool> busy_{false};
  std::atomic<bool> terminated_{false};
  // Written by AssignJob while the worker is idle, then read and cleared by the worker after
  // StartEvent; read by the destructor after the thread ended.
  std::unique_ptr<TWorkerThreadJob> job_;
  std::shared_ptr<TEventLock> eventLock_ = std::make_shared<TEventLock>();
  TAutoResetEvent StopEvent{eventLock_};
  TAutoResetEvent StartEvent{eventLock_};
  std::thread thread_;  // last, so that it starts after every other field is ready
};

// A pool of worker threads. Jobs go to the first idle thread, to a new thread while fewer than
// MaxThreads exist, or else wait in a first-in-first-out queue until a worker finishes. The pool
// keeps at least MinThreads threads once it has started any; idle threads beyond them are ended by
// the next AddJob.
//
// Locking: Lock guards the thread list, the queue and the two limits. Workers take it only after a
// job, to hand the oldest queued job to an idle thread and mark themselves idle in the same step
// (so a queued job is never left behind when two workers finish at once). No job code runs under
// it. Shutdown waits for busy workers without holding it.
class TclThreadPool {
 public:
  // Defaults: MinThreads 1, MaxThreads 5; no thread is started yet.
  TclThreadPool();
  // Shutdown. A derived class that overrides CreateWorker calls Shutdown in its own destructor.
  virtual ~TclThreadPool();
  TclThreadPool(const TclThreadPool&) = delete;
  TclThreadPool& operator=(const TclThreadPool&) = delete;

  // Takes over job and runs it on a worker thread, now or (when MaxThreads are busy) after a
  // worker finishes. Blocks only on Lock, and while ending idle threads beyond MinThreads (they
  // end at once). When no thread can be started the job waits in the queue. After Shutdown has
  // begun a job is freed without being run. A null job is ignored.
  void AddJob(std::unique_ptr<TWorkerThreadJob> job);

  // Accept values above 1 and at most 64; any other value is ignored and the old one stays.
  void SetMinThreads(int value);
  void SetMaxThreads(int value);
  int MinThreads() const;
  int MaxThreads() const;

  // A function Shutdown calls again and again on the owner's thread while it waits for a running
  // job, so that messages the job posts to the owner's windows are handled meanwhile. None by
  // default. Set it on the owner's thread, before Shutdown.
  void SetMessagePump(std::function<void()> pump);

  // Frees every queued job unrun (oldest first), stops every thread, waits until the running jobs
  // have finished (calling the message pump, and blocking between calls for at most 10 ms on a
  // signal from the workers, so no core is kept spinning), then ends all threads. Call it on the
  // owner's thread, never from a job. Calling it again does nothing.
  void Shutdown();

  // Jobs handed in and neither finished nor freed unrun. Changed atomically, read without a lock.
  std::int32_t PendingJobs() const { return pendingJobs_.load(); }
  // Snapshots under Lock (for diagnostics and tests).
  int ThreadCount() const;
  int IdleThreadCount() const;
  int QueuedJobCount() const;

 protected:
  // Creates one worker for this pool; the pool adds it to its thread list. Called under Lock.
  virtual std::unique_ptr<TclWorkerThread> CreateWorker();

 private:
  friend class TclWorkerThread;

  // Called by a worker after its job (it is still marked busy): hands the oldest queued job to an
  // idle thread or a new one (never to the caller), then marks the caller idle; all under Lock.
  void RunNextQueued(TclWorkerThread& caller);
  // Under Lock: the first idle thread, or null.
  TclWorkerThread* FirstIdleThread();
  // Under Lock: a new worker appended to the list, or null when it cannot be started.
  TclWorkerThread* AddWorker();
  void EnsureMinThreads();
  void TrimIdleThreads();

  std::atomic<std::int32_t> pendingJobs_{0};
  std::vector<std::unique_ptr<TclWorkerThread>> threads_;  // Lock; creation order
  std::deque<std::unique_ptr<TWorkerThreadJob>> queue_;    // Lock; oldest at the front
  int minThreads_ = 1;                                     // Lock
  int maxThreads_ = 5;                                     // Lock
  bool shuttingDown_ = false;                              // Lock
  mutable std::mutex lock_;                                // the pool's Lock
  TAutoResetEvent idleEvent_;   // set by a worker whenever it stops being busy
  std::function<void()> pump_;  // owner's thread only
};

// The pool class the program creates (through TWorkerThreadPool2); adds nothing.
class TWorkerThreadPool2 : public TclThreadPool {
 public:
  ~TWorkerThreadPool2() override;
};

class TWorkerThreadPool : public TWorkerThreadPool2 {
 public:
  // Sets MinThreads, then MaxThreads (values out of range leave the defaults 1 and 5).
  TWorkerThreadPool(int minThreads, int maxThreads);
  ~TWorkerThreadPool() override;
};

}  // namespace pv
