#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "addressdb/AdsConnection.h"
#include "addressdb/AdsQuery.h"
#include "tests/support/SampleDb.h"
#include "tests/support/TempDir.h"

namespace pv {
namespace {

namespace fs = std::filesystem;

constexpr const char* kJobSql =
    "Select ID,NName,VName,Abt,IX,adr_42_,Ort,strasse,GR,adr_47_ from Adressen";
constexpr int kId = 0, kNName = 1, kVName = 2, kAbt = 3, kIx = 4, kPlz = 5, kGr = 8, kStamp = 9;

// One record as the export job sees it: ID and the nine texts in 1252, "<NULL>" for NULL.
using Record = std::vector<std::string>;

std::vector<Record> ReadAll(const std::string& folder) {
  TAdsConnection connection;
  connection.ConnectPath = folder;
  TAdsQuery query;
  query.SetConnection(&connection);
  query.SQL = kJobSql;
  std::vector<Record> out;
  for (query.Open(); !query.Eof(); query.Next()) {
    Record record{std::to_string(query.AsInteger(0))};
    for (int i = 1; i < 10; ++i) {
      record.push_back(query.IsNull(i) ? "<NULL>" : query.AsString(i));
    }
    out.push_back(record);
  }
  return out;
}

bool AllDigits(const std::string& text) {
  return !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
}

// True when IX holds what makes a record a contact: a word of 6 or more characters with "@", or
// a word of 9 or more digits that starts with "0".
bool HasContactData(const std::string& ix) {
  size_t start = 0;
  while (start <= ix.size()) {
    const size_t end = std::min(ix.find(' ', start), ix.size());
    const std::string word = ix.substr(start, end - start);
    if (word.size() >= 6 && word.find('@') != std::string::npos) return true;
    if (word.size() >= 9 && word[0] == '0' && AllDigits(word)) return true;
    start = end + 1;
  }
  return false;
}

bool ValidStamp(const std::string& s, int firstYear, int lastYear) {
  if (s.size() != 18 || s[8] != ' ' || !AllDigits(s.substr(0, 8)) || !AllDigits(s.substr(9))) {
    return false;
  }
  const int year = std::stoi(s.substr(0, 4)), month = std::stoi(s.substr(4, 2));
  const int day = std::stoi(s.substr(6, 2));
  static constexpr int kDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return year >= firstYear && year <= lastYear && month >= 1 && month <= 12 && day >= 1 &&
         day <= (month == 2 && !leap ? 28 : kDays[month - 1]) && std::stoi(s.substr(9, 2)) < 24 &&
         std::stoi(s.substr(11, 2)) < 60 && std::stoi(s.substr(13, 2)) < 60;
}

TEST(SampleGenTest, SameSeedSameRecordsOtherSeedOthers) {
  test::TempDir dir;
  test::MakeSampleDatabase(dir / "a", 300, 5);
  test::MakeSampleDatabase(dir / "b", 300, 5);
  test::MakeSampleDatabase(dir / "c", 300, 6);
  const auto a = ReadAll(dir / "a");
  ASSERT_EQ(a.size(), 300u);
  EXPECT_EQ(a, ReadAll(dir / "b"));
  EXPECT_NE(a, ReadAll(dir / "c"));
  EXPECT_TRUE(fs::is_directory(dir / "a/vCard.Export"));
}

TEST(SampleGenTest, SampleLooksLikeTheAddressTable) {
  test::TempDir dir;
  test::MakeSampleDatabase(dir.path(), 4000, 11);
  const auto records = ReadAll(dir.path());
  ASSERT_EQ(records.size(), 4000u);
  int contacts = 0, umlauts = 0, notSign = 0, paddedAbt = 0, groupBreaks = 0, plus49 = 0,
      hyphen = 0, shortNumbers = 0, sixToEightDigits = 0, nulls = 0;
  for (size_t i = 0; i < records.size(); ++i) {
    const Record& r = records[i];
    SCOPED_TRACE(r[kId]);
    EXPECT_EQ(r[kId], std::to_string(i + 1));
    EXPECT_TRUE(ValidStamp(r[kStamp], 2016, 2025)) << r[kStamp];
    EXPECT_TRUE(r[kPlz] == "<NULL>" || (r[kPlz].size() == 5 && AllDigits(r[kPlz]))) << r[kPlz];
    for (const auto& field : r) {
      EXPECT_EQ(field.find('?'), std::string::npos) << "a character outside the code page";
      nulls += field == "<NULL>";
    }
    contacts += HasContactData(r[kIx]);
    umlauts +=
        (r[kNName] + r[kVName]).find_first_of("\xE4\xF6\xFC\xC4\xD6\xDC\xDF") != std::string::npos;
    notSign += r[kAbt].find('\xAC') != std::string::npos;
    paddedAbt += r[kAbt].starts_with(' ') && r[kAbt].ends_with("  ");
    groupBreaks += r[kGr].find("\r\n") != std::string::npos;
    plus49 += r[kIx].find("+49") != std::string::npos;
    hyphen += r[kIx].find('-') != std::string::npos && r[kIx].find("-0") == std::string::npos;
    for (size_t start = 0; start < r[kIx].size();) {
      const size_t end = std::min(r[kIx].find(' ', start), r[kIx].size());
      const std::string word = r[kIx].substr(start, end - start);
      shortNumbers += AllDigits(word) && word.size() < 6;
      sixToEightDigits += AllDigits(word) && word[0] == '0' && word.size() >= 6 && word.size() <= 8;
      start = end + 1;
    }
  }
  // About a fifth without any contact data.
  EXPECT_GT(contacts, 4000 * 75 / 100);
  EXPECT_LT(contacts, 4000 * 85 / 100);
  for (const int count : {umlauts, notSign, paddedAbt, groupBreaks, plus49, hyphen, shortNumbers,
                          sixToEightDigits, nulls}) {
    EXPECT_GT(count, 40);
  }
}

TEST(SampleGenTest, ReplacesTheDatabaseAndDropsAStaleJournal) {
  test::TempDir dir;
  test::MakeSampleDatabase(dir.path(), 50, 1);
  // A journal of an old writer would be played back into the new file.
  test::WriteFile(dir / "Parvela.sqlite-journal", std::string(2048, '\x7F'));
  test::MakeDatabase(dir.path(), {{.ID = 4, .NName = "Neu"}});
  const auto records = ReadAll(dir.path());
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0][kNName], "Neu");
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir.path())) {
    names.insert(entry.path().filename().string());
  }
  EXPECT_EQ(names, (std::set<std::string>{"Parvela.sqlite", "vCard.Export"}));
}

