#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "addressdb/AdsConnection.h"
#include "addressdb/AdsError.h"
#include "addressdb/AdsQuery.h"
#include "files/AnsiText.h"
#include "tests/support/SampleDb.h"
#include "tests/support/TempDir.h"

namespace pv {
namespace {

namespace fs = std::filesystem;
using test::AddressRow;

constexpr const char* kJobSql =
    "Select ID,NName,VName,Abt,IX,adr_42_,Ort,strasse,GR,adr_47_ from Adressen";

// Runs SQL on the file with a read-write connection of its own (creating the file).
void Sql(const std::string& file, const std::string& sql) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(file.c_str(), &db), SQLITE_OK);
  char* error = nullptr;
  const int rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error);
  EXPECT_EQ(rc, SQLITE_OK) << sql << ": " << (error ? error : "");
  sqlite3_free(error);
  sqlite3_close(db);
}

// The message of the EADSDatabaseError that f raises; fails the test when it raises none.
template <typename F>
std::string ErrorOf(F&& f, int* code = nullptr) {
  try {
    f();
  } catch (const EADSDatabaseError& e) {
    if (code) *code = e.ErrorCode;
    return e.what();
  }
  ADD_FAILURE() << "no EADSDatabaseError";
  return {};
}

class AdsQueryTest : public ::testing::Test {
 protected:
  // A connection to folder and the job's statement on it.
  void Attach(const std::string& folder, const char* sql = kJobSql) {
    connection.ConnectPath = folder;
    query.SetConnection(&connection);
    query.SQL = sql;
  }
  std::vector<std::string> Column(const char* name) {
    std::vector<std::string> out;
    const int index = query.FieldIndex(name);
    std::string text;
    for (query.First(); !query.Eof(); query.Next()) {
      query.AsText(index, text);
      out.push_back(text);
    }
    return out;
  }

  test::TempDir dir;
  TAdsConnection connection;
  TAdsQuery query;
};

TEST_F(AdsQueryTest, ReadsEveryColumnOfEveryRowInOrder) {
  std::vector<AddressRow> rows(3);
  rows[0] = {9,       "Schmidt",   "Anna",        " Vertrieb ",       "a@b.de 0711123456",
             "70173", "Stuttgart", "Hauptstr. 1", "Kunden\r\nPresse", "20240315 143005120"};
  rows[1] = {2, "Weber", "Jan", {}, {}, {}, {}, {}, {}, {}};
  rows[2] = {5, "Lang", {}, "", "", "04103", "Leipzig", {}, "", "20160101 000000000"};
  test::MakeDatabase(dir.path(), rows);
  Attach(dir.path(), (std::string(kJobSql) + " order by NName").c_str());
  query.Open();

  const char* names[] = {"ID",      "NName", "VName",   "Abt", "IX",
                         "adr_42_", "Ort",   "strasse", "GR",  "adr_47_"};
  ASSERT_EQ(query.FieldCount(), 10);
  for (int i = 0; i < 10; ++i) EXPECT_EQ(query.FieldIndex(names[i]), i);

  const int order[] = {2, 0, 1};  // Lang, Schmidt, Weber
  std::string text;
  for (const int r : order) {
    SCOPED_TRACE(*rows[r].NName);
    ASSERT_FALSE(query.Eof());
    EXPECT_EQ(query.AsInteger(0), *rows[r].ID);
    const std::optional<std::string>* texts[] = {
        &rows[r].NName, &rows[r].VName,   &rows[r].Abt, &rows[r].IX,     &rows[r].adr_42_,
        &rows[r].Ort,   &rows[r].strasse, &rows[r].GR,  &rows[r].adr_47_};
    for (int i = 1; i < 10; ++i) {
      query.AsText(i, text);
      EXPECT_EQ(text, texts[i - 1]->value_or("")) << names[i];
      EXPECT_EQ(query.IsNull(i), !texts[i - 1]->has_value()) << names[i];
    }
    // The bulk reading gives what reading column by column gives, in the order asked.
    const int columns[] = {9, 1, 3, 1};
    std::string_view bulk[4];
    query.RawTexts(columns, bulk);
    for (size_t i = 0; i < std::size(columns); ++i) EXPECT_EQ(bulk[i], query.RawText(columns[i]));
    query.Next();
  }
  EXPECT_TRUE(query.Eof());
  const int columns[] = {1, 2};
  std::string_view bulk[2] = {"left", "over"};
  query.RawTexts(columns, bulk);  // at the end: empty texts
  EXPECT_TRUE(bulk[0].empty() && bulk[1].empty());
}

