// The export job end to end on real SQLite databases: what it writes, what the ledger lets
// through, and that bad input gives a message while nothing is written or changed.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <mutex>
#include <regex>

#include "export/PVAdressJob.h"
#include "files/FileUtil.h"
#include "files/ScopedOverride.h"
#include "tests/export/JobFixture.h"
#include "tests/export/LooseDb.h"
#include "tests/support/SampleDb.h"
#include "tests/support/TempDir.h"

namespace pv {
namespace {

using test::AddressRow;
using test::CardText;
using test::JobTest;
using test::Line;
using test::MakeDatabase;
using test::ReadFile;
using test::Row;
using test::TempDir;
using test::WriteFile;

TEST_F(JobTest, WritesEveryUsableRecordAsAVersion4Card) {
  MakeDatabase(dir.path(),
               {Row(1, "erika@muster.de 07111234567"), Row(2, "Telefon 0711"),
                Row(3, "0711-123456 +49711123456 b@c.de")},
               true);
  const TResultCell r = Run(false);
  EXPECT_TRUE(r.Ok);
  EXPECT_EQ(r.Text, "<b>2</b> Adressen nach <b>pv.vcf</b> geschrieben.");
  const std::string file = ReadFile(Out());
  const std::string card1 =
      std::regex_replace(CardOf(file, 1), std::regex("REV:[0-9]{8}T[0-9]{6}Z"), "REV:*");
  EXPECT_EQ(card1, CardText({"BEGIN:VCARD", "VERSION:4.0", "N:Muster1;Erika;;;", "FN:Erika Muster1",
                             "ORG:Vertrieb Nord", "REV:*", "PRODID:Parvela",
                             "CATEGORIES:Kunden,Gute Kunden",
                             "ADR;TYPE=WORK:;;K\xC3\xB6nigstra\xC3\x9F"
                             "e 1;Stuttgart;;70173;",
                             "TEL;TYPE=WORK:07111234567",
                             "EMAIL;TYPE=INTERNET;TYPE=WORK:erika@muster.de", "END:VCARD"}));
  EXPECT_TRUE(CardOf(file, 2).empty());
  EXPECT_NE(CardOf(file, 3).find(Line("EMAIL;TYPE=INTERNET;TYPE=WORK:b@c.de")), std::string::npos);
  EXPECT_EQ(file.find("TEL", file.find("Muster3")), std::string::npos);
  EXPECT_EQ(file.substr(file.size() - 11), "END:VCARD\r\n");
  EXPECT_EQ(ReadFile(Ledger()),
            "\"1\",\"2024.15.03.14.30.05\"\r\n\"3\",\"2024.15.03.14.30.05\"\r\n");
}

TEST_F(JobTest, AnsiOutputKeepsSingleBytes) {
  MakeDatabase(dir.path(), {Row(1, "erika@muster.de")}, true);
  EXPECT_TRUE(Run(false, true).Ok);
  const std::string file = ReadFile(Out());
  EXPECT_NE(file.find("K\xF6nigstra\xDF"
                      "e 1"),
            std::string::npos);
  EXPECT_EQ(file.find("\xC3"), std::string::npos);
}

TEST_F(JobTest, TheLedgerDecidesWhatAnExportOfChangesWrites) {
  std::vector<AddressRow> rows;
  for (int id = 1; id <= 5; ++id) rows.push_back(Row(id, "m" + std::to_string(id) + "@muster.de"));
  MakeDatabase(dir.path(), rows, true);

  EXPECT_EQ(Run(true).Text, "<b>5</b> Adressen nach <b>pv.vcf</b> geschrieben.");
  const std::string first = ReadFile(Out());

  const TResultCell again = Run(true);
  EXPECT_TRUE(again.Ok);
  EXPECT_EQ(again.Text, "Keine neuen Daten.");
  EXPECT_EQ(ReadFile(Out()), first);

  rows[1].adr_47_ = "20250101 120000000";  // record 2 changed
  rows[3].IX = "0711";                     // record 4 gives no contact any more
  MakeDatabase(dir.path(), rows, true);
  EXPECT_EQ(Run(true).Text, "<b>1</b> Adressen nach <b>pv.vcf</b> geschrieben.");
  EXPECT_FALSE(CardOf(ReadFile(Out()), 2).empty());
  EXPECT_TRUE(CardOf(ReadFile(Out()), 1).empty());
  const std::string ledger = ReadFile(Ledger());
  EXPECT_NE(ledger.find("\"2\",\"2025.01.01.12.00.00\""), std::string::npos);
  EXPECT_EQ(ledger.find("\"4\""), std::string::npos);

  // A full export writes everything and rebuilds the ledger.
  WriteFile(Ledger(), "\"99\",\"stale\"\r\n");
  EXPECT_EQ(Run(false).Text, "<b>4</b> Adressen nach <b>pv.vcf</b> geschrieben.");
  EXPECT_EQ(ReadFile(Ledger()).find("99"), std::string::npos);
}

TEST_F(JobTest, WithoutALedgerPathEveryContactIsWrittenEveryTime) {
  MakeDatabase(dir.path(), {Row(1, "a@muster.de"), Row(2, "b@muster.de")}, true);
  EXPECT_EQ(Run(true, false, "").Text, "<b>2</b> Adressen nach <b>pv.vcf</b> geschrieben.");
  EXPECT_EQ(Run(true, false, "").Text, "<b>2</b> Adressen nach <b>pv.vcf</b> geschrieben.");
  EXPECT_FALSE(FileExistsSafe(Ledger()));
}

// Without a ledger file the ledger is not kept at all; entries put into it beforehand are still
// judged against, and then it is kept.
TEST_F(JobTest, WithoutALedgerPathTheLedgerIsKeptOnlyWhenItHoldsEntries) {
  test::MakeLooseDatabase(dir.path(),
                          {Row(1, "a@muster.de"), Row(1, "a@muster.de"), Row(2, "b@muster.de")});
  const std::string stamp = "2024.15.03.14.30.05";  // that of Row
  for (const bool preloaded : {false, true}) {
    SCOPED_TRACE(preloaded);
    TPVAdressJob job(&receiver, Out(), dir.path(), "", true, false);
    if (preloaded) job.LedgerAdd(2, stamp);
    job.Execute();
    ASSERT_TRUE(receiver.Last().Ok) << receiver.Last().Text;
    EXPECT_EQ(job.Ledger->Empty(), !preloaded);
    const std::string file = ReadFile(Out());
    EXPECT_EQ(CardOf(file, 2).empty(), preloaded);
    // Both records with ID 1 are written: a record met twice is judged against the file only.
    const size_t first = file.find("N:Muster1;");
    EXPECT_NE(first, std::string::npos);
    EXPECT_NE(file.rfind("N:Muster1;"), first);
  }
}

// Every failure: a message, the completion, and neither the vCard file nor the ledger touched.
TEST_F(JobTest, BadInputGivesAMessageAndChangesNothing) {
  const std::string before = "old file\r\n", ledgerBefore = "\"1\",\"old\"\r\n";
  struct Case {
    const char* name;
    std::function<std::string(TempDir&)> prepare;  // returns the database folder
    std::string out;                               // "-": the normal output file
    const char* expected;                          // part of the message
    TWriteFailure failure = {};                    // injected while the case runs
  } cases[] = {
      {"folder missing", [](TempDir& d) { return d / "nowhere"; }, "-", "nowhere"},
      {"folder empty",
       [](TempDir& d) {
         mkdir((d / "empty").c_str(), 0700);
         return d / "empty";
       },
       "-", "Parvela.sqlite"},
      {"not a database",
       [](TempDir& d) {
         WriteFile(d / "Parvela.sqlite", std::string(4096, 'x'));
         return d.path();
       },
       "-", ""},
      {"truncated",
       [](TempDir& d) {
         std::vector<AddressRow> rows;
         for (int i = 1; i <= 3000; ++i) rows.push_back(Row(i, "m@muster.de"));
         MakeDatabase(d.path(), rows, true);
         const std::string db = ReadFile(d / "Parvela.sqlite");
         WriteFile(d / "Parvela.sqlite", db.substr(0, db.size() / 2));
         return d.path();
       },
       "-", ""},
      {"no table",
       [](TempDir& d) {
         sqlite3* db;
         sqlite3_open((d / "Parvela.sqlite").c_str(), &db);
         sqlite3_exec(db, "create table Other(x)", nullptr, nullptr, nullptr);
         sqlite3_close(db);
         return d.path();
       },
       "-", "Adressen"},
      {"missing column",
       [](TempDir& d) {
         sqlite3* db;
         sqlite3_open((d / "Parvela.sqlite").c_str(), &db);
         sqlite3_exec(db,
                      "create table Adressen(ID, NName, VName, Abt, IX, adr_42_, Ort, GR, adr_47_)",
                      nullptr, nullptr, nullptr);
         sqlite3_close(db);
         return d.path();
       },
       "-", "strasse"},
      {"output folder missing",
       [](TempDir& d) {
         MakeDatabase(d.path(), {Row(1, "a@muster.de")}, true);
         return d.path();
       },
       "no/such/folder/pv.vcf", "kann nicht erstellt werden"},
      {"output is a folder",
       [](TempDir& d) {
         MakeDatabase(d.path(), {Row(1, "a@muster.de")}, true);
         return d.path();
       },
       "vCard.Export", "kann nicht erstellt werden"},
      {"disk full",
       [](TempDir& d) {
         MakeDatabase(d.path(), {Row(1, "a@muster.de")}, true);
         return d.path();
       },
       "-",
       "kann nicht erstellt werden",
       {"pv.vcf", 100}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir d;
    const std::string db = c.prepare(d);
    TScopedOverride failure(SetWriteFailureForTests, c.failure);
    mkdir((d / "vCard.Export").c_str(), 0700);
    WriteFile(d / "vCard.Export/calc.txt", ledgerBefore);
    WriteFile(d / "pv.vcf", before);
    const std::string out = c.out == "-" ? d / "pv.vcf" : d / c.out;
    for (const bool onlyChanges : {true, false}) {
      const TResultCell r = Run(onlyChanges, false, d / "vCard.Export/calc.txt", out, db);
      EXPECT_FALSE(r.Ok);
      EXPECT_FALSE(r.Text.empty());
      EXPECT_NE(r.Text.find(c.expected), std::string::npos) << r.Text;
      EXPECT_EQ(ReadFile(d / "pv.vcf"), before);
      EXPECT_EQ(ReadFile(d / "vCard.Export/calc.txt"), ledgerBefore);
    }
  }
}

TEST_F(JobTest, ReadOnlyOutputFolder) {
  if (geteuid() == 0) GTEST_SKIP() << "root may write anywhere";
  MakeDatabase(dir.path(), {Row(1, "a@muster.de")}, true);
  mkdir((dir / "ro").c_str(), 0500);
  const TResultCell r = Run(false, false, "-", dir / "ro/pv.vcf");
  EXPECT_FALSE(r.Ok);
  EXPECT_NE(r.Text.find("kann nicht erstellt werden"), std::string::npos);
}

TEST_F(JobTest, ADatabaseLockedByAWriterGivesAMessage) {
  MakeDatabase(dir.path(), {Row(1, "a@muster.de")}, true);
  sqlite3* writer;
  ASSERT_EQ(sqlite3_open((dir / "Parvela.sqlite").c_str(), &writer), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(writer, "PRAGMA locking_mode=EXCLUSIVE; BEGIN EXCLUSIVE;", nullptr,
                         nullptr, nullptr),
            SQLITE_OK);
  const TResultCell r = Run(true);
  EXPECT_FALSE(r.Ok);
  EXPECT_NE(r.Text.find("locked"), std::string::npos) << r.Text;
  EXPECT_FALSE(FileExistsSafe(Out()));
  sqlite3_exec(writer, "ROLLBACK", nullptr, nullptr, nullptr);
  sqlite3_close(writer);
}

TEST_F(JobTest, ValuesThatAreNotTextNeverBreakTheExport) {
  AddressRow odd;
  odd.ID = 7;
  odd.IX = "odd@muster.de";
  odd.NName = std::string("M\xFCller\xFF");  // not UTF-8: taken as Windows-1252
  AddressRow empty;                          // every column NULL but the ID
  empty.ID = 8;
  MakeDatabase(dir.path(), {odd, empty}, true);
  const TResultCell r = Run(false);
  EXPECT_TRUE(r.Ok) << r.Text;
  EXPECT_NE(ReadFile(Out()).find(Line("N:M\xC3\xBCller\xC3\xBF;;;;")), std::string::npos)
      << ReadFile(Out());
}

}  // namespace
}  // namespace pv
