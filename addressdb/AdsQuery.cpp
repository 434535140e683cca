#include "addressdb/AdsQuery.h"

#include <sqlite3.h>

#include "addressdb/AdsConnection.h"
#include "addressdb/AdsError.h"
#include "files/AnsiText.h"

namespace pv {

int32_t TAdsField::AsInteger() const { return Query->AsInteger(Index); }
std::string TAdsField::AsString() const { return Query->AsString(Index); }

TAdsQuery::~TAdsQuery() { SetConnection(nullptr); }

void TAdsQuery::SetConnection(TAdsConnection* connection) {
  Close();
  if (connection_ == connection) return;
  if (connection_ != nullptr) connection_->Detach(this);
  connection_ = connection;
  if (connection_ != nullptr) connection_->Attach(this);
}

void TAdsQuery::Open() {
  Close();
  if (connection_ == nullptr) RaiseAdsFailure(AdsFailure::NoConnection);
  connection_->Connect();
  sqlite3* db = connection_->Handle();

  sqlite3_stmt* stmt = nullptr;
  const int rc = sqlite3_prepare_v2(db, SQL.data(), static_cast<int>(SQL.size()), &stmt, nullptr);
  if (rc != SQLITE_OK) RaiseSqliteError(db, rc, connection_->DatabaseFile());
  // No statement at all (empty or only a comment) or one without result columns: nothing to
  // read, and a statement that would change something is never run.
  if (stmt == nullptr || sqlite3_column_count(stmt) == 0) {
    sqlite3_finalize(stmt);
    RaiseAdsFailure(AdsFailure::NoCursor);
  }
  stmt_ = stmt;
  const int count = sqlite3_column_count(stmt);
  names_.reserve(count);
  for (int i = 0; i < count; ++i) {
    const char* name = sqlite3_column_name(stmt, i);
    names_.push_back(Utf8ToAnsi(name != nullptr ? name : ""));
  }
  try {
    Step();
  } catch (...) {
    Close();
    throw;
  }
  onFirstRow_ = true;
}

void TAdsQuery::Close() {
  if (stmt_ != nullptr) sqlite3_finalize(stmt_);
  stmt_ = nullptr;
  names_.clear();
  eof_ = true;
  onFirstRow_ = false;
}

void TAdsQuery::Step() {
  const int rc = sqlite3_step(stmt_);
  if (rc == SQLITE_ROW) {
    eof_ = false;
    return;
  }
  eof_ = true;
  if (rc != SQLITE_DONE) {
    RaiseSqliteError(sqlite3_db_handle(stmt_), rc, connection_->DatabaseFile());
  }
}

void TAdsQuery::First() {
  if (stmt_ == nullptr || onFirstRow_) return;
  sqlite3_reset(stmt_);  // its result repeats the last step's failure, already raised
  onFirstRow_ = true;
  Step();
}

void TAdsQuery::Next() {
  if (stmt_ == nullptr || eof_) return;
  onFirstRow_ = false;
  Step();
}

int TAdsQuery::FieldIndex(std::string_view name) const {
  for (size_t i = 0; i < names_.size(); ++i) {
    if (AnsiSameText(names_[i], name)) return static_cast<int>(i);
  }
  RaiseAdsFailure(AdsFailure::FieldNotFound, {name});
}

void TAdsQuery::CheckIndex(int index) const {
  if (index < 0 || index >= FieldCount()) {
    RaiseAdsFailure(AdsFailure::FieldIndex, {std::to_string(index)});
  }
}

bool TAdsQuery::IsNull(int index) const {
  CheckIndex(index);
  return eof_ || sqlite3_column_type(stmt_, index) == SQLITE_NULL;
}

int32_t TAdsQuery::AsInteger(int index) const {
  const auto value = static_cast<uint64_t>(AsInt64(index));
  return static_cast<int32_t>(static_cast<uint32_t>(value));
}

int64_t TAdsQuery::AsInt64(int index) const {
  if (IsNull(index)) return 0;
  return sqlite3_column_int64(stmt_, index);
}

std::string_view TAdsQuery::RawText(int index) const {
  CheckIndex(index);
  return eof_ ? std::string_view() : ColumnText(index);
}

void TAdsQuery::RawTexts(std::span<const int> indices, std::span<std::string_view> texts) const {
  for (const int index : indices) CheckIndex(index);
  for (size_t i = 0; i < indices.size(); ++i) {
    texts[i] = eof_ ? std::string_view() : ColumnText(indices[i]);
  }
}

std::string_view TAdsQuery::ColumnText(int index) const {
  // The pointer first, then the length: the length of the text form. A blob's bytes come as they
  // are stored, NULL as no pointer. The column's value is fetched once and read twice: each
  // column call of its own costs a round of the statement's checks, twice per column of every row.
  // Reading the fetched value directly is safe: a connection, opened without a mutex of its own, is
  // used by one thread at a time.
  sqlite3_value* value = sqlite3_column_value(stmt_, index);
  const void* data = sqlite3_value_text(value);
  if (data == nullptr) {
    // NULL, an empty blob - or no memory for the text form of a number.
    sqlite3* db = sqlite3_db_handle(stmt_);
    if (sqlite3_errcode(db) == SQLITE_NOMEM) {
      RaiseSqliteError(db, SQLITE_NOMEM, connection_->DatabaseFile());
    }
    return {};
  }
  const size_t size = static_cast<size_t>(sqlite3_value_bytes(value));
  return std::string_view(static_cast<const char*>(data), size);
}

void TAdsQuery::AsText(int index, std::string& out) const { AssignUtf8AsAnsi(out, RawText(index)); }

std::string TAdsQuery::AsString(int index) const {
  std::string out;
  AsText(index, out);
  return out;
}

}  // namespace pv
