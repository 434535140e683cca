#include "export/PVAdressJob.h"

#include <clocale>
#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <thread>

#include "export/StrUtils.h"
#include "files/AnsiText.h"
#include "files/FileUtil.h"
#include "files/Folders.h"

namespace pv {
namespace {

constexpr const char* kSelect =
    "Select ID,NName,VName,Abt,IX,adr_42_,Ort,strasse,GR,adr_47_ from Adressen";
constexpr const char* kProdId = "Parvela";
constexpr const char* kNoNewData = "Keine neuen Daten.";
constexpr const char* kZeroStamp = "1899.30.12.00.00.00";

// The columns of the statement that become contact fields.
enum Column { kNName, kVName, kAbt, kPostCode, kCity, kStreet, kGroups, kColumns };
constexpr const char* kColumnNames[kColumns] = {"NName", "VName",   "Abt", "adr_42_",
                                                "Ort",   "strasse", "GR"};

// The usable records travel from the reading thread to the building thread in batches: all texts
// of a batch in one buffer, each an (offset, length) pair, so that handing over a record costs no
// allocation. Per record: ID, e-mail count, phone count, then the pairs of the columns (Abt already
// made the company name), the change stamp, the e-mail addresses and the phone numbers.
struct RowBatch {
  std::string text;
  std::vector<uint32_t> meta;
  std::vector<uint32_t> rowStart;

  void Clear() {
    text.clear();
    meta.clear();
    rowStart.clear();
  }
  size_t Rows() const { return rowStart.size(); }
  void BeginRow(int32_t id, size_t emails, size_t phones) {
    rowStart.push_back(static_cast<uint32_t>(meta.size()));
    meta.push_back(static_cast<uint32_t>(id));
    meta.push_back(static_cast<uint32_t>(emails));
    meta.push_back(static_cast<uint32_t>(phones));
  }
  void AddText(std::string_view s) {
    meta.push_back(static_cast<uint32_t>(text.size()));
    meta.push_back(static_cast<uint32_t>(s.size()));
    text += s;
  }
  // Adds UTF-8 text from the database as Windows-1252, converted straight into the buffer.
  void AddConverted(std::string_view utf8) {
    const size_t start = text.size();
    AppendUtf8AsAnsi(text, utf8);
    meta.push_back(static_cast<uint32_t>(start));
    meta.push_back(static_cast<uint32_t>(text.size() - start));
  }
};

// Read access to one record of a batch.
class RowView {
 public:
  RowView(const RowBatch& b, size_t row) : b_(b), m_(&b.meta[b.rowStart[row]]) {}
  int32_t Id() const { return static_cast<int32_t>(m_[0]); }
  size_t Emails() const { return m_[1]; }
  size_t Phones() const { return m_[2]; }
  std::string_view Column(int c) const { return Text(c); }
  std::string_view Stamp() const { return Text(kColumns); }
  std::string_view Email(size_t i) const { return Text(kColumns + 1 + i); }
  std::string_view Phone(size_t i) const { return Text(kColumns + 1 + Emails() + i); }

 private:
  std::string_view Text(size_t i) const {
    return std::string_view(b_.text).substr(m_[3 + 2 * i], m_[4 + 2 * i]);
  }
  const RowBatch& b_;
  const uint32_t* m_;
};

constexpr size_t kBatchRows = 512;
constexpr size_t kQueueBatches = 16;
constexpr size_t kQueueBatchesAhead = 2048;  // about a million records
constexpr size_t kWriteChunk = 4 << 20;

// A bounded hand-over of batches from the reader to the builder. Either side may stop it. While
// the builder still loads the ledger the reader may run further ahead, so that both work at once.
class BatchQueue {
 public:
  // Blocks while the queue is full; false when the consumer has stopped.
  bool Push(std::unique_ptr<RowBatch> batch) {
    std::unique_lock<std::mutex> hold(lock_);
    notFull_.wait(hold, [&] {
      return queue_.size() < (consuming_ ? kQueueBatches : kQueueBatchesAhead) || stopped_;
    });
    if (stopped_) return false;
    queue_.push_back(std::move(batch));
    notEmpty_.notify_one();
    return true;
  }
  // Blocks while empty; nullptr at the end of data.
  std::unique_ptr<RowBatch> Pop() {
    std::unique_lock<std::mutex> hold(lock_);
    consuming_ = true;
    notEmpty_.wait(hold, [&] { return !queue_.empty() || closed_ || stopped_; });
    if (queue_.empty() || stopped_) return nullptr;
    auto batch = std::move(queue_.front());
    queue_.pop_front();
    notFull_.notify_one();
    return batch;
  }
  // Spent batches go back to the reader so their buffers are reused.
  void Recycle(std::unique_ptr<RowBatch> batch) {
    std::lock_guard<std::mutex> hold(lock_);
    batch->Clear();
    free_.push_back(std::move(batch));
  }
  std::unique_ptr<RowBatch> Fresh() {
    std::lock_guard<std::mutex> hold(lock_);
    if (free_.empty()) return std::make_unique<RowBatch>();
    auto batch = std::move(free_.back());
    free_.pop_back();
    return batch;
  }
  void Close() {
    std::lock_guard<std::mutex> hold(lock_);
    closed_ = true;
    notEmpty_.notify_all();
  }
  void Stop() {
    std::lock_guard<std::mutex> hold(lock_);
    stopped_ = true;
    notEmpty_.notify_all();
    notFull_.notify_all();
  }

