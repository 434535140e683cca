// The sync ledger against a plain reread of the file it wrote.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "carddav/SyncLedger.h"
#include "files/FileUtil.h"
#include "files/ScopedOverride.h"
#include "tests/support/TempDir.h"

namespace pv::carddav {
namespace {

using test::ReadFile;
using test::TempDir;
using test::WriteFile;

TEST(SyncLedger, FileNameDiffersPerBookAndUserAndStaysInTheExportFolder) {
  const std::string a = TSyncLedger::FileName("/db", "https://h/a/", "anna");
  EXPECT_EQ(a.rfind("/db/vCard.Export/carddav-", 0), 0u) << a;
  EXPECT_EQ(a.size(), std::string("/db/vCard.Export/carddav-.txt").size() + 16);
  EXPECT_EQ(a, TSyncLedger::FileName("/db/", "https://h/a/", "anna"));
  EXPECT_NE(a, TSyncLedger::FileName("/db", "https://h/b/", "anna"));
  EXPECT_NE(a, TSyncLedger::FileName("/db", "https://h/a/", "bob"));
  // The separator keeps "url"+"user" pairs apart that run together the same.
  EXPECT_NE(TSyncLedger::FileName("/db", "https://h/a", "nna"),
            TSyncLedger::FileName("/db", "https://h/an", "na"));
}

TEST(SyncLedger, SavesAndLoadsEveryEntry) {
  TempDir dir;
  const std::string path = dir / "sub/vCard.Export/ledger.txt";  // folders made on saving
  TSyncLedger out(path, "https://h/a/", "anna", "4.0");
  out.Entries()[5] = {"2020.01.02.03.04.05", "x5.vcf", "\"etag 5\""};
  out.Entries()[-3] = {"s", "x-3.vcf", ""};
  out.Entries()[1LL << 40] = {"s\tt", "big.vcf", "W/\"w\nx\""};  // tab and break become blanks
  out.Save();

  TSyncLedger in(path, "https://h/a/", "anna", "4.0");
  in.Load();
  EXPECT_FALSE(in.FormatChanged());
  ASSERT_EQ(in.Entries().size(), 3u);
  EXPECT_EQ(in.Entries()[5].Stamp, "2020.01.02.03.04.05");
  EXPECT_EQ(in.Entries()[5].ETag, "\"etag 5\"");
  EXPECT_EQ(in.Entries()[-3].Resource, "x-3.vcf");
  EXPECT_EQ(in.Entries()[-3].ETag, "");
  EXPECT_EQ(in.Entries()[1LL << 40].Stamp, "s t");
  EXPECT_EQ(in.Entries()[1LL << 40].ETag, "W/\"w x\"");
  EXPECT_EQ(ReadFile(path), in.Text());
}

TEST(SyncLedger, ForeignOrBrokenFilesGiveWhatCanBeTrusted) {
  const std::string head = "# vcard-parvela CardDAV ledger 1\n# url=U\n# user=anna\n# vcard=4.0\n";
  const struct {
    const char* name;
    std::string text;
    size_t entries;
    bool formatChanged;
  } rows[] = {
      {"good", head + "1\ts\tr.vcf\te\n2\ts\tr2.vcf\t\n", 2, false},
      {"CR LF lines",
       "# vcard-parvela CardDAV ledger 1\r\n# url=U\r\n# user=anna\r\n1\ts\tr\te\r\n", 1, true},
      {"broken lines skipped",
       head + "x\ts\tr\te\n1\ts\tr\n2\ts\t\te\n3 \ts\tr\te\n4\ts\tr\te\textra\n5\ts\tr\te\n", 1,
       false},
      {"other URL", "# vcard-parvela CardDAV ledger 1\n# url=V\n# user=anna\n1\ts\tr\te\n", 0,
       false},
      {"other user", "# vcard-parvela CardDAV ledger 1\n# url=U\n# user=bob\n1\ts\tr\te\n", 0,
       false},
      {"no header", "1\ts\tr\te\n", 0, false},
      {"other vCard version",
       "# vcard-parvela CardDAV ledger 1\n# url=U\n# user=anna\n# vcard=3.0\n1\ts\tr\te\n", 1,
       true},
      {"empty", "", 0, false},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    TSyncLedger ledger("unused", "U", "anna", "4.0");
    ledger.Parse(row.text);
    EXPECT_EQ(ledger.Entries().size(), row.entries);
    EXPECT_EQ(ledger.FormatChanged(), row.formatChanged);
  }
}

TEST(SyncLedger, MissingFileIsEmptyAndAFailedSaveKeepsTheOldFile) {
  TempDir dir;
  const std::string path = dir / "vCard.Export/l.txt";
  TSyncLedger ledger(path, "U", "anna", "4.0");
  ledger.Load();
  EXPECT_TRUE(ledger.Entries().empty());
  ledger.Entries()[1] = {"s", "r", "e"};
  ledger.Save();
  const std::string before = ReadFile(path);
  ledger.Entries()[2] = {"s", "r2", "e2"};
  {
    TScopedOverride failure(SetWriteFailureForTests, TWriteFailure{"l.txt", 10});
    EXPECT_ANY_THROW(ledger.Save());
  }
  EXPECT_EQ(ReadFile(path), before);
}

}  // namespace
}  // namespace pv::carddav
