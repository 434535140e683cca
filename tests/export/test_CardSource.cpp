// The card stream of the address table: the same records and the same bytes the file export
// writes, with wide IDs, and failures raised as the job's own exceptions.
#include <gtest/gtest.h>

#include "addressdb/AdsError.h"
#include "export/CardSource.h"
#include "export/PVAdressJob.h"
#include "tests/export/JobFixture.h"
#include "tests/export/LooseDb.h"
#include "tests/support/SampleDb.h"
#include "tests/support/TempDir.h"

namespace pv {
namespace {

using test::AddressRow;
using test::MakeDatabase;
using test::ReadFile;
using test::TempDir;
using test::WithoutRev;

AddressRow Row(int64_t id, std::string ix) {
  AddressRow r;
  r.ID = id;
  r.NName = "M\xC3\xBCller";
  r.VName = "Anna";
  r.Abt = "GmbH & Co. KG";
  r.IX = std::move(ix);
  r.adr_47_ = "20240315 143005120";
  return r;
}

// The whole UTF-8 output of a job without a ledger, in the given version. ("Als ANSI" is asked for
// with 3.0, whose file is UTF-8 all the same.)
std::string JobOutput(const TempDir& dir, TvCardVersion version) {
  TPVAdressJob job(nullptr, dir / "out.vcf", dir.path(), "", false, version == vv30, version);
  job.Execute();
  EXPECT_NE(job.ResultText().find("geschrieben"), std::string::npos) << job.ResultText();
  return ReadFile(dir / "out.vcf");
}

TEST(CardSource, GivesTheUsableRecordsWithTheFileExportsCardText) {
  TempDir dir;
  test::MakeLooseDatabase(
      dir.path(),
      {Row(3, "anna@example.de"), Row(1, "nothing here"), Row(4294967297, "07111234567"),
       Row(-2, "x@y.de 0711 07119876543"), Row(3, "anna@example.de")});
  for (const TvCardVersion version : {vv40, vv30}) {
    SCOPED_TRACE(version == vv40 ? "4.0" : "3.0");
    std::vector<int64_t> ids;
    std::string all;
    ReadCardRecords(dir.path(), version, [&](const TCardRecord& r) {
      ids.push_back(r.RecordID);
      EXPECT_EQ(r.ChangeStamp, "2024.15.03.14.30.05");
      EXPECT_TRUE(r.CardText.starts_with("BEGIN:VCARD"));
      EXPECT_TRUE(r.CardText.ends_with("END:VCARD\r\n"));
      all += r.CardText;
    });
    EXPECT_EQ(ids, (std::vector<int64_t>{3, 4294967297, -2, 3}));
    EXPECT_EQ(WithoutRev(all), WithoutRev(JobOutput(dir, version)));
    EXPECT_NE(all.find(version == vv40 ? "VERSION:4.0" : "VERSION:3.0"), std::string::npos);
    EXPECT_NE(all.find("M\xC3\xBCller"), std::string::npos);  // UTF-8 in both versions
  }
}

TEST(CardSource, TheSinkMayStopTheReadingByThrowing) {
  TempDir dir;
  std::vector<AddressRow> rows;
  for (int id = 1; id <= 5000; ++id) rows.push_back(Row(id, "a@example.de"));
  MakeDatabase(dir.path(), rows);
  struct Enough {};
  int calls = 0;
  EXPECT_THROW(ReadCardRecords(dir.path(), vv40,
                               [&](const TCardRecord&) {
                                 if (++calls == 10) throw Enough{};
                               }),
               Enough);
  EXPECT_EQ(calls, 10);
}

TEST(CardSource, AMissingOrBrokenDatabaseRaisesTheDatabaseError) {
  TempDir dir;
  const auto never = [](const TCardRecord&) { ADD_FAILURE() << "no record expected"; };
  EXPECT_THROW(ReadCardRecords(dir / "nowhere", vv40, never), EADSDatabaseError);
  test::WriteFile(dir / "Parvela.sqlite", std::string(4096, 'x'));
  EXPECT_THROW(ReadCardRecords(dir.path(), vv30, never), EADSDatabaseError);
}

}  // namespace
}  // namespace pv
