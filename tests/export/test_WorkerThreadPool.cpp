// The auto-reset event and the worker pool: thread limits, queueing order, failing jobs and the
// shutdown wait. Jobs are steered with latches, never with sleeps.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <thread>

#include "export/WorkerThreadPool.h"
#include "tests/support/Wait.h"

namespace pv {
namespace {

using namespace std::chrono_literals;

constexpr auto kPatience = 20s;  // only reached when something is broken

// A flag that stays open once opened.
class Latch {
 public:
  void Open() {
    std::lock_guard<std::mutex> guard(mutex_);
    open_ = true;
    changed_.notify_all();  // under the lock: the waiter may destroy the latch once it returns
  }
  bool Wait() {
    std::unique_lock<std::mutex> guard(mutex_);
    return changed_.wait_for(guard, kPatience, [this] { return open_; });
  }
  bool IsOpen() {
    std::lock_guard<std::mutex> guard(mutex_);
    return open_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  bool open_ = false;
};

// What a test job reports, and the latch that lets a blocking one finish.
struct Probe {
  Latch started, release, freed;
  std::atomic<bool> executed{false};
  std::thread::id thread;  // written before started opens
};

enum class Mode { Finish, Block, Raise, RaiseOther };  // all but Finish wait for release first

class ProbeJob : public TWorkerThreadJob {
 public:
  ProbeJob(Probe& probe, Mode mode) : probe_(probe), mode_(mode) {}
  ~ProbeJob() override { probe_.freed.Open(); }
  void Execute() override {
    probe_.thread = std::this_thread::get_id();
    probe_.executed = true;
    probe_.started.Open();
    if (mode_ != Mode::Finish) probe_.release.Wait();
    if (mode_ == Mode::Raise) throw std::runtime_error("job failed");
    if (mode_ == Mode::RaiseOther) throw 42;
  }

