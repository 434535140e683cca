#include "export/AddressRows.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <span>

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
// The texts of a record as read that follow its columns.
constexpr size_t kRawStamp = kRowColumns;
constexpr size_t kRawIx = kRowColumns + 1;
constexpr size_t kRawTexts = kRawIx + 1;

// Batches: how many records, how much text, and how many may wait in the hand-over.
constexpr size_t kBatchRows = 512;
constexpr size_t kBatchBytes = 1 << 20;
constexpr size_t kQueueBatches = 16;
constexpr size_t kQueueBatchesAhead = 2048;  // about a million records
constexpr size_t kQueueBytes = 256 << 20;

// Sorts ignoring case and drops case-blind duplicates, keeping the first of each: the list a
// sorted insert of the entries in their order would give. A stable sort keeps equal entries in
// their order; the usual short list is sorted in place without the merge sort's buffer.
void SortUniqueIgnoringCase(std::vector<std::string_view>& list) {
  const auto less = [](std::string_view a, std::string_view b) {
    return AnsiCompareText(a, b) < 0;
  };
  constexpr size_t kShort = 16;
  if (list.size() <= kShort) {
    for (size_t i = 1; i < list.size(); ++i) {
      const std::string_view entry = list[i];
      size_t j = i;
      for (; j > 0 && less(entry, list[j - 1]); --j) list[j] = list[j - 1];
      list[j] = entry;
    }
  } else {
    std::stable_sort(list.begin(), list.end(), less);
  }
  list.erase(std::unique(list.begin(), list.end(), AnsiSameText), list.end());
}

// What a byte of IX means to the split: a blank ends a piece, "@" makes it an e-mail address,
// anything but a digit keeps it from being a phone number.
constexpr unsigned kIxBlank = 1, kIxAt = 2, kIxNotDigit = 4;
constexpr auto kIxKind = [] {
  std::array<unsigned char, 256> kind{};
  for (size_t c = 0; c < kind.size(); ++c) kind[c] = c >= '0' && c <= '9' ? 0 : kIxNotDigit;
  kind[' '] = kIxBlank;
  kind['@'] = kIxAt | kIxNotDigit;
  return kind;
}();

// Eight bytes of IX at a time (little-endian words): the high bit of each byte that is a blank,
// an "@" or no digit.
constexpr uint64_t kEach = 0x0101010101010101, kLow7 = 0x7F * kEach, kHighBits = 0x80 * kEach;

uint64_t ZeroBytes(uint64_t word) { return ~(((word & kLow7) + kLow7) | word | kLow7); }

uint64_t NonDigitBytes(uint64_t word) {
  const uint64_t t = word ^ ('0' * kEach);  // digits become 0..9
  return (t | ((t & kLow7) + 0x76 * kEach)) & kHighBits;
}

// The pieces of ix between single blanks, each with kIxAt and kIxNotDigit of its bytes, in
// order: visit(piece, seen). A field of blanks gives millions of empty pieces, so they are walked
// without being collected; each byte is looked at once, whole words where they fit.
template <class Visit>
void ForEachIxPiece(std::string_view ix, Visit visit) {
  const char* at = ix.data();
  const char* const end = at + ix.size();
  const char* start = at;  // of the current piece
  unsigned seen = 0;       // of its bytes so far
  // The piece's flags from the bytes of mask's bytes (high bits) of a word.
  const auto note = [&seen](uint64_t ats, uint64_t others, uint64_t mask) {
    if ((ats & mask) != 0) seen |= kIxAt;
    if ((others & mask) != 0) seen |= kIxNotDigit;
  };
  if constexpr (std::endian::native == std::endian::little) {
    for (; end - at >= 8; at += 8) {
      uint64_t word;
      std::memcpy(&word, at, sizeof word);
      uint64_t blanks = ZeroBytes(word ^ (' ' * kEach));
      const uint64_t ats = ZeroBytes(word ^ ('@' * kEach)), others = NonDigitBytes(word);
      uint64_t rest = kHighBits;  // bytes of the word not yet given to a piece
      for (; blanks != 0; blanks &= blanks - 1) {
        const uint64_t before = (blanks & -blanks) - 1;  // bits below the blank
        note(ats, others, rest & before);
        const char* const blank = at + std::countr_zero(blanks) / 8;
        visit(std::string_view(start, static_cast<size_t>(blank - start)), seen);
        start = blank + 1;
        seen = 0;
        rest &= ~before & ~(blanks & -blanks);
      }
      note(ats, others, rest);
    }
  }
  for (; at < end; ++at) {
    const unsigned kind = kIxKind[static_cast<unsigned char>(*at)];
    if (kind != kIxBlank) {
      seen |= kind;
      continue;
    }
    visit(std::string_view(start, static_cast<size_t>(at - start)), seen);
    start = at + 1;
    seen = 0;
  }
  if (start < end) visit(std::string_view(start, static_cast<size_t>(end - start)), seen);
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

// The parts of a change time as read, before any check.
struct StampParts {
  int year, month, day, hour, minute, second, millisecond;
};

bool ValidDateTime(const StampParts& p) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const int y = p.year;
  const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
  const bool dateOk = y >= 1 && y <= 9999 && p.month >= 1 && p.month <= 12 && p.day >= 1 &&
                      p.day <= kDays[p.month - 1] + (p.month == 2 && leap ? 1 : 0);
  return dateOk && p.hour >= 0 && p.hour < 24 && p.minute >= 0 && p.minute < 60 && p.second >= 0 &&
         p.second < 60 && p.millisecond >= 0 && p.millisecond < 1000;
}

