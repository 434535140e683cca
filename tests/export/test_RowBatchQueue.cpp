// Batches of records and their hand-over between two threads: the layout keeps every text and ID,
// the queue stays within its bounds, either side can stop it, and no batch is lost or reordered.
#include <gtest/gtest.h>
#include <sched.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <stdexcept>
#include <thread>
#include <utility>

#include "export/RowBatchQueue.h"
#include "files/Errors.h"
#include "tests/support/Wait.h"

namespace pv {
namespace {

using namespace std::chrono_literals;

// Waits (generously) until pred holds; false when it never does.
bool Eventually(const std::function<bool()>& pred) { return test::WaitUntil(pred, 10000); }

// A record whose every text names its ID and place, so a mix-up shows.
void AddRecord(TRowBatch& batch, int64_t id, size_t emails = 1, size_t phones = 1) {
  batch.BeginRow(id, {emails, phones});
  const std::string tag = std::to_string(id);
  for (int c = 0; c < kRowColumns; ++c) batch.AddText("c" + std::to_string(c) + "/" + tag);
  batch.AddText("stamp/" + tag);
  for (size_t i = 0; i < emails; ++i) batch.AddText("mail" + std::to_string(i) + "@" + tag);
  for (size_t i = 0; i < phones; ++i) batch.AddText("0" + std::to_string(i) + tag);
}

std::unique_ptr<TRowBatch> BatchOf(int64_t id) {
  auto batch = std::make_unique<TRowBatch>();
  AddRecord(*batch, id);
  return batch;
}

int64_t FirstId(const TRowBatch& batch) { return TRowView(batch, 0).Id(); }

TEST(RowBatch, EveryRecordReadsBackWithItsIdTextsAndLists) {
  const struct {
    int64_t id;
    size_t emails, phones;
  } rows[] = {{1, 1, 0}, {-7, 0, 3}, {4294967297LL, 2, 2}, {INT64_MIN, 0, 1}, {INT64_MAX, 5, 0}};
  TRowBatch batch;
  for (const auto& r : rows) AddRecord(batch, r.id, r.emails, r.phones);
  ASSERT_EQ(batch.Rows(), std::size(rows));
  for (size_t i = 0; i < std::size(rows); ++i) {
    SCOPED_TRACE(i);
    const TRowView view(batch, i);
    const std::string tag = std::to_string(rows[i].id);
    EXPECT_EQ(view.Id(), rows[i].id);
    EXPECT_EQ(view.Column(kAbt), "c2/" + tag);
    EXPECT_EQ(view.Column(kGroups), "c6/" + tag);
    EXPECT_EQ(view.Stamp(), "stamp/" + tag);
    ASSERT_EQ(view.Emails(), rows[i].emails);
    ASSERT_EQ(view.Phones(), rows[i].phones);
    for (size_t e = 0; e < view.Emails(); ++e) {
      EXPECT_EQ(view.Email(e), "mail" + std::to_string(e) + "@" + tag);
    }
    for (size_t p = 0; p < view.Phones(); ++p) {
      EXPECT_EQ(view.Phone(p), "0" + std::to_string(p) + tag);
    }
  }
  batch.Clear();
  EXPECT_EQ(batch.Rows(), 0u);
  EXPECT_EQ(batch.TextBytes(), 0u);
}

TEST(RowBatch, ConvertedTextIsWindows1252AndEmptyTextStaysEmpty) {
  TRowBatch batch;
  batch.BeginRow(1, {0, 0});
  batch.AddConverted("K\xC3\xB6ln \xE2\x82\xAC");  // UTF-8
  batch.AddConverted("");
  batch.AddConverted("M\xFCller");  // not UTF-8: taken as it is
  for (int c = 3; c <= kRowColumns; ++c) batch.AddText("");
  const TRowView view(batch, 0);
  EXPECT_EQ(view.Column(kNName), "K\xF6ln \x80");
  EXPECT_EQ(view.Column(kVName), "");
  EXPECT_EQ(view.Column(kAbt), "M\xFCller");
  EXPECT_EQ(view.Stamp(), "");
}

TEST(RowBatch, RecordsAsReadHoldAnyNumberOfTextsAndBuiltTextGoesInPlace) {
  TRowBatch batch;
  batch.BeginRow(-5, {0, 0});
  for (const char* text : {"a", "", "ccc", "dd", "e", "f", "g", "h", "IX text"})
    batch.AddText(text);
  batch.BeginRow(6, {0, 0});
  batch.AddBuilt([](std::string& text) { text += "built"; });
  // A failed build takes back what it appended and adds no text.
  EXPECT_THROW(batch.AddBuilt([](std::string& text) {
    text += "half";
    throw std::runtime_error("kaputt");
  }),
               std::runtime_error);
  batch.AddBuilt([](std::string&) {});
  const TRowView first(batch, 0), second(batch, 1);
  EXPECT_EQ(first.Id(), -5);
  EXPECT_EQ(first.Field(0), "a");
  EXPECT_EQ(first.Field(1), "");
  EXPECT_EQ(first.Field(2), "ccc");
  EXPECT_EQ(first.Field(8), "IX text");
  EXPECT_EQ(second.Id(), 6);
  EXPECT_EQ(second.Field(0), "built");
  EXPECT_EQ(second.Field(1), "");
  EXPECT_EQ(batch.TextBytes(), std::string_view("acccddefghIX textbuilt").size());
}

// A record as read is added in one step; one whose texts outgrow the batch's 32-bit offsets is
// refused whole, before anything is copied, and the batch stays as it was.
TEST(RowBatch, ARecordAsReadIsAddedWholeOrNotAtAll) {
  TRowBatch batch;
  const std::string_view texts[] = {"M\xFCller", "", "IX text"};
  batch.AddRawRow(-7, texts);
  const TRowView view(batch, 0);
  EXPECT_EQ(view.Id(), -7);
  EXPECT_EQ(view.Field(0), "M\xFCller");
  EXPECT_EQ(view.Field(1), "");
  EXPECT_EQ(view.Field(2), "IX text");

  // Never read: the refusal comes before any copy.
  constexpr size_t kGigabyte = (size_t{1} << 30) + 1;
  const auto memory = std::make_unique_for_overwrite<char[]>(kGigabyte);
  const std::string_view gigabyte(memory.get(), kGigabyte);
  const std::string_view huge[] = {gigabyte, gigabyte, gigabyte, gigabyte};  // 4 GiB and 4 bytes
  const size_t bytes = batch.TextBytes();
  try {
    batch.AddRawRow(8, huge);
    ADD_FAILURE() << "a record beyond the offsets was taken";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), "Ein Datensatz ist zu gro\xDF f\xFCr den Export.");
  }
  EXPECT_EQ(batch.Rows(), 1u);
  EXPECT_EQ(batch.TextBytes(), bytes);
  EXPECT_EQ(TRowView(batch, 0).Field(2), "IX text");
}

