#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <filesystem>

#include "files/Errors.h"
#include "files/FileUtil.h"
#include "files/Folders.h"
#include "files/ScopedOverride.h"
#include "tests/support/TempDir.h"

namespace pv {
namespace {

using test::ReadFile;
using test::TempDir;
using test::WriteFile;

TEST(FileUtil, AddAndRemoveBackslash) {
  struct Case {
    std::string in, added, removed;
  } cases[] = {{"", "", ""},
               {"ab", "ab/", "ab"},
               {"ab/", "ab/", "ab"},
               {"ab//", "ab//", "ab/"},
               {"C:", "C:/", "C:"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.in);
    EXPECT_EQ(AddBackslash(c.in), c.added);
    EXPECT_EQ(RemoveBackslash(c.in), c.removed);
  }
}

TEST(FileUtil, PathAndNameParts) {
  struct Case {
    std::string in, path, name;
  } cases[] = {{"/a/b.vcf", "/a/", "b.vcf"},
               {"b.vcf", "", "b.vcf"},
               {"/x", "/", "x"},
               {"a/b/", "a/b/", ""},
               {"", "", ""}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.in);
    EXPECT_EQ(ExtractFilePath(c.in), c.path);
    EXPECT_EQ(ExtractFileName(c.in), c.name);
  }
}

TEST(FileUtil, ExistenceTestsTellFilesFoldersAndLinksApart) {
  TempDir dir;
  WriteFile(dir / "f", "x");
  mkdir((dir / "d").c_str(), 0700);
  ASSERT_EQ(symlink((dir / "f").c_str(), (dir / "lf").c_str()), 0);
  ASSERT_EQ(symlink((dir / "d").c_str(), (dir / "ld").c_str()), 0);
  ASSERT_EQ(symlink((dir / "none").c_str(), (dir / "dangling").c_str()), 0);
  struct Case {
    const char* name;
    bool file, fileNoFollow, folder;
  } cases[] = {
      {"f", true, true, false},  {"d", false, false, true},        {"lf", true, true, false},
      {"ld", false, true, true}, {"dangling", false, true, false}, {"none", false, false, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(FileExistsSafe(dir / c.name), c.file);
    EXPECT_EQ(FileExistsSafe(dir / c.name, false), c.fileNoFollow);
    EXPECT_EQ(DirectoryExistsSafe(dir / c.name), c.folder);
  }
  EXPECT_FALSE(FileExistsSafe(""));
}

TEST(FileUtil, ForceFoldersCreatesMissingParents) {
  TempDir dir;
  EXPECT_TRUE(ForceFolders(dir / "a/b/c/"));
  EXPECT_TRUE(DirectoryExistsSafe(dir / "a/b/c"));
  EXPECT_TRUE(ForceFolders(dir / "a/b/c"));
  EXPECT_TRUE(ForceFolders("/"));
  EXPECT_THROW(ForceFolders(""), EInOutError);
  WriteFile(dir / "file", "");
  EXPECT_FALSE(ForceFolders(dir / "file/sub"));
}

TEST(FileUtil, DeleteFileRetry) {
  TempDir dir;
  EXPECT_TRUE(DeleteFileRetry(dir / "missing"));
  WriteFile(dir / "f", "x");
  EXPECT_TRUE(DeleteFileRetry(dir / "f"));
  EXPECT_FALSE(FileExistsSafe(dir / "f"));
}

TEST(FileUtil, LoadListRetrySplitsEveryKindOfLineEnd) {
  TempDir dir;
  std::vector<std::string> list{"kept"};
  LoadListRetry(list, dir / "missing");
  EXPECT_EQ(list, std::vector<std::string>{"kept"});
  WriteFile(dir / "f", "one\r\ntwo\nthree\rfour\r\n\r\nsix");
  LoadListRetry(list, dir / "f");
  EXPECT_EQ(list, (std::vector<std::string>{"one", "two", "three", "four", "", "six"}));
}

TEST(FileUtil, ReadToEndAppendsUpToTheLimit) {
  TempDir dir;
  const std::string body(200000, 'b');  // several reads
  WriteFile(dir / "f", body);
  struct Case {
    size_t limit;
    size_t expected;
  } cases[] = {{0, 0}, {3, 3}, {65537, 65537}, {body.size(), body.size()}, {SIZE_MAX, body.size()}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.limit);
    const int fd = open((dir / "f").c_str(), O_RDONLY);
    std::string data = "kept";
    EXPECT_TRUE(ReadToEnd(fd, data, c.limit));
    close(fd);
    EXPECT_EQ(data, "kept" + body.substr(0, c.expected));
  }
  std::string data;
  EXPECT_FALSE(ReadToEnd(-1, data));
  EXPECT_EQ(errno, EBADF);
  EXPECT_THROW(ReadWholeFile(dir / "missing"), EFCreateError);
}

TEST(FileUtil, SaveFileAtomicReplacesTheFileAndKeepsItsMode) {
  TempDir dir;
  const std::string name = dir / "out.vcf";
  SaveFileAtomic(name, "first");
  chmod(name.c_str(), 0640);
  SaveFileAtomic(name, "second");
  EXPECT_EQ(ReadFile(name), "second");
  struct stat st;
  ASSERT_EQ(stat(name.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
}

TEST(FileUtil, FailedWritesLeaveTheOldFileWholeAndNoTemporaryFile) {
  TempDir dir;
  const std::string name = dir / "out.vcf";
  WriteFile(name, "old contents");
  {
    TScopedOverride failure(SetWriteFailureForTests, TWriteFailure{"out.vcf", 3});
    try {
      SaveFileAtomic(name, "new contents that do not fit");
      ADD_FAILURE() << "no error";
    } catch (const EFCreateError& e) {
      EXPECT_NE(std::string(e.what()).find("kann nicht erstellt werden"), std::string::npos);
    }
  }
  EXPECT_EQ(ReadFile(name), "old contents");
  EXPECT_THROW(SaveFileAtomic(dir.path(), "x"), EFCreateError);            // a folder
  EXPECT_THROW(SaveFileAtomic(dir / "no/such/file", "x"), EFCreateError);  // missing folder
  // Only the original file is left.
  int entries = 0;
  for (auto& e : std::filesystem::directory_iterator(dir.path())) entries += e.is_regular_file();
  EXPECT_EQ(entries, 1);
}

TEST(Folders, WorkFolderIsPrivateAndFollowsTmpdir) {
  TempDir dir;
  const char* old = std::getenv("TMPDIR");
  const std::string saved = old ? old : "";
  setenv("TMPDIR", dir.path().c_str(), 1);
  const std::string work = GetWorkFolder("vcard");
  EXPECT_EQ(work, dir.path() + "/PVTempDir/vcard/");
  EXPECT_TRUE(IsPrivateFolder(work));
  EXPECT_TRUE(IsPrivateFolder(dir / "PVTempDir"));
  EXPECT_EQ(GetWorkFolder(""), dir.path() + "/PVTempDir/");
  chmod((dir / "PVTempDir").c_str(), 0755);
  EXPECT_FALSE(IsPrivateFolder(dir / "PVTempDir"));
  old ? setenv("TMPDIR", saved.c_str(), 1) : unsetenv("TMPDIR");
}

TEST(Folders, DesktopComesFromTheXdgSettings) {
  TempDir dir;
  mkdir((dir / "Schreibtisch").c_str(), 0700);
  WriteFile(dir / "user-dirs.dirs",
            "# comment\nXDG_DESKTOP_DIR=\"" + dir.path() + "/Schreibtisch\"\n");
  unsetenv("XDG_DESKTOP_DIR");
  setenv("XDG_CONFIG_HOME", dir.path().c_str(), 1);
  EXPECT_EQ(GetSpecialFolder(CSIDL_DESKTOP), dir.path() + "/Schreibtisch/");
  WriteFile(dir / "user-dirs.dirs", "XDG_DESKTOP_DIR=\"" + dir.path() + "/gone\"\n");
  EXPECT_EQ(GetSpecialFolder(CSIDL_DESKTOP), "");
  unsetenv("XDG_CONFIG_HOME");
  EXPECT_EQ(ConnectUNCPath(u"/srv/db"), 0);
  EXPECT_EQ(ConnectUNCPath(u"//server/share"), 50);
}

}  // namespace
}  // namespace pv
