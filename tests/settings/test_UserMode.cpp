#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <random>
#include <thread>

#include "files/FileUtil.h"
#include "files/ScopedOverride.h"
#include "settings/UserMode.h"
#include "tests/settings/PlainIni.h"
#include "tests/support/TempDir.h"

namespace pv {
namespace {

using test::ReadFile;
using test::TempDir;
using test::WriteFile;

class UserMode : public ::testing::Test {
 protected:
  void SetUp() override { SetSettingsFolder(dir.path() + "/"); }
  void TearDown() override { SetSettingsFolder(""); }
  std::string file() const { return dir / "UserMode.INI"; }
  // The entries of the folder besides the settings lock file (which writes leave, by design).
  static int Entries(const std::string& path) {
    int n = 0;
    for (const auto& e : std::filesystem::directory_iterator(path))
      n += e.path().filename() != "UserMode.INI.lock";
    return n;
  }
  TempDir dir;
};

ino_t Inode(const std::string& name) {
  struct stat st {};
  stat(name.c_str(), &st);
  return st.st_ino;
}

TEST_F(UserMode, MissingFileGivesDefaultsAndTheFirstWriteCreatesExactlyOneKey) {
  EXPECT_TRUE(ReadModeBool("AsAnsi", true));
  EXPECT_EQ(ReadModeInteger("x", -5), -5);
  EXPECT_EQ(ReadModeString("s", "d", dir / "not/there"), "d");  // a folder given by the caller
  EXPECT_EQ(ReadModeString("", "d"), "");
  EXPECT_EQ(Entries(dir.path()), 0);
  WriteModeBool("AsAnsi", true);
  EXPECT_EQ(ReadFile(file()), "[MODE]\r\nAsAnsi=1\r\n");
  WriteModeInteger("n", 3, dir / "a/b");  // a folder that does not exist yet
  EXPECT_EQ(ReadFile(dir / "a/b/UserMode.INI"), "[MODE]\r\nn=3\r\n");
}

TEST_F(UserMode, WritingTheStoredValueLeavesTheFileAlone) {
  WriteFile(file(), "[mode]\r\nasansi=1\r\n");
  const ino_t before = Inode(file());
  WriteModeBool("AsAnsi", true);
  EXPECT_EQ(Inode(file()), before);
  WriteModeBool("ASANSI", false);
  EXPECT_NE(Inode(file()), before);
  EXPECT_EQ(ReadFile(file()), "[mode]\r\nasansi=0\r\n");
}

TEST_F(UserMode, StringsSurviveTheRoundTrip) {
  struct Case {
    std::string value, stored;
  } cases[] = {
      {"", "\"\""},
      {"a;b", "\"a;b\""},
      {"say \"hi\"", "\"say \"\"hi\"\"\""},
      {"  blanks  ", "\"  blanks  \""},
      {"/home/M\xFCller/", "\"/home/M\xFCller/\""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.value);
    WriteModeString("PXOpenSaveFile.Folder", c.value);
    EXPECT_EQ(test::PlainRead(ReadFile(file()))["MODE"]["PXOPENSAVEFILE.FOLDER"], c.stored);
    EXPECT_EQ(ReadModeString("PXOpenSaveFile.Folder", "-"), c.value);
  }
  WriteFile(file(), "[MODE]\r\nu=plain ; note\r\nopen=\"no end\r\nend=\"a\"b\r\n");
  EXPECT_EQ(ReadModeString("u", "-"), "plain");
  EXPECT_EQ(ReadModeString("open", "-"), "no end");
  EXPECT_EQ(ReadModeString("end", "-"), "a");
}

TEST_F(UserMode, TextThatALineCannotHoldIsDropped) {
  WriteModeString("f", "old");
  const std::string before = ReadFile(file());
  WriteModeString("f", "/tmp/a\nb/");
  WriteModeString("f", std::string("a\0b", 3));
  WriteModeInteger("k=v", 1);
  WriteModeBool("", true);
  EXPECT_EQ(ReadFile(file()), before);
}

TEST_F(UserMode, WriteBackStoresTheValueRead) {
  WriteFile(file(), "[MODE]\r\nb=7\r\n");
  EXPECT_EQ(ReadModeInteger("i", 42, "", true), 42);
  EXPECT_TRUE(ReadModeBool("b", false, "", true));
  EXPECT_EQ(ReadModeString("s", "x;y", "", true), "x;y");
  EXPECT_EQ(ReadFile(file()), "[MODE]\r\nb=1\r\ni=42\r\ns=\"x;y\"\r\n");
}

TEST_F(UserMode, OldFileInTheProgramFolderIsCopiedOnce) {
  TempDir program, target, third;
  std::string old = "[MODE]\r\nAsAnsi=0\r\n;";
  for (int i = 0; i < 70000; ++i) old += static_cast<char>(1 + i % 255);  // more than one block
  WriteFile(program / "UserMode.INI", old);
  std::optional<TScopedOverride<std::string>> programFolder;
  programFolder.emplace(SetProgramFolderForTests, program.path());

  SetSettingsFolder(target.path());  // without the trailing delimiter
  EXPECT_EQ(ReadFile(target / "UserMode.INI"), old);
  EXPECT_FALSE(ReadModeBool("AsAnsi", true));
  std::filesystem::remove(target / "UserMode.INI");
  SetSettingsFolder(target.path());  // unchanged folder: nothing happens
  EXPECT_FALSE(std::filesystem::exists(target / "UserMode.INI"));

  WriteFile(file(), "[MODE]\r\nAsAnsi=1\r\n");  // a file already there is kept
  SetSettingsFolder(dir.path());
  EXPECT_TRUE(ReadModeBool("AsAnsi", false));

  {
    TScopedOverride failure(SetWriteFailureForTests, TWriteFailure{"UserMode.INI", 100});
    SetSettingsFolder(third.path());  // a failing copy leaves nothing behind
    EXPECT_EQ(Entries(third.path()), 0);
  }

  SetSettingsFolder("");  // no settings folder: the program's folder
  EXPECT_EQ(OpenSettingsFile()->FileName(), program / "UserMode.INI");
  programFolder.reset();
  const std::string exe = std::filesystem::read_symlink("/proc/self/exe").string();
  EXPECT_EQ(OpenSettingsFile()->FileName(), exe.substr(0, exe.rfind('/') + 1) + "UserMode.INI");
}

// The first copy takes the settings lock too: a file that another process writes while it waits
// is not replaced by the old one.
TEST_F(UserMode, FirstCopyWaitsForTheSettingsLock) {
  TempDir program, target;
  WriteFile(program / "UserMode.INI", "[MODE]\r\nAsAnsi=0\r\n");
  TScopedOverride programFolder(SetProgramFolderForTests, program.path());
  WriteFile(target / "UserMode.INI.lock", "");
  const int holder = open((target / "UserMode.INI.lock").c_str(), O_RDWR);
  ASSERT_EQ(flock(holder, LOCK_EX), 0);
  std::thread copy([&] { SetSettingsFolder(target.path()); });
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_FALSE(std::filesystem::exists(target / "UserMode.INI"));
  WriteFile(target / "UserMode.INI", "[MODE]\r\nAsAnsi=1\r\n");  // the other process's write
  close(holder);
  copy.join();
  EXPECT_EQ(ReadFile(target / "UserMode.INI"), "[MODE]\r\nAsAnsi=1\r\n");
}

TEST_F(UserMode, FailedWriteLeavesThePreviousFileWhole) {
  WriteFile(file(), "; mine\r\n[MODE]\r\nAsAnsi=1\r\nPXOpenSaveFile.Default.SWidth=640\r\n");
  const std::string before = ReadFile(file());
  for (long long after : {0LL, 5LL, 40LL}) {
    SCOPED_TRACE(after);
    TScopedOverride failure(SetWriteFailureForTests, TWriteFailure{"UserMode.INI", after});
    WriteModeBool("AsAnsi", false);
    WriteModeInteger("PXOpenSaveFile.Default.SHeigth", 480);
    EXPECT_EQ(ReadFile(file()), before);
    EXPECT_EQ(Entries(dir.path()), 1);  // no temporary file left
  }
  WriteModeBool("AsAnsi", false);
  EXPECT_FALSE(ReadModeBool("AsAnsi", true));
}

TEST_F(UserMode, LockedFileIsWaitedForThenGivesUp) {
  WriteFile(file(), "[MODE]\r\nAsAnsi=0\r\n");
  const int holder = open(file().c_str(), O_RDONLY);  // another open file description
  ASSERT_EQ(flock(holder, LOCK_EX), 0);
  {
    TScopedOverride retry(TFileStreamEx::SetRetryLimitForTests, 100);
    EXPECT_TRUE(ReadModeBool("AsAnsi", true));
    ASSERT_EQ(flock(holder, LOCK_SH), 0);  // readers may share it, writers still wait
    EXPECT_FALSE(ReadModeBool("AsAnsi", true));
    try {
      TFileStreamEx stream(file(), TFileStreamEx::fmCreate);
      ADD_FAILURE() << "locked exclusively";
    } catch (const EFCreateError& e) {
      EXPECT_EQ(e.Message(), "Datei " + file() + " kann nicht erstellt werden");
    }
  }
  {
    // One wait for the lock: the failed save is not tried again when the object goes (two waits
    // would take at least twice the limit).
    constexpr int kLimitMs = 1000;
    TScopedOverride retry(TFileStreamEx::SetRetryLimitForTests, kLimitMs);
    const auto start = std::chrono::steady_clock::now();
    WriteModeInteger("n", 1);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(2 * kLimitMs));
    EXPECT_EQ(ReadFile(file()), "[MODE]\r\nAsAnsi=0\r\n");
  }
  // Released while we wait: the write goes through.
  TScopedOverride retry(TFileStreamEx::SetRetryLimitForTests, 5000);
  std::thread release([holder] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    close(holder);
  });
  WriteModeInteger("n", 1);
  release.join();
  EXPECT_EQ(ReadModeInteger("n", 0), 1);
}