// Writes value as decimal digits filling field, with leading zeros.
void PutDigits(std::span<char> field, int value) {
  for (auto it = field.rbegin(); it != field.rend(); ++it, value /= 10) {
    *it = static_cast<char>('0' + value % 10);
  }
}

// The usual change time: the 17 digits of "YYYYMMDD HHMMSSmmm" with any byte in place of the
// blank. Its parts are read where they stand.
constexpr size_t kPlainStampSize = 18;

// Whether the eight bytes at p are all decimal digits, tested together.
bool EightDigits(const char* p) {
  uint64_t bytes;
  std::memcpy(&bytes, p, sizeof bytes);
  return NonDigitBytes(bytes) == 0;
}

bool PlainStamp(std::string_view text) {
  return text.size() >= kPlainStampSize && EightDigits(text.data()) &&
         EightDigits(text.data() + 9) && static_cast<unsigned char>(text[17]) - unsigned{'0'} <= 9;
}

int Digits(const char* at, size_t count) {
  int v = 0;
  for (size_t i = 0; i < count; ++i) v = v * 10 + (at[i] - '0');
  return v;
}

// FormatChangeStamp of a plain stored time: once the time is valid, its digits rearranged.
std::string_view FormatPlainStampTo(char (&out)[kStampSize], std::string_view text) {
  const char* s = text.data();
  const StampParts p{Digits(s, 4),      Digits(s + 4, 2),  Digits(s + 6, 2), Digits(s + 9, 2),
                     Digits(s + 11, 2), Digits(s + 13, 2), Digits(s + 15, 3)};
  if (!ValidDateTime(p)) return kZeroStamp;
  // "yyyy.dd.mm.hh.nn.ss" from "YYYYMMDD HHMMSSmmm": the dots, then each field over its letters.
  std::memcpy(out, "yyyy.dd.mm.hh.nn.ss", kStampSize);
  std::memcpy(out, s, 4);
  std::memcpy(out + 5, s + 6, 2);
  std::memcpy(out + 8, s + 4, 2);
  std::memcpy(out + 11, s + 9, 2);
  std::memcpy(out + 14, s + 11, 2);
  std::memcpy(out + 17, s + 13, 2);
  return std::string_view(out, kStampSize);
}

// FormatChangeStamp into a buffer of the caller's.
std::string_view FormatChangeStampTo(char (&out)[kStampSize], std::string_view text) {
  if (PlainStamp(text)) return FormatPlainStampTo(out, text);
  const StampParts p{StampNumber(text, 0, 4), StampNumber(text, 4, 2),  StampNumber(text, 6, 2),
                     StampNumber(text, 9, 2), StampNumber(text, 11, 2), StampNumber(text, 13, 2),
                     StampNumber(text, 15, 3)};
  if (!ValidDateTime(p)) return kZeroStamp;
  const std::span<char> stamp(out);
  PutDigits(stamp.subspan(0, 4), p.year);
  size_t at = 4;
  for (const int v : {p.day, p.month, p.hour, p.minute, p.second}) {
    stamp[at] = '.';
    PutDigits(stamp.subspan(at + 1, 2), v);
    at += 3;
  }
  return std::string_view(out, kStampSize);
}

}  // namespace

std::string FormatChangeStamp(std::string_view text) {
  char out[kStampSize];
  return std::string(FormatChangeStampTo(out, text));
}

void AppendCompanyName(std::string& out, std::string_view abt) {
  size_t b = 0, e = abt.size();
  while (b < e && static_cast<unsigned char>(abt[b]) <= ' ') ++b;
  while (e > b && static_cast<unsigned char>(abt[e - 1]) <= ' ') --e;
  const auto blankOf = [&](size_t i) { return abt[i] == ' ' || abt[i] == '\xAC'; };
  for (size_t i = b; i < e; ++i) {
    if (!blankOf(i)) {
      out += abt[i];
      continue;
    }
    out += ' ';
    if (i + 1 < e && blankOf(i + 1)) ++i;  // a pair of blanks gives one
  }
}

