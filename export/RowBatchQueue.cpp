#include "export/RowBatchQueue.h"

#include <pthread.h>
#include <sched.h>

#include <cstring>
#include <exception>
#include <thread>

#include "files/AnsiText.h"
#include "files/Errors.h"

namespace pv {
namespace {

// A recycled batch keeps its buffers; one that a huge record made large is dropped instead.
constexpr size_t kKeepCapacity = 4 << 20;

}  // namespace

void TRowBatch::Clear() {
  text_.clear();
  meta_.clear();
  rowStart_.clear();
}

void TRowBatch::Reserve(size_t textBytes, size_t rows) {
  constexpr size_t kMetaPerRow = 4 + 2 * (kRowColumns + 4);  // a few lists and an Extra text
  text_.reserve(textBytes);
  meta_.reserve(rows * kMetaPerRow);
  rowStart_.reserve(rows);
}

void TRowBatch::BeginRow(int64_t id, const TListSizes& lists) {
  rowStart_.push_back(static_cast<uint32_t>(meta_.size()));
  const auto bits = static_cast<uint64_t>(id);
  meta_.push_back(static_cast<uint32_t>(bits));
  meta_.push_back(static_cast<uint32_t>(bits >> 32));
  meta_.push_back(static_cast<uint32_t>(lists.emails));
  meta_.push_back(static_cast<uint32_t>(lists.phones));
}

void TRowBatch::TooLarge(size_t start) {
  text_.resize(start);
  throw Exception("Ein Datensatz ist zu gro\xDF f\xFCr den Export.");
}

void TRowBatch::AddRawRow(int64_t id, std::span<const std::string_view> texts) {
  size_t start = text_.size(), size = 0;
  for (const std::string_view t : texts) size += t.size();
  if (start + size > UINT32_MAX) TooLarge(start);
  BeginRow(id, {0, 0});
  const size_t at = meta_.size();
  meta_.resize(at + 2 * texts.size());
  uint32_t* meta = meta_.data() + at;
  text_.resize(start + size);
  for (const std::string_view t : texts) {
    *meta++ = static_cast<uint32_t>(start);
    *meta++ = static_cast<uint32_t>(t.size());
    if (!t.empty()) std::memcpy(text_.data() + start, t.data(), t.size());
    start += t.size();
  }
}

void TRowBatch::AddText(std::string_view s) {
  const size_t start = text_.size();
  text_ += s;
  EndText(start);
}

void TRowBatch::AddConverted(std::string_view utf8) {
  const size_t start = text_.size();
  AppendUtf8AsAnsi(text_, utf8);
  EndText(start);
}

TRowView::TRowView(const TRowBatch& batch, size_t row)
    : b_(batch), m_(&batch.meta_[batch.rowStart_[row]]) {}

int64_t TRowView::Id() const {
  return static_cast<int64_t>(static_cast<uint64_t>(m_[0]) | static_cast<uint64_t>(m_[1]) << 32);
}

TRowBatchQueue::TRowBatchQueue(const TPipeLimits& limits)
    : maxBatches_(limits.maxBatches),
      maxBatchesAhead_(limits.maxBatchesAhead),
      maxBytes_(limits.maxBytes) {}

bool TRowBatchQueue::Full() const {
  if (queue_.empty()) return false;
  return queue_.size() >= (consuming_ ? maxBatches_ : maxBatchesAhead_) ||
         queuedBytes_ >= maxBytes_;
}

bool TRowBatchQueue::Push(std::unique_ptr<TRowBatch> batch) {
  std::unique_lock<std::mutex> hold(lock_);
  notFull_.wait(hold, [&] { return stopped_ || !Full(); });
  if (stopped_) return false;
  queuedBytes_ += batch->TextBytes();
  queue_.push_back(std::move(batch));
  notEmpty_.notify_one();
  return true;
}

std::unique_ptr<TRowBatch> TRowBatchQueue::Pop() {
  std::unique_lock<std::mutex> hold(lock_);
  if (!consuming_) {
    consuming_ = true;
    notFull_.notify_one();  // the limit may have dropped below what is queued: re-check
  }
  notEmpty_.wait(hold, [&] { return !queue_.empty() || closed_ || stopped_; });
  if (queue_.empty() || stopped_) return nullptr;
  auto batch = std::move(queue_.front());
  queue_.pop_front();
  queuedBytes_ -= batch->TextBytes();
  notFull_.notify_one();
  return batch;
}

std::unique_ptr<TRowBatch> TRowBatchQueue::Fresh() {
  std::lock_guard<std::mutex> hold(lock_);
  if (free_.empty()) return std::make_unique<TRowBatch>();
  auto batch = std::move(free_.back());
  free_.pop_back();
  return batch;
}

void TRowBatchQueue::Recycle(std::unique_ptr<TRowBatch> batch) {
  if (batch == nullptr || batch->TextBytes() > kKeepCapacity) return;
  batch->Clear();
  std::lock_guard<std::mutex> hold(lock_);
  free_.push_back(std::move(batch));
}

void TRowBatchQueue::Close() {
  std::lock_guard<std::mutex> hold(lock_);
  closed_ = true;
  notEmpty_.notify_all();
}

void TRowBatchQueue::Stop() {
  std::lock_guard<std::mutex> hold(lock_);
  stopped_ = true;
  notEmpty_.notify_all();
  notFull_.notify_all();
}

bool TRowBatchQueue::Stopped() const {
  std::lock_guard<std::mutex> hold(lock_);
  return stopped_;
}

namespace {

// The filling and the middle stage are throughput work beside the calling thread. As SCHED_BATCH
// they no longer preempt it whenever a batch is handed over (a few thousand times in a million
// records), which on two cores cut a full export by about 4 %. A system that refuses the policy
// leaves the thread as it was.
void RunAsBatchWork() {
  const sched_param normal{};
  pthread_setschedparam(pthread_self(), SCHED_BATCH, &normal);
}

// The filling stage of PipeRowBatches; stops the queue on failure.
void Produce(const std::function<bool(TRowBatch&)>& fill, TRowBatchQueue& queue,
             std::exception_ptr& error) {
  try {
    bool more = true;
    while (more) {
      auto batch = queue.Fresh();
      more = fill(*batch);
      if (batch->Rows() > 0 && !queue.Push(std::move(batch))) return;
    }
  } catch (...) {
    error = std::current_exception();
    queue.Stop();
  }
}

// The middle stage: turns batches of in into batches of out until in ends or either stops; a stop
// on one side is passed to the other.
void Work(const std::function<void(const TRowBatch&, TRowBatch&)>& work, TRowBatchQueue& in,
          TRowBatchQueue& out, std::exception_ptr& error) {
  try {
    while (auto batch = in.Pop()) {
      auto result = out.Fresh();
      work(*batch, *result);
      in.Recycle(std::move(batch));
      if (result->Rows() > 0 && !out.Push(std::move(result))) break;
    }
  } catch (...) {
    error = std::current_exception();
    out.Stop();
  }
  if (in.Stopped() || out.Stopped()) {
    in.Stop();
    out.Stop();
  }
  out.Close();
}

// The calling thread's part: prepare, then every batch of queue in order.
void Consume(const std::function<void()>& prepare,
             const std::function<void(const TRowBatch&)>& consume, TRowBatchQueue& queue,
             std::exception_ptr& error) {
  try {
    if (prepare) prepare();
    while (auto batch = queue.Pop()) {
      consume(*batch);
      queue.Recycle(std::move(batch));
    }
  } catch (...) {
    error = std::current_exception();
    queue.Stop();
  }
}

}  // namespace

void PipeRowBatches(const TPipeLimits& limits, const TBatchStages& stages) {
  TRowBatchQueue filled(limits), worked(limits);
  std::exception_ptr fillError, workError, consumeError;
  std::thread producer([&] {
    RunAsBatchWork();
    Produce(stages.fill, filled, fillError);
    filled.Close();
  });
  std::thread worker;
  try {
    worker = std::thread([&] {
      RunAsBatchWork();
      Work(stages.work, filled, worked, workError);
    });
  } catch (...) {
    filled.Stop();
    producer.join();
    throw;
  }
  Consume(stages.prepare, stages.consume, worked, consumeError);
  worked.Stop();  // the worker then stops the producer, should either still run
  worker.join();
  producer.join();
  if (fillError) std::rethrow_exception(fillError);
  if (workError) std::rethrow_exception(workError);
  if (consumeError) std::rethrow_exception(consumeError);
}

}  // namespace pv
