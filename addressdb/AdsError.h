// The error of the address database access and the fixed failure texts it raises, in one table.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

#include "files/Errors.h"

struct sqlite3;

namespace pv {

// A failure of the address database: SQLite's message, or one of the texts below.
class EADSDatabaseError : public Exception {
 public:
  explicit EADSDatabaseError(const std::string& message, int errorCode = 0)
      : Exception(message), ErrorCode(errorCode) {}
  // SQLite's extended result code; 0 when this layer found the failure itself.
  int ErrorCode;
};

// The failures that carry a text of their own instead of SQLite's.
enum class AdsFailure {
  FolderMissing,  // %s: the database folder
  FileMissing,    // %s: the database file
  CannotOpen,     // %s: the database file, %s: SQLite's message
  Damaged,        // %s: the database file, %s: SQLite's message
  NoCursor,       // the statement has no result columns
  NoConnection,   // the query was opened without a connection
  FieldNotFound,  // %s: the column name asked for
  FieldIndex,     // %s: the column index asked for
};

// The failure's text with each "%s" replaced by the next argument (missing ones become empty).
std::string AdsFailureText(AdsFailure failure, std::initializer_list<std::string_view> args = {});

// Raises EADSDatabaseError with the failure's text (ErrorCode 0).
[[noreturn]] void RaiseAdsFailure(AdsFailure failure,
                                  std::initializer_list<std::string_view> args = {});

// Raises EADSDatabaseError for the failed SQLite call that returned code on db (db may be null):
// SQLite's message as 1252 text, except that a damaged file or one that is not a database gets
// the Damaged text naming fileName (the file system's UTF-8 name, shown as 1252).
[[noreturn]] void RaiseSqliteError(sqlite3* db, int code, const std::string& fileName);

}  // namespace pv
