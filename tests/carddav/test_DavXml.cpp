// The pieces of the sync that need no server: the multistatus reader, the URL policy, the failure
// texts and the SYNC command line.
#include <gtest/gtest.h>

#include <QEventLoop>
#include <QTimer>

#include "carddav/DavClient.h"
#include "carddav/DavXml.h"
#include "carddav/Discovery.h"
#include "carddav/SyncCommandLine.h"

namespace pv::carddav {
namespace {

TEST(ParseMultistatus, ReadsTheDiscoveryProperties) {
  // Other prefixes than the usual ones, a 404 propstat whose properties must not count, and an
  // unknown property in between.
  const QByteArray body = R"(<?xml version="1.0"?>
<x:multistatus xmlns:x="DAV:" xmlns:c="urn:ietf:params:xml:ns:carddav">
 <x:response><x:href>/dav/anna/</x:href>
  <x:propstat><x:prop>
   <x:resourcetype><x:collection/><x:principal/></x:resourcetype>
   <x:current-user-principal><x:href>/dav/principals/anna/</x:href></x:current-user-principal>
   <c:addressbook-home-set><x:href> /dav/anna/ </x:href><x:href>/other/</x:href></c:addressbook-home-set>
   <y:unknown xmlns:y="urn:y"><y:deep>1</y:deep></y:unknown>
  </x:prop><x:status>HTTP/1.1 200 OK</x:status></x:propstat>
  <x:propstat><x:prop><x:displayname>hidden</x:displayname></x:prop>
   <x:status>HTTP/1.1 404 Not Found</x:status></x:propstat>
 </x:response>
 <x:response><x:href>/dav/anna/book%20one/</x:href>
  <x:propstat><x:prop>
   <x:resourcetype><x:collection/><c:addressbook/></x:resourcetype>
   <x:displayname>Kontakte &amp; Co</x:displayname><x:getetag>"e1"</x:getetag>
  </x:prop><x:status>HTTP/1.1 200 OK</x:status></x:propstat>
 </x:response>
</x:multistatus>)";
  std::vector<TDavResponse> out;
  ASSERT_TRUE(ParseMultistatus(body, out));
  ASSERT_EQ(out.size(), 2u);
  EXPECT_EQ(out[0].Href, "/dav/anna/");
  EXPECT_FALSE(out[0].IsAddressBook);
  EXPECT_TRUE(out[0].IsCollection);
  EXPECT_EQ(out[0].CurrentUserPrincipal, "/dav/principals/anna/");
  EXPECT_EQ(out[0].AddressBookHomeSet, "/dav/anna/");
  EXPECT_EQ(out[0].DisplayName, "");
  EXPECT_TRUE(out[1].IsAddressBook);
  EXPECT_EQ(out[1].DisplayName, "Kontakte & Co");
  EXPECT_EQ(out[1].ETag, "\"e1\"");
}

TEST(ParseMultistatus, RefusesWhatIsNoMultistatus) {
  const char* bodies[] = {"", "<html><body>Login</body></html>", "<d:multistatus xmlns:d=\"DAV:\">",
                          "<multistatus><response/></multistatus>"};  // no DAV: namespace
  for (const char* body : bodies) {
    SCOPED_TRACE(body);
    std::vector<TDavResponse> out;
    EXPECT_FALSE(ParseMultistatus(QByteArray(body), out));
  }
}

TEST(IsAllowedUrl, PlainHttpOnlyToLoopback) {
  const struct {
    const char* url;
    bool allowed;
  } rows[] = {
      {"https://dav.example.org/", true},
      {"HTTPS://dav.example.org/x", true},
      {"http://127.0.0.1:5232/", true},
      {"http://127.8.9.1/", true},
      {"http://[::1]:80/", true},
      {"http://localhost/", true},
      {"http://LocalHost:1/", true},
      {"http://dav.example.org/", false},
      {"http://192.168.1.5/", false},
      {"http://localhost.example.org/", false},
      {"http://127.0.0.1.example.org/", false},
      {"ftp://127.0.0.1/", false},
      {"https:///nohost", false},
      {"", false},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.url);
    EXPECT_EQ(IsAllowedUrl(QUrl(QString::fromUtf8(row.url))), row.allowed);
  }
}

