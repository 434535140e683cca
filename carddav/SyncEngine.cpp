#include "carddav/SyncEngine.h"

#include <condition_variable>
#include <exception>
#include <mutex>
#include <optional>
#include <utility>

#include "carddav/CardUid.h"
#include "files/AnsiText.h"

namespace pv::carddav {

// A card on its way from the reader thread to the requests.
struct TQueuedCard {
  int64_t Id = 0;
  std::string Stamp;
  std::string Card;  // with its UID
};

// The bounded hand-over between the reader thread and the event loop's thread.
class TRecordQueue {
 public:
  explicit TRecordQueue(size_t limit) : limit_(limit) {}

  // Waits while the queue is full. False when the run was stopped: the reader then gives up.
  // wasEmpty tells the caller to wake the consumer.
  bool Push(TQueuedCard&& card, bool& wasEmpty) {
    std::unique_lock lock(m_);
    notFull_.wait(lock, [&] { return stopped_ || items_.size() < limit_; });
    if (stopped_) return false;
    wasEmpty = items_.empty();
    items_.push_back(std::move(card));
    return true;
  }

  std::optional<TQueuedCard> TryPop() {
    std::lock_guard lock(m_);
    if (items_.empty()) return std::nullopt;
    TQueuedCard card = std::move(items_.front());
    items_.pop_front();
    notFull_.notify_one();
    return card;
  }

  size_t Size() {
    std::lock_guard lock(m_);
    return items_.size();
  }

  // The reader has ended: seen holds every record it gave; error is empty when it read them all.
  void Finish(std::unordered_map<int64_t, bool> seen, std::string error) {
    std::lock_guard lock(m_);
    seen_ = std::move(seen);
    error_ = std::move(error);
    finished_ = true;
  }

  bool Finished(std::unordered_map<int64_t, bool>& seen, std::string& error) {
    std::lock_guard lock(m_);
    if (!finished_) return false;
    seen = std::move(seen_);
    error = error_;
    return true;
  }

  void Stop() {
    std::lock_guard lock(m_);
    stopped_ = true;
    items_.clear();
    notFull_.notify_all();
  }