TEST(SampleGenTest, MakeDatabaseWritesNullsAndNumbersMissingIds) {
  test::TempDir dir;
  test::MakeDatabase(dir.path(), {{.NName = "M\xC3\xBCller"}, {.ID = 10}, {.VName = ""}});
  EXPECT_FALSE(fs::exists(dir / "vCard.Export"));
  const auto records = ReadAll(dir.path());
  ASSERT_EQ(records.size(), 3u);
  EXPECT_EQ(records[0], (Record{"1", "M\xFCller", "<NULL>", "<NULL>", "<NULL>", "<NULL>", "<NULL>",
                                "<NULL>", "<NULL>", "<NULL>"}));
  EXPECT_EQ(records[1][kId], "10");
  EXPECT_EQ(records[1][kNName], "<NULL>");
  EXPECT_EQ(records[2][kId], "11");
  EXPECT_EQ(records[2][kVName], "");
  test::MakeDatabase(dir.path(), {}, true);
  EXPECT_TRUE(fs::is_directory(dir / "vCard.Export"));
}

TEST(SampleGenTest, TouchGivesExactlyKRecordsANewerStamp) {
  test::TempDir dir;
  test::MakeSampleDatabase(dir.path(), 500, 3);
  const auto before = ReadAll(dir.path());
  const auto ids = test::TouchSampleDatabase(dir.path(), 40, 9);
  const auto after = ReadAll(dir.path());
  ASSERT_EQ(ids.size(), 40u);
  EXPECT_TRUE(std::is_sorted(ids.begin(), ids.end()));
  EXPECT_EQ(std::set<int64_t>(ids.begin(), ids.end()).size(), 40u);
  ASSERT_EQ(after.size(), before.size());
  std::vector<int64_t> changed;
  for (size_t i = 0; i < before.size(); ++i) {
    if (before[i] == after[i]) continue;
    changed.push_back(std::stoll(after[i][kId]));
    Record same = after[i];
    same[kStamp] = before[i][kStamp];
    EXPECT_EQ(same, before[i]) << "only the stamp changes";
    EXPECT_TRUE(ValidStamp(after[i][kStamp], 2026, 2027)) << after[i][kStamp];
  }
  EXPECT_EQ(changed, ids);

  // The same seed picks the same records; asking for more than there are changes them all.
  test::MakeSampleDatabase(dir.path(), 500, 3);
  EXPECT_EQ(test::TouchSampleDatabase(dir.path(), 40, 9), ids);
  EXPECT_EQ(test::TouchSampleDatabase(dir.path(), 501, 2).size(), 500u);
  const auto all = ReadAll(dir.path());
  EXPECT_TRUE(test::TouchSampleDatabase(dir.path(), 0, 2).empty());
  EXPECT_EQ(ReadAll(dir.path()), all);
}

// Runs the program with the arguments; returns its exit code and standard output.
int RunTool(const std::string& args, std::string& out) {
  const std::string command =
      std::string(PV_BINARY_DIR) + "/tools/sampledb/pv-sampledb " + args + " 2>/dev/null";
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return -1;
  out.clear();
  char buffer[512];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
  const int status = pclose(pipe);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(SampleGenTest, ProgramWritesAndTouchesTheSample) {
  test::TempDir dir;
  const std::string folder = dir / "db";
  std::string out;
  ASSERT_EQ(RunTool("'" + folder + "' 25 --seed 4", out), 0);
  EXPECT_EQ(out, folder + "/Parvela.sqlite\n");
  test::MakeSampleDatabase(dir / "same", 25, 4);
  EXPECT_EQ(ReadAll(folder), ReadAll(dir / "same"));

  ASSERT_EQ(RunTool("--seed 8 --touch 3 '" + folder + "'", out), 0);
  EXPECT_EQ(out, folder + "/Parvela.sqlite\n");
  test::TouchSampleDatabase(dir / "same", 3, 8);
  EXPECT_EQ(ReadAll(folder), ReadAll(dir / "same"));

  EXPECT_EQ(RunTool("--help", out), 0);
  EXPECT_NE(out.find("--touch"), std::string::npos);
  EXPECT_EQ(RunTool("'" + folder + "' 5 --touch 3", out), 2);    // either N or --touch K
  EXPECT_EQ(RunTool("'" + dir.path() + "' --touch 3", out), 1);  // no database to change
}

}  // namespace
}  // namespace pv
