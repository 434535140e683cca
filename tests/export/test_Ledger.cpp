// The change ledger: its file format, what a damaged file gives, and the rules over one export.
#include <gtest/gtest.h>

#include <fstream>
#include <random>

#include "export/PVAdressJob.h"
#include "files/FileUtil.h"
#include "files/ScopedOverride.h"
#include "tests/support/TempDir.h"

namespace pv {
namespace {

using test::ReadFile;
using test::TempDir;
using test::WriteFile;

// A job that only keeps a ledger; nothing is posted.
struct LedgerJob {
  explicit LedgerJob(const std::string& path, bool onlyChanges = true)
      : job(nullptr, "", "", path, onlyChanges, false) {}
  TPVAdressJob job;
};

TEST(Ledger, LinesAreQuotedWithInnerQuotesDoubled) {
  EXPECT_EQ(TPVAdressJob::LedgerLine({4711, "2024.15.03.14.30.05", true, nullptr}),
            "\"4711\",\"2024.15.03.14.30.05\"\r\n");
  EXPECT_EQ(TPVAdressJob::LedgerLine({-3, "a\"b", true, nullptr}), "\"-3\",\"a\"\"b\"\r\n");
}

TEST(Ledger, LoadingKeepsTheFirstLineOfARecordAndDropsUnusableLines) {
  TempDir dir;
  const std::string path = dir / "calc.txt";
  WriteFile(path,
            "\"7\",\"s7\"\r\n"
            "\"5\",\"s5\"\r\n"
            "\"7\",\"other\"\r\n"  // second line for 7: ignored
            "\"0\",\"zero\"\r\n"   // record number 0
            "\"x\",\"nan\"\r\n"    // not a number
            "\"9\",\"\"\r\n"       // empty stamp
            "\r\n"                 // blank line
            "11,unquoted\r\n"
            "\"12\",\"a\"\"b\"\r\n"
            "\"13\"\r\n"         // one field: no stamp, nothing borrowed from the line before
            "\"14\",\"last\"");  // no line end: not loaded
  LedgerJob l(path);
  l.job.LoadLedger();
  for (const auto& [id, stamp] : std::vector<std::pair<int, std::string>>{
           {5, "s5"}, {7, "s7"}, {11, "unquoted"}, {12, "a\"b"}}) {
    SCOPED_TRACE(id);
    EXPECT_FALSE(l.job.ContactChanged(id, stamp));
  }
  EXPECT_TRUE(l.job.ContactChanged(13, "a\"b"));
  EXPECT_TRUE(l.job.ContactChanged(14, "last"));
  EXPECT_TRUE(l.job.ContactChanged(9, ""));
}

TEST(Ledger, SavingWritesSeenEntriesInRecordOrder) {
  TempDir dir;
  const std::string path = dir / "calc.txt";
  WriteFile(path, "\"7\",\"s7\"\r\n\"5\",\"s5\"\r\n\"3\",\"gone\"\r\n\"12\",\"a\"\"b\"\r\n");
  LedgerJob l(path);
  l.job.LoadLedger();
  EXPECT_FALSE(l.job.ContactChanged(7, "s7"));  // unchanged
  EXPECT_TRUE(l.job.ContactChanged(5, "new"));  // changed: written, stamp updated
  EXPECT_TRUE(l.job.ContactChanged(9, "n9"));   // new record
  EXPECT_FALSE(l.job.ContactChanged(12, "a\"b"));
  // A second record with a number met before is judged against the file, not against the first
  // record: written whatever its stamp, and the last stamp met is kept.
  EXPECT_TRUE(l.job.ContactChanged(9, "n9"));
  EXPECT_TRUE(l.job.ContactChanged(9, "n9b"));
  l.job.SaveLedger();
  // 3 was not met in this export and drops out.
  EXPECT_EQ(ReadFile(path),
            "\"5\",\"new\"\r\n\"7\",\"s7\"\r\n\"9\",\"n9b\"\r\n\"12\",\"a\"\"b\"\r\n");
}

TEST(Ledger, DamagedFilesLoadWhatTheyCanAndNeverCrash) {
  TempDir dir;
  const std::string path = dir / "calc.txt";
  static const char kBinary[] = "\"1\",\"a\0b\"\r\n\x01\x02\xFF\r\n";
  std::mt19937 random(42);
  std::string garbage(10 << 20, '\0');
  for (char& c : garbage) c = static_cast<char>(random());
  const std::string cases[] = {
      garbage,
      "\"1\",\"ok\"\r\n\"2\",\"open quote\r\n\"3\",\"x\"\r\n",
      std::string(kBinary, sizeof kBinary - 1),
      "\"",
      "\r\n\r\n\r\n",
      ",,,,\r\n",
  };
  for (const auto& bytes : cases) {
    WriteFile(path, bytes);
    LedgerJob l(path);
    l.job.LoadLedger();
    l.job.ContactChanged(1, "ok");
    l.job.SaveLedger();
  }
  WriteFile(path, "\"1\",\"ok\"\r\n\"2\",\"open quote\r\n\"3\",\"x\"\r\n");
  LedgerJob l(path);
  l.job.LoadLedger();
  EXPECT_FALSE(l.job.ContactChanged(1, "ok"));  // read before the broken line
}

TEST(Ledger, WithoutAPathOrFolderNothingIsReadOrWritten) {
  TempDir dir;
  LedgerJob none("");
  none.job.LoadLedger();
  EXPECT_TRUE(none.job.ContactChanged(1, "s"));
  none.job.SaveLedger();

  LedgerJob missingFolder(dir / "vCard.Export/calc.txt");
  missingFolder.job.ContactChanged(1, "s");
  missingFolder.job.SaveLedger();  // swallowed: the folder is not created
  EXPECT_FALSE(std::ifstream(dir / "vCard.Export/calc.txt").good());
}

TEST(Ledger, AFailedSaveKeepsThePreviousLedgerWhole) {
  TempDir dir;
  const std::string path = dir / "calc.txt";
  WriteFile(path, "\"1\",\"old\"\r\n");
  TScopedOverride failure(SetWriteFailureForTests, TWriteFailure{"calc.txt", 5});
  LedgerJob l(path);
  l.job.ContactChanged(1, "new");
  l.job.ContactChanged(2, "new");
  l.job.SaveLedger();
  EXPECT_EQ(ReadFile(path), "\"1\",\"old\"\r\n");
}

}  // namespace
}  // namespace pv