TEST_F(AdsQueryTest, TextArrivesAsWindows1252) {
  struct Case {
    const char* name;
    std::optional<std::string> stored;  // UTF-8, or bytes that are not
    std::string expected;               // Windows-1252
  };
  const Case cases[] = {
      {"umlauts",
       "M\xC3\xBCller Stra\xC3\x9F"
       "e",
       "M\xFCller Stra\xDF"
       "e"},
      {"euro sign", "\xE2\x82\xAC 5", "\x80 5"},
      {"outside the code page",
       "\xC5\x81\xC3\xB3"
       "d\xC5\xBA",
       "?\xF3"
       "d?"},
      {"not UTF-8: taken byte for byte", "M\xFCller \xE9t\xE9", "M\xFCller \xE9t\xE9"},
      {"line breaks stay", "Kunden\r\nPresse", "Kunden\r\nPresse"},
      {"empty", "", ""},
      {"NULL", std::nullopt, ""},
  };
  std::vector<AddressRow> rows;
  for (const auto& c : cases) rows.push_back({{}, c.stored});
  test::MakeDatabase(dir.path(), rows);
  Attach(dir.path());
  query.Open();
  // The previous contents of out are replaced, never appended to.
  std::string text = "left over from the previous row";
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_FALSE(query.Eof());
    query.AsText(query.FieldIndex("NName"), text);
    EXPECT_EQ(text, c.expected);
    query.Next();
  }
}

// Values that the schema of the real table would not hold; none may break the reader.
TEST_F(AdsQueryTest, OddStoredValuesGiveDefinedResults) {
  struct Case {
    const char* value;  // an SQL literal
    int32_t asInteger;
    std::string asText;
  };
  const Case cases[] = {
      {"NULL", 0, ""},
      {"42", 42, "42"},
      {"-1", -1, "-1"},
      {"2147483647", INT32_MAX, "2147483647"},
      {"2147483648", INT32_MIN, "2147483648"},  // the low 32 bits
      {"4294967301", 5, "4294967301"},          // 2^32 + 5
      {"-9223372036854775808", 0, "-9223372036854775808"},
      {"'17'", 17, "17"},
      {"' 17abc'", 17, " 17abc"},
      {"'abc'", 0, "abc"},
      {"''", 0, ""},
      {"3.9", 3, "3.9"},
      {"-3.9", -3, "-3.9"},
      {"1e300", -1,
       "1.0e+300"},  // clamped to the largest 64-bit integer, whose low bits are all set
      {"x'3132'", 12, "12"},
      {"x''", 0, ""},
      {"x'410042'", 0, std::string("A\0B", 3)},
      {"x'FC'", 0, "\xFC"},
      {"x'C3BC'", 0, "\xFC"},
  };
  const std::string file = dir / AdsDatabaseFileName;
  std::string sql =
      "CREATE TABLE Adressen (ID, NName, VName, Abt, IX, adr_42_, Ort, strasse, GR,"
      " adr_47_, n INTEGER);";
  for (size_t i = 0; i < std::size(cases); ++i) {
    const std::string v = cases[i].value;
    sql += "INSERT INTO Adressen VALUES (" + v + "," + v + ",NULL,NULL,NULL,NULL,NULL,NULL,NULL," +
           v + "," + std::to_string(i) + ");";
  }
  Sql(file, sql);
  Attach(dir.path(), (std::string(kJobSql) + " order by n").c_str());
  query.Open();
  std::string text;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.value);
    ASSERT_FALSE(query.Eof());
    EXPECT_EQ(query.AsInteger(0), c.asInteger);
    // The 32-bit reading is the low half of the wide one.
    EXPECT_EQ(static_cast<int32_t>(static_cast<uint64_t>(query.AsInt64(0))), c.asInteger);
    query.AsText(1, text);
    EXPECT_EQ(text, c.asText);
    // Reading a column both ways keeps each reading as it was.
    EXPECT_EQ(query.AsInteger(9), c.asInteger);
    EXPECT_EQ(query.AsString(9), c.asText);
    EXPECT_EQ(query.AsInteger(9), c.asInteger);
    query.Next();
  }
}