TEST(FailureText, NamesTheCauseAndTellsWhatEndsTheRun) {
  const struct {
    int status;
    bool certificate;
    const char* contains;
    bool fatal;
  } rows[] = {
      {401, false, "Passwort", true},      {403, false, "Berechtigung", true},
      {507, false, "Speicherplatz", true}, {500, false, "HTTP 500", true},
      {503, false, "HTTP 503", true},      {301, false, "um (HTTP 301)", true},
      {0, false, "Verbindung", true},      {0, true, "Zertifikat", true},
      {400, false, "HTTP 400", false},     {409, false, "HTTP 409", false},
      {413, false, "HTTP 413", false},     {201, false, "", false},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.status);
    TDavResult r;
    r.Status = row.status;
    r.CertificateRejected = row.certificate;
    const QString text = FailureText(r);
    if (*row.contains == '\0') {
      EXPECT_TRUE(text.isEmpty());
    } else {
      EXPECT_TRUE(text.contains(QString::fromUtf8(row.contains))) << text.toStdString();
    }
    EXPECT_EQ(IsFatal(r), row.fatal);
  }
}

TEST(DavClient, SendsNothingToAnAddressThatIsNotAllowed) {
  // A server may name any address in a home set or a redirect; the credentials must not follow
  // it over plain http.
  TDavClient client("anna", "geheim");
  QEventLoop loop;
  TDavResult result;
  bool done = false;
  client.Send("PROPFIND", QUrl("http://dav.example.org/anna/"), {}, {}, [&](const TDavResult& r) {
    result = r;
    done = true;
    loop.quit();
  });
  EXPECT_FALSE(done);  // always reported from the event loop, never from inside Send
  QTimer::singleShot(60000, &loop, &QEventLoop::quit);
  if (!done) loop.exec();
  ASSERT_TRUE(done);
  EXPECT_EQ(result.Status, 0);
  EXPECT_TRUE(FailureText(result).contains(u"dav.example.org"))
      << FailureText(result).toStdString();
  EXPECT_TRUE(IsFatal(result));
}

TEST(DiscoveryUrls, SegmentsAndSlashes) {
  EXPECT_EQ(LastPathSegment(QUrl("http://h/a/b%20c/")), "b c");
  EXPECT_EQ(LastPathSegment(QUrl("http://h/a/b")), "b");
  EXPECT_EQ(WithTrailingSlash(QUrl("http://h/a/b")).toString(), "http://h/a/b/");
  EXPECT_EQ(WithTrailingSlash(QUrl("http://h/a%20b")).toEncoded(), "http://h/a%20b/");
  EXPECT_EQ(WithTrailingSlash(QUrl("http://h")).toString(), "http://h/");
}

TEST(SyncCommandLine, ParsesBothFormsAndRefusesTheRest) {
  using Args = std::vector<std::string>;
  const struct {
    const char* name;
    Args args;
    bool ok;
    bool store;
    std::string user, book, version;
  } rows[] = {
      {"minimal", {"/db", "https://h/"}, true, false, "", "", "4.0"},
      {"all options, both spellings",
       {"/db", "https://h/", "--user", "anna", "--vcard=3.0", "--addressbook=Privat"},
       true,
       false,
       "anna",
       "Privat",
       "3.0"},
      {"options first", {"--user=bob", "/db", "https://h/"}, true, false, "bob", "", "4.0"},
      {"store password",
       {"--store-password", "https://h/", "--user", "anna"},
       true,
       true,
       "anna",
       "",
       "4.0"},
      {"store password without user", {"--store-password", "https://h/"}, false, true, "", "", ""},
      {"store password with a folder",
       {"--store-password", "/db", "https://h/", "--user", "a"},
       false,
       true,
       "",
       "",
       ""},
      {"no URL", {"/db"}, false, false, "", "", ""},
      {"three positionals", {"/db", "https://h/", "x"}, false, false, "", "", ""},
      {"bad version", {"/db", "https://h/", "--vcard=2.1"}, false, false, "", "", ""},
      {"user without value", {"/db", "https://h/", "--user"}, false, false, "", "", ""},
      {"empty user", {"/db", "https://h/", "--user="}, false, false, "", "", ""},
      {"password option", {"/db", "https://h/", "--password=x"}, false, false, "", "", ""},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const TSyncCommandLine c = ParseSyncCommandLine(row.args);
    EXPECT_EQ(c.Error.empty(), row.ok) << c.Error;
    if (!row.ok) continue;
    EXPECT_EQ(c.StorePassword, row.store);
    EXPECT_EQ(c.User, row.user);
    EXPECT_EQ(c.AddressBook, row.book);
    EXPECT_EQ(c.VCardVersion, row.version);
    EXPECT_EQ(c.Url, "https://h/");
    if (!row.store) {
      EXPECT_EQ(c.DbFolder, "/db");
    }
  }
}

}  // namespace
}  // namespace pv::carddav
