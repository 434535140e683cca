#include "carddav/Discovery.h"

#include <utility>

namespace pv::carddav {
namespace {

constexpr int kMaxRedirects = 5;

QString NoBookText(const QUrl& url) {
  return QStringLiteral("Unter %1 wurde kein Adressbuch gefunden.")
      .arg(url.toString(QUrl::RemoveUserInfo));
}

bool IsServerRoot(const QUrl& url) {
  const QString path = url.path();
  return path.isEmpty() || path == u"/";
}

}  // namespace

QString LastPathSegment(const QUrl& url) {
  QString path = url.path(QUrl::FullyDecoded);
  while (path.endsWith(u'/')) path.chop(1);
  return path.section(u'/', -1);
}

QUrl WithTrailingSlash(QUrl url) {
  QString path = url.path(QUrl::FullyEncoded);
  if (!path.endsWith(u'/')) url.setPath(path + u'/', QUrl::StrictMode);
  return url;
}

void TDiscovery::Run(const QUrl& url, const QString& bookName, TDone done) {
  bookName_ = bookName;
  start_ = url;
  done_ = std::move(done);
  triedWellKnown_ = false;
  Propfind(url, 0, TStep::Start);
}

void TDiscovery::Propfind(const QUrl& url, int depth, TStep step, int redirects) {
  const THeaders headers{{"Depth", QByteArray::number(depth)},
                         {"Content-Type", "application/xml; charset=utf-8"}};
  client_.Send("PROPFIND", url, headers, DiscoveryPropfindBody(),
               [=, this](const TDavResult& r) { Answer(url, depth, step, redirects, r); });
}

void TDiscovery::Answer(const QUrl& url, int depth, TStep step, int redirects,
                        const TDavResult& r) {
  if (r.Status >= 300 && r.Status < 400 && r.Location.isValid()) {
    if (redirects >= kMaxRedirects || !IsAllowedUrl(r.Location)) return Fail(FailureText(r));
    return Propfind(r.Location, depth, step, redirects + 1);
  }
  std::vector<TDavResponse> responses;
  if (r.Status == 207 && ParseMultistatus(r.Body, responses) && !responses.empty()) {
    return Next(url, step, responses);
  }
  const bool serverAnswered =
      r.Status >= 200 && r.Status != 401 && r.Status != 403 && r.Status < 500;
  if (step == TStep::Start && serverAnswered && IsServerRoot(start_) && !triedWellKnown_) {
    return WellKnown();
  }
  Fail(serverAnswered ? NoBookText(start_) : FailureText(r));
}

void TDiscovery::WellKnown() {
  triedWellKnown_ = true;
  Propfind(start_.resolved(QUrl(QStringLiteral("/.well-known/carddav"))), 0, TStep::WellKnown);
}

// An address book is taken as it is; the search goes on only from the server's root, a principal
// or the address book home, so that an address that names something else (a calendar, a card, a
// mistyped path) is refused rather than replaced by another address book.
void TDiscovery::Next(const QUrl& url, TStep step, const std::vector<TDavResponse>& responses) {
  const TDavResponse& self = responses.front();
  if (step == TStep::Home) return PickBook(url, responses);
  if (self.IsAddressBook) {
    if (done_) done_(WithTrailingSlash(url), QString());
    return;
  }
  const bool mayLook =
      step != TStep::Start || IsServerRoot(url) || self.IsPrincipal ||
      (!self.AddressBookHomeSet.isEmpty() &&
       WithTrailingSlash(url.resolved(QUrl(self.AddressBookHomeSet))) == WithTrailingSlash(url));
  if (mayLook && !self.AddressBookHomeSet.isEmpty()) {
    return Propfind(WithTrailingSlash(url.resolved(QUrl(self.AddressBookHomeSet))), 1, TStep::Home);
  }
  if (mayLook && !self.CurrentUserPrincipal.isEmpty() && step != TStep::Principal) {
    return Propfind(url.resolved(QUrl(self.CurrentUserPrincipal)), 0, TStep::Principal);
  }
  if (step == TStep::Start && IsServerRoot(url) && !triedWellKnown_) return WellKnown();
  Fail(NoBookText(start_));
}

void TDiscovery::PickBook(const QUrl& home, const std::vector<TDavResponse>& responses) {
  for (const TDavResponse& r : responses) {
    if (!r.IsAddressBook) continue;
    const QUrl book = WithTrailingSlash(home.resolved(QUrl(r.Href)));
    if (!bookName_.isEmpty() && r.DisplayName != bookName_ && LastPathSegment(book) != bookName_)
      continue;
    if (done_) done_(book, QString());
    return;
  }
  if (bookName_.isEmpty()) return Fail(NoBookText(start_));
  Fail(QStringLiteral("Das Adressbuch \"%1\" wurde unter %2 nicht gefunden.")
           .arg(bookName_, start_.toString(QUrl::RemoveUserInfo)));
}

void TDiscovery::Fail(const QString& text) {
  if (done_) done_(QUrl(), text);
}

}  // namespace pv::carddav