 private:
  std::mutex m_;
  std::condition_variable notFull_;
  std::deque<TQueuedCard> items_;
  size_t limit_;
  bool stopped_ = false;
  bool finished_ = false;
  std::unordered_map<int64_t, bool> seen_;
  std::string error_;
};

namespace {

// Raised in the sink when the run was stopped, to leave the source early.
struct TStopped {};

QString FromAnsi(const std::string& text) { return QString::fromStdString(pv::AnsiToUtf8(text)); }

}  // namespace

struct TCardDavSync::TOp {
  bool Delete = false;
  int64_t Id = 0;
  std::string Stamp;
  QByteArray Card;
  std::string Resource;
  QByteArray ETag;
  bool New = false;       // sent with If-None-Match: *
  bool WasKnown = false;  // in the ledger when the run started
  bool Retried = false;   // the one second attempt after 412 or 404 is used
};

TCardDavSync::TCardDavSync(TDavClient& client, QUrl book, TSyncLedger& ledger, TCardSource source)
    : client_(client), book_(std::move(book)), ledger_(ledger), source_(std::move(source)) {}

TCardDavSync::~TCardDavSync() {
  if (queue_) queue_->Stop();
  if (reader_.joinable()) reader_.join();
}

QUrl TCardDavSync::ResourceUrl(const std::string& resource) const {
  return book_.resolved(QUrl(QString::fromStdString(resource)));
}

void TCardDavSync::Start(TDone done, TProgress progress) {
  done_ = std::move(done);
  progress_ = std::move(progress);
  sinceSave_.start();
  queue_ = std::make_unique<TRecordQueue>(static_cast<size_t>(QueueLimit));
  try {
    ledger_.Save();  // a ledger that cannot be written must be known before anything is sent
  } catch (const std::exception& e) {
    Fail(QStringLiteral("Die Abgleichsdatei kann nicht geschrieben werden: %1")
             .arg(FromAnsi(e.what())));
    QMetaObject::invokeMethod(
        this, [this] { Pump(); }, Qt::QueuedConnection);
    return;
  }
  // The reader sees the stamps the ledger had at the start; a change of vCard version sends all.
  std::unordered_map<int64_t, std::string> known;
  const bool sendAll = ledger_.FormatChanged();
  for (const auto& [id, entry] : ledger_.Entries()) known.emplace(id, entry.Stamp);
  reader_ = std::thread([this, known = std::move(known), sendAll] {
    std::unordered_map<int64_t, bool> seen;
    std::string error;
    try {
      source_([&](int64_t id, std::string_view stamp, std::string_view card) {
        if (!seen.emplace(id, true).second) return;  // a record number given twice: once is sent
        const auto it = known.find(id);
        if (!sendAll && it != known.end() && it->second == stamp) return;
        TQueuedCard item{id, std::string(stamp), CardWithUid(card, RecordUid(id))};
        bool wasEmpty = false;
        if (!queue_->Push(std::move(item), wasEmpty)) throw TStopped();
        if (wasEmpty)
          QMetaObject::invokeMethod(
              this, [this] { Pump(); }, Qt::QueuedConnection);
      });
    } catch (const TStopped&) {
      error = "stopped";
    } catch (const std::exception& e) {
      error = e.what();
      if (error.empty()) error = "?";
    } catch (...) {
      error = "?";
    }
    queue_->Finish(std::move(seen), std::move(error));
    QMetaObject::invokeMethod(
        this, [this] { Pump(); }, Qt::QueuedConnection);
  });
}

// Starts requests while there is room and work; ends the run when nothing is left under way.
void TCardDavSync::Pump() {
  if (finished_) return;
  while (!failed_ && active_ < MaxInFlight && TakeWork()) {
  }
  if (active_ > 0) return;
  if (failed_ || (readerDone_ && deletes_.empty() && queue_->Size() == 0)) Finish();
}

// Starts one request when there is work for one; false when there is none right now.
bool TCardDavSync::TakeWork() {
  if (auto card = queue_->TryPop()) {
    auto op = std::make_shared<TOp>();
    op->Id = card->Id;
    op->Stamp = std::move(card->Stamp);
    op->Card = QByteArray::fromStdString(card->Card);
    const auto it = ledger_.Entries().find(op->Id);
    op->WasKnown = it != ledger_.Entries().end();
    op->New = !op->WasKnown;
    op->Resource = op->WasKnown ? it->second.Resource : ResourceName(RecordUid(op->Id));
    if (op->WasKnown) op->ETag = QByteArray::fromStdString(it->second.ETag);
    StartOp(op);
    return true;
  }
  if (!readerDone_) {
    ReaderFinished();
    if (!readerDone_ || failed_) return false;
  }
  if (deletes_.empty() || queue_->Size() > 0) return false;
  auto op = std::make_shared<TOp>();
  op->Delete = true;
  op->Id = deletes_.front();
  deletes_.pop_front();
  const TLedgerEntry& entry = ledger_.Entries().at(op->Id);
  op->Resource = entry.Resource;
  op->ETag = QByteArray::fromStdString(entry.ETag);
  StartOp(op);
  return true;
}

// When the reader has ended: on success, the records it did not give are to be removed; on a
// failure nothing is removed, since a record not read is not a record gone.
void TCardDavSync::ReaderFinished() {
  std::string error;
  if (!queue_->Finished(seen_, error)) return;
  readerDone_ = true;
  if (reader_.joinable()) reader_.join();
  if (!error.empty()) {
    if (!failed_) {
      Fail(QStringLiteral("Die Adressen konnten nicht gelesen werden: %1").arg(FromAnsi(error)));
    }
    return;
  }
  for (const auto& [id, entry] : ledger_.Entries()) {
    if (!seen_.contains(id)) deletes_.push_back(id);
  }
  seen_.clear();
  total_ = started_ + static_cast<int>(queue_->Size() + deletes_.size());
  if (progress_) progress_(ended_, total_);
}

void TCardDavSync::StartOp(const std::shared_ptr<TOp>& op) {
  ++active_;
  ++started_;
  if (op->Delete) {
    SendDelete(op);
  } else {
    SendPut(op);
  }
}

void TCardDavSync::SendPut(const std::shared_ptr<TOp>& op) {
  THeaders headers{{"Content-Type", "text/vcard; charset=utf-8"}};
  if (op->New) {
    headers.append(qMakePair(QByteArray("If-None-Match"), QByteArray("*")));
  } else if (!op->ETag.isEmpty()) {
    headers.append(qMakePair(QByteArray("If-Match"), op->ETag));
  }
  client_.Send("PUT", ResourceUrl(op->Resource), headers, op->Card,
               [this, op](const TDavResult& r) { PutDone(op, r); });
}

void TCardDavSync::PutDone(const std::shared_ptr<TOp>& op, const TDavResult& r) {
  if (r.Status >= 200 && r.Status < 300) {
    if (!r.ETag.isEmpty()) {
      Confirm(*op, r.ETag);
      return OpEnded();
    }
    // No ETag in the answer: ask for it, so the next change can be sent conditionally.
    return FetchETag(op, [this, op](int, const QByteArray& etag) {
      Confirm(*op, etag);
      OpEnded();
    });
  }
  // 412: the resource exists (left by an interrupted run) or changed on the server; 404 on a
  // conditional change: it was removed there. The database is the master: send once more.
  if ((r.Status == 412 || (r.Status == 404 && !op->New)) && !op->Retried) {
    op->Retried = true;
    return FetchETag(op, [this, op](int status, const QByteArray& etag) {
      if (status == 404 || (status >= 200 && status < 300)) {
        op->New = status == 404;
        op->ETag = etag;
        return SendPut(op);
      }
      EndUnknownETag(status);
    });
  }
  EndRefused(r);
}

void TCardDavSync::SendDelete(const std::shared_ptr<TOp>& op) {
  THeaders headers;
  if (!op->ETag.isEmpty()) headers.append(qMakePair(QByteArray("If-Match"), op->ETag));
  client_.Send("DELETE", ResourceUrl(op->Resource), headers, QByteArray(),
               [this, op](const TDavResult& r) { DeleteDone(op, r); });
}

void TCardDavSync::DeleteDone(const std::shared_ptr<TOp>& op, const TDavResult& r) {
  const bool gone = r.Status == 404 || r.Status == 410;
  if ((r.Status >= 200 && r.Status < 300) || gone) {
    ledger_.Entries().erase(op->Id);
    if (!gone) ++counts_.Removed;
    dirty_ = true;
    SaveLedger(false);
    return OpEnded();
  }
  if (r.Status == 412 && !op->Retried) {
    op->Retried = true;
    return FetchETag(op, [this, op](int status, const QByteArray& etag) {
      op->ETag = etag;
      if (status == 404 || (status >= 200 && status < 300)) return SendDelete(op);
      EndUnknownETag(status);
    });
  }
  EndRefused(r);
}

// A request the server refused: a fatal answer ends the run, any other leaves the card out.
void TCardDavSync::EndRefused(const TDavResult& r) {
  if (IsFatal(r)) {
    Fail(FailureText(r));
  } else {
    Reject(r);
  }
  OpEnded();
}

void TCardDavSync::EndUnknownETag(int status) {
  Fail(QStringLiteral("Der Stand einer Karte auf dem Server ist nicht abzufragen (HTTP %1).")
           .arg(status));
  OpEnded();
}

void TCardDavSync::FetchETag(const std::shared_ptr<TOp>& op,
                             std::function<void(int status, const QByteArray& etag)> then) {
  client_.Send("HEAD", ResourceUrl(op->Resource), {}, QByteArray(),
               [this, then = std::move(then)](const TDavResult& r) {
                 if (r.Status == 0 || r.Status == 401 || r.Status == 403 || r.Status >= 500) {
                   Fail(FailureText(r));
                   return OpEnded();
                 }
                 then(r.Status, r.ETag);
               });
}

void TCardDavSync::Confirm(const TOp& op, const QByteArray& etag) {
  ledger_.Entries()[op.Id] = TLedgerEntry{op.Stamp, op.Resource, etag.toStdString()};
  if (op.WasKnown) {
    ++counts_.Changed;
  } else {
    ++counts_.Added;
  }
  dirty_ = true;
  SaveLedger(false);
}

void TCardDavSync::Reject(const TDavResult& r) {
  ++counts_.Rejected;
  if (rejection_.isEmpty()) rejection_ = FailureText(r);
}

void TCardDavSync::Fail(const QString& text) {
  if (failed_) return;
  failed_ = true;
  failure_ = text;
  if (queue_) queue_->Stop();
}

void TCardDavSync::Cancel(const QString& why) {
  if (finished_ || done_ == nullptr) return;
  Fail(why);
  client_.AbortAll();
  Pump();
}

void TCardDavSync::OpEnded() {
  --active_;
  ++ended_;
  if (progress_) progress_(ended_, total_);
  Pump();
}

void TCardDavSync::SaveLedger(bool force) {
  if (!dirty_ || (!force && sinceSave_.elapsed() < SaveIntervalMs)) return;
  try {
    ledger_.Save();
    dirty_ = false;
    sinceSave_.restart();
  } catch (const std::exception& e) {
    Fail(QStringLiteral("Die Abgleichsdatei kann nicht geschrieben werden: %1")
             .arg(FromAnsi(e.what())));
  }
}

void TCardDavSync::Finish() {
  finished_ = true;
  if (queue_) queue_->Stop();
  if (reader_.joinable()) reader_.join();
  SaveLedger(true);
  bool ok = !failed_;
  QString text = failure_;
  if (ok && counts_.Rejected > 0) {
    ok = false;
    text = QStringLiteral(
               "%1 Karte(n) hat der Server abgelehnt; sie werden beim nächsten Lauf "
               "erneut gesendet. %2")
               .arg(counts_.Rejected)
               .arg(rejection_);
  }
  if (done_) done_(ok, text);
}

QString SummaryLine(const TSyncCounts& counts) {
  return QStringLiteral("Online-Adressbuch: %1 hinzugefügt, %2 geändert, %3 entfernt.")
      .arg(counts.Added)
      .arg(counts.Changed)
      .arg(counts.Removed);
}

}  // namespace pv::carddav
