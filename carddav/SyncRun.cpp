#include "carddav/SyncRun.h"

#include <QTimer>
#include <exception>
#include <utility>

#include "files/AnsiText.h"
#include "files/FileUtil.h"

namespace pv::carddav {

TSyncRun::TSyncRun(TSyncSettings settings, TCardSource source, QObject* parent)
    : QObject(parent), settings_(std::move(settings)), source_(std::move(source)) {}

TSyncRun::~TSyncRun() = default;

bool TSyncRun::CheckUrl(QUrl& url, QString& failure) const {
  url = QUrl(settings_.Url, QUrl::StrictMode);
  if (!url.isValid() || url.host().isEmpty() ||
      (url.scheme() != u"https" && url.scheme() != u"http")) {
    failure = QStringLiteral("\"%1\" ist keine gültige Adresse (https://...).").arg(settings_.Url);
    return false;
  }
  if (!url.password().isEmpty()) {
    failure = QStringLiteral("Das Passwort gehört nicht in die Adresse.");
    return false;
  }
  if (!IsAllowedUrl(url)) {
    failure = QStringLiteral(
        "Unverschlüsselte Verbindungen (http) sind nur zum eigenen Rechner erlaubt; bitte "
        "https verwenden.");
    return false;
  }
  return true;
}

void TSyncRun::Discover(TDone done, TDiscovery::TDone found) {
  done_ = std::move(done);
  QUrl url;
  QString failure;
  if (!CheckUrl(url, failure)) return End(false, failure);
  client_ = std::make_unique<TDavClient>(settings_.User, settings_.Password);
  discovery_ = std::make_unique<TDiscovery>(*client_);
  discovery_->Run(url, settings_.AddressBook, std::move(found));
}

void TSyncRun::Check(TDone done) {
  Discover(std::move(done), [this](const QUrl& book, const QString& why) {
    book_ = book;
    End(!book.isEmpty(), book.isEmpty() ? why : book.toString(QUrl::RemoveUserInfo));
  });
}

void TSyncRun::Start(TDone done, const TCardDavSync::TProgress& progress) {
  Discover(std::move(done), [this, progress](const QUrl& book, const QString& why) {
    if (book.isEmpty()) return End(false, why);
    BookFound(book, progress);
  });
}

void TSyncRun::Cancel() {
  if (cancelled_ || ended_) return;
  cancelled_ = true;
  if (engine_) return engine_->Cancel(CancelledText());
  // Still searching the address book: its request ends at once, and with it the run.
  if (client_) client_->AbortAll();
}

QString TSyncRun::CancelledText() {
  return QStringLiteral("Das Senden wurde abgebrochen; der nächste Lauf setzt es fort.");
}

void TSyncRun::BookFound(const QUrl& book, TCardDavSync::TProgress progress) {
  if (cancelled_) return End(false, CancelledText());
  book_ = book;
  const std::string bookText = book.toString(QUrl::RemoveUserInfo).toStdString();
  const std::string user = settings_.User.toStdString();
  ledger_ = std::make_unique<TSyncLedger>(TSyncLedger::FileName(settings_.DbFolder, bookText, user),
                                          bookText, user, settings_.VCardVersion);
  try {
    ledger_->Load();
  } catch (const std::exception& e) {
    return End(false, QStringLiteral("Die Abgleichsdatei kann nicht gelesen werden: %1")
                          .arg(QString::fromStdString(AnsiToUtf8(e.what()))));
  }
  engine_ = std::make_unique<TCardDavSync>(*client_, book, *ledger_, source_);
  engine_->Start(
      [this](bool ok, const QString& text) {
        counts_ = engine_->Counts();
        End(ok, ok ? SummaryLine(counts_) : text);
      },
      std::move(progress));
}

void TSyncRun::End(bool ok, const QString& text) {
  if (ended_) return;
  ended_ = true;
  // Called from inside the client's and the engine's callbacks: they end before done runs, so
  // done may delete this object.
  QTimer::singleShot(0, this,
                     [this, ok, text = cancelled_ && !engine_ && !ok ? CancelledText() : text] {
                       if (done_) done_(ok, text);
                     });
}

}  // namespace pv::carddav
