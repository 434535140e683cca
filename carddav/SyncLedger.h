// The sync ledger of one address book: for every record the server has confirmed, its change stamp,
// the resource it lives in and the resource's last known ETag. Kept next to the database in
// vCard.Export/, one file per address book URL and user, and replaced atomically.
#pragma once

#include <cstdint>
#include <map>
#include <string>

namespace pv::carddav {

struct TLedgerEntry {
  std::string Stamp;     // the record's change stamp when the server confirmed it
  std::string Resource;  // resource name inside the address book ("<uid>.vcf")
  std::string ETag;      // as the server sent it (quotes included); empty when none is known
};

class TSyncLedger {
 public:
  // <database folder>/vCard.Export/carddav-<16 hex digits>.txt; the digits are the start of the
  // SHA-1 of URL, a line break and user, so every address book and user has a file of its own.
  static std::string FileName(const std::string& dbFolder, const std::string& url,
                              const std::string& user);

  // Binds the ledger to a file and to what it describes. Nothing is read yet.
  TSyncLedger(std::string path, std::string url, std::string user, std::string format);

  // Reads the file. A missing file gives an empty ledger; lines that cannot be read are skipped.
  // A file written for another URL or user is ignored (empty ledger). FormatChanged() tells
  // whether the cards in it were sent in another vCard version than this ledger's.
  void Load();
  // Replaces the file atomically with the current entries (creating vCard.Export/ when missing).
  // Raises EFCreateError or EInOutError when it cannot; the previous file then stays whole.
  void Save() const;

  bool FormatChanged() const { return formatChanged_; }
  const std::string& Path() const { return path_; }

  std::map<int64_t, TLedgerEntry>& Entries() { return entries_; }
  const std::map<int64_t, TLedgerEntry>& Entries() const { return entries_; }

  // The file's text for the current entries (what Save writes).
  std::string Text() const;
  // Fills the entries from a file's text, as Load does.
  void Parse(const std::string& text);

 private:
  std::string path_;
  std::string url_;
  std::string user_;
  std::string format_;
  bool formatChanged_ = false;
  std::map<int64_t, TLedgerEntry> entries_;
};

}  // namespace pv::carddav