TEST_F(UserMode, DamagedFilesLoadWhatTheyCan) {
  std::string binary;
  for (int c = 1; c < 512; ++c) binary += static_cast<char>(c % 256 ? c % 256 : ' ');
  const std::string huge(10 * 1024 * 1024, 'v');
  static const char nul[] = "[MODE]\r\nA=1\r\nB\0=2\r\nC=3\r\n";
  struct Case {
    std::string text;
    const char* key;
    std::int32_t expected;  // ReadModeInteger with default -1
  } cases[] = {
      {binary + "\r\n[MODE]\r\nB=2\r\n" + binary, "B", 2},
      {std::string(nul, sizeof nul - 1), "A", 1},
      {std::string(nul, sizeof nul - 1), "C", -1},
      {"[MODE]\r\nX=" + huge + "\r\nB=2\r\n", "B", 2},
      {"[MODE]\r\n" + huge + "\r\n;" + huge + "\r\nB=2", "B", 2},
      {"[]\r\n=\r\n[MODE]\r\n=\r\n[\r\n]\r\n=]\r\nB=2\r\n", "B", 2},
      {"[MODE]\r\n[]\r\nB=2\r\n", "B", -1},
      {"[MODE]\r\nS=\"abc ; not a comment\r\nB=2 ;\"\r\n", "B", 2},
      {"[MODE]\r\n [X]\r\nB=2\r\n", "B", 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text.substr(0, 40));
    WriteFile(file(), c.text);
    EXPECT_EQ(ReadModeInteger(c.key, -1), c.expected);
    WriteModeInteger("New", 77);
    EXPECT_EQ(ReadModeInteger("New", 0), 77);
    EXPECT_EQ(ReadModeInteger(c.key, -1), c.expected);
  }
}

