// Finds the user's address book from a server address: the address itself when it is one,
// otherwise /.well-known/carddav, the current user's principal and its address book home, as
// CardDAV clients do.
#pragma once

#include <QString>
#include <QUrl>
#include <functional>

#include "carddav/DavClient.h"
#include "carddav/DavXml.h"

namespace pv::carddav {

class TDiscovery {
 public:
  // done(book, "") with the address book's URL (ending in '/'), or done({}, German reason).
  using TDone = std::function<void(const QUrl& book, const QString& failure)>;

  explicit TDiscovery(TDavClient& client) : client_(client) {}

  // Starts the search from url. bookName, when not empty, picks the address book whose display
  // name or last path segment it equals; otherwise the first the server lists is taken.
  void Run(const QUrl& url, const QString& bookName, TDone done);

 private:
  enum class TStep { Start, WellKnown, Principal, Home };

  void Propfind(const QUrl& url, int depth, TStep step, int redirects = 0);
  void Answer(const QUrl& url, int depth, TStep step, int redirects, const TDavResult& r);
  void WellKnown();
  void Next(const QUrl& url, TStep step, const std::vector<TDavResponse>& responses);
  void PickBook(const QUrl& home, const std::vector<TDavResponse>& responses);
  void Fail(const QString& text);

  TDavClient& client_;
  QString bookName_;
  QUrl start_;
  bool triedWellKnown_ = false;
  TDone done_;
};

// The last segment of a URL's path, without the slashes around it.
QString LastPathSegment(const QUrl& url);

// The URL with a '/' at the end of its path (collections are addressed so).
QUrl WithTrailingSlash(QUrl url);

}  // namespace pv::carddav
