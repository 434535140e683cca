#include "export/AddressRows.h"

#include <algorithm>
#include <exception>
#include <thread>

#include "export/StrUtils.h"
#include "files/AnsiText.h"
#include "files/Folders.h"

namespace pv {
namespace {

constexpr const char* kZeroStamp = "1899.30.12.00.00.00";
constexpr size_t kStampSize = 19;  // "yyyy.dd.mm.hh.nn.ss"

// Column names of the statement, in TRowColumn order.
constexpr const char* kColumnNames[kRowColumns] = {"NName", "VName",   "Abt", "adr_42_",
                                                   "Ort",   "strasse", "GR"};

// Batches: how many records, how much text, and how many may wait in the hand-over.
constexpr size_t kBatchRows = 512;
constexpr size_t kBatchBytes = 1 << 20;
constexpr size_t kQueueBatches = 16;
constexpr size_t kQueueBatchesAhead = 2048;  // about a million records
constexpr size_t kQueueBytes = 256 << 20;

bool IsDigits(std::string_view s) {
  return std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// Sorts ignoring case and drops case-blind duplicates, keeping the first of each: the list a
// sorted insert of the entries in their order would give.
void SortUniqueIgnoringCase(std::vector<std::string_view>& list) {
  std::stable_sort(list.begin(), list.end(), [](std::string_view a, std::string_view b) {
    return AnsiCompareText(a, b) < 0;
  });
  list.erase(std::unique(list.begin(), list.end(), AnsiSameText), list.end());
}

std::string_view Piece(std::string_view s, size_t from, size_t count) {
  return from < s.size() ? s.substr(from, count) : std::string_view();
}

// A piece of plain digits (the usual case) is read directly; anything else as StrToIntDef does.
int StampNumber(std::string_view text, size_t from, size_t count) {
  const std::string_view piece = Piece(text, from, count);
  int v = 0;
  for (const char c : piece) {
    if (c < '0' || c > '9') return StrToIntDef(piece, 0);
    v = v * 10 + (c - '0');
  }
  return v;
}

bool ValidDateTime(int y, int m, int d, int h, int n, int s, int ms) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
  const bool dateOk = y >= 1 && y <= 9999 && m >= 1 && m <= 12 && d >= 1 &&
                      d <= kDays[m - 1] + (m == 2 && leap ? 1 : 0);
  return dateOk && h >= 0 && h < 24 && n >= 0 && n < 60 && s >= 0 && s < 60 && ms >= 0 && ms < 1000;
}

// FormatChangeStamp into a buffer of the caller's.
std::string_view FormatChangeStampTo(char (&out)[kStampSize], std::string_view text) {
  const int y = StampNumber(text, 0, 4), m = StampNumber(text, 4, 2), d = StampNumber(text, 6, 2),
            h = StampNumber(text, 9, 2), n = StampNumber(text, 11, 2), s = StampNumber(text, 13, 2),
            ms = StampNumber(text, 15, 3);
  if (!ValidDateTime(y, m, d, h, n, s, ms)) return kZeroStamp;
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
  std::replace(s.begin(), s.end(), '\xAC', ' ');
  return ReplaceAll(s, "  ", " ");
}

void ExtractContactData(std::string_view ix, std::vector<std::string_view>& emails,
                        std::vector<std::string_view>& phones) {
  emails.clear();
  phones.clear();
  // Candidates are collected in phones, then the short ones are dropped. The pieces' vector is
  // kept per thread, so that splitting allocates nothing once it has grown.
  thread_local std::vector<std::string_view> pieces;
  SplitText(" ", ix, pieces);
  for (const std::string_view piece : pieces) {
    if (piece.size() < 6) continue;
    if (piece.find('@') != std::string_view::npos) {
      emails.push_back(piece);
    } else if (piece[0] == '0' && IsDigits(piece)) {
      phones.push_back(piece);
    }
  }
  SortUniqueIgnoringCase(emails);
  SortUniqueIgnoringCase(phones);
  std::erase_if(phones, [](std::string_view c) { return c.size() <= 8; });
  NaturalSort(emails);
  NaturalSort(phones);
}

// --- reading ---------------------------------------------------------------------------------

void OpenAddressTable(TAdsConnection& connection, TAdsQuery& query, const std::string& dbPath) {
  ConnectUNCPath(AnsiToWide(dbPath));
  connection.ConnectPath = dbPath;
  connection.Connect();
  query.SetConnection(&connection);
  query.SQL = kAddressSelect;
  query.Open();
  query.First();
}

TAddressRowReader::TAddressRowReader(TAdsQuery& query)
    : query_(query),
      id_(query.FieldIndex("ID")),
      ix_(query.FieldIndex("IX")),
      stamp_(query.FieldIndex("adr_47_")) {
  for (int c = 0; c < kRowColumns; ++c) columns_[c] = query.FieldIndex(kColumnNames[c]);
}

bool TAddressRowReader::Fill(TRowBatch& batch, size_t maxRows, size_t maxBytes) {
  for (; !query_.Eof(); query_.Next()) {
    if (batch.Rows() >= maxRows || batch.TextBytes() >= maxBytes) return true;
    query_.AsText(ix_, ix_text_);
    ExtractContactData(ix_text_, emails_, phones_);
    if (emails_.empty() && phones_.empty()) continue;  // no contact: never reaches the ledger
    AddRow(batch);
  }
  return false;
}

void TAddressRowReader::AddRow(TRowBatch& batch) {
  batch.BeginRow(query_.AsInt64(id_), emails_.size(), phones_.size());
  for (int c = 0; c < kRowColumns; ++c) {
    if (c == kAbt) {
      query_.AsText(columns_[c], value_);
      batch.AddText(CompanyName(value_));
    } else {
      batch.AddConverted(query_.RawText(columns_[c]));
    }
  }
  query_.AsText(stamp_, value_);
  char stamp[kStampSize];
  batch.AddText(FormatChangeStampTo(stamp, value_));
  for (const auto& e : emails_) batch.AddText(e);
  for (const auto& p : phones_) batch.AddText(p);
}

namespace {

// The reading side of PipeAddressRows; stops the queue on failure.
void ReadIntoQueue(TAdsQuery& query, TRowBatchQueue& queue, std::exception_ptr& error) {
  try {
    TAddressRowReader reader(query);
    bool more = true;
    while (more) {
      auto batch = queue.Fresh();
      more = reader.Fill(*batch, kBatchRows, kBatchBytes);
      if (batch->Rows() > 0 && !queue.Push(std::move(batch))) return;
    }
  } catch (...) {
    error = std::current_exception();
    queue.Stop();
  }
}

}  // namespace

void PipeAddressRows(TAdsQuery& query, const std::function<void()>& prepare,
                     const std::function<void(const TRowBatch&)>& consume) {
  TRowBatchQueue queue(kQueueBatches, kQueueBatchesAhead, kQueueBytes);
  std::exception_ptr readerError, consumerError;
  std::thread reader([&] {
    ReadIntoQueue(query, queue, readerError);
    queue.Close();
  });
  try {
    if (prepare) prepare();
    while (auto batch = queue.Pop()) {
      consume(*batch);
      queue.Recycle(std::move(batch));
    }
  } catch (...) {
    consumerError = std::current_exception();
    queue.Stop();
  }
  reader.join();
  if (readerError) std::rethrow_exception(readerError);
  if (consumerError) std::rethrow_exception(consumerError);
}

// --- building --------------------------------------------------------------------------------

TContactFiller::TContactFiller(TvCardVersion version) {
  contact_.vCardVersion = version;
  contact_.Addresses.Resize(1);
  contact_.Addresses[0].AddressType = ftWork;
}

TvContact& TContactFiller::Fill(const TRowView& row) {
  TvContact& c = contact_;
  c.ScoreItem.RecordID = IsLedgerId(row.Id()) ? static_cast<int32_t>(row.Id()) : 0;
  c.ScoreItem.ChangeStamp = row.Stamp();
  c.Categories.SetText(row.Column(kGroups));
  c.FirstName = row.Column(kVName);
  c.LastName = row.Column(kNName);
  c.Company = row.Column(kAbt);
  TvAddress& adr = c.Addresses[0];
  adr.Street = row.Column(kStreet);
  adr.City = row.Column(kCity);
  adr.PostCode = row.Column(kPostCode);
  c.Emails.Resize(static_cast<int>(row.Emails()));
  for (size_t i = 0; i < row.Emails(); ++i) {
    TvEmail& item = c.Emails[static_cast<int>(i)];
    item.EmailAddress = row.Email(i);
    item.EmailType = ftWork;
  }
  c.PhoneNumbers.Resize(static_cast<int>(row.Phones()));
  for (size_t i = 0; i < row.Phones(); ++i) {
    TvPhone& item = c.PhoneNumbers[static_cast<int>(i)];
    item.PhoneNumber = row.Phone(i);
    item.FieldType = ftWork;
  }
  return c;
}

}  // namespace pv
