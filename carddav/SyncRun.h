// A whole sync to an online address book as the SYNC command and the window run it: the address
// checked, the address book found, its ledger loaded, the cards sent.
#pragma once

#include <QObject>
#include <QString>
#include <QUrl>
#include <functional>
#include <memory>
#include <string>

#include "carddav/DavClient.h"
#include "carddav/Discovery.h"
#include "carddav/SyncEngine.h"
#include "carddav/SyncLedger.h"

namespace pv::carddav {

struct TSyncSettings {
  std::string DbFolder;  // the database folder (file system bytes); holds vCard.Export/
  QString Url;           // the address book, or the server to find it on
  QString User;
  QString Password;
  QString AddressBook;               // the address book's name when Url is the server
  std::string VCardVersion = "4.0";  // recorded in the ledger: a change sends every card again
};

class TSyncRun : public QObject {
 public:
  using TDone = std::function<void(bool ok, const QString& text)>;

  TSyncRun(TSyncSettings settings, TCardSource source, QObject* parent = nullptr);
  ~TSyncRun() override;

  // The sync. done runs once, on this thread: ok with the summary line, or the German reason.
  void Start(TDone done, const TCardDavSync::TProgress& progress = {});
  // Only finds the address book (the window's "Verbindung prüfen"): done with its URL as text.
  void Check(TDone done);

  // Ends a started run early (the window closes): requests under way are aborted, the ledger
  // keeps what the server confirmed, and done runs with CancelledText().
  void Cancel();
  static QString CancelledText();

  const TSyncCounts& Counts() const { return counts_; }
  const QUrl& Book() const { return book_; }

 private:
  bool CheckUrl(QUrl& url, QString& failure) const;
  // Checks the address, then searches the address book and hands the result to found.
  void Discover(TDone done, TDiscovery::TDone found);
  void BookFound(const QUrl& book, TCardDavSync::TProgress progress);
  void End(bool ok, const QString& text);

  TSyncSettings settings_;
  TCardSource source_;
  std::unique_ptr<TDavClient> client_;
  std::unique_ptr<TDiscovery> discovery_;
  std::unique_ptr<TSyncLedger> ledger_;
  std::unique_ptr<TCardDavSync> engine_;
  QUrl book_;
  TSyncCounts counts_;
  TDone done_;
  bool cancelled_ = false;
  bool ended_ = false;
};

// The records of the database folder as card texts in the given vCard version ("3.0" or "4.0").
TCardSource DatabaseSource(const std::string& dbFolder, const std::string& vcardVersion);

}  // namespace pv::carddav
