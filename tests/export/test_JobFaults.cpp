// Failures of the export job, above all on the path that writes the output in pieces: each ends
// in a message and the completion, with the vCard file and the ledger as they were and no
// temporary file left; foreign exceptions reach the pool; texts are readable in the markup.
#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <set>

#include "files/FileUtil.h"
#include "files/ScopedOverride.h"
#include "tests/export/JobFixture.h"

namespace pv {
namespace {

using test::JobTest;
using test::MakeDatabase;
using test::ReadFile;
using test::Row;
using test::TempDir;
using test::WithoutRev;
using test::WriteFile;

// The names in a folder, without "." and "..".
std::set<std::string> Entries(const std::string& folder) {
  std::set<std::string> names;
  if (DIR* d = opendir(folder.c_str())) {
    while (const dirent* e = readdir(d)) {
      const std::string name = e->d_name;
      if (name != "." && name != "..") names.insert(name);
    }
    closedir(d);
  }
  return names;
}

class LargeOutputTest : public JobTest {
 protected:
  void SetUp() override {
    std::vector<test::AddressRow> rows;
    for (int id = 1; id <= 2000; ++id) {
      rows.push_back(Row(id, "m" + std::to_string(id) + "@muster.de 07111234567"));
    }
    MakeDatabase(dir.path(), rows, true);
    chunk = 16 << 10;
    // The size of the whole output, from a run into a file the injected failure does not match.
    EXPECT_TRUE(Run(false, false, "", dir / "probe.vcf").Ok);
    fullSize = static_cast<long long>(ReadFile(dir / "probe.vcf").size());
    EXPECT_GT(fullSize, 20 * static_cast<long long>(chunk));
    unlink((dir / "probe.vcf").c_str());
  }
  long long fullSize = 0;
};

TEST_F(LargeOutputTest, EveryOutputFailureGivesTheMessageAndKeepsTheOldFiles) {
  const std::string oldFile = "old file\r\n", oldLedger = "\"1\",\"old\"\r\n";
  struct Case {
    const char* name;
    std::string out;      // relative to the folder
    long long failAfter;  // injected ENOSPC after this many bytes; -1: none
    bool needsNonRoot;    // root may write there anyway
  } cases[] = {
      {"missing output folder", "no/such/folder/pv.vcf", -1, false},
      {"output folder is a file", "afile/pv.vcf", -1, false},
      {"read-only output folder", "ro/pv.vcf", -1, true},
      {"disk full at the start", "pv.vcf", 0, false},
      {"disk full in the middle", "pv.vcf", fullSize / 2, false},
      {"disk full at the last byte", "pv.vcf", fullSize - 1, false},
  };
  WriteFile(dir / "afile", "x");
  mkdir((dir / "ro").c_str(), 0500);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.needsNonRoot && geteuid() == 0) continue;  // covered by the cases that fail for root
    for (const bool onlyChanges : {false, true}) {
      SCOPED_TRACE(onlyChanges ? "changes" : "full");
      WriteFile(Out(), oldFile);
      WriteFile(Ledger(), oldLedger);
      const std::set<std::string> before = Entries(dir.path());
      const size_t posted = receiver.Count();
      const TResultCell r = [&] {
        TScopedOverride failure(SetWriteFailureForTests,
                                TWriteFailure{c.failAfter >= 0 ? "pv.vcf" : "", c.failAfter});
        return Run(onlyChanges, false, "-", dir / c.out);
      }();
      EXPECT_EQ(receiver.Count(), posted + 1);
      EXPECT_FALSE(r.Ok);
      EXPECT_NE(r.Text.find("kann nicht erstellt werden"), std::string::npos) << r.Text;
      EXPECT_EQ(ReadFile(Out()), oldFile);
      EXPECT_EQ(ReadFile(Ledger()), oldLedger);
      EXPECT_EQ(Entries(dir.path()), before);  // no temporary file left
      EXPECT_EQ(Entries(dir / "vCard.Export"), std::set<std::string>{"calc.txt"});
    }
  }
}

TEST_F(LargeOutputTest, WrittenInPiecesTheFileIsTheSameAsWrittenAtOnce) {
  ASSERT_TRUE(Run(false, false, "", dir / "pieces.vcf").Ok);
  chunk = kDefaultWriteChunk;
  ASSERT_TRUE(Run(false, false, "", dir / "whole.vcf").Ok);
  EXPECT_EQ(WithoutRev(ReadFile(dir / "pieces.vcf")), WithoutRev(ReadFile(dir / "whole.vcf")));
}

