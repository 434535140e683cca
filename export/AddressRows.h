// The address table as the export sees it: the statement, picking the e-mail addresses and phone
// numbers out of a record, reading the usable records into batches on one thread while another
// turns them into contacts, and filling a contact from such a record.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "addressdb/AdsConnection.h"
#include "addressdb/AdsQuery.h"
#include "export/RowBatchQueue.h"
#include "vcard/Contact.h"

namespace pv {

inline constexpr const char* kAddressSelect =
    "Select ID,NName,VName,Abt,IX,adr_42_,Ort,strasse,GR,adr_47_ from Adressen";
// The PRODID of every card the export writes.
inline constexpr const char* kCardProdId = "Parvela";

// Connects the database folder and opens the statement on its first row. Raises
// EADSDatabaseError (missing folder or file, damaged file, missing table or column).
void OpenAddressTable(TAdsConnection& connection, TAdsQuery& query, const std::string& dbPath);

// Reads the open statement's rows from the cursor on and copies each as stored into a batch,
// without looking at it: the ID, then the bytes of the columns in TRowColumn order, of adr_47_ and
// of IX (TRowView::Field 0 to kRowColumns + 1). Only stepping and copying, so that the thread that
// reads the table waits for nothing else.
class TAddressRowReader {
 public:
  // Finds the columns; raises EADSDatabaseError for a missing one.
  explicit TAddressRowReader(TAdsQuery& query);
  // Adds records to batch until it holds maxRows records or maxBytes of text, or the table ends.
  // False when the table has ended. Raises EADSDatabaseError for a failed read.
  bool Fill(TRowBatch& batch, size_t maxRows, size_t maxBytes);

 private:
  TAdsQuery& query_;
  int id_;
  int columns_[kRowColumns + 2];  // the texts in the order of a record as read
};

// How the texts of picked records are held: in Windows-1252, or in UTF-8 with only the characters
// Windows-1252 has (the UTF-8 form of the Windows-1252 texts), so that cards written as UTF-8 are
// built in UTF-8 straight away and need no conversion.
enum class TPickedText { Ansi, Utf8 };

// Keeps the usable records of a batch as read (with an e-mail address or a phone number of 9 or
// more digits): their texts as the system holds them (Windows-1252, or its UTF-8 form), Abt as the
// company name, the change time formatted, and the e-mail addresses and phone numbers picked out
// of IX. Names and lists are decided in Windows-1252 in either form.
class TAddressRowPicker {
 public:
  explicit TAddressRowPicker(TPickedText form = TPickedText::Ansi) : form_(form) {}
  // Adds the record to batch when it is usable; true then.
  bool Add(const TRowView& raw, TRowBatch& batch);

 private:
  // Adds text, held in Windows-1252, in the picked form.
  void AddAnsi(TRowBatch& batch, std::string_view text);
  // Adds the company name of Abt as stored (UTF-8) in the picked form.
  void AddCompany(std::string_view abt, TRowBatch& batch);

  const TPickedText form_;
  std::string ix_text_, value_, company_;
  std::vector<std::string_view> emails_, phones_;  // views into IX or ix_text_
};

// Reads the whole table from the open statement on a second thread and picks the usable records
// out of the rows on a third, their texts held in form, while on the calling thread prepare() runs
// once and then consume(batch) for every batch of usable records, in table order. The reading runs
// ahead while prepare() works. A failure on any thread (any exception, also one outside
// std::exception) stops all and is raised here once all have stopped: the reader's first, then the
// picker's, then the consumer's.
void PipeAddressRows(TAdsQuery& query, TPickedText form, const std::function<void()>& prepare,
                     const std::function<void(const TRowBatch&)>& consume);

// One contact, filled again for every record so that its memory is reused.
class TContactFiller {
 public:
  explicit TContactFiller(TvCardVersion version);
  // The contact of the record: version, ScoreItem (RecordID is 0 for an ID outside 32 bits),
  // names, company, categories, one work address, the e-mails and phones as work items.
  TvContact& Fill(const TRowView& row);

 private:
  TvContact contact_;
};

// True when id fits the 32-bit record numbers of the ledger.
inline bool IsLedgerId(int64_t id) { return id >= INT32_MIN && id <= INT32_MAX; }

// The change time of adr_47_ ("YYYYMMDD HHMMSSmmm", read by fixed positions) as
// "yyyy.dd.mm.hh.nn.ss"; an unreadable or invalid time gives "1899.30.12.00.00.00".
std::string FormatChangeStamp(std::string_view text);

// Abt as the company name: trimmed of blanks and control characters, "\xAC" made a blank, each
// pair of blanks made one (one pass, left to right).
std::string CompanyName(std::string_view abt);
// The same, appended to out.
void AppendCompanyName(std::string& out, std::string_view abt);

// The e-mail addresses and phone numbers in IX, each list without case-blind duplicates (the
// first kept) and naturally sorted; the entries are views into ix. The lists are cleared first
// (and reuse their memory). Takes n log n time in the number of pieces.
void ExtractContactData(std::string_view ix, std::vector<std::string_view>& emails,
                        std::vector<std::string_view>& phones);

}  // namespace pv
