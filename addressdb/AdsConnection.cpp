#include "addressdb/AdsConnection.h"

#include <sqlite3.h>

#include <algorithm>
#include <memory>

#include "addressdb/AdsError.h"
#include "addressdb/AdsQuery.h"
#include "files/AnsiText.h"
#include "files/FileUtil.h"

namespace pv {
namespace {

// The file as a read-only SQLite URI. Every byte outside the unreserved set and '/' is
// percent-encoded, so '?', '#' and '%' in a folder name stay part of the path.
std::string ReadOnlyUri(const std::string& file) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  // "file:" followed by "//" and an absolute path keeps a path starting with "//" out of the
  // authority part.
  std::string uri = file.starts_with('/') ? "file://" : "file:";
  for (const char ch : file) {
    const auto c = static_cast<unsigned char>(ch);
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
        c == '.' || c == '_' || c == '~' || c == '/') {
      uri += ch;
    } else {
      uri += '%';
      uri += kHex[c >> 4];
      uri += kHex[c & 0xF];
    }
  }
  return uri + "?mode=ro";
}

struct CloseDb {
  void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
};

}  // namespace

TAdsConnection::~TAdsConnection() {
  Disconnect();
  for (TAdsQuery* query : queries_) query->connection_ = nullptr;
}

void TAdsConnection::Connect() {
  if (db_ != nullptr) return;
  // An empty folder would open a file relative to the current folder.
  // Names in the texts are converted from the file system's UTF-8, as all text of the system is
  // Windows-1252.
  if (ConnectPath.empty() || !DirectoryExistsSafe(ConnectPath)) {
    RaiseAdsFailure(AdsFailure::FolderMissing, {Utf8ToAnsi(ConnectPath)});
  }
  const std::string file = AddBackslash(ConnectPath) + AdsDatabaseFileName;
  if (!FileExistsSafe(file)) RaiseAdsFailure(AdsFailure::FileMissing, {Utf8ToAnsi(file)});

  sqlite3* raw = nullptr;
  const int rc =
      sqlite3_open_v2(ReadOnlyUri(file).c_str(), &raw,
                      SQLITE_OPEN_READONLY | SQLITE_OPEN_URI | SQLITE_OPEN_NOMUTEX, nullptr);
  std::unique_ptr<sqlite3, CloseDb> db(raw);
  if (rc != SQLITE_OK) {
    if ((rc & 0xFF) == SQLITE_CANTOPEN) {
      const char* reason = raw != nullptr ? sqlite3_errmsg(raw) : sqlite3_errstr(rc);
      throw EADSDatabaseError(
          AdsFailureText(AdsFailure::CannotOpen, {Utf8ToAnsi(file), Utf8ToAnsi(reason)}), rc);
    }
    RaiseSqliteError(raw, rc, file);
  }
  sqlite3_extended_result_codes(raw, 1);
  sqlite3_busy_timeout(raw, BusyTimeoutMs);
  // Opening is lazy; reading the header now reports a file that is no database, or one held by a
  // writer, at connect time.
  const int probe = sqlite3_exec(raw, "PRAGMA schema_version", nullptr, nullptr, nullptr);
  if (probe != SQLITE_OK) RaiseSqliteError(raw, probe, file);

  db_ = db.release();
  file_ = file;
}

void TAdsConnection::Disconnect() {
  for (TAdsQuery* query : queries_) query->Close();
  if (db_ != nullptr) sqlite3_close_v2(db_);
  db_ = nullptr;
  file_.clear();
}

void TAdsConnection::Attach(TAdsQuery* query) {
  if (std::find(queries_.begin(), queries_.end(), query) == queries_.end()) {
    queries_.push_back(query);
  }
}

void TAdsConnection::Detach(TAdsQuery* query) { std::erase(queries_, query); }

}  // namespace pv
