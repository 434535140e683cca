// A read-only forward cursor over the rows of one SELECT statement on a TAdsConnection, with the
// columns read as 32-bit integers or as Windows-1252 text.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

struct sqlite3_stmt;

namespace pv {

class TAdsConnection;
class TAdsQuery;

// One column of the current row, found by name (TAdsQuery::FieldByName).
struct TAdsField {
  const TAdsQuery* Query;
  int Index;
  int32_t AsInteger() const;
  std::string AsString() const;
};

class TAdsQuery {
 public:
  TAdsQuery() = default;
  // Closes the cursor and detaches from the connection.
  ~TAdsQuery();
  TAdsQuery(const TAdsQuery&) = delete;
  TAdsQuery& operator=(const TAdsQuery&) = delete;

  std::string SQL;  // the statement, run verbatim by Open

  // Attaches the query to a connection (null detaches); an open cursor is closed first. The
  // connection must outlive the attachment; destroying it closes and detaches the query.
  void SetConnection(TAdsConnection* connection);
  TAdsConnection* Connection() const { return connection_; }

  // Connects the connection when needed, runs SQL and moves to the first row; an open cursor is
  // closed first. Raises EADSDatabaseError: no connection, SQLite's message for a statement it
  // rejects (missing table or column), the cursor text for a statement without result columns
  // (which is then not run), or any failure reading the first row. The cursor is closed then.
  // Text after the first statement is ignored.
  void Open();
  void Close();
  bool Active() const { return stmt_ != nullptr; }

  // Back to the first row (runs the statement again unless the cursor is still on it).
  // Next moves one row on; both do nothing on a closed cursor and Next nothing at the end.
  // A failure reading a row (damaged file, "database is locked" after the busy timeout) raises
  // EADSDatabaseError and leaves the cursor at its end.
  void First();
  void Next();
  // True after the last row, for an empty result and for a closed cursor.
  bool Eof() const { return eof_; }

  int FieldCount() const { return static_cast<int>(names_.size()); }
  // The index of the result column with this name, ignoring letter case (the first of equal
  // names). Raises EADSDatabaseError "Feld '<name>' nicht gefunden" for a missing column.
  int FieldIndex(std::string_view name) const;
  TAdsField FieldByName(std::string_view name) const { return {this, FieldIndex(name)}; }

  // The readers below raise EADSDatabaseError for an index outside 0..FieldCount()-1 and give 0 or
  // empty text at Eof. No stored value makes them fail:
  // AsInteger: NULL gives 0; an integer is cut to its low 32 bits (a 32-bit read: 2^32 + 5 gives
  // 5, 2^31 gives -2^31); text and real values go through SQLite's integer conversion first
  // (a leading number or 0, reals truncated and clamped to 64 bits).
  int32_t AsInteger(int index) const;
  // The integer at its full 64-bit width (NULL gives 0; other values converted as above), so that
  // a caller can tell a value outside 32 bits from one inside.
  int64_t AsInt64(int index) const;
  // AsText replaces out by the value as Windows-1252, reusing out's capacity: NULL gives empty
  // text; valid UTF-8 is decoded (characters outside the code page become '?'); text or a blob
  // that is not valid UTF-8 is taken byte for byte; numbers give SQLite's text form.
  void AsText(int index, std::string& out) const;
  // The value's bytes as stored (UTF-8 text, a blob's bytes, a number's text form; empty for
  // NULL), without conversion. Valid until the cursor moves.
  std::string_view RawText(int index) const;
  // RawText of each of indices into texts (as many), checking the indices first.
  void RawTexts(std::span<const int> indices, std::span<std::string_view> texts) const;
  std::string AsString(int index) const;
  bool IsNull(int index) const;  // true for NULL and at Eof

 private:
  friend class TAdsConnection;
  void Step();
  void CheckIndex(int index) const;
  // RawText of a checked index on a current row.
  std::string_view ColumnText(int index) const;

  TAdsConnection* connection_ = nullptr;
  sqlite3_stmt* stmt_ = nullptr;
  std::vector<std::string> names_;  // result column names, 1252
  bool eof_ = true;
  bool onFirstRow_ = false;
};

}  // namespace pv
