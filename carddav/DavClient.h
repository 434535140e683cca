// HTTP for CardDAV over one QNetworkAccessManager: requests with any verb, the user's credentials
// given when the server asks, redirects left to the caller, and the German text of every failure.
#pragma once

#include <QByteArray>
#include <QList>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QObject>
#include <QPair>
#include <QString>
#include <QUrl>
#include <functional>
#include <vector>

namespace pv::carddav {

// What ended a request.
struct TDavResult {
  int Status = 0;  // HTTP status; 0 when no answer came (see Error)
  QByteArray ETag;
  QByteArray Body;
  QUrl Location;  // a redirect's target, resolved against the request's URL
  QNetworkReply::NetworkError Error = QNetworkReply::NoError;
  QString ErrorText;  // Qt's description of Error
  bool CertificateRejected = false;
};

using THeaders = QList<QPair<QByteArray, QByteArray>>;

class TDavClient : public QObject {
 public:
  using TDone = std::function<void(const TDavResult&)>;

  TDavClient(QString user, QString password, QObject* parent = nullptr);

  // Sends the request with the user's credentials (Basic; Digest when the server asks for it);
  // done runs on this thread when it has ended, whatever the outcome. Requests
  // to the same server share kept-alive connections. A request that hears nothing for
  // TransferTimeoutMs fails as a dropped connection.
  void Send(const QByteArray& verb, const QUrl& url, const THeaders& headers,
            const QByteArray& body, TDone done);

  // Requests that have been sent and not yet ended.
  int InFlight() const { return static_cast<int>(replies_.size()); }

  // Aborts every request under way; each ends (its done runs) with no answer. The server may
  // have carried one out all the same.
  void AbortAll();

  static constexpr int TransferTimeoutMs = 120000;

 private:
  void Authenticate(QNetworkReply* reply, QAuthenticator* auth);

  QNetworkAccessManager nam_;
  QString user_;
  QString password_;
  QByteArray basic_;                     // the Authorization header for Basic
  std::vector<QNetworkReply*> replies_;  // under way
};

// True for https, and for http to a loopback address (127.0.0.0/8, ::1, "localhost"): plain
// http to any other host would show the password and the contacts to the network.
bool IsAllowedUrl(const QUrl& url);

// The German text of a request that did not succeed, naming the server's answer; empty for a 2xx.
QString FailureText(const TDavResult& result);

// True when the failure means the server or the network is not usable for the rest of the run
// (rather than one card being refused).
bool IsFatal(const TDavResult& result);

}  // namespace pv::carddav
