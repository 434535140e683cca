// The program as a user or a calling program runs it: `vcard-parvela AUTO <folder> <file>` with no
// display, checked with an independent vCard parser.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdlib>
#include <fstream>
#include <regex>

#include "tests/support/SampleDb.h"
#include "tests/support/TempDir.h"

extern char** environ;

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
  std::vector<std::string> env;
  for (char** e = environ; *e != nullptr; ++e) {
    const std::string v = *e;
    if (v.rfind("DISPLAY=", 0) == 0 || v.rfind("WAYLAND_DISPLAY=", 0) == 0 ||
        v.rfind("TMPDIR=", 0) == 0 || v.rfind("QT_QPA_PLATFORM=", 0) == 0)
      continue;
    env.push_back(v);
  }
  env.push_back("TMPDIR=" + tmp);
  std::vector<char*> argv{const_cast<char*>(PV_PROGRAM)}, envp;
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  for (auto& v : env) envp.push_back(v.data());
  envp.push_back(nullptr);

  const std::string errFile = tmp + "/stderr.txt";
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 2, errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0600);
  pid_t pid;
  Outcome out;
  if (posix_spawn(&pid, PV_PROGRAM, &actions, nullptr, argv.data(), envp.data()) == 0) {
    int status;
    waitpid(pid, &status, 0);
    out.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }
  posix_spawn_file_actions_destroy(&actions);
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

}  // namespace
}  // namespace pv