TEST_F(UserMode, ManyWritesAgreeWithAPlainReader) {
  const std::string foreign = "; by hand\r\n[Other]\r\n  AsAnsi = 5 \r\n\r\n";
  WriteFile(file(), foreign + "[MODE]\r\n; keep\r\n");
  std::map<std::string, std::string> expected;  // upper-case key -> stored text
  std::mt19937 random(17);
  for (int i = 0; i < 120; ++i) {
    const std::string key = "Key" + std::to_string(random() % 25);
    const std::string name = i % 2 ? key : AnsiUpperCase(key);
    const auto number = static_cast<std::int32_t>(random());
    switch (i % 3) {
      case 0:
        WriteModeBool(name, number % 2);
        expected[AnsiUpperCase(key)] = number % 2 ? "1" : "0";
        break;
      case 1:
        WriteModeInteger(name, number);
        expected[AnsiUpperCase(key)] = std::to_string(number);
        break;
      default:
        WriteModeString(name, "v;\"" + std::to_string(number) + " ");
        expected[AnsiUpperCase(key)] = "\"v;\"\"" + std::to_string(number) + " \"";
    }
  }
  const std::string bytes = ReadFile(file());
  bool crlfOnly = false;
  auto sections = test::PlainRead(bytes, &crlfOnly);
  EXPECT_TRUE(crlfOnly);
  EXPECT_EQ(bytes.substr(0, foreign.size()), foreign);
  EXPECT_EQ(sections["MODE"], expected);
  EXPECT_EQ(sections["OTHER"]["ASANSI"], "5");
  EXPECT_TRUE(bytes.ends_with("\r\n; keep\r\n"));  // new keys go before the trailing comment
}