struct Foreign {};

TEST_F(JobTest, AForeignExceptionIsPostedThenRaisedForThePool) {
  MakeDatabase(dir.path(), {Row(1, "a@muster.de"), Row(2, "b@muster.de")}, true);
  WriteFile(Out(), "old");
  TPVAdressJob job(&receiver, Out(), dir.path(), Ledger(), false, false);
  job.Card->OnWriteContact = [](TvContact&, bool&) { throw Foreign{}; };
  EXPECT_THROW(job.Execute(), Foreign);
  ASSERT_EQ(receiver.Count(), 1u);
  EXPECT_FALSE(receiver.Last().Ok);
  EXPECT_EQ(ReadFile(Out()), "old");
}

TEST_F(JobTest, ThePoolSwallowsAForeignExceptionAndGoesOnServing) {
  MakeDatabase(dir.path(), {Row(1, "a@muster.de")}, true);
  TWorkerThreadPool pool(2, 2);
  auto bad = std::make_unique<TPVAdressJob>(&receiver, Out(), dir.path(), Ledger(), false, false);
  bad->Card->OnWriteContact = [](TvContact&, bool&) { throw Foreign{}; };
  pool.AddJob(std::move(bad));
  ASSERT_TRUE(receiver.WaitFor(1));
  EXPECT_FALSE(receiver.Last().Ok);
  pool.AddJob(std::make_unique<TPVAdressJob>(&receiver, Out(), dir.path(), Ledger(), false, false));
  ASSERT_TRUE(receiver.WaitFor(2));
  EXPECT_TRUE(receiver.Last().Ok) << receiver.Last().Text;
}

TEST_F(JobTest, AFailedLedgerSaveInAFullExportKeepsTheOldLedger) {
  MakeDatabase(dir.path(), {Row(1, "a@muster.de"), Row(2, "b@muster.de")}, true);
  WriteFile(Ledger(), "\"1\",\"old\"\r\n");
  const TResultCell r = [&] {
    TScopedOverride failure(SetWriteFailureForTests, TWriteFailure{"calc.txt", 5});
    return Run(false);
  }();
  EXPECT_TRUE(r.Ok) << r.Text;  // the cards are written; the ledger is only a memory
  EXPECT_EQ(ReadFile(Ledger()), "\"1\",\"old\"\r\n");
  EXPECT_EQ(Entries(dir / "vCard.Export"), std::set<std::string>{"calc.txt"});
  // A full export that succeeds replaces it.
  EXPECT_TRUE(Run(false).Ok);
  EXPECT_EQ(ReadFile(Ledger()),
            "\"1\",\"2024.15.03.14.30.05\"\r\n\"2\",\"2024.15.03.14.30.05\"\r\n");
}

// File and folder names and failure texts show in the result as written: Windows-1252, with the
// markup's own characters escaped.
TEST_F(JobTest, NamesAndMessagesInTheResultShowAsWritten) {
  MakeDatabase(dir.path(), {Row(1, "a@muster.de")}, true);
  const std::string missing = dir / "Kunden & <Partner> M\xC3\xBCnchen";
  const std::string shownMissing = dir.path() + "/Kunden &amp; &lt;Partner> M\xFCnchen";
  mkdir((dir / "A & B").c_str(), 0700);
  struct Case {
    const char* name;
    std::string db, out, text;
  } cases[] = {
      {"file name with markup", dir.path(), dir / "GmbH & Co <KG>.vcf",
       "<b>1</b> Adressen nach <b>GmbH &amp; Co &lt;KG>.vcf</b> geschrieben."},
      {"file name with umlaut", dir.path(), dir / "Kunden M\xC3\xBCnchen.vcf",
       "<b>1</b> Adressen nach <b>Kunden M\xFCnchen.vcf</b> geschrieben."},
      {"missing database folder", missing, Out(),
       "Das Datenbankverzeichnis " + shownMissing + " wurde nicht gefunden."},
      {"missing database file", dir / "A & B", Out(),
       "Die Datenbank " + dir.path() + "/A &amp; B/Parvela.sqlite wurde nicht gefunden."},
      {"output folder with markup", dir.path(), dir / "A & B/no/pv.vcf",
       "Datei " + dir.path() + "/A &amp; B/no/pv.vcf kann nicht erstellt werden"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const TResultCell r = Run(false, false, "", c.out, c.db);
    // The output failure also gives the system's reason after the name.
    EXPECT_EQ(r.Text.substr(0, c.text.size()), c.text);
  }
}

}  // namespace
}  // namespace pv
