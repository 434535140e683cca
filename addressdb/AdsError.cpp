#include "addressdb/AdsError.h"

#include <sqlite3.h>

#include <array>
#include <utility>

#include "files/AnsiText.h"

namespace pv {
namespace {

constexpr std::array<std::pair<AdsFailure, const char*>, 8> kFailureTexts = {{
    {AdsFailure::FolderMissing, "Das Datenbankverzeichnis %s wurde nicht gefunden."},
    {AdsFailure::FileMissing, "Die Datenbank %s wurde nicht gefunden."},
    {AdsFailure::CannotOpen,
     "Die Datenbank %s kann nicht ge\xF6"
     "ffnet werden (SQLite: %s)"},
    {AdsFailure::Damaged,
     "Die Datenbank %s ist besch\xE4"
     "digt oder keine Datenbank (SQLite: %s)"},
    {AdsFailure::NoCursor,
     "The SQL statement did not generate a cursor handle.  Use TAdsQuery.ExecSQL to execute SQL "
     "statements that are not SELECT statements"},
    {AdsFailure::NoConnection, "Die Abfrage hat keine Datenbankverbindung."},
    {AdsFailure::FieldNotFound, "Feld '%s' nicht gefunden"},
    {AdsFailure::FieldIndex, "Feldindex %s ist ung\xFCltig"},
}};

}  // namespace

std::string AdsFailureText(AdsFailure failure, std::initializer_list<std::string_view> args) {
  std::string_view pattern;
  for (const auto& [key, text] : kFailureTexts) {
    if (key == failure) pattern = text;
  }
  std::string out;
  auto arg = args.begin();
  for (size_t i = 0; i < pattern.size(); ++i) {
    if (pattern[i] == '%' && i + 1 < pattern.size() && pattern[i + 1] == 's') {
      if (arg != args.end()) out += *arg++;
      ++i;
    } else {
      out += pattern[i];
    }
  }
  return out;
}

void RaiseAdsFailure(AdsFailure failure, std::initializer_list<std::string_view> args) {
  throw EADSDatabaseError(AdsFailureText(failure, args));
}

void RaiseSqliteError(sqlite3* db, int code, const std::string& fileName) {
  // The message belongs to the last failed call on db; without a handle only the code is known.
  const char* raw = db != nullptr ? sqlite3_errmsg(db) : sqlite3_errstr(code);
  const std::string message = Utf8ToAnsi(raw != nullptr ? raw : "");
  switch (code & 0xFF) {
    case SQLITE_NOTADB:
    case SQLITE_CORRUPT:
      throw EADSDatabaseError(AdsFailureText(AdsFailure::Damaged, {Utf8ToAnsi(fileName), message}),
                              code);
    default:
      throw EADSDatabaseError(message, code);
  }
}

}  // namespace pv
