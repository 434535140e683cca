#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <clocale>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <set>
#include <thread>

#include "files/AnsiText.h"
#include "files/Errors.h"
#include "files/FileUtil.h"
#include "files/Folders.h"
#include "files/ScopedOverride.h"
#include "tests/support/TempDir.h"
#include "tests/support/Wait.h"

namespace pv {
namespace {

using test::ReadFile;
using test::TempDir;
using test::WriteFile;

std::set<std::string> Entries(const std::string& folder) {
  std::set<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(folder))
    names.insert(e.path().filename().string());
  return names;
}

mode_t Mode(const std::string& name) {
  struct stat st {};
  lstat(name.c_str(), &st);
  return st.st_mode;
}

// The message of the EFCreateError that SaveFileAtomic raises, or "" when it succeeds.
std::string SaveError(const std::string& name, const std::string& data) {
  try {
    SaveFileAtomic(name, data);
    return "";
  } catch (const EFCreateError& e) {
    return e.Message();
  }
}

// A pid that surely belongs to no process now: a child that has ended and been reaped.
pid_t DeadPid() {
  const pid_t child = fork();
  if (child == 0) _exit(0);
  waitpid(child, nullptr, 0);
  return child;
}

class AtomicFile : public ::testing::Test {
 protected:
  TempDir dir;
};

TEST_F(AtomicFile, NewFilesGetTheUmaskAndReplacedFilesKeepTheirMode) {
  for (bool unnamed : {true, false}) {
    SCOPED_TRACE(unnamed ? "unnamed" : "named");
    TScopedOverride files(SetUnnamedFilesForTests, unnamed);
    const std::string name = dir / (unnamed ? "a.vcf" : "b.vcf");
    const mode_t oldMask = umask(027);
    SaveFileAtomic(name, "first");
    umask(oldMask);
    EXPECT_EQ(Mode(name) & 07777, 0640u);
    chmod(name.c_str(), 0604);
    SaveFileAtomic(name, "second");
    EXPECT_EQ(ReadFile(name), "second");
    EXPECT_EQ(Mode(name) & 07777, 0604u);
  }
  EXPECT_EQ(Entries(dir.path()), (std::set<std::string>{"a.vcf", "b.vcf"}));
}

TEST_F(AtomicFile, NothingIsVisibleInTheFolderUntilCommit) {
  const std::string name = dir / "out.vcf";
  WriteFile(name, "old");
  {
    AtomicFileWriter writer(name);
    writer.Write("new data");
    EXPECT_EQ(Entries(dir.path()), std::set<std::string>{"out.vcf"});
    EXPECT_EQ(ReadFile(name), "old");
    writer.Commit();
  }
  EXPECT_EQ(ReadFile(name), "new data");
  {
    AtomicFileWriter abandoned(name);
    abandoned.Write("never seen");
  }
  EXPECT_EQ(ReadFile(name), "new data");
  EXPECT_EQ(Entries(dir.path()), std::set<std::string>{"out.vcf"});
}

TEST_F(AtomicFile, NamedTemporaryFilesAreRemovedOnFailureAndAbandon) {
  TScopedOverride files(SetUnnamedFilesForTests, false);
  const std::string name = dir / "out.vcf";
  WriteFile(name, "old");
  {
    AtomicFileWriter writer(name);
    writer.Write("x");
    const auto during = Entries(dir.path());
    ASSERT_EQ(during.size(), 2u);
    const std::string temp = *during.begin();  // ".out.vcf.pvtmp-..." sorts first
    EXPECT_EQ(temp.rfind(".out.vcf.pvtmp-" + std::to_string(getpid()) + "-", 0), 0u) << temp;
    // A live writer's file is never taken for stale.
    EXPECT_EQ(RemoveStaleTempFiles(dir.path()), 0);
  }
  TScopedOverride failure(SetWriteFailureForTests, TWriteFailure{"out.vcf", 2});
  EXPECT_NE(SaveError(name, "too long"), "");
  EXPECT_EQ(Entries(dir.path()), std::set<std::string>{"out.vcf"});
  EXPECT_EQ(ReadFile(name), "old");
}

// The background flush of large files, through the test hook: counts, may wait until the writer
// commits, may fail.
struct {
  std::atomic<int> calls{0};
  std::atomic<int> failWith{0};
  std::atomic<bool> slow{false};
} gFlush;

int TestFlush(int fd) {
  ++gFlush.calls;
  if (gFlush.slow) std::this_thread::sleep_for(std::chrono::milliseconds(200));
  if (const int err = gFlush.failWith; err != 0) {
    errno = err;
    return -1;
  }
  return fdatasync(fd);
}

// Large files are flushed to the disk while they are written; a failed flush fails the replace
// wherever it is noticed (a later piece, or Commit waiting for a flush still under way) and leaves
// the old file and no temporary file.
TEST_F(AtomicFile, LargeFilesAreFlushedWhileWrittenAndAFailedFlushFailsTheReplace) {
  TScopedOverride hook(SetDiskSyncForTests, &TestFlush);
  const std::string piece(1 << 20, 'x');
  const struct {
    const char* what;
    int failWith;
    bool slow;
    int pieces;
  } cases[] = {
      {"healthy", 0, false, 80},
      {"failing, noticed by a later piece", EIO, false, 80},
      {"failing while Commit waits for it", EIO, true, 33},
  };
  for (bool unnamed : {true, false}) {
    for (const auto& c : cases) {
      SCOPED_TRACE(std::string(c.what) + (unnamed ? ", unnamed" : ", named"));
      TScopedOverride files(SetUnnamedFilesForTests, unnamed);
      const std::string name = dir / "big.vcf";
      WriteFile(name, "old");
      gFlush.calls = 0;
      gFlush.failWith = c.failWith;
      gFlush.slow = c.slow;
      std::string error;
      try {
        AtomicFileWriter writer(name);
        for (int i = 0; i < c.pieces; ++i) writer.Write(piece);
        ASSERT_TRUE(test::WaitUntil([] { return gFlush.calls > 0; }, 20000));
        writer.Commit();
      } catch (const EFCreateError& e) {
        error = e.Message();
      }
      EXPECT_GE(gFlush.calls, 1);
      EXPECT_EQ(Entries(dir.path()), std::set<std::string>{"big.vcf"});
      if (c.failWith == 0) {
        EXPECT_EQ(error, "");
        EXPECT_EQ(std::filesystem::file_size(name), piece.size() * c.pieces);
      } else {
        EXPECT_NE(error.find(SystemErrorText(c.failWith)), std::string::npos) << error;
        EXPECT_EQ(ReadFile(name), "old");
      }
    }
  }
}

TEST_F(AtomicFile, LeftoversOfGoneWritersAreRemovedAndNothingElse) {
  const std::string dead = std::to_string(DeadPid());
  const std::string alive = std::to_string(getppid());
  WriteFile(dir / (".x.vcf.pvtmp-" + dead + "-1"), "stale");
  WriteFile(dir / (".y.vcf.pvtmp-" + dead + "-2"), "held");
  WriteFile(dir / (".z.vcf.pvtmp-" + alive + "-3"), "writer alive");
  WriteFile(dir / ("x.vcf.pvtmp-" + dead + "-4"), "not hidden: not ours");
  WriteFile(dir / (".x.vcf.pvtmp-" + dead), "no random part: not ours");
  // Earlier versions named theirs "<name>.tmp-XXXXXX" and left no lock: removed for the name
  // being written when no process has them open.
  WriteFile(dir / "x.vcf.tmp-AbC123", "earlier version, gone");
  WriteFile(dir / "x.vcf.tmp-HeLd01", "earlier version, still open");
  WriteFile(dir / "y.vcf.tmp-AbC123", "earlier version, another name");
  WriteFile(dir / "x.vcf.tmp-AbC12", "not the pattern");
  WriteFile(dir / "x.vcf.tmp-AbC1-3", "not the pattern");
  mkdir((dir / (".d.pvtmp-" + dead + "-5")).c_str(), 0700);
  mkdir((dir / "x.vcf.tmp-DiR000").c_str(), 0700);
  ASSERT_EQ(0, symlink("x.vcf.tmp-AbC123", (dir / (".l.pvtmp-" + dead + "-6")).c_str()));
  ASSERT_EQ(0, symlink("y.vcf.tmp-AbC123", (dir / "x.vcf.tmp-LiNk00").c_str()));
  const int held = open((dir / (".y.vcf.pvtmp-" + dead + "-2")).c_str(), O_RDONLY);
  ASSERT_EQ(flock(held, LOCK_EX), 0);
  const int heldLegacy = open((dir / "x.vcf.tmp-HeLd01").c_str(), O_RDONLY);
  ASSERT_GE(heldLegacy, 0);

  auto expected = Entries(dir.path());
  expected.erase(".x.vcf.pvtmp-" + dead + "-1");
  expected.erase("x.vcf.tmp-AbC123");
  // Opening a writer in the folder cleans it.
  SaveFileAtomic(dir / "x.vcf", "new");
  expected.insert("x.vcf");
  EXPECT_EQ(Entries(dir.path()), expected);
  close(heldLegacy);
  SaveFileAtomic(dir / "x.vcf", "newer");
  expected.erase("x.vcf.tmp-HeLd01");
  EXPECT_EQ(Entries(dir.path()), expected);
  close(held);
  EXPECT_EQ(RemoveStaleTempFiles(dir.path()), 1);
  EXPECT_EQ(RemoveStaleTempFiles(dir / "missing"), 0);
}

TEST_F(AtomicFile, KilledWriterLeavesTheOldFileAndTheNextWriterCleansUp) {
  for (bool unnamed : {true, false}) {
    SCOPED_TRACE(unnamed ? "unnamed" : "named");
    TScopedOverride files(SetUnnamedFilesForTests, unnamed);
    const std::string name = dir / "out.vcf";
    WriteFile(name, "old");
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    const pid_t child = fork();
    if (child == 0) {
      AtomicFileWriter writer(name);
      writer.Write(std::string(1 << 20, 'n'));
      (void)!write(ready[1], "w", 1);
      pause();
      _exit(0);
    }
    char c;
    ASSERT_EQ(read(ready[0], &c, 1), 1);
    EXPECT_EQ(Entries(dir.path()).size(), unnamed ? 1u : 2u);
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    close(ready[0]);
    close(ready[1]);
    EXPECT_EQ(ReadFile(name), "old");
    SaveFileAtomic(name, "new");
    EXPECT_EQ(Entries(dir.path()), std::set<std::string>{"out.vcf"});
    EXPECT_EQ(ReadFile(name), "new");
  }
}

TEST_F(AtomicFile, LinksAreFollowedAndStayLinks) {
  mkdir((dir / "real").c_str(), 0700);
  WriteFile(dir / "real/target.vcf", "old");
  struct Case {
    const char* link;
    std::string to;  // what the link holds
    const char* replaced;
  } cases[] = {
      {"abs", dir / "real/target.vcf", "real/target.vcf"},
      {"rel", "real/target.vcf", "real/target.vcf"},
      {"chain", "rel", "real/target.vcf"},
      {"dangling", "real/new.vcf", "real/new.vcf"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.link);
    ASSERT_EQ(symlink(c.to.c_str(), (dir / c.link).c_str()), 0);
    EXPECT_EQ(ResolveReplaceTarget(dir / c.link), dir / c.replaced);
    EXPECT_EQ(SaveError(dir / c.link, c.link), "");
    EXPECT_TRUE(S_ISLNK(Mode(dir / c.link)));
    EXPECT_EQ(ReadFile(dir / c.replaced), c.link);
  }
  EXPECT_EQ(Entries(dir / "real"), (std::set<std::string>{"new.vcf", "target.vcf"}));
}

TEST_F(AtomicFile, WhatIsNoRegularFileIsNeverReplaced) {
  mkfifo((dir / "fifo").c_str(), 0600);
  mkdir((dir / "folder").c_str(), 0700);
  ASSERT_EQ(0, symlink("loop2", (dir / "loop1").c_str()));
  ASSERT_EQ(0, symlink("loop1", (dir / "loop2").c_str()));
  ASSERT_EQ(0, symlink("fifo", (dir / "tofifo").c_str()));
  const int sock = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::strncpy(addr.sun_path, (dir / "sock").c_str(), sizeof addr.sun_path - 1);
  ASSERT_EQ(bind(sock, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  const bool root = geteuid() == 0;
  if (root) mknod((dir / "null").c_str(), S_IFCHR | 0666, makedev(1, 3));
  struct Case {
    const char* name;
    const char* reason;
    mode_t kind;
  } cases[] = {
      {"fifo", "(keine gew\xF6hnliche Datei)", S_IFIFO},
      {"tofifo", "(keine gew\xF6hnliche Datei)", S_IFLNK},
      {"folder", "(keine gew\xF6hnliche Datei)", S_IFDIR},
      {"sock", "(keine gew\xF6hnliche Datei)", S_IFSOCK},
      {"loop1", "(", S_IFLNK},
      {"null", "(keine gew\xF6hnliche Datei)", S_IFCHR},
  };
  for (const auto& c : cases) {
    if (!root && c.kind == S_IFCHR) continue;
    SCOPED_TRACE(c.name);
    const std::string message = SaveError(dir / c.name, "x");
    EXPECT_EQ(message.rfind("Datei " + dir / c.name + " kann nicht erstellt werden " + c.reason, 0),
              0u)
        << message;
    EXPECT_EQ(Mode(dir / c.name) & S_IFMT, c.kind);
  }
  close(sock);
}

// Links in a folder that is sticky and writable by all, as /tmp: whose links are followed.
TEST_F(AtomicFile, LinksInSharedFoldersFollowTheProtectedLinkRule) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to give links and folders other owners";
  constexpr uid_t kOwner = 64001, kStranger = 64002;
  WriteFile(dir / "victim", "precious");
  struct Case {
    mode_t folderMode;
    uid_t linkOwner;
    bool followed;
  } cases[] = {
      {01777, kStranger, false}, {01777, kOwner, true},    {01777, 0, true},
      {0777, kStranger, true},   {01775, kStranger, true}, {01770, kStranger, true},
  };
  int n = 0;
  for (const auto& c : cases) {
    const std::string shared = dir / ("shared" + std::to_string(n++));
    SCOPED_TRACE(shared + " link of " + std::to_string(c.linkOwner));
    mkdir(shared.c_str(), 0700);
    chmod(shared.c_str(), c.folderMode);
    ASSERT_EQ(chown(shared.c_str(), kOwner, kOwner), 0);
    ASSERT_EQ(symlink((dir / "victim").c_str(), (shared + "/out.vcf").c_str()), 0);
    ASSERT_EQ(lchown((shared + "/out.vcf").c_str(), c.linkOwner, c.linkOwner), 0);
    const std::string message = SaveError(shared + "/out.vcf", "replaced");
    EXPECT_EQ(message.empty(), c.followed) << message;
    if (!c.followed) {
      EXPECT_NE(message.find("anderen Benutzers"), std::string::npos) << message;
    }
    EXPECT_EQ(ReadFile(dir / "victim"), c.followed ? "replaced" : "precious");
    EXPECT_TRUE(S_ISLNK(Mode(shared + "/out.vcf")));
    WriteFile(dir / "victim", "precious");
  }
}

TEST(SystemErrorText, LocaleTextBecomesWindows1252) {
  const std::string saved = std::setlocale(LC_CTYPE, nullptr);
  struct Case {
    const char* locale;
    std::string in, out;
  } cases[] = {
      {"C.UTF-8",
       "Ger\xC3\xA4t nicht verf\xC3\xBC"
       "gbar",
       "Ger\xE4t nicht verf\xFCgbar"},
      {"C.UTF-8", "plain", "plain"},
      {"C", "Ger\xE4t", "Ger\xE4t"},  // a Latin code page is taken as it is
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.locale);
    ASSERT_NE(std::setlocale(LC_CTYPE, c.locale), nullptr);
    EXPECT_EQ(LocaleTextToAnsi(c.in), c.out);
  }
  std::setlocale(LC_CTYPE, saved.c_str());
}

// strerror under a German UTF-8 locale, built into a private folder when the system has none.
TEST(SystemErrorText, GermanSystemMessagesReadRight) {
  TempDir locales;
  const std::string build =
      "localedef -i de_DE -f UTF-8 " + locales / "de_DE.UTF-8" + " >/dev/null 2>&1";
  if (std::system(build.c_str()) != 0) GTEST_SKIP() << "localedef cannot build de_DE.UTF-8";
  setenv("LOCPATH", locales.path().c_str(), 1);
  const std::string saved = std::setlocale(LC_ALL, nullptr);
  if (std::setlocale(LC_ALL, "de_DE.UTF-8") == nullptr) {
    unsetenv("LOCPATH");
    GTEST_SKIP() << "de_DE.UTF-8 not usable";
  }
  const std::string raw = std::strerror(ENODEV);
  const std::string text = SystemErrorText(ENODEV);
  std::setlocale(LC_ALL, saved.c_str());
  unsetenv("LOCPATH");
  if (raw == "No such device") GTEST_SKIP() << "no German system messages installed";
  EXPECT_EQ(text, Utf8ToAnsi(raw));
  EXPECT_NE(text.find('\xE4'), std::string::npos) << text;  // "Ger\xE4t"
  EXPECT_EQ(text.find('\xC3'), std::string::npos) << text;
}

TEST(PrivateFolders, EveryFolderFromTheWorkFolderDownIsChecked) {
  TempDir dir;
  const std::string work = dir / "PVTempDir", sub = work + "/vcard";
  mkdir(work.c_str(), 0700);
  mkdir(sub.c_str(), 0700);
  struct Case {
    mode_t workMode, subMode;
    bool subPrivate;
  } cases[] = {
      {0700, 0700, true},  {0755, 0700, false}, {0770, 0700, false},
      {0700, 0750, false}, {0711, 0700, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.workMode) + " " + std::to_string(c.subMode));
    chmod(work.c_str(), c.workMode);
    chmod(sub.c_str(), c.subMode);
    EXPECT_EQ(IsPrivateFolder(sub + "/"), c.subPrivate);
    EXPECT_EQ(IsPrivateFolder(work), c.workMode == 0700);
  }
  chmod(work.c_str(), 0700);
  // Folders above the work folder are not its business; a work folder that is a link is refused.
  chmod(dir.path().c_str(), 0755);
  EXPECT_TRUE(IsPrivateFolder(sub));
  mkdir((dir / "elsewhere").c_str(), 0700);
  ASSERT_EQ(0, symlink((dir / "elsewhere").c_str(), (dir / "linked").c_str()));
  mkdir((dir / "linked/PVTempDir").c_str(), 0700);
  EXPECT_TRUE(IsPrivateFolder(dir / "linked/PVTempDir"));
  rename((dir / "PVTempDir").c_str(), (dir / "moved").c_str());
  ASSERT_EQ(0, symlink((dir / "moved").c_str(), (dir / "PVTempDir").c_str()));
  EXPECT_FALSE(IsPrivateFolder(sub));
  if (geteuid() == 0) {
    unlink((dir / "PVTempDir").c_str());
    rename((dir / "moved").c_str(), (dir / "PVTempDir").c_str());
    ASSERT_TRUE(IsPrivateFolder(sub));
    ASSERT_EQ(0, chown(work.c_str(), 64001, 64001));  // PVTempDir of another user
    EXPECT_FALSE(IsPrivateFolder(sub));
  }
}

}  // namespace
}  // namespace pv
