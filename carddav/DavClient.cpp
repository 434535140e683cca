#include "carddav/DavClient.h"

#include <QAuthenticator>
#include <QHostAddress>
#include <QNetworkRequest>
#include <QPointer>
#include <QSslError>
#include <QTimer>
#include <memory>
#include <utility>

namespace pv::carddav {
namespace {

struct TStatusText {
  int Status;
  const char* Text;
};

// Answers with a text of their own; other 4xx and 5xx get a general one.
constexpr TStatusText kStatusTexts[] = {
    {401, "Anmeldung abgelehnt: Benutzername oder Passwort ist falsch (HTTP 401)."},
    {403, "Keine Berechtigung für dieses Adressbuch (HTTP 403)."},
    {404, "Das Adressbuch wurde auf dem Server nicht gefunden (HTTP 404)."},
    {405, "Die Adresse ist kein Adressbuch (HTTP 405)."},
    {409, "Der Server lehnt die Karte ab, sie steht im Widerspruch zu einer anderen (HTTP 409)."},
    {412, "Die Karte wurde gleichzeitig auf dem Server geändert (HTTP 412)."},
    {413, "Die Karte ist dem Server zu groß (HTTP 413)."},
    {415, "Der Server nimmt keine vCards an (HTTP 415)."},
    {507, "Der Speicherplatz auf dem Server ist voll (HTTP 507)."},
};

}  // namespace

TDavClient::TDavClient(QString user, QString password, QObject* parent)
    : QObject(parent), user_(std::move(user)), password_(std::move(password)) {
  basic_ = "Basic " + (user_ + u':' + password_).toUtf8().toBase64();
  nam_.setRedirectPolicy(QNetworkRequest::ManualRedirectPolicy);
  nam_.setTransferTimeout(TransferTimeoutMs);
  connect(&nam_, &QNetworkAccessManager::authenticationRequired, this, &TDavClient::Authenticate);
}

void TDavClient::Authenticate(QNetworkReply* reply, QAuthenticator* auth) {
  // Basic credentials went with the request already: refused, they are wrong. Other schemes
  // (Digest) get them once per request; asked again, the request ends with 401.
  const QByteArray challenge = reply->rawHeader("WWW-Authenticate").trimmed().toLower();
  if (user_.isEmpty() || challenge.startsWith("basic")) return;
  if (reply->property("pvAuthGiven").toBool()) return;
  reply->setProperty("pvAuthGiven", true);
  auth->setUser(user_);
  auth->setPassword(password_);
}

void TDavClient::Send(const QByteArray& verb, const QUrl& url, const THeaders& headers,
                      const QByteArray& body, TDone done) {
  if (!IsAllowedUrl(url)) {
    // A server may name other addresses (a home set, a redirect): never plain http elsewhere.
    TDavResult refused;
    refused.Error = QNetworkReply::ProtocolUnknownError;
    refused.ErrorText = QStringLiteral("unverschlüsselte Adresse %1 verweigert")
                            .arg(url.toString(QUrl::RemoveUserInfo));
    QTimer::singleShot(0, this, [refused, done = std::move(done)] { done(refused); });
    return;
  }
  QNetworkRequest request(url);
  request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
  request.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);
  for (const auto& [name, value] : headers) request.setRawHeader(name, value);
  // Sent with every request, so that no connection starts with a refused one; only ever over
  // https or to this machine (IsAllowedUrl).
  if (!user_.isEmpty()) request.setRawHeader("Authorization", basic_);
  QNetworkReply* reply =
      verb == "HEAD" ? nam_.head(request) : nam_.sendCustomRequest(request, verb, body);
  replies_.push_back(reply);
  auto certificateRejected = std::make_shared<bool>(false);
  connect(reply, &QNetworkReply::sslErrors, reply,
          [certificateRejected](const QList<QSslError>&) { *certificateRejected = true; });
  connect(reply, &QNetworkReply::finished, this,
          [this, reply, url, certificateRejected, done = std::move(done)] {
            std::erase(replies_, reply);
            TDavResult r;
            r.Status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
            r.ETag = reply->rawHeader("ETag");
            if (reply->isOpen()) r.Body = reply->readAll();  // not after an abort
            const QByteArray location = reply->rawHeader("Location");
            if (!location.isEmpty()) r.Location = url.resolved(QUrl::fromEncoded(location));
            r.Error = reply->error();
            r.ErrorText = reply->errorString();
            r.CertificateRejected = *certificateRejected;
            reply->deleteLater();
            done(r);
          });
}

void TDavClient::AbortAll() {
  // abort() ends a reply at once, and its done may start or end other requests: work on a copy.
  const std::vector<QPointer<QNetworkReply>> under(replies_.begin(), replies_.end());
  for (const QPointer<QNetworkReply>& reply : under) {
    if (reply) reply->abort();
  }
}

bool IsAllowedUrl(const QUrl& url) {
  if (!url.isValid() || url.host().isEmpty()) return false;
  const QString scheme = url.scheme().toLower();
  if (scheme == u"https") return true;
  if (scheme != u"http") return false;
  const QString host = url.host().toLower();
  if (host == u"localhost") return true;
  const QHostAddress address(host);
  return !address.isNull() && address.isLoopback();
}

QString FailureText(const TDavResult& result) {
  if (result.Status >= 200 && result.Status < 300) return {};
  if (result.CertificateRejected) {
    return QStringLiteral(
               "Das Zertifikat des Servers ist nicht vertrauenswürdig; die Verbindung wurde "
               "nicht aufgebaut (%1).")
        .arg(result.ErrorText);
  }
  if (result.Status == 0) {
    return QStringLiteral("Die Verbindung zum Server ist abgebrochen oder kam nicht zustande: %1")
        .arg(result.ErrorText);
  }
  for (const TStatusText& t : kStatusTexts) {
    if (t.Status == result.Status) return QString::fromUtf8(t.Text);
  }
  if (result.Status >= 500) {
    return QStringLiteral("Der Server meldet einen Fehler (HTTP %1).").arg(result.Status);
  }
  if (result.Status >= 300 && result.Status < 400) {
    return QStringLiteral("Der Server leitet auf eine andere Adresse um (HTTP %1): %2")
        .arg(result.Status)
        .arg(result.Location.toString());
  }
  return QStringLiteral("Der Server lehnt die Anfrage ab (HTTP %1).").arg(result.Status);
}

bool IsFatal(const TDavResult& result) {
  switch (result.Status) {
    case 400:
    case 409:
    case 413:
    case 415:
    case 422:
      return false;  // this card only
    default:
      return !(result.Status >= 200 && result.Status < 300);
  }
}

}  // namespace pv::carddav