 private:
  std::mutex lock_;
  std::condition_variable notFull_, notEmpty_;
  std::deque<std::unique_ptr<RowBatch>> queue_;
  std::vector<std::unique_ptr<RowBatch>> free_;
  bool closed_ = false;
  bool stopped_ = false;
  bool consuming_ = false;  // the builder has started taking batches
};

bool IsDigits(std::string_view s) {
  for (const char c : s) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

// Inserts s into a list kept sorted ignoring case; false when it holds s already.
bool AddSortedUnique(std::vector<std::string_view>& list, std::string_view s) {
  auto it = list.begin();
  while (it != list.end() && AnsiCompareText(*it, s) < 0) ++it;
  if (it != list.end() && AnsiSameText(*it, s)) return false;
  list.insert(it, s);
  return true;
}

std::string_view Piece(std::string_view s, size_t from, size_t count) {
  return from < s.size() ? s.substr(from, count) : std::string_view();
}

// The file name part of a path, as text for the message box: Windows-1252, with the characters
// that the message markup would take for its own escaped.
std::string DisplayFileName(const std::string& path) {
  const std::string name = Utf8ToAnsi(ExtractFileName(path));
  return ReplaceAll(ReplaceAll(name, "&", "&amp;"), "<", "&lt;");
}

}  // namespace

int StrToIntDef(std::string_view s, int def) {
  size_t i = 0;
  while (i < s.size() && static_cast<unsigned char>(s[i]) <= ' ') ++i;
  bool negative = false;
  if (i < s.size() && (s[i] == '-' || s[i] == '+')) negative = s[i++] == '-';
  if (i == s.size()) return def;
  long long v = 0;
  for (; i < s.size(); ++i) {
    if (s[i] < '0' || s[i] > '9') return def;
    v = v * 10 + (s[i] - '0');
    if (v > 0x80000000LL) return def;
  }
  if (negative) v = -v;
  return v > 0x7FFFFFFFLL ? def : static_cast<int>(v);
}

namespace {

constexpr size_t kStampSize = 19;  // "yyyy.dd.mm.hh.nn.ss"

// FormatChangeStamp into a buffer of the caller's.
std::string_view FormatChangeStampTo(char (&out)[kStampSize], std::string_view text) {
  // A piece of plain digits (the usual case) is read directly; anything else as StrToIntDef does.
  const auto number = [text](size_t from, size_t count) {
    const std::string_view piece = Piece(text, from, count);
    int v = 0;
    for (const char c : piece) {
      if (c < '0' || c > '9') return StrToIntDef(piece, 0);
      v = v * 10 + (c - '0');
    }
    return v;
  };
  const int y = number(0, 4), m = number(4, 2), d = number(6, 2), h = number(9, 2),
            n = number(11, 2), s = number(13, 2), ms = number(15, 3);
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
  const bool dateOk = y >= 1 && y <= 9999 && m >= 1 && m <= 12 && d >= 1 &&
                      d <= kDays[m - 1] + (m == 2 && leap ? 1 : 0);
  const bool timeOk =
      h >= 0 && h < 24 && n >= 0 && n < 60 && s >= 0 && s < 60 && ms >= 0 && ms < 1000;
  if (!dateOk || !timeOk) return kZeroStamp;
  const auto put = [&out](size_t at, int v, int width) {
    for (int i = width - 1; i >= 0; --i, v /= 10) out[at + i] = static_cast<char>('0' + v % 10);
  };
  put(0, y, 4);
  size_t at = 4;
  for (const int v : {d, m, h, n, s}) {
    out[at] = '.';
    put(at + 1, v, 2);
    at += 3;
  }
  return std::string_view(out, kStampSize);
}

}  // namespace

std::string FormatChangeStamp(std::string_view text) {
  char out[kStampSize];
  return std::string(FormatChangeStampTo(out, text));
}

std::string CompanyName(std::string_view abt) {
  size_t b = 0, e = abt.size();
  while (b < e && static_cast<unsigned char>(abt[b]) <= ' ') ++b;
  while (e > b && static_cast<unsigned char>(abt[e - 1]) <= ' ') --e;
  std::string s(abt.substr(b, e - b));
  for (char& c : s) {
    if (c == '\xAC') c = ' ';
  }
  return ReplaceAll(s, "  ", " ");
}

void ExtractContactData(std::string_view ix, std::vector<std::string_view>& emails,
                        std::vector<std::string_view>& phones) {
  emails.clear();
  phones.clear();
  // Candidates are collected in phones, then the short ones are dropped in place. The pieces'
  // vector is kept per thread, so that splitting allocates nothing once it has grown.
  thread_local std::vector<std::string_view> pieces;
  SplitText(" ", ix, pieces);
  for (const std::string_view piece : pieces) {
    if (piece.size() < 6) continue;
    if (piece.find('@') != std::string_view::npos) {
      AddSortedUnique(emails, piece);
    } else if (piece[0] == '0' && IsDigits(piece)) {
      AddSortedUnique(phones, piece);
    }
  }
  std::erase_if(phones, [](std::string_view c) { return c.size() <= 8; });
  NaturalSort(emails);
  NaturalSort(phones);
}

std::string FormatCount(long long n) {
  std::string sep = ".";
  if (const lconv* lc = std::localeconv();
      lc != nullptr && lc->thousands_sep != nullptr && lc->thousands_sep[0] != '\0') {
    sep = Utf8ToAnsi(lc->thousands_sep);
  }
  std::string digits = std::to_string(n < 0 ? -n : n);
  std::string out = n < 0 ? "-" : "";
  for (size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) out += sep;
    out += digits[i];
  }
  return out;
}

// --- the job -------------------------------------------------------------------------------

TPVAdressJob::TPVAdressJob(HWND wnd, std::string outFile, std::string dbPath,
                           std::string ledgerPath, bool onlyChanges, bool asAnsi,
                           TvCardVersion version)
    : DBPath(std::move(dbPath)),
      OutFile(std::move(outFile)),
      Wnd(wnd),
      OnlyChanges(onlyChanges),
      AsAnsi(asAnsi),
      Version(version),
      LedgerPath(std::move(ledgerPath)) {
  Connection = std::make_unique<TAdsConnection>();
  Connection->Name.append(1, '_').append(std::to_string(GuidNumber()));
  Connection->AdsServerTypes = stADS_LOCAL;
  Query = std::make_unique<TAdsQuery>();
  Card = std::make_unique<TAdvvCard>();
  Card->ProdID = kProdId;
  Card->OnWriteContact = [this](TvContact& c, bool& write) { DoWriteContact(c, write); };
  Ledger = std::make_unique<TBinTree>();
}

TPVAdressJob::~TPVAdressJob() {
  Connection.reset();
  Query.reset();
  Card.reset();
  Ledger.reset();
}

void TPVAdressJob::DoWriteContact(TvContact& contact, bool& write) {
  write = ContactChanged(contact.ScoreItem.RecordID, contact.ScoreItem.ChangeStamp);
}

void TPVAdressJob::Execute() {
  auto cell = std::make_unique<TResultCell>();
  bool foreign = false;
  try {
    Export();
    cell->Ok = true;
  } catch (const std::exception& e) {
    result_ = e.what();
  } catch (...) {
    foreign = true;
  }
  cell->Text = result_;
  TResultCell* raw = cell.release();
  if (!PostMessage(Wnd, WM_EXPORTDONE, reinterpret_cast<std::uintptr_t>(raw), 0)) delete raw;
  if (foreign) throw;  // the pool swallows it
}

// Steps from connecting the share to saving the ledger; any failure ends them where it happens.
void TPVAdressJob::Export() {
  result_.clear();
  ConnectUNCPath(AnsiToWide(DBPath));

  Connection->ConnectPath = DBPath;
  Connection->Connect();
  Query->SetConnection(Connection.get());
  Query->SQL = kSelect;
  Query->Open();
  Query->First();
  const int idColumn = Query->FieldIndex("ID");
  const int ixColumn = Query->FieldIndex("IX");
  const int stampColumn = Query->FieldIndex("adr_47_");
  int columns[kColumns];
  for (int c = 0; c < kColumns; ++c) columns[c] = Query->FieldIndex(kColumnNames[c]);

  // This thread reads the table and picks the contact data out of each record; the builder thread
  // fills the contacts, lets the ledger decide and writes the cards into the file in pieces, so
  // both cores work.
  BatchQueue queue;
  std::exception_ptr builderError;
  std::unique_ptr<AtomicFileWriter> writer;  // created with the first written card
  std::string out;
  Card->BeginStream();

  std::thread builder([&] {
    try {
      if (OnlyChanges) LoadLedger();
      out.reserve(kWriteChunk + (64 << 10));
      // One contact, filled again for every record, so its memory is reused.
      TvContact contact;
      contact.vCardVersion = vv40;
      contact.Addresses.Resize(1);
      TvAddress& adr = contact.Addresses[0];
      adr.AddressType = ftWork;
      while (auto batch = queue.Pop()) {
        for (size_t r = 0; r < batch->Rows(); ++r) {
          const RowView row(*batch, r);
          contact.ScoreItem.RecordID = row.Id();
          contact.ScoreItem.ChangeStamp = row.Stamp();
          contact.Categories.SetText(row.Column(kGroups));
          contact.FirstName = row.Column(kVName);
          contact.LastName = row.Column(kNName);
          contact.Company = row.Column(kAbt);
          adr.Street = row.Column(kStreet);
          adr.City = row.Column(kCity);
          adr.PostCode = row.Column(kPostCode);
          contact.Emails.Resize(static_cast<int>(row.Emails()));
          for (size_t i = 0; i < row.Emails(); ++i) {
            TvEmail& item = contact.Emails[static_cast<int>(i)];
            item.EmailAddress = row.Email(i);
            item.EmailType = ftWork;
          }
          contact.PhoneNumbers.Resize(static_cast<int>(row.Phones()));
          for (size_t i = 0; i < row.Phones(); ++i) {
            TvPhone& item = contact.PhoneNumbers[static_cast<int>(i)];
            item.PhoneNumber = row.Phone(i);
            item.FieldType = ftWork;
          }
          Card->WriteContact(contact, out, AsAnsi);
          if (out.size() >= kWriteChunk) {
            if (!writer) writer = std::make_unique<AtomicFileWriter>(OutFile);
            writer->Write(out);
            out.clear();
          }
        }
        queue.Recycle(std::move(batch));
      }
    } catch (...) {
      builderError = std::current_exception();
      queue.Stop();
    }
  });

  std::exception_ptr readerError;
  try {
    auto batch = queue.Fresh();
    std::string ix, value;
    std::vector<std::string_view> emails, phones;  // views into ix
    for (; !Query->Eof(); Query->Next()) {
      Query->AsText(ixColumn, ix);
      ExtractContactData(ix, emails, phones);
      if (emails.empty() && phones.empty()) continue;  // no contact: never reaches the ledger
      batch->BeginRow(Query->AsInteger(idColumn), emails.size(), phones.size());
      for (int c = 0; c < kColumns; ++c) {
        if (c == kAbt) {
          Query->AsText(columns[c], value);
          batch->AddText(CompanyName(value));
        } else {
          batch->AddConverted(Query->RawText(columns[c]));
        }
      }
      Query->AsText(stampColumn, value);
      char stamp[kStampSize];
      batch->AddText(FormatChangeStampTo(stamp, value));
      for (const auto& e : emails) batch->AddText(e);
      for (const auto& p : phones) batch->AddText(p);
      if (batch->Rows() == kBatchRows) {
        if (!queue.Push(std::move(batch))) break;
        batch = queue.Fresh();
      }
    }
    if (batch->Rows() > 0) queue.Push(std::move(batch));
  } catch (...) {
    readerError = std::current_exception();
    queue.Stop();
  }
  queue.Close();
  builder.join();
  if (readerError) std::rethrow_exception(readerError);
  if (builderError) std::rethrow_exception(builderError);

  const int written = Card->WrittenCount();
  if (written < 1) {
    result_ = kNoNewData;
  } else {
    if (!writer) writer = std::make_unique<AtomicFileWriter>(OutFile);
    writer->Write(out);
    writer->Commit();
    result_ = "<b>" + FormatCount(written) + "</b> Adressen nach <b>" + DisplayFileName(OutFile) +
              "</b> geschrieben.";
  }
  // A full export starts the ledger afresh; it is dropped only now, so that a failed export
  // leaves the previous one in place.
  if (!OnlyChanges) DeleteFileRetry(LedgerPath);
  SaveLedger();
}

}  // namespace pv
