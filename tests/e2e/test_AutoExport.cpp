// The program as a user or a calling program runs it: `vcard-parvela AUTO <folder> <file>` with no
// display and with its options, the files checked with independent vCard parsers.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdlib>
#include <fstream>
#include <regex>

#include "tests/support/Process.h"
#include "tests/support/SampleDb.h"
#include "tests/support/TempDir.h"

namespace pv {
namespace {

using test::ReadFile;
using test::TempDir;
using test::WriteFile;

struct Outcome {
  int status = -1;
  std::string err;
};

// Runs the program with the given arguments and TMPDIR, no display; standard error captured.
Outcome RunProgram(const std::vector<std::string>& args, const std::string& tmp) {
  std::vector<std::string> env =
      test::EnvironmentWithout({"DISPLAY=", "WAYLAND_DISPLAY=", "TMPDIR=", "QT_QPA_PLATFORM="});
  env.push_back("TMPDIR=" + tmp);
  const std::string errFile = tmp + "/stderr.txt";
  Outcome out;
  const pid_t pid = test::SpawnProgram(PV_PROGRAM, args, std::move(env), errFile);
  int status = 0;
  if (pid > 0 && waitpid(pid, &status, 0) == pid) out.status = test::ExitStatus(status);
  out.err = ReadFile(errFile);
  return out;
}

// Parses the file with python3-vobject; skips the test when it is not installed.
void CheckWithVobject(const std::string& file, const char* encoding, int cards) {
  // Debian's own interpreter: python3-vobject is installed for it, whatever python3 is first on
  // PATH.
  const std::string cmd = "/usr/bin/python3 " PV_SOURCE_DIR "/tests/e2e/check_vcf.py '" + file +
                          "' " + encoding + " " + std::to_string(cards);
  const int rc = std::system(cmd.c_str());
  if (WIFEXITED(rc) && WEXITSTATUS(rc) == 77) GTEST_SKIP() << "python3-vobject is not installed";
  EXPECT_EQ(rc, 0) << cmd;
}

int CountCards(const std::string& text) {
  int n = 0;
  for (size_t at = 0; (at = text.find("BEGIN:VCARD", at)) != std::string::npos; ++at) ++n;
  return n;
}

TEST(AutoExport, ExportsTheSampleWithoutADisplayAndTheFileParses) {
  TempDir dir;
  test::MakeSampleDatabase(dir / "db", 2000, 7);
  const Outcome r = RunProgram({"AUTO", dir / "db", dir / "out.vcf"}, dir.path());
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string text = ReadFile(dir / "out.vcf");
  const int cards = CountCards(text);
  EXPECT_GT(cards, 1400);  // about a fifth of the records carry no contact data
  EXPECT_LT(cards, 1800);
  CheckWithVobject(dir / "out.vcf", "cp1252", cards);  // "Als ANSI" is on by default
  // The setting was written back with its default.
  EXPECT_EQ(ReadFile(dir / "PVTempDir/vcard/UserMode.INI"), "[MODE]\r\nAsAnsi=1\r\n");
  // Nothing is written next to the database on the command line.
  EXPECT_FALSE(std::ifstream(dir / "db/vCard.Export/calc.txt").good());
}

TEST(AutoExport, TheStoredAnsiChoiceDecidesTheEncoding) {
  TempDir dir;
  test::MakeSampleDatabase(dir / "db", 300, 3);
  mkdir((dir / "PVTempDir").c_str(), 0700);
  mkdir((dir / "PVTempDir/vcard").c_str(), 0700);
  WriteFile(dir / "PVTempDir/vcard/UserMode.INI", "[MODE]\r\nAsAnsi=0\r\n");
  ASSERT_EQ(RunProgram({"AUTO", dir / "db", dir / "utf8.vcf"}, dir.path()).status, 0);
  WriteFile(dir / "PVTempDir/vcard/UserMode.INI", "[MODE]\r\nAsAnsi=1\r\n");
  ASSERT_EQ(RunProgram({"AUTO", dir / "db", dir / "ansi.vcf"}, dir.path()).status, 0);
  const std::string utf8 = ReadFile(dir / "utf8.vcf"), ansi = ReadFile(dir / "ansi.vcf");
  const std::regex rev("REV:[0-9T]+Z");
  EXPECT_NE(std::regex_replace(utf8, rev, ""), std::regex_replace(ansi, rev, ""));
  CheckWithVobject(dir / "utf8.vcf", "utf-8", CountCards(utf8));
  CheckWithVobject(dir / "ansi.vcf", "cp1252", CountCards(ansi));
}

TEST(AutoExport, FailuresExitWithStatus1AndTheReasonOnStandardError) {
  TempDir dir;
  struct Case {
    std::vector<std::string> args;
    std::string reason;
  } cases[] = {
      {{"AUTO", dir / "missing", dir / "x.vcf"}, "missing"},
      {{"AUTO"}, ""},
      {{"AUTO", dir.path(), dir.path()}, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args.size());
    const Outcome r = RunProgram(c.args, dir.path());
    EXPECT_EQ(r.status, 1);
    EXPECT_FALSE(r.err.empty());
    EXPECT_NE(r.err.find(c.reason), std::string::npos) << r.err;
  }
  EXPECT_FALSE(std::ifstream(dir / "x.vcf").good());
}

bool Exists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

int Count(const std::string& text, const std::string& part) {
  int n = 0;
  for (size_t at = 0; (at = text.find(part, at)) != std::string::npos; at += part.size()) ++n;
  return n;
}

// Well-formed UTF-8 (up to three bytes a character, as every text here is).
bool IsUtf8(const std::string& text) {
  for (size_t i = 0; i < text.size();) {
    const auto lead = static_cast<unsigned char>(text[i]);
    const size_t len = lead < 0x80                    ? 1
                       : lead >= 0xC2 && lead <= 0xDF ? 2
                       : (lead >> 4) == 0xE           ? 3
                                                      : 0;
    if (len == 0 || i + len > text.size()) return false;
    for (size_t k = 1; k < len; ++k) {
      if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return false;
    }
    i += len;
  }
  return true;
}

TEST(AutoOptions, UnusableOptionsExitWith2AndTouchNothing) {
  TempDir dir;
  test::MakeSampleDatabase(dir / "db", 20, 3);
  const std::vector<std::string> bad[] = {
      {"--vcard=2.1"},
      {"--ansi", "--vcard=3.0"},
      {"--vcard=3.0", "--ansi"},
      {"--utf8", "--ansi"},
      {"--vcard=3.0", "--vcard=4.0"},
      {"-v"},
      {"--UTF8"},
      {"more.vcf"},
      {"--utf8",
       "--gr\xC3\xBC\xC3\x9F"
       "e"},
  };
  for (const auto& options : bad) {
    SCOPED_TRACE(testing::PrintToString(options));
    std::vector<std::string> args{"AUTO", dir / "db", dir / "x.vcf"};
    args.insert(args.end(), options.begin(), options.end());
    const Outcome r = RunProgram(args, dir.path());
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("Aufruf: vcard-parvela AUTO"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(options.back()), std::string::npos) << r.err;  // UTF-8 as typed
    EXPECT_NE(r.err.find("f\xC3\xBCr Android"), std::string::npos) << r.err;
    EXPECT_FALSE(Exists(dir / "x.vcf"));
    EXPECT_FALSE(Exists(dir / "PVTempDir"));  // not even the settings folder
  }
}

TEST(AutoOptions, VersionAndEncodingServeThisRunOnly) {
  TempDir dir;
  test::MakeSampleDatabase(dir / "db", 300, 9);
  mkdir((dir / "PVTempDir").c_str(), 0700);
  mkdir((dir / "PVTempDir/vcard").c_str(), 0700);
  struct Case {
    bool storedAnsi;
    std::vector<std::string> options;
    const char* version;
    bool utf8;
  } cases[] = {
      {true, {}, "VERSION:4.0", false},
      {false, {}, "VERSION:4.0", true},
      {true, {"--utf8"}, "VERSION:4.0", true},
      {false, {"--ansi"}, "VERSION:4.0", false},
      {true, {"--vcard=4.0", "--utf8"}, "VERSION:4.0", true},
      {false, {"--ansi", "--vcard=4.0"}, "VERSION:4.0", false},
      {true, {"--vcard=3.0"}, "VERSION:3.0", true},  // always UTF-8
      {false, {"--utf8", "--vcard=3.0"}, "VERSION:3.0", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.options) + (c.storedAnsi ? " stored ANSI" : ""));
    const std::string settings = std::string("[MODE]\r\nAsAnsi=") + (c.storedAnsi ? "1" : "0") +
                                 "\r\nPXOpenSaveFile.Rolodeck.FI=2\r\n";
    WriteFile(dir / "PVTempDir/vcard/UserMode.INI", settings);
    std::vector<std::string> args{"AUTO", dir / "db", dir / "out.vcf"};
    args.insert(args.end(), c.options.begin(), c.options.end());
    const Outcome r = RunProgram(args, dir.path());
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string text = ReadFile(dir / "out.vcf");
    EXPECT_EQ(CountCards(text), Count(text, c.version));
    // The sample's umlauts tell the encodings apart.
    EXPECT_EQ(Count(text, "\xC3\xBC") > 0, c.utf8);
    EXPECT_EQ(Count(text, "\xFC") > Count(text, "\xC3\xBC"), !c.utf8);
    // Neither the option nor the dialog's remembered file type changes the settings.
    EXPECT_EQ(ReadFile(dir / "PVTempDir/vcard/UserMode.INI"), settings);
  }
}

TEST(AutoExport, MessagesOnTheTerminalAreUtf8PlainText) {
  TempDir dir;
  test::MakeSampleDatabase(dir / "db", 50, 2);
  // The names as typed (UTF-8); the folders do not exist.
  const std::string folder =
      "Gr\xC3\xBC\xC3\x9F"
      "e & <Co>";
  const std::string db = "Kunden M\xC3\xBCnchen & Co";
  const struct Case {
    std::vector<std::string> args;
    std::string named;  // what the message names
  } cases[] = {
      {{"AUTO", dir / "db", dir / folder + "/x.vcf"}, folder},
      {{"AUTO", dir / db, dir / "x.vcf"}, db},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.named);
    const Outcome r = RunProgram(c.args, dir.path());
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(IsUtf8(r.err)) << r.err;
    EXPECT_NE(r.err.find(c.named), std::string::npos) << r.err;  // no tags, no entities
    EXPECT_EQ(r.err.find("<b>"), std::string::npos) << r.err;
  }
}