// The wide reading keeps what the 32-bit one cuts, so that the export can tell such IDs apart.
TEST_F(AdsQueryTest, WideIntegersKeepEveryBit) {
  const struct {
    const char* value;
    int64_t wide;
  } cases[] = {
      {"NULL", 0},
      {"4294967297", 4294967297LL},
      {"-4294967297", -4294967297LL},
      {"2147483648", 2147483648LL},
      {"9223372036854775807", INT64_MAX},
      {"-9223372036854775808", INT64_MIN},
      {"'4294967297'", 4294967297LL},
      {"1e300", INT64_MAX},
  };
  std::string sql = "CREATE TABLE Adressen (ID, n INTEGER);";
  for (size_t i = 0; i < std::size(cases); ++i) {
    sql += "INSERT INTO Adressen VALUES (" + std::string(cases[i].value) + "," + std::to_string(i) +
           ");";
  }
  Sql(dir / AdsDatabaseFileName, sql);
  Attach(dir.path(), "select ID from Adressen order by n");
  query.Open();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.value);
    ASSERT_FALSE(query.Eof());
    EXPECT_EQ(query.AsInt64(0), c.wide);
    query.Next();
  }
  EXPECT_EQ(query.AsInt64(0), 0);  // at the end
}

TEST_F(AdsQueryTest, CursorMovesAndEndsSafely) {
  test::MakeDatabase(dir.path(), {{1, "a"}, {2, "b"}});
  Attach(dir.path());
  EXPECT_TRUE(query.Eof());  // closed
  query.Next();
  query.First();
  query.Open();
  EXPECT_EQ(Column("NName"), (std::vector<std::string>{"a", "b"}));
  EXPECT_TRUE(query.Eof());
  query.Next();  // past the end: nothing happens
  EXPECT_TRUE(query.Eof());
  // At the end the readers give the empty values.
  EXPECT_EQ(query.AsInteger(0), 0);
  EXPECT_EQ(query.AsString(1), "");
  EXPECT_TRUE(query.IsNull(1));
  // First runs the statement again.
  EXPECT_EQ(Column("nname"), (std::vector<std::string>{"a", "b"}));
  // Opening again starts afresh with the statement as it is now.
  query.SQL = "select NName from Adressen where ID = 2";
  query.Open();
  EXPECT_EQ(Column("NNAME"), (std::vector<std::string>{"b"}));
  query.Close();
  EXPECT_FALSE(query.Active());
  EXPECT_TRUE(query.Eof());
}

TEST_F(AdsQueryTest, EmptyTableIsAtTheEndAtOnce) {
  test::MakeDatabase(dir.path(), {});
  Attach(dir.path());
  query.Open();
  EXPECT_TRUE(query.Active());
  EXPECT_TRUE(query.Eof());
  EXPECT_EQ(query.FieldCount(), 10);
}

TEST_F(AdsQueryTest, BadColumnNameOrIndexRaises) {
  test::MakeDatabase(dir.path(), {{1, "a"}});
  Attach(dir.path());
  query.Open();
  EXPECT_EQ(ErrorOf([&] { query.FieldIndex("Telefon"); }), "Feld 'Telefon' nicht gefunden");
  EXPECT_EQ(ErrorOf([&] { query.FieldByName(""); }), "Feld '' nicht gefunden");
  for (const int index : {-1, 10, INT_MAX}) {
    SCOPED_TRACE(index);
    EXPECT_EQ(ErrorOf([&] { query.AsInteger(index); }),
              "Feldindex " + std::to_string(index) + " ist ung\xFCltig");
    std::string out;
    EXPECT_NE(ErrorOf([&] { query.AsText(index, out); }), "");
    const int columns[] = {1, index};
    std::string_view texts[2];
    EXPECT_NE(ErrorOf([&] { query.RawTexts(columns, texts); }), "");
  }
  query.Close();
  EXPECT_NE(ErrorOf([&] { query.AsInteger(0); }), "");  // a closed cursor has no fields
}

TEST_F(AdsQueryTest, StatementWithoutResultColumnsIsRefusedAndNotRun) {
  test::MakeDatabase(dir.path(), {{1, "a"}});
  const std::string noCursor =
      "The SQL statement did not generate a cursor handle.  Use TAdsQuery.ExecSQL to execute "
      "SQL statements that are not SELECT statements";
  for (const char* sql : {"DELETE FROM Adressen", "", "  -- only a comment",
                          "PRAGMA user_version = 3", "CREATE TABLE x (a)"}) {
    SCOPED_TRACE(sql);
    Attach(dir.path(), sql);
    EXPECT_EQ(ErrorOf([&] { query.Open(); }), noCursor);
    EXPECT_FALSE(query.Active());
  }
  Attach(dir.path(), "select count(*) from Adressen");
  query.Open();
  EXPECT_EQ(query.AsInteger(0), 1);
}

