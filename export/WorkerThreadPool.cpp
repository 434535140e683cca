#include "export/WorkerThreadPool.h"

#include <cassert>
#include <system_error>
#include <utility>

namespace pv {

namespace {

constexpr int kLowestLimit = 2;    // a limit must be above 1 ...
constexpr int kHighestLimit = 64;  // ... and at most 64
constexpr std::chrono::milliseconds kPumpInterval{10};

bool LimitInRange(int value) { return value >= kLowestLimit && value <= kHighestLimit; }

// Frees a job; an error from its destructor is swallowed like one from Execute.
void FreeJob(TWorkerThreadJob* job) noexcept {
  try {
    delete job;
  } catch (...) {
  }
}

}  // namespace

// ---- TAutoResetEvent ----

TAutoResetEvent::TAutoResetEvent(std::shared_ptr<TEventLock> lock) : lock_(std::move(lock)) {
  assert(lock_);
}

void TAutoResetEvent::Set() {
  std::lock_guard<std::mutex> guard(lock_->Mutex);
  signalled_ = true;
  // Waiters of other events of the group share the signal, so wake them all to look. Notified
  // under the lock: a waiter that returns may destroy the event at once.
  lock_->Changed.notify_all();
}

void TAutoResetEvent::Wait() {
  std::unique_lock<std::mutex> guard(lock_->Mutex);
  lock_->Changed.wait(guard, [this] { return signalled_; });
  signalled_ = false;
}

bool TAutoResetEvent::WaitFor(std::chrono::milliseconds timeout) {
  std::unique_lock<std::mutex> guard(lock_->Mutex);
  if (!lock_->Changed.wait_for(guard, timeout, [this] { return signalled_; })) return false;
  signalled_ = false;
  return true;
}

std::size_t TAutoResetEvent::WaitAny(std::initializer_list<TAutoResetEvent*> events) {
  assert(events.size() > 0);
  TEventLock& lock = *(*events.begin())->lock_;
  for ([[maybe_unused]] const TAutoResetEvent* e : events) assert(e->lock_.get() == &lock);
  std::unique_lock<std::mutex> guard(lock.Mutex);
  for (;;) {
    std::size_t index = 0;
    for (TAutoResetEvent* e : events) {
      if (e->signalled_) {
        e->signalled_ = false;
        return index;
      }
      ++index;
    }
    lock.Changed.wait(guard);
  }
}

// ---- TclWorkerThread ----

TclWorkerThread::TclWorkerThread(TclThreadPool& pool) : pool_(pool) {
  thread_ = std::thread(&TclWorkerThread::Run, this);
}

TclWorkerThread::~TclWorkerThread() {
  Stop();
  if (thread_.joinable()) thread_.join();
  if (job_) {  // assigned, but the thread was stopped before it could start it
    FreeJob(job_.release());
    --pool_.pendingJobs_;
  }
}

void TclWorkerThread::AssignJob(std::unique_ptr<TWorkerThreadJob> job) {
  job_ = std::move(job);
  busy_ = true;
  StartEvent.Set();
}

void TclWorkerThread::Stop() {
  terminated_ = true;
  StopEvent.Set();
}

void TclWorkerThread::Run() {
  for (;;) {
    // A stop that arrives together with a job wins: the job is then freed unrun by the destructor.
    const std::size_t woken = TAutoResetEvent::WaitAny({&StopEvent, &StartEvent});
    if (woken == 1) {
      TWorkerThreadJob* job = job_.release();
      assert(job != nullptr);  // StartEvent is only set together with a job
      try {
        job->Execute();
      } catch (...) {
        // A job reports its own outcome; the worker goes on serving.
      }
      FreeJob(job);
      --pool_.pendingJobs_;
      if (!terminated_) {
        pool_.RunNextQueued(*this);  // also clears busy_
      } else {
        busy_ = false;
        pool_.idleEvent_.Set();
      }
    }
    if (woken == 0 || terminated_) break;
  }
  // Ending with a job assigned but not started must not leave Shutdown waiting for it.
  if (busy_) {
    busy_ = false;
    pool_.idleEvent_.Set();
  }
}

// ---- TclThreadPool ----

TclThreadPool::TclThreadPool() { threads_.reserve(kHighestLimit); }

TclThreadPool::~TclThreadPool() { Shutdown(); }

void TclThreadPool::SetMinThreads(int value) {
  std::lock_guard<std::mutex> guard(lock_);
  if (LimitInRange(value)) minThreads_ = value;
}

void TclThreadPool::SetMaxThreads(int value) {
  std::lock_guard<std::mutex> guard(lock_);
  if (LimitInRange(value)) maxThreads_ = value;
}

int TclThreadPool::MinThreads() const {
  std::lock_guard<std::mutex> guard(lock_);
  return minThreads_;
}

int TclThreadPool::MaxThreads() const {
  std::lock_guard<std::mutex> guard(lock_);
  return maxThreads_;
}

void TclThreadPool::SetMessagePump(std::function<void()> pump) { pump_ = std::move(pump); }

int TclThreadPool::ThreadCount() const {
  std::lock_guard<std::mutex> guard(lock_);
  return static_cast<int>(threads_.size());
}

int TclThreadPool::IdleThreadCount() const {
  std::lock_guard<std::mutex> guard(lock_);
  int idle = 0;
  for (const auto& t : threads_) idle += t->Busy() ? 0 : 1;
  return idle;
}

int TclThreadPool::QueuedJobCount() const {
  std::lock_guard<std::mutex> guard(lock_);
  return static_cast<int>(queue_.size());
}

std::unique_ptr<TclWorkerThread> TclThreadPool::CreateWorker() {
  return std::make_unique<TclWorkerThread>(*this);
}

TclWorkerThread* TclThreadPool::FirstIdleThread() {
  for (const auto& t : threads_) {
    if (!t->Busy()) return t.get();
  }
  return nullptr;
}

TclWorkerThread* TclThreadPool::AddWorker() {
  try {
    threads_.push_back(CreateWorker());
  } catch (const std::system_error&) {
    return nullptr;  // no thread to be had now; the caller queues the job
  }
  return threads_.back().get();
}

void TclThreadPool::EnsureMinThreads() {
  while (static_cast<int>(threads_.size()) < minThreads_) {
    if (AddWorker() == nullptr) return;
  }
}

void TclThreadPool::TrimIdleThreads() {
  // An idle worker never needs the lock, so ending it here cannot deadlock.
  for (std::size_t i = threads_.size(); i > static_cast<std::size_t>(minThreads_); --i) {
    if (!threads_[i - 1]->Busy())
      threads_.erase(threads_.begin() + static_cast<std::ptrdiff_t>(i - 1));
  }
}

void TclThreadPool::AddJob(std::unique_ptr<TWorkerThreadJob> job) {
  if (!job) return;
  ++pendingJobs_;
  std::unique_lock<std::mutex> guard(lock_);
  if (shuttingDown_) {
    guard.unlock();
    FreeJob(job.release());
    --pendingJobs_;
    return;
  }
  TclWorkerThread* worker = FirstIdleThread();
  if (worker == nullptr && static_cast<int>(threads_.size()) < maxThreads_) worker = AddWorker();
  if (worker != nullptr) {
    worker->AssignJob(std::move(job));
  } else {
    queue_.push_back(std::move(job));
  }
  EnsureMinThreads();
  TrimIdleThreads();
}

void TclThreadPool::RunNextQueued(TclWorkerThread& caller) {
  std::lock_guard<std::mutex> guard(lock_);
  if (!queue_.empty()) {
    TclWorkerThread* worker = FirstIdleThread();  // the caller is still busy: never picked
    if (worker == nullptr && static_cast<int>(threads_.size()) < maxThreads_) {
      worker = AddWorker();
    }
    if (worker != nullptr) {
      std::unique_ptr<TWorkerThreadJob> job = std::move(queue_.front());
      queue_.pop_front();
      worker->AssignJob(std::move(job));
    }
  }
  // Marking the caller idle in the same step means a worker finishing after it sees it idle.
  caller.busy_ = false;
  idleEvent_.Set();
}

void TclThreadPool::Shutdown() {
  std::deque<std::unique_ptr<TWorkerThreadJob>> dropped;
  std::vector<TclWorkerThread*> workers;
  {
    std::lock_guard<std::mutex> guard(lock_);
    shuttingDown_ = true;
    dropped.swap(queue_);
    for (const auto& t : threads_) workers.push_back(t.get());
  }
  // Freed outside the lock, so a job's destructor may even hand in another job (it is refused).
  while (!dropped.empty()) {
    FreeJob(dropped.front().release());
    dropped.pop_front();
    --pendingJobs_;
  }
  // With the queue empty and AddJob refusing, no worker can be added from here on. The lock is
  // not held while waiting: a worker that is finishing may still need it.
  for (TclWorkerThread* worker : workers) {
    worker->Stop();
    while (worker->Busy()) {
      if (pump_) pump_();
      idleEvent_.WaitFor(kPumpInterval);
    }
  }
  std::vector<std::unique_ptr<TclWorkerThread>> ended;
  {
    std::lock_guard<std::mutex> guard(lock_);
    ended.swap(threads_);
  }
  ended.clear();  // each destructor waits for its thread to end
}

// ---- TWorkerThreadPool ----

TWorkerThreadPool2::~TWorkerThreadPool2() { Shutdown(); }

TWorkerThreadPool::TWorkerThreadPool(int minThreads, int maxThreads) {
  SetMinThreads(minThreads);
  SetMaxThreads(maxThreads);
}

TWorkerThreadPool::~TWorkerThreadPool() { Shutdown(); }

}  // namespace pv