// Pushes count batches numbered from first on a thread, counting the pushes that were taken.
struct Pusher {
  Pusher(TRowBatchQueue& queue, int count) {
    thread = std::thread([this, &queue, count] {
      for (int i = 0; i < count; ++i) {
        if (!queue.Push(BatchOf(i))) {
          refused = true;
          return;
        }
        ++pushed;
      }
    });
  }
  ~Pusher() { thread.join(); }
  std::atomic<int> pushed{0};
  std::atomic<bool> refused{false};
  std::thread thread;
};

TEST(RowBatchQueue, AheadOfTheConsumerThenWithItThePushesStopAtTheBound) {
  TRowBatchQueue queue(TPipeLimits{2, 5, 1 << 30});
  Pusher pusher(queue, 9);
  // Before the first Pop the producer may run five ahead, and no further.
  ASSERT_TRUE(Eventually([&] { return pusher.pushed == 5; }));
  std::this_thread::sleep_for(50ms);
  EXPECT_EQ(pusher.pushed, 5);
  // Once the consumer takes, the bound is two: nothing more fits until the queue drains below it.
  EXPECT_EQ(FirstId(*queue.Pop()), 0);
  EXPECT_EQ(FirstId(*queue.Pop()), 1);
  EXPECT_EQ(FirstId(*queue.Pop()), 2);
  std::this_thread::sleep_for(50ms);
  EXPECT_EQ(pusher.pushed, 5);
  EXPECT_EQ(FirstId(*queue.Pop()), 3);
  ASSERT_TRUE(Eventually([&] { return pusher.pushed == 6; }));
  for (int i = 4; i < 9; ++i) EXPECT_EQ(FirstId(*queue.Pop()), i);
  queue.Close();
  EXPECT_EQ(queue.Pop(), nullptr);
}

TEST(RowBatchQueue, TheByteBoundAlwaysLetsOneBatchThrough) {
  TRowBatchQueue queue(TPipeLimits{100, 100, 10});  // every batch is over 10 bytes
  Pusher pusher(queue, 3);
  ASSERT_TRUE(Eventually([&] { return pusher.pushed == 1; }));
  std::this_thread::sleep_for(50ms);
  EXPECT_EQ(pusher.pushed, 1);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(FirstId(*queue.Pop()), i);
}