// Every way the folder can be unusable; the job shows the message as its result.
TEST_F(AdsQueryTest, UnusableDatabaseGivesClearMessages) {
  const std::string folder = dir / "db";
  const std::string file = folder + "/Parvela.sqlite";
  struct Case {
    const char* name;
    std::function<void()> setUp;
    std::string message;
  };
  const Case cases[] = {
      {"missing folder", [] {}, "Das Datenbankverzeichnis " + folder + " wurde nicht gefunden."},
      {"folder is a file", [&] { test::WriteFile(folder, "x"); },
       "Das Datenbankverzeichnis " + folder + " wurde nicht gefunden."},
      {"missing file", [&] { fs::create_directory(folder); },
       "Die Datenbank " + file + " wurde nicht gefunden."},
      {"file is a folder", [&] { fs::create_directories(file); },
       "Die Datenbank " + file + " wurde nicht gefunden."},
      {"not a database",
       [&] {
         fs::create_directory(folder);
         test::WriteFile(file, std::string(4096, 'x'));
       },
       "Die Datenbank " + file +
           " ist besch\xE4"
           "digt oder keine Datenbank (SQLite: file is not a database)"},
      {"missing table",
       [&] {
         fs::create_directory(folder);
         Sql(file, "CREATE TABLE Kunden (ID INTEGER)");
       },
       "no such table: Adressen"},
      {"missing column",
       [&] {
         fs::create_directory(folder);
         Sql(file,
             "CREATE TABLE Adressen (ID, NName, VName, Abt, adr_42_, Ort, strasse, GR, adr_47_)");
       },
       "no such column: IX"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::error_code ec;
    fs::remove_all(folder, ec);
    c.setUp();
    TAdsConnection conn;
    conn.ConnectPath = folder;
    TAdsQuery q;
    q.SetConnection(&conn);
    q.SQL = kJobSql;
    const std::string message = ErrorOf([&] { q.Open(); });
    EXPECT_EQ(message, c.message);
    EXPECT_FALSE(q.Active());
    // A read-only open never creates the file.
    if (c.name == std::string("missing file")) {
      EXPECT_FALSE(fs::exists(file));
    }
  }
}

// Folder and file names reach the message as Windows-1252, like every text of the system.
TEST_F(AdsQueryTest, NamesInFailureTextsAreWindows1252) {
  const std::string folder = dir / "Kunden M\xC3\xBCnchen";
  const std::string shown = Utf8ToAnsi(dir.path()) + "/Kunden M\xFCnchen";
  struct Case {
    const char* name;
    std::function<void()> setUp;
    std::string message;
  };
  const Case cases[] = {
      {"missing folder", [] {}, "Das Datenbankverzeichnis " + shown + " wurde nicht gefunden."},
      {"missing file", [&] { fs::create_directory(folder); },
       "Die Datenbank " + shown + "/Parvela.sqlite wurde nicht gefunden."},
      {"not a database",
       [&] {
         fs::create_directory(folder);
         test::WriteFile(folder + "/Parvela.sqlite", std::string(4096, 'x'));
       },
       "Die Datenbank " + shown +
           "/Parvela.sqlite ist besch\xE4"
           "digt oder keine Datenbank (SQLite: file is not a database)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::error_code ec;
    fs::remove_all(folder, ec);
    c.setUp();
    TAdsConnection conn;
    conn.ConnectPath = folder;
    EXPECT_EQ(ErrorOf([&] { conn.Connect(); }), c.message);
  }
}

TEST_F(AdsQueryTest, EmptyFolderNameNeverOpensAFileOfTheCurrentFolder) {
  const fs::path before = fs::current_path();
  fs::current_path(dir.path());
  test::MakeDatabase(".", {{1, "here"}});
  connection.ConnectPath = "";
  const std::string message = ErrorOf([&] { connection.Connect(); });
  fs::current_path(before);
  EXPECT_EQ(message, "Das Datenbankverzeichnis  wurde nicht gefunden.");
  EXPECT_FALSE(connection.IsConnected());
}

TEST_F(AdsQueryTest, TruncatedDatabaseRaisesWhileReading) {
  const std::string file = test::MakeSampleDatabase(dir.path(), 3000, 7);
  const std::string bytes = test::ReadFile(file);
  ASSERT_GT(bytes.size(), 100000u);
  test::WriteFile(file, bytes.substr(0, bytes.size() / 2));
  Attach(dir.path());
  int rows = 0;
  int code = 0;
  const std::string message = ErrorOf(
      [&] {
        for (query.Open(); !query.Eof(); query.Next()) ++rows;
      },
      &code);
  EXPECT_EQ(message.substr(0, 14 + file.size()), "Die Datenbank " + file);
  EXPECT_NE(message.find("besch\xE4"
                         "digt"),
            std::string::npos)
      << message;
  EXPECT_EQ(code & 0xFF, SQLITE_CORRUPT);
  EXPECT_LT(rows, 3000);
  EXPECT_TRUE(query.Eof());
  query.Next();  // harmless after the failure
}

TEST_F(AdsQueryTest, FolderWithSpecialCharactersIsOpenedExactly) {
  // URI syntax characters in the path must not cut it short or be decoded.
  const std::string folder = dir / "a?b#c%41 d&mode=rwc\xE4";
  test::MakeDatabase(folder, {{1, "richtig"}});
  test::MakeDatabase(dir / "a", {{1, "falsch"}});
  Attach(folder);
  query.Open();
  EXPECT_EQ(query.AsString(1), "richtig");
}

TEST_F(AdsQueryTest, ReadOnlyFolderIsReadAndLeftUnchanged) {
  const std::string folder = dir / "ro";
  test::MakeDatabase(folder, {{1, "a"}, {2, "b"}});
  const std::string file = folder + "/Parvela.sqlite";
  const std::string before = test::ReadFile(file);
  chmod(file.c_str(), 0444);
  chmod(folder.c_str(), 0555);
  Attach(folder);
  query.Open();
  EXPECT_EQ(Column("NName"), (std::vector<std::string>{"a", "b"}));
  connection.Disconnect();
  EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 1);
  EXPECT_EQ(test::ReadFile(file), before);
}

TEST_F(AdsQueryTest, DatabaseLockedByWriterFailsAfterTheBusyTimeout) {
  test::MakeDatabase(dir.path(), {{1, "a"}});
  sqlite3* writer = nullptr;
  ASSERT_EQ(sqlite3_open((dir / "Parvela.sqlite").c_str(), &writer), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(writer, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);

  Attach(dir.path());
  connection.BusyTimeoutMs = 200;
  const auto start = std::chrono::steady_clock::now();
  int code = 0;
  EXPECT_EQ(ErrorOf([&] { query.Open(); }, &code), "database is locked");
  const auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(code & 0xFF, SQLITE_BUSY);
  EXPECT_GE(waited, std::chrono::milliseconds(150));
  EXPECT_LT(waited, std::chrono::milliseconds(1000));
  EXPECT_FALSE(connection.IsConnected());

  // Once the writer is done, the same objects read normally.
  sqlite3_exec(writer, "COMMIT", nullptr, nullptr, nullptr);
  sqlite3_close(writer);
  query.Open();
  EXPECT_EQ(query.AsString(1), "a");
}

TEST_F(AdsQueryTest, ConnectionAndQueryMayGoInEitherOrder) {
  test::MakeDatabase(dir.path(), {{1, "a"}});
  auto conn = std::make_unique<TAdsConnection>();
  conn->ConnectPath = dir.path();
  TAdsQuery q;
  q.SetConnection(conn.get());
  q.SQL = kJobSql;
  q.Open();
  conn->Disconnect();  // closes the cursor
  EXPECT_FALSE(q.Active());
  q.Open();  // connects again
  EXPECT_TRUE(q.Active());
  conn.reset();  // detaches the query
  EXPECT_FALSE(q.Active());
  EXPECT_EQ(q.Connection(), nullptr);
  EXPECT_NE(ErrorOf([&] { q.Open(); }), "");

  // And the other way round: a destroyed query is no longer closed by its connection.
  TAdsConnection second;
  second.ConnectPath = dir.path();
  {
    TAdsQuery gone;
    gone.SetConnection(&second);
    gone.SQL = kJobSql;
    gone.Open();
  }
  second.Disconnect();
}

}  // namespace
}  // namespace pv
