// The export job: reads the address table, turns every record with an e-mail address or a long
// phone number into a vCard contact, writes the contacts that the change ledger lets through into
// the output file, saves the ledger and posts its result text to the window.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "addressdb/AdsConnection.h"
#include "addressdb/AdsQuery.h"
#include "export/BinTree.h"
#include "export/Messages.h"
#include "export/WorkerThreadPool.h"
#include "vcard/Contact.h"
#include "vcard/VCard.h"

namespace pv {

class TPVAdressJob;

// A ledger entry in the job's tree, ordered by record number.
class TTreeItem : public TBinTreeItem {
 public:
  explicit TTreeItem(const TScoreItem& item) : Item(item) {}
  explicit TTreeItem(TScoreItem&& item) : Item(std::move(item)) {}
  // Ledger entries are many and small: they come from a pool of large blocks.
  static void* operator new(size_t size);
  static void operator delete(void* p, size_t size);
  int Compare(const TBinTreeItem& other) const override;
  void CopyTo(TBinTreeItem& other) const override;
  void Visit() override;

  TScoreItem Item;
};

class TPVAdressJob : public TWorkerThreadJob {
 public:
  // Stores the arguments; opens nothing. An empty ledgerPath means: no ledger is read or saved.
  TPVAdressJob(HWND wnd, std::string outFile, std::string dbPath, std::string ledgerPath,
               bool onlyChanges, bool asAnsi, TvCardVersion version = vv40);
  ~TPVAdressJob() override;

  // The whole export. Never throws an exception of the system's family: its message becomes the
  // result text. Posts WM_EXPORTDONE with a TResultCell in every case.
  void Execute() override;

  // The change ledger (file "calc.txt": one "id","stamp" line per record, ascending).
  // LoadLedger and SaveLedger swallow every failure; SaveLedger replaces the file atomically.
  void LoadLedger();
  void LedgerAdd(int32_t recordId, std::string stamp);
  // True when the record must be written (new, or stamp changed); marks it seen in the ledger.
  bool ContactChanged(int32_t recordId, const std::string& stamp);
  void SaveLedger();
  static std::string LedgerLine(const TScoreItem& item);

  // The OnWriteContact handler of the card.
  void DoWriteContact(TvContact& contact, bool& write);

  // The result text of the last Execute (also posted).
  const std::string& ResultText() const { return result_; }

  std::string DBPath;
  std::string OutFile;
  HWND Wnd;
  std::unique_ptr<TAdsQuery> Query;
  std::unique_ptr<TAdvvCard> Card;
  std::unique_ptr<TAdsConnection> Connection;
  bool OnlyChanges;
  bool AsAnsi;
  TvCardVersion Version;  // the card version the file is written in
  std::string LedgerPath;
  std::unique_ptr<TBinTree> Ledger;
  std::vector<TScoreItem*> LedgerList;  // exists only while the ledger is saved

 private:
  void Export();
  void NoteLedgerKey(int32_t recordId);
  std::string result_;
  // The largest record number in Ledger (when it holds any): lets ContactChanged skip the search
  // for a number above it.
  int32_t maxLedgerKey_ = 0;
  bool hasLedgerKeys_ = false;
};

// Helpers of the job, exposed for tests.

// The change time of adr_47_ ("YYYYMMDD HHMMSSmmm", read by fixed positions) as
// "yyyy.dd.mm.hh.nn.ss"; an unreadable or invalid time gives "1899.30.12.00.00.00".
std::string FormatChangeStamp(std::string_view text);

// Abt as the company name: trimmed of blanks and control characters, "\xAC" made a blank, each
// pair of blanks made one (one pass, left to right).
std::string CompanyName(std::string_view abt);

// The e-mail addresses and phone numbers in IX, each list naturally sorted; the entries are views
// into ix. The lists are cleared first (and reuse their memory).
void ExtractContactData(std::string_view ix, std::vector<std::string_view>& emails,
                        std::vector<std::string_view>& phones);

// The decimal integer in s (leading blanks and a sign allowed), or def when s is not one or does
// not fit 32 bits.
int StrToIntDef(std::string_view s, int def);

// n with the thousands separator of the user's locale ("." when the locale has none).
std::string FormatCount(long long n);

}  // namespace pv