TEST(RowBatchQueue, StopFromTheConsumerReleasesABlockedProducer) {
  TRowBatchQueue queue(TPipeLimits{1, 1, 1 << 30});
  Pusher pusher(queue, 3);
  ASSERT_TRUE(Eventually([&] { return pusher.pushed == 1; }));
  queue.Stop();
  ASSERT_TRUE(Eventually([&] { return pusher.refused.load(); }));
  EXPECT_EQ(pusher.pushed, 1);
  EXPECT_TRUE(queue.Stopped());
  EXPECT_EQ(queue.Pop(), nullptr);  // stopped: what was queued is dropped
  EXPECT_FALSE(queue.Push(BatchOf(9)));
}

TEST(RowBatchQueue, StopFromTheProducerReleasesAWaitingConsumer) {
  TRowBatchQueue queue(TPipeLimits{4, 4, 1 << 30});
  std::atomic<bool> released{false};
  std::thread consumer([&] {
    EXPECT_EQ(queue.Pop(), nullptr);
    released = true;
  });
  std::this_thread::sleep_for(20ms);
  EXPECT_FALSE(released);
  queue.Stop();
  consumer.join();
  EXPECT_TRUE(released);
}

TEST(RowBatchQueue, CloseDrainsEveryBatchInOrder) {
  TRowBatchQueue queue(TPipeLimits{3, 3, 1 << 30});
  constexpr int kBatches = 5000;
  std::thread producer([&] {
    for (int i = 0; i < kBatches; ++i) {
      auto batch = queue.Fresh();
      EXPECT_EQ(batch->Rows(), 0u);  // recycled batches come back empty
      AddRecord(*batch, i);
      ASSERT_TRUE(queue.Push(std::move(batch)));
    }
    queue.Close();
  });
  int expected = 0;
  while (auto batch = queue.Pop()) {
    ASSERT_EQ(FirstId(*batch), expected++);
    queue.Recycle(std::move(batch));
  }
  producer.join();
  EXPECT_EQ(expected, kBatches);
}

const TPipeLimits kSmall{2, 4, 1 << 20};

// A middle stage that passes every record on unchanged.
void PassOn(const TRowBatch& in, TRowBatch& out) {
  for (size_t r = 0; r < in.Rows(); ++r) AddRecord(out, TRowView(in, r).Id());
}

// The pipe's stages from fill, prepare and consume, with PassOn between them.
TBatchStages PassingStages(std::function<bool(TRowBatch&)> fill, std::function<void()> prepare,
                           std::function<void(const TRowBatch&)> consume) {
  TBatchStages stages;
  stages.fill = std::move(fill);
  stages.work = PassOn;
  stages.prepare = std::move(prepare);
  stages.consume = std::move(consume);
  return stages;
}

TEST(PipeRowBatches, EveryBatchArrivesInOrderAfterPrepare) {
  int64_t next = 0;
  int64_t seen = 0;
  bool prepared = false;
  PipeRowBatches(kSmall, PassingStages(
                             [&](TRowBatch& batch) {
                               for (int i = 0; i < 3 && next < 1000; ++i) AddRecord(batch, next++);
                               return next < 1000;
                             },
                             [&] { prepared = true; },
                             [&](const TRowBatch& batch) {
                               EXPECT_TRUE(prepared);
                               for (size_t r = 0; r < batch.Rows(); ++r)
                                 EXPECT_EQ(TRowView(batch, r).Id(), seen++);
                             }));
  EXPECT_EQ(seen, 1000);
}

// The two stages beside the caller run as batch work; the calling thread keeps its policy.
TEST(PipeRowBatches, TheStagesBesideTheCallerRunAsBatchWork) {
  const int callerPolicy = sched_getscheduler(0);
  int fillPolicy = -1, workPolicy = -1, consumePolicy = -1;
  TBatchStages stages;
  stages.fill = [&](TRowBatch& batch) {
    fillPolicy = sched_getscheduler(0);
    AddRecord(batch, 1);
    return false;
  };
  stages.work = [&](const TRowBatch& in, TRowBatch& out) {
    workPolicy = sched_getscheduler(0);
    PassOn(in, out);
  };
  stages.consume = [&](const TRowBatch&) { consumePolicy = sched_getscheduler(0); };
  PipeRowBatches(kSmall, stages);
  EXPECT_EQ(fillPolicy, SCHED_BATCH);
  EXPECT_EQ(workPolicy, SCHED_BATCH);
  EXPECT_EQ(consumePolicy, callerPolicy);
  EXPECT_EQ(sched_getscheduler(0), callerPolicy);
}

struct Foreign {
  int code;
};