std::string CompanyName(std::string_view abt) {
  std::string s;
  AppendCompanyName(s, abt);
  return s;
}

void ExtractContactData(std::string_view ix, std::vector<std::string_view>& emails,
                        std::vector<std::string_view>& phones) {
  emails.clear();
  phones.clear();
  // Candidates are collected in phones, the short ones dropped later.
  ForEachIxPiece(ix, [&](std::string_view piece, unsigned seen) {
    if (piece.size() < 6) return;
    if ((seen & kIxAt) != 0) {
      emails.push_back(piece);
    } else if (seen == 0 && piece[0] == '0') {
      phones.push_back(piece);
    }
  });
  std::erase_if(phones, [](std::string_view c) { return c.size() <= 8; });
  SortUniqueIgnoringCase(emails);
  SortUniqueIgnoringCase(phones);
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
    : query_(query), id_(query.FieldIndex("ID")) {
  static_assert(sizeof columns_ / sizeof columns_[0] == kRawTexts);
  columns_[kRawIx] = query.FieldIndex("IX");
  columns_[kRawStamp] = query.FieldIndex("adr_47_");
  for (int c = 0; c < kRowColumns; ++c) columns_[c] = query.FieldIndex(kColumnNames[c]);
}

bool TAddressRowReader::Fill(TRowBatch& batch, size_t maxRows, size_t maxBytes) {
  for (; !query_.Eof(); query_.Next()) {
    if (batch.Rows() >= maxRows || batch.TextBytes() >= maxBytes) return true;
    std::string_view texts[kRawTexts];
    query_.RawTexts(columns_, texts);
    batch.AddRawRow(query_.AsInt64(id_), texts);
  }
  return false;
}

void TAddressRowPicker::AddAnsi(TRowBatch& batch, std::string_view text) {
  if (form_ == TPickedText::Ansi) {
    batch.AddText(text);
  } else {
    batch.AddBuilt([&](std::string& out) { AppendAnsiAsUtf8(out, text); });
  }
}

void TAddressRowPicker::AddCompany(std::string_view abt, TRowBatch& batch) {
  const std::string_view ansi = Utf8AsAnsiView(abt, value_);
  // In Windows-1252, or from plain ASCII (the same in every form), the name is made in place.
  if (form_ == TPickedText::Ansi || ansi.data() == abt.data()) {
    batch.AddBuilt([&](std::string& out) { AppendCompanyName(out, ansi); });
    return;
  }
  company_.clear();
  AppendCompanyName(company_, ansi);
  AddAnsi(batch, company_);
}

bool TAddressRowPicker::Add(const TRowView& raw, TRowBatch& batch) {
  ExtractContactData(Utf8AsAnsiView(raw.Field(kRawIx), ix_text_), emails_, phones_);
  if (emails_.empty() && phones_.empty()) return false;  // no contact: never reaches the ledger
  batch.BeginRow(raw.Id(), {emails_.size(), phones_.size()});
  for (int c = 0; c < kRowColumns; ++c) {
    if (c == kAbt) {
      AddCompany(raw.Field(c), batch);
    } else if (form_ == TPickedText::Ansi) {
      batch.AddConverted(raw.Field(c));
    } else {
      batch.AddBuilt([&](std::string& out) { AppendUtf8ThroughAnsi(out, raw.Field(c)); });
    }
  }
  char stamp[kStampSize];
  batch.AddText(FormatChangeStampTo(stamp, Utf8AsAnsiView(raw.Field(kRawStamp), value_)));
  for (const auto& e : emails_) AddAnsi(batch, e);
  for (const auto& p : phones_) batch.AddText(p);
  return true;
}

void PipeAddressRows(TAdsQuery& query, TPickedText form, const std::function<void()>& prepare,
                     const std::function<void(const TRowBatch&)>& consume) {
  // The columns are found here, so that a missing one fails before anything starts.
  TAddressRowReader reader(query);
  TAddressRowPicker picker(form);
  TBatchStages stages;
  stages.fill = [&](TRowBatch& batch) { return reader.Fill(batch, kBatchRows, kBatchBytes); };
  stages.work = [&](const TRowBatch& raw, TRowBatch& batch) {
    // Picked text is about as long as read text.
    batch.Reserve(raw.TextBytes() + (64 << 10), raw.Rows());
    for (size_t r = 0; r < raw.Rows(); ++r) picker.Add(TRowView(raw, r), batch);
  };
  stages.prepare = prepare;
  stages.consume = consume;
  PipeRowBatches(TPipeLimits{kQueueBatches, kQueueBatchesAhead, kQueueBytes}, stages);
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