// A few thousand records with every awkward character in every text column, exported in UTF-8 in
// one card version and read by one independent parser; the checker compares each card with the
// record it came from.
class IndependentParser : public testing::TestWithParam<std::tuple<std::string, std::string>> {};

TEST_P(IndependentParser, ReadsEveryCardAsTheDatabaseHoldsIt) {
  const auto& [version, parser] = GetParam();
  TempDir dir;
  const std::string db = test::MakeAwkwardSampleDatabase(dir / "db", 3000, 17);
  const std::string file = dir / "out.vcf";
  const Outcome r =
      RunProgram({"AUTO", dir / "db", file, "--vcard=" + version, "--utf8"}, dir.path());
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string cmd = "/usr/bin/python3 " PV_SOURCE_DIR "/tests/e2e/compare_parsers.py '" +
                          file + "' '" + db + "' " + version + " " + parser +
                          " " PV_SOURCE_DIR "/tests/e2e/node";
  const int rc = std::system(cmd.c_str());
  if (WIFEXITED(rc) && WEXITSTATUS(rc) == 77) {
    GTEST_SKIP() << parser << " is not installed (scripts/deps.sh installs it)";
  }
  EXPECT_EQ(rc, 0) << cmd;
}

INSTANTIATE_TEST_SUITE_P(VersionsAndParsers, IndependentParser,
                         testing::Combine(testing::Values("4.0", "3.0"),
                                          testing::Values("vobject", "icaljs")),
                         [](const auto& p) {
                           std::string name = std::get<1>(p.param) + "_" + std::get<0>(p.param);
                           name.erase(name.find('.'), 1);
                           return name;
                         });

}  // namespace
}  // namespace pv
