// The usable records of the address table in batches, and the bounded queue that hands the batches
// from the thread that reads the table to the thread that builds the cards.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace pv {

// The text columns of a usable record, in the order they are stored in a batch.
enum TRowColumn { kNName, kVName, kAbt, kPostCode, kCity, kStreet, kGroups, kRowColumns };

// How many e-mail addresses and phone numbers a record brings.
struct TListSizes {
  size_t emails, phones;
};

// A batch of records: all texts in one buffer, each an (offset, length) pair, so that a record
// costs no allocation once the batch has grown. Per record: the 64-bit ID, the e-mail count, the
// phone count, then the pairs of the columns, the change stamp, the e-mail addresses and the
// phone numbers. A record is BeginRow followed by kRowColumns + 1 + emails + phones texts. A
// batch of records as read (lists of size 0) holds any number of texts per record, read by
// TRowView::Field.
class TRowBatch {
 public:
  void Clear();
  size_t Rows() const { return rowStart_.size(); }
  // Bytes of text held; the queue bounds its memory by this.
  size_t TextBytes() const { return text_.size(); }
  void BeginRow(int64_t id, const TListSizes& lists);
  void AddText(std::string_view s);
  // Adds a record as read: BeginRow(id, {0, 0}) and the texts, growing the buffers once.
  void AddRawRow(int64_t id, std::span<const std::string_view> texts);
  // Adds UTF-8 text from the database as Windows-1252, converted straight into the buffer.
  void AddConverted(std::string_view utf8);
  // Makes room for this much text and these many records without growing.
  void Reserve(size_t textBytes, size_t rows);
  // Adds the text that build(buffer) appends to the batch's buffer, made in place without a copy.
  template <class Build>
  void AddBuilt(Build&& build) {
    const size_t start = text_.size();
    try {
      build(text_);
    } catch (...) {
      text_.resize(start);
      throw;
    }
    EndText(start);
  }

 private:
  friend class TRowView;
  // Records the text appended to text_ since start; raises pv::Exception when the batch outgrows
  // its 32-bit offsets (only a single record of gigabytes can).
  void EndText(size_t start) {
    if (text_.size() > UINT32_MAX) TooLarge(start);
    meta_.push_back(static_cast<uint32_t>(start));
    meta_.push_back(static_cast<uint32_t>(text_.size() - start));
  }
  // Takes the text back to start and raises the failure of a record too large.
  [[noreturn]] void TooLarge(size_t start);
  std::string text_;
  std::vector<uint32_t> meta_;
  std::vector<uint32_t> rowStart_;
};

// Read access to record row of a batch; valid while the batch is unchanged.
class TRowView {
 public:
  TRowView(const TRowBatch& batch, size_t row);
  int64_t Id() const;
  size_t Emails() const { return m_[2]; }
  size_t Phones() const { return m_[3]; }
  std::string_view Column(TRowColumn c) const { return Text(c); }
  std::string_view Stamp() const { return Text(kRowColumns); }
  std::string_view Email(size_t i) const { return Text(kRowColumns + 1 + i); }
  std::string_view Phone(size_t i) const { return Text(kRowColumns + 1 + Emails() + i); }
  // The i-th text of the record, in the order added.
  std::string_view Field(size_t i) const { return Text(i); }

 private:
  std::string_view Text(size_t i) const { return {b_.text_.data() + m_[4 + 2 * i], m_[5 + 2 * i]}; }
  const TRowBatch& b_;
  const uint32_t* m_;
};

// The bounds of a TRowBatchQueue (see there).
struct TPipeLimits {
  size_t maxBatches, maxBatchesAhead, maxBytes;
};

// A bounded first-in first-out hand-over of batches from one producer to one consumer. It holds at
// most maxBatches batches and, beyond the first, at most maxBytes of text; until the consumer
// takes its first batch the producer may run up to maxBatchesAhead batches ahead (so that it goes
// on while the consumer still prepares, e.g. loads the ledger). Either side may stop it: every
// waiting call returns at once, and Push refuses further batches. Close marks the end of data:
// Pop then drains what is queued and returns null. Spent batches are recycled to save memory.
class TRowBatchQueue {
 public:
  explicit TRowBatchQueue(const TPipeLimits& limits);

  // Blocks while the queue is full; false (the batch dropped) once stopped.
  bool Push(std::unique_ptr<TRowBatch> batch);
  // Blocks while empty; null when stopped, or closed and drained.
  std::unique_ptr<TRowBatch> Pop();
  // A batch for the producer: a recycled one when there is one, else a new one; always empty.
  std::unique_ptr<TRowBatch> Fresh();
  void Recycle(std::unique_ptr<TRowBatch> batch);
  void Close();
  void Stop();
  bool Stopped() const;

 private:
  bool Full() const;
  const size_t maxBatches_, maxBatchesAhead_, maxBytes_;
  mutable std::mutex lock_;
  std::condition_variable notFull_, notEmpty_;
  std::deque<std::unique_ptr<TRowBatch>> queue_;  // guarded by lock_
  std::vector<std::unique_ptr<TRowBatch>> free_;  // guarded by lock_
  size_t queuedBytes_ = 0;                        // guarded by lock_
  bool closed_ = false;                           // guarded by lock_
  bool stopped_ = false;                          // guarded by lock_
  bool consuming_ = false;                        // guarded by lock_: Pop was called
};

// The stages of a pipe of three threads (see PipeRowBatches).
struct TBatchStages {
  std::function<bool(TRowBatch&)> fill;                    // first thread
  std::function<void(const TRowBatch&, TRowBatch&)> work;  // second thread
  std::function<void()> prepare;                           // calling thread, may be empty
  std::function<void(const TRowBatch&)> consume;           // calling thread
};

// Runs the stages on three threads through two TRowBatchQueues, each with these limits:
// fill(batch) on one thread adds records to an empty batch and returns false after the last one;
// work(in, out) on a second turns each non-empty filled batch into an empty out batch; on the
// calling thread prepare() runs once (it may be empty) and then consume(batch) for every
// non-empty out batch, in order. A failure in any stage (any exception, also one outside
// std::exception) stops all three and is raised here once all have stopped: fill's first, then
// work's, then the calling thread's. The threads of fill and work run as SCHED_BATCH, so that
// handing over a batch does not preempt the calling thread.
void PipeRowBatches(const TPipeLimits& limits, const TBatchStages& stages);

}  // namespace pv
