// Which records the job writes and what the ledger keeps when IDs repeat or do not fit 32 bits,
// and the two card versions.
#include <gtest/gtest.h>
#include <unistd.h>

#include "tests/export/JobFixture.h"
#include "tests/export/LooseDb.h"

namespace pv {
namespace {

using test::AddressRow;
using test::JobTest;
using test::Line;
using test::MakeLooseDatabase;
using test::ReadFile;
using test::Row;
using test::WriteFile;

constexpr const char* kStampA = "20240101 100000000";  // 2024.01.01.10.00.00
constexpr const char* kStampB = "20240202 100000000";  // 2024.02.02.10.00.00

// A record whose first name tells the rows apart.
AddressRow Named(int64_t id, const char* first, const char* stamp) {
  AddressRow r = Row(id, "a" + std::to_string(id) + "@muster.de", stamp);
  r.VName = first;
  return r;
}

// The first names of the cards in the file, in order.
std::vector<std::string> FirstNames(const std::string& file) {
  std::vector<std::string> names;
  for (size_t at = file.find("\nFN:"); at != std::string::npos; at = file.find("\nFN:", at + 1)) {
    names.push_back(file.substr(at + 4, file.find(' ', at) - at - 4));
  }
  return names;
}

class RecordsTest : public JobTest {
 protected:
  // Runs with the given ledger file content (none when null) and returns the first names written
  // (empty when nothing was written).
  std::vector<std::string> Export(bool onlyChanges, const char* ledger) {
    unlink(Out().c_str());
    if (ledger != nullptr) {
      WriteFile(Ledger(), ledger);
    } else {
      unlink(Ledger().c_str());
    }
    const TResultCell r = Run(onlyChanges);
    EXPECT_TRUE(r.Ok) << r.Text;
    return FirstNames(ReadFile(Out()));
  }
  using Names = std::vector<std::string>;
};

// Two records with one ID never refuse each other; only the ledger loaded at the start refuses.
TEST_F(RecordsTest, RecordsWithOneIdAreJudgedAgainstTheLedgerOfTheStartOnly) {
  const char* ledgerA = "\"5\",\"2024.01.01.10.00.00\"\r\n";
  struct Case {
    const char* name;
    std::vector<AddressRow> rows;
    bool onlyChanges;
    const char* ledgerBefore;
    Names written;
    std::string ledgerAfter;
  } cases[] = {
      {"full export, equal stamps",
       {Named(5, "Eins", kStampA), Named(5, "Zwei", kStampA), Named(6, "Drei", kStampA)},
       false,
       ledgerA,
       {"Eins", "Zwei", "Drei"},
       "\"5\",\"2024.01.01.10.00.00\"\r\n\"6\",\"2024.01.01.10.00.00\"\r\n"},
      {"changes without ledger, equal stamps",
       {Named(5, "Eins", kStampA), Named(5, "Zwei", kStampA)},
       true,
       nullptr,
       {"Eins", "Zwei"},
       ledgerA},
      {"changes: the unchanged first refused, the changed second written",
       {Named(5, "Eins", kStampA), Named(5, "Zwei", kStampB)},
       true,
       ledgerA,
       {"Zwei"},
       "\"5\",\"2024.02.02.10.00.00\"\r\n"},
      {"changes: the changed first written, the unchanged second refused",
       {Named(5, "Eins", kStampB), Named(5, "Zwei", kStampA)},
       true,
       ledgerA,
       {"Eins"},
       ledgerA},
      {"changes: three alike, none in the ledger",
       {Named(7, "Eins", kStampB), Named(7, "Zwei", kStampB), Named(7, "Drei", kStampB)},
       true,
       ledgerA,
       {"Eins", "Zwei", "Drei"},
       "\"7\",\"2024.02.02.10.00.00\"\r\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    MakeLooseDatabase(dir.path(), c.rows);
    EXPECT_EQ(Export(c.onlyChanges, c.ledgerBefore), c.written);
    EXPECT_EQ(ReadFile(Ledger()), c.ledgerAfter);
  }
}

// An ID outside 32 bits is never cut: its record is written every time and kept out of the ledger.
TEST_F(RecordsTest, IdsOutsideThirtyTwoBitsAreAlwaysWrittenAndNeverInTheLedger) {
  MakeLooseDatabase(dir.path(),
                    {Named(1, "Eins", kStampA), Named(4294967297LL, "Gross", kStampA),
                     Named(-4294967295LL, "Klein", kStampA), Named(INT64_MAX, "Riesig", kStampA)});
  const std::string ledgerOne = "\"1\",\"2024.01.01.10.00.00\"\r\n";
  // 4294967297 would be 1 when cut: it must not be refused by the entry of record 1.
  EXPECT_EQ(Export(true, ledgerOne.c_str()), (Names{"Gross", "Klein", "Riesig"}));
  EXPECT_EQ(ReadFile(Ledger()), ledgerOne);
  EXPECT_EQ(Export(true, nullptr), (Names{"Eins", "Gross", "Klein", "Riesig"}));
  EXPECT_EQ(ReadFile(Ledger()), ledgerOne);
  EXPECT_EQ(Export(true, ReadFile(Ledger()).c_str()), (Names{"Gross", "Klein", "Riesig"}));
  EXPECT_EQ(Export(false, ledgerOne.c_str()), (Names{"Eins", "Gross", "Klein", "Riesig"}));
  EXPECT_EQ(ReadFile(Ledger()), ledgerOne);
}

// 3.0 cards are always UTF-8; 4.0 cards follow "Als ANSI".
TEST_F(RecordsTest, BothVersionsWithBothEncodingChoices) {
  MakeLooseDatabase(dir.path(), {Row(1, "a@muster.de 07111234567")});
  struct Case {
    TvCardVersion version;
    bool asAnsi;
    const char* versionLine;
    const char* street;  // the street as the file holds it
  } cases[] = {
      {vv40, false, "VERSION:4.0", "K\xC3\xB6nigstra\xC3\x9F"},
      {vv40, true, "VERSION:4.0", "K\xF6nigstra\xDF"},
      {vv30, false, "VERSION:3.0", "K\xC3\xB6nigstra\xC3\x9F"},
      {vv30, true, "VERSION:3.0", "K\xC3\xB6nigstra\xC3\x9F"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.versionLine) + (c.asAnsi ? " ansi" : " utf-8"));
    version = c.version;
    const TResultCell r = Run(true, c.asAnsi, "");
    EXPECT_TRUE(r.Ok) << r.Text;
    const std::string file = ReadFile(Out());
    EXPECT_NE(file.find(Line(c.versionLine)), std::string::npos);
    EXPECT_NE(file.find(c.street), std::string::npos);
    EXPECT_EQ(file.find(c.version == vv40 ? "VERSION:3.0" : "VERSION:4.0"), std::string::npos);
  }
}

}  // namespace
}  // namespace pv
