// One sync run: sends every new or changed record's card to the address book, removes the cards
// of records that are gone, and keeps the ledger to what the server has confirmed.
//
// The records come from a source that calls a sink once per usable record; it runs on a reader
// thread of its own and waits while a bounded queue of cards is full, so only a batch of cards is
// in memory however large the table. The requests run on the calling thread's event loop, a few
// at a time.
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QUrl>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_map>

#include "carddav/DavClient.h"
#include "carddav/SyncLedger.h"

namespace pv::carddav {

// Called by the source once per usable record: its ID, change stamp and UTF-8 card text.
using TCardSink = std::function<void(int64_t id, std::string_view stamp, std::string_view card)>;
// Calls sink for every usable record; raises an exception when the records cannot be read.
using TCardSource = std::function<void(const TCardSink& sink)>;

struct TSyncCounts {
  int Added = 0;
  int Changed = 0;
  int Removed = 0;
  int Rejected = 0;  // cards the server refused; sent again next time
};

class TRecordQueue;

class TCardDavSync : public QObject {
 public:
  using TProgress = std::function<void(int done, int total)>;  // total -1 while not known
  using TDone = std::function<void(bool ok, const QString& failure)>;

  // book is the address book's URL ending in '/'; the ledger must be loaded.
  TCardDavSync(TDavClient& client, QUrl book, TSyncLedger& ledger, TCardSource source);
  ~TCardDavSync() override;

  // Starts the run; done is called once, on this thread, when every request has ended and the
  // ledger is saved. ok false: failure holds the German reason (the ledger keeps what the server
  // confirmed before).
  void Start(TDone done, TProgress progress = {});

  // Ends the run early: no further request starts, those under way are aborted (what the server
  // confirmed stays in the ledger), and done runs with why. Nothing once done has run.
  void Cancel(const QString& why);

  const TSyncCounts& Counts() const { return counts_; }

  int MaxInFlight = 4;        // requests under way at once
  int QueueLimit = 32;        // cards read ahead of the requests
  int SaveIntervalMs = 5000;  // the ledger is replaced at most this often while requests end

 private:
  struct TOp;

  void Pump();
  bool TakeWork();
  void ReaderFinished();
  void StartOp(const std::shared_ptr<TOp>& op);
  void SendPut(const std::shared_ptr<TOp>& op);
  void PutDone(const std::shared_ptr<TOp>& op, const TDavResult& r);
  void SendDelete(const std::shared_ptr<TOp>& op);
  void DeleteDone(const std::shared_ptr<TOp>& op, const TDavResult& r);
  void FetchETag(const std::shared_ptr<TOp>& op,
                 std::function<void(int status, const QByteArray& etag)> then);
  void Confirm(const TOp& op, const QByteArray& etag);
  void Reject(const TDavResult& r);
  void EndRefused(const TDavResult& r);
  void EndUnknownETag(int status);
  void Fail(const QString& text);
  void OpEnded();
  void SaveLedger(bool force);
  void Finish();
  QUrl ResourceUrl(const std::string& resource) const;

  TDavClient& client_;
  QUrl book_;
  TSyncLedger& ledger_;
  TCardSource source_;
  std::unique_ptr<TRecordQueue> queue_;
  std::thread reader_;
  std::unordered_map<int64_t, bool> seen_;  // records the reader gave, once it has finished
  std::deque<int64_t> deletes_;
  bool readerDone_ = false;
  bool failed_ = false;
  bool finished_ = false;
  QString failure_;
  QString rejection_;
  int active_ = 0;
  int started_ = 0;
  int ended_ = 0;
  int total_ = -1;
  bool dirty_ = false;
  QElapsedTimer sinceSave_;
  TSyncCounts counts_;
  TDone done_;
  TProgress progress_;
};

// The German line that sums a run up: added, changed and removed cards.
QString SummaryLine(const TSyncCounts& counts);

}  // namespace pv::carddav