// Every kind of failure, on either side, comes out of PipeRowBatches and stops the other side.
TEST(PipeRowBatches, AFailureOnEitherSideIsRaisedHereAndStopsTheOther) {
  enum Side { kProducer, kPrepare, kConsumer };
  for (const Side side : {kProducer, kPrepare, kConsumer}) {
    for (const bool foreign : {false, true}) {
      SCOPED_TRACE(testing::Message() << "side " << side << (foreign ? " foreign" : " std"));
      const auto fail = [foreign] {
        if (foreign) throw Foreign{7};
        throw std::runtime_error("kaputt");
      };
      int64_t produced = 0;
      const auto fill = [&](TRowBatch& batch) {
        if (side == kProducer && produced == 50) fail();
        AddRecord(batch, produced++);
        return true;  // endless unless stopped
      };
      const auto prepare = [&] {
        if (side == kPrepare) fail();
      };
      int consumed = 0;
      const auto consume = [&](const TRowBatch&) {
        if (side == kConsumer && ++consumed == 10) fail();
      };
      try {
        PipeRowBatches(kSmall, PassingStages(fill, prepare, consume));
        ADD_FAILURE() << "no failure raised";
      } catch (const Foreign& f) {
        EXPECT_TRUE(foreign);
        EXPECT_EQ(f.code, 7);
      } catch (const std::runtime_error& e) {
        EXPECT_FALSE(foreign);
        EXPECT_STREQ(e.what(), "kaputt");
      }
    }
  }
}

}  // namespace
}  // namespace pv

namespace pv {
namespace {

// The middle stage doubles every record (ID and -ID) and drops batches whose first ID is odd.
void DoubleEvenBatches(const TRowBatch& in, TRowBatch& out) {
  if (FirstId(in) % 2 != 0) return;
  for (size_t r = 0; r < in.Rows(); ++r) {
    const int64_t id = TRowView(in, r).Id();
    AddRecord(out, id);
    AddRecord(out, -id);
  }
}

TEST(PipeRowBatchesThroughAMiddleStage, EveryWorkedBatchArrivesInOrderAfterPrepare) {
  int64_t next = 0;
  std::vector<int64_t> seen;
  bool prepared = false;
  TBatchStages stages;
  stages.fill = [&](TRowBatch& batch) {
    AddRecord(batch, next++);
    return next < 1000;
  };
  stages.work = DoubleEvenBatches;
  stages.prepare = [&] { prepared = true; };
  stages.consume = [&](const TRowBatch& batch) {
    EXPECT_TRUE(prepared);
    EXPECT_GT(batch.Rows(), 0u);  // empty results never arrive
    for (size_t r = 0; r < batch.Rows(); ++r) seen.push_back(TRowView(batch, r).Id());
  };
  PipeRowBatches(kSmall, stages);
  ASSERT_EQ(seen.size(), 1000u);
  for (size_t i = 0; i < seen.size(); i += 2) {
    EXPECT_EQ(seen[i], static_cast<int64_t>(i));
    EXPECT_EQ(seen[i + 1], -static_cast<int64_t>(i));
  }
}

// A failure in any of the stages comes out of the pipe and stops the others, even those that
// would run for ever.
TEST(PipeRowBatchesThroughAMiddleStage, AFailureInAnyStageIsRaisedHereAndStopsTheOthers) {
  enum Stage { kFill, kWork, kPrepare, kConsume };
  for (const Stage stage : {kFill, kWork, kPrepare, kConsume}) {
    for (const bool foreign : {false, true}) {
      SCOPED_TRACE(testing::Message() << "stage " << stage << (foreign ? " foreign" : " std"));
      const auto fail = [foreign](int code) {
        if (foreign) throw Foreign{code};
        throw std::runtime_error("kaputt " + std::to_string(code));
      };
      std::atomic<int64_t> produced{0}, worked{0};
      int consumed = 0;
      TBatchStages stages;
      stages.fill = [&](TRowBatch& batch) {
        if (stage == kFill && produced == 50) fail(1);
        AddRecord(batch, produced++);
        return true;  // endless unless stopped
      };
      stages.work = [&](const TRowBatch& in, TRowBatch& out) {
        if (stage == kWork && ++worked == 30) fail(2);
        AddRecord(out, FirstId(in));
      };
      stages.prepare = [&] {
        if (stage == kPrepare) fail(3);
      };
      stages.consume = [&](const TRowBatch&) {
        if (stage == kConsume && ++consumed == 10) fail(4);
      };
      const int expected = stage == kFill ? 1 : stage == kWork ? 2 : stage == kPrepare ? 3 : 4;
      try {
        PipeRowBatches(kSmall, stages);
        ADD_FAILURE() << "no failure raised";
      } catch (const Foreign& f) {
        EXPECT_TRUE(foreign);
        EXPECT_EQ(f.code, expected);
      } catch (const std::runtime_error& e) {
        EXPECT_FALSE(foreign);
        EXPECT_EQ(e.what(), "kaputt " + std::to_string(expected));
      }
    }
  }
}

}  // namespace
}  // namespace pv