 private:
  Probe& probe_;
  Mode mode_;
};

std::unique_ptr<TWorkerThreadJob> Job(Probe& probe, Mode mode = Mode::Finish) {
  return std::make_unique<ProbeJob>(probe, mode);
}

// Polls a state that no event announces (a worker going idle); bounded.
bool Eventually(const std::function<bool()>& done) {
  return test::WaitUntil(done, static_cast<int>(std::chrono::milliseconds(kPatience).count()));
}

TEST(AutoResetEvent, OneSignalPerSetAndTheFirstOfSeveralWins) {
  auto lock = std::make_shared<TEventLock>();
  TAutoResetEvent stop(lock), start(lock);
  start.Set();
  start.Set();  // a second Set of a signalled event adds nothing
  stop.Set();
  EXPECT_EQ(TAutoResetEvent::WaitAny({&stop, &start}), 0u);
  EXPECT_EQ(TAutoResetEvent::WaitAny({&stop, &start}), 1u);
  EXPECT_FALSE(start.WaitFor(5ms));

  for (int i = 0; i < 200; ++i) {  // may be destroyed as soon as the wait returns
    auto event = std::make_unique<TAutoResetEvent>();
    std::thread setter([e = event.get()] { e->Set(); });
    event->Wait();
    event.reset();
    setter.join();
  }
}

TEST(WorkerThreadPool, LimitsOutsideTwoToSixtyFourAreIgnored) {
  struct Case {
    int min, max, expectMin, expectMax;
  } cases[] = {{10, 5, 10, 5}, {1, 5, 1, 5}, {0, 0, 1, 5}, {65, 65, 1, 5}, {2, 64, 2, 64}};
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.min << "/" << c.max);
    TWorkerThreadPool pool(c.min, c.max);
    EXPECT_EQ(pool.MinThreads(), c.expectMin);
    EXPECT_EQ(pool.MaxThreads(), c.expectMax);
  }
}

TEST(WorkerThreadPool, FirstJobStartsMinimumThreadsEvenAboveMaximum) {
  TWorkerThreadPool pool(10, 5);
  EXPECT_EQ(pool.ThreadCount(), 0);
  Probe probe;
  pool.AddJob(Job(probe));
  EXPECT_EQ(pool.ThreadCount(), 10);
  ASSERT_TRUE(probe.freed.Wait());
  EXPECT_TRUE(probe.executed);
}

TEST(WorkerThreadPool, QueuedJobWaitsForTheLastBusyWorkerAndRunsOnTheIdleOne) {
  TWorkerThreadPool pool(2, 2);
  Probe a, b, c;
  pool.AddJob(Job(a, Mode::Block));
  pool.AddJob(Job(b, Mode::Block));
  ASSERT_TRUE(a.started.Wait() && b.started.Wait());
  pool.AddJob(Job(c));
  EXPECT_EQ(pool.QueuedJobCount(), 1);

  // The first worker finishes: it is still busy when it looks, and the other one is busy.
  a.release.Open();
  ASSERT_TRUE(Eventually([&] { return pool.IdleThreadCount() == 1; }));
  EXPECT_FALSE(c.started.IsOpen());

  // The second one finishes and hands the queued job to the first worker.
  b.release.Open();
  ASSERT_TRUE(c.freed.Wait());
  EXPECT_EQ(c.thread, a.thread);
  EXPECT_NE(b.thread, a.thread);
}

TEST(WorkerThreadPool, RaisingJobsAreFreedAndIdleExtraThreadsEnd) {
  TWorkerThreadPool pool(2, 5);
  Probe jobs[4];
  const Mode modes[4] = {Mode::Raise, Mode::RaiseOther, Mode::Block, Mode::Block};
  for (int i = 0; i < 4; ++i) pool.AddJob(Job(jobs[i], modes[i]));
  for (Probe& p : jobs) ASSERT_TRUE(p.started.Wait());
  EXPECT_EQ(pool.ThreadCount(), 4);
  for (Probe& p : jobs) p.release.Open();
  ASSERT_TRUE(Eventually([&] { return pool.IdleThreadCount() == 4; }));
  EXPECT_EQ(pool.PendingJobs(), 0);

  Probe next;  // takes the first thread; the idle ones beyond the minimum of 2 end
  pool.AddJob(Job(next));
  EXPECT_EQ(pool.ThreadCount(), 2);
  ASSERT_TRUE(next.freed.Wait());
  EXPECT_EQ(next.thread, jobs[0].thread);
}

TEST(WorkerThreadPool, EveryQueuedJobRunsWithoutFurtherHandIns) {
  // Workers finishing at the same moment must never leave a job behind in the queue.
  constexpr int jobs = 2000;
  struct Counting : TWorkerThreadJob {
    Counting(std::atomic<int>& done, Latch& all) : done_(done), all_(all) {}
    void Execute() override {
      if (++done_ == jobs) all_.Open();
    }
    std::atomic<int>& done_;
    Latch& all_;
  };
  for (int max : {2, 3, 5}) {
    std::atomic<int> done{0};
    Latch all;
    TWorkerThreadPool pool(2, max);
    for (int i = 0; i < jobs; ++i) pool.AddJob(std::make_unique<Counting>(done, all));
    ASSERT_TRUE(all.Wait()) << done << " of " << jobs << " jobs ran with at most " << max;
  }
}

TEST(WorkerThreadPool, DestroyWaitsForRunningJobsAndDropsQueuedOnes) {
  Probe running, other, queued1, queued2, late;
  int pumped = 0;
  {
    TWorkerThreadPool pool(2, 2);
    pool.AddJob(Job(running, Mode::Block));
    pool.AddJob(Job(other, Mode::Block));
    ASSERT_TRUE(running.started.Wait() && other.started.Wait());
    pool.AddJob(Job(queued1));
    pool.AddJob(Job(queued2));
    EXPECT_EQ(pool.PendingJobs(), 4);
    // The running jobs finish only when the owner's messages are handled during the wait.
    pool.SetMessagePump([&] {
      ++pumped;
      running.release.Open();
      other.release.Open();
    });
    pool.Shutdown();
    EXPECT_EQ(pool.PendingJobs(), 0);
    pool.AddJob(Job(late));  // after the shutdown: freed unrun
  }
  EXPECT_GE(pumped, 1);
  EXPECT_TRUE(running.freed.IsOpen() && other.freed.IsOpen());
  for (Probe* p : {&queued1, &queued2, &late}) {
    EXPECT_TRUE(p->freed.IsOpen());
    EXPECT_FALSE(p->executed);
  }
}

TEST(WorkerThreadPool, DestroyRightAfterAddJobFreesTheJobOnce) {
  // The stop may reach a worker together with its job: the job is then freed unrun, and the
  // destructor must not wait for it forever.
  for (int i = 0; i < 300; ++i) {
    Probe probe;
    {
      TWorkerThreadPool pool(2, 2);
      pool.AddJob(Job(probe));
    }
    ASSERT_TRUE(probe.freed.IsOpen()) << "round " << i;
  }
}

}  // namespace
}  // namespace pv