// Each of two processes writes its own keys, as fast as it can; the file must hold every one.
TEST_F(UserMode, TwoProcessesWritingDifferentKeysLoseNothing) {
  constexpr int kWrites = 250;
  int go[2];
  ASSERT_EQ(pipe(go), 0);
  pid_t children[2];
  for (int p = 0; p < 2; ++p) {
    children[p] = fork();
    if (children[p] == 0) {
      char c;
      if (read(go[0], &c, 1) != 1) _exit(2);
      for (int i = 0; i < kWrites; ++i)
        WriteModeInteger("p" + std::to_string(p) + "k" + std::to_string(i), i);
      _exit(0);
    }
  }
  ASSERT_EQ(write(go[1], "gg", 2), 2);
  for (pid_t child : children) {
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  close(go[0]);
  close(go[1]);
  auto mode = test::PlainRead(ReadFile(file()))["MODE"];
  int lost = 0;
  for (int p = 0; p < 2; ++p) {
    for (int i = 0; i < kWrites; ++i)
      lost += mode["P" + std::to_string(p) + "K" + std::to_string(i)] != std::to_string(i);
  }
  EXPECT_EQ(lost, 0);
  EXPECT_EQ(mode.size(), 2u * kWrites);
}

TEST_F(UserMode, WritersWaitForTheSettingsLock) {
  WriteModeInteger("n", 1);
  const std::string before = ReadFile(file());
  const int holder = open((file() + ".lock").c_str(), O_RDWR);  // as another process would
  ASSERT_EQ(flock(holder, LOCK_EX), 0);
  {
    TScopedOverride wait(TSettingsLock::SetWaitLimitForTests, 100);
    WriteModeInteger("n", 2);  // gives up: dropped, the file untouched
    EXPECT_EQ(ReadFile(file()), before);
    EXPECT_EQ(ReadModeInteger("n", 0), 1);  // reading needs no lock
  }
  std::thread release([holder] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    close(holder);
  });
  WriteModeInteger("n", 3);
  release.join();
  EXPECT_EQ(ReadModeInteger("n", 0), 3);
}

// A settings file that is no regular file, or a lock file that is a link, makes writes fail
// without waiting and without replacing anything.
TEST_F(UserMode, OddSettingsFilesAreLeftAlone) {
  struct Case {
    const char* what;
    std::function<void(const std::string&)> make;
    mode_t kind;
  } cases[] = {
      {"fifo", [](const std::string& f) { mkfifo(f.c_str(), 0600); }, S_IFIFO},
      {"folder", [](const std::string& f) { mkdir(f.c_str(), 0700); }, S_IFDIR},
      {"lock link",
       [this](const std::string& f) {
         WriteFile(f, "[MODE]\r\nAsAnsi=1\r\n");
         WriteFile(dir / "elsewhere", "");
         ASSERT_EQ(0, symlink((dir / "elsewhere").c_str(), (f + ".lock").c_str()));
       },
       S_IFREG},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::filesystem::remove_all(file());
    std::filesystem::remove(file() + ".lock");
    c.make(file());
    WriteModeBool("AsAnsi", false);
    struct stat st {};
    ASSERT_EQ(lstat(file().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & S_IFMT, c.kind);
    EXPECT_TRUE(ReadModeBool("AsAnsi", true));
  }
  // A link of the user's own to the settings file is followed and stays a link.
  std::filesystem::remove_all(file());
  std::filesystem::remove(file() + ".lock");
  WriteFile(dir / "real.ini", "[MODE]\r\n");
  ASSERT_EQ(0, symlink("real.ini", file().c_str()));
  WriteModeBool("AsAnsi", false);
  EXPECT_EQ(ReadFile(dir / "real.ini"), "[MODE]\r\nAsAnsi=0\r\n");
  EXPECT_TRUE(std::filesystem::is_symlink(file()));
}

}  // namespace
}  // namespace pv
