// The export job: reads the address table, turns every record with an e-mail address or a long
// phone number into a vCard contact, writes the contacts that the change ledger lets through into
// the output file, saves the ledger and posts its result text to the window.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include "addressdb/AdsConnection.h"
#include "addressdb/AdsQuery.h"
#include "export/AddressRows.h"
#include "export/ChangeLedger.h"
#include "export/Messages.h"
#include "export/StrUtils.h"
#include "export/WorkerThreadPool.h"
#include "vcard/Contact.h"
#include "vcard/VCard.h"

namespace pv {

class TCardOutput;

// The output is written to the file in pieces of this size while the cards are built: small
// enough that the kernel copies each from the cache it was just written into.
inline constexpr size_t kDefaultWriteChunk = 256 << 10;

class TPVAdressJob : public TWorkerThreadJob {
 public:
  // Stores the arguments; opens nothing. An empty ledgerPath means: no ledger is read or saved.
  // With version vv30 the file is always UTF-8, whatever asAnsi says.
  TPVAdressJob(HWND wnd, std::string outFile, std::string dbPath, std::string ledgerPath,
               bool onlyChanges, bool asAnsi, TvCardVersion version = vv40);
  ~TPVAdressJob() override;

  // The whole export. Posts WM_EXPORTDONE with a TResultCell in every case. A failure of the
  // system's family or another std::exception becomes the result text (escaped for the markup);
  // the vCard file and the ledger then stay as they were. Any other exception is raised again
  // after the post, for the pool.
  void Execute() override;

  // The change ledger (see TChangeLedger), on LedgerPath.
  void LoadLedger() { Ledger->Load(LedgerPath); }
  void LedgerAdd(int32_t recordId, std::string stamp) { Ledger->Add(recordId, std::move(stamp)); }
  // True when the record must be written; marks it seen in the ledger.
  bool ContactChanged(int32_t recordId, std::string_view stamp) {
    return Ledger->Check(recordId, stamp);
  }
  void SaveLedger() { Ledger->Save(LedgerPath); }
  static std::string LedgerLine(const TScoreItem& item) { return TChangeLedger::Line(item); }

  // The OnWriteContact handler of the card: asks the ledger, except for a record whose ID does
  // not fit the ledger's 32 bits, which is always written, and except while the export keeps no
  // ledger (no ledger file and nothing in the ledger), when every record is written.
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
  std::string LedgerPath;
  std::unique_ptr<TChangeLedger> Ledger;
  TvCardVersion Version;
  // Bytes of cards collected before they are written to the (temporary) output file.
  size_t WriteChunkBytes = kDefaultWriteChunk;

 private:
  void Export();
  void WriteCards(TCardOutput& output);
  void CommitOutput(TCardOutput& output);
  bool WritesAnsi() const { return AsAnsi && Version != vv30; }
  std::string result_;
  bool wideId_ = false;      // the contact being written has an ID outside 32 bits
  bool ledgerInUse_ = true;  // false while an export runs with no ledger file and an empty ledger
};

// The file name part of a path as text for the result: Windows-1252, escaped for the markup.
std::string DisplayFileName(const std::string& path);

}  // namespace pv
