// The connection to the address database of one folder: the file Parvela.sqlite in it, opened
// read-only. Owned and used by one thread at a time.
#pragma once

#include <string>
#include <vector>

struct sqlite3;

namespace pv {

class TAdsQuery;

// Server type masks; only local access to the folder's own file exists here.
inline constexpr int stADS_LOCAL = 1;
inline constexpr int stADS_REMOTE = 2;

inline constexpr const char* AdsDatabaseFileName = "Parvela.sqlite";
inline constexpr int AdsDefaultBusyTimeoutMs = 5000;

class TAdsConnection {
 public:
  TAdsConnection() = default;
  // Closes and detaches every query still attached, then disconnects.
  ~TAdsConnection();
  TAdsConnection(const TAdsConnection&) = delete;
  TAdsConnection& operator=(const TAdsConnection&) = delete;

  std::string Name;         // the component name; informational only
  std::string ConnectPath;  // the database folder
  int AdsServerTypes = stADS_LOCAL;
  // How long a read waits for another process's write lock before it fails with SQLite's
  // "database is locked". Takes effect at the next Connect.
  int BusyTimeoutMs = AdsDefaultBusyTimeoutMs;

  // Opens <ConnectPath>/Parvela.sqlite read-only (never creates or changes anything) and reads its
  // header. Does nothing when already connected. Raises EADSDatabaseError when the folder or the
  // file is missing, the file cannot be opened, is damaged or is no database, or stays locked by a
  // writer for longer than BusyTimeoutMs; the connection is then still closed. Folder and file
  // names in the message are converted from UTF-8 to Windows-1252.
  void Connect();

  // Closes every attached query (they stay attached) and the database; harmless when closed.
  void Disconnect();

  bool IsConnected() const { return db_ != nullptr; }

  // The database file of the current connection; empty when not connected.
  const std::string& DatabaseFile() const { return file_; }

  // The open SQLite handle, or null. For the queries of this connection.
  sqlite3* Handle() const { return db_; }

 private:
  friend class TAdsQuery;
  void Attach(TAdsQuery* query);
  void Detach(TAdsQuery* query);

  sqlite3* db_ = nullptr;
  std::string file_;
  std::vector<TAdsQuery*> queries_;
};

}  // namespace pv
