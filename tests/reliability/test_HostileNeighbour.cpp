// Another local user tries to make the program replace files it should not, or to feed it his
// settings: links planted in shared folders, devices, FIFOs and sockets where the output goes, a
// working folder of his own or one he can write to. Runs the real program; needs root to create
// the neighbour (removed afterwards), and is skipped otherwise.
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <thread>

#include "tests/support/Process.h"
#include "tests/support/SampleDb.h"
#include "tests/support/TempDir.h"

namespace pv {
namespace {

using test::ReadFile;
using test::TempDir;
using test::WriteFile;

constexpr auto kRunLimit = std::chrono::seconds(120);  // only against a hang, never a timing
constexpr const char* kUmlautUtf8 = "M\xC3\xBCller";
constexpr const char* kUmlautAnsi = "M\xFCller";

struct Outcome {
  int status = -1;
  std::string err;
};

// Runs program with args and TMPDIR, no display, standard error captured; a run that outlives
// kRunLimit is killed and reported as status -1.
Outcome RunProgram(const char* program, const std::vector<std::string>& args,
                   const std::string& tmp, const std::string& errFile) {
  std::vector<std::string> env{"TMPDIR=" + tmp, "HOME=" + tmp, "LANG=C.UTF-8",
                               "PATH=/usr/bin:/bin"};
  Outcome out;
  const pid_t pid = test::SpawnProgram(program, args, std::move(env), errFile);
  if (pid > 0) {
    const auto end = std::chrono::steady_clock::now() + kRunLimit;
    int status = 0;
    while (waitpid(pid, &status, WNOHANG) == 0) {
      if (std::chrono::steady_clock::now() > end) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
        status = -1;
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (status != -1) out.status = test::ExitStatus(status);
  }
  out.err = ReadFile(errFile);
  return out;
}

mode_t Kind(const std::string& name) {
  struct stat st {};
  if (lstat(name.c_str(), &st) != 0) return 0;
  return st.st_mode & S_IFMT;
}

class HostileNeighbour : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (geteuid() != 0) return;
    name_ = "pvnb" + std::to_string(getpid());
    const std::string add =
        "useradd --no-create-home --shell /usr/sbin/nologin " + name_ + " >/dev/null 2>&1";
    if (std::system(add.c_str()) != 0) return;
    if (const passwd* pw = getpwnam(name_.c_str())) {
      uid_ = pw->pw_uid;
      gid_ = pw->pw_gid;
    }
  }
  static void TearDownTestSuite() {
    if (uid_ == 0) return;
    const std::string del = "userdel " + name_ + " >/dev/null 2>&1";
    EXPECT_EQ(std::system(del.c_str()), 0) << "could not remove the user " << name_;
    uid_ = 0;
  }

  void SetUp() override {
    if (geteuid() != 0) GTEST_SKIP() << "runs only as root: it creates a second user";
    if (uid_ == 0) GTEST_SKIP() << "useradd failed: no second user";
    chmod(base.path().c_str(), 0755);  // the neighbour may walk through
    db = base / "db";
    test::MakeDatabase(db,
                       {{.ID = 1,
                         .NName = "M\xC3\xBCller",
                         .VName = "Anna",
                         .IX = "anna@example.org 0171 2345678"}},
                       true);
    chmod(db.c_str(), 0755);
    tmp = base / "tmp";
    mkdir(tmp.c_str(), 0700);
  }

  // Runs fn as the neighbour, in a child process; true when it returned true there.
  static bool AsNeighbour(const std::function<bool()>& fn) {
    const pid_t child = fork();
    if (child == 0) {
      const bool ok = setgroups(0, nullptr) == 0 && setgid(gid_) == 0 && setuid(uid_) == 0 && fn();
      _exit(ok ? 0 : 1);
    }
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
  }

  Outcome Export(const std::string& out, const std::string& tmpDir = "") {
    return RunProgram(PV_PROGRAM, {"AUTO", db, out}, tmpDir.empty() ? tmp : tmpDir,
                      base / "stderr");
  }

  // A folder as /tmp is: sticky, writable by all, owned by owner.
  std::string SharedFolder(const std::string& name, uid_t owner) {
    const std::string folder = base / name;
    mkdir(folder.c_str(), 0700);
    EXPECT_EQ(0, chown(folder.c_str(), owner, owner));
    chmod(folder.c_str(), 01777);
    return folder;
  }

  static std::string name_;
  static uid_t uid_;
  static gid_t gid_;
  TempDir base;
  std::string db, tmp;
};

std::string HostileNeighbour::name_;
uid_t HostileNeighbour::uid_ = 0;
gid_t HostileNeighbour::gid_ = 0;

TEST_F(HostileNeighbour, LinksInSharedFoldersFollowTheProtectedLinkRule) {
  const std::string shared = SharedFolder("shared", 0), his = SharedFolder("his", uid_);
  struct Case {
    std::string link;
    bool byNeighbour, followed;
  } cases[] = {
      {shared + "/planted.vcf", true, false},  // his link in a folder of root's
      {shared + "/mine.vcf", false, true},     // the user's own link
      {his + "/his.vcf", true, true},          // his link in his own folder
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.link);
    const std::string victim = base / "victim";
    WriteFile(victim, "precious");
    auto plant = [&] { return symlink(victim.c_str(), c.link.c_str()) == 0; };
    ASSERT_TRUE(c.byNeighbour ? AsNeighbour(plant) : plant());
    const Outcome o = Export(c.link);
    EXPECT_EQ(o.status, c.followed ? 0 : 1) << o.err;
    EXPECT_EQ(Kind(c.link), S_IFLNK);
    const std::string after = ReadFile(victim);
    if (c.followed) {
      EXPECT_NE(after.find("BEGIN:VCARD"), std::string::npos);
    } else {
      EXPECT_EQ(after, "precious");
      EXPECT_NE(o.err.find("symbolischer Link eines anderen Benutzers"), std::string::npos)
          << o.err;
    }
  }
}

TEST_F(HostileNeighbour, DevicesFifosSocketsAndFoldersAreNeverReplaced) {
  const std::string shared = SharedFolder("shared", 0);
  const int sock = socket(AF_UNIX, SOCK_STREAM, 0);
  struct Case {
    std::string target;
    std::function<bool(const std::string&)> make;
    mode_t kind;
  } cases[] = {
      {shared + "/fifo", [](const std::string& n) { return mkfifo(n.c_str(), 0666) == 0; },
       S_IFIFO},
      {base / "null",
       [](const std::string& n) { return mknod(n.c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0; },
       S_IFCHR},
      {shared + "/sock",
       [sock](const std::string& n) {
         sockaddr_un addr{};
         addr.sun_family = AF_UNIX;
         std::strncpy(addr.sun_path, n.c_str(), sizeof addr.sun_path - 1);
         return bind(sock, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
       },
       S_IFSOCK},
      {shared + "/folder", [](const std::string& n) { return mkdir(n.c_str(), 0777) == 0; },
       S_IFDIR},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.target);
    ASSERT_TRUE(c.make(c.target));
    const Outcome o = Export(c.target);
    EXPECT_EQ(o.status, 1) << o.err;
    EXPECT_NE(o.err.find("keine gew\xC3\xB6hnliche Datei"), std::string::npos) << o.err;
    EXPECT_EQ(Kind(c.target), c.kind);
  }
  close(sock);
}

// The settings say UTF-8 (AsAnsi=0); the program's default is ANSI. A working folder that is not
// private is not read (and not written): the export then comes out in ANSI.
TEST_F(HostileNeighbour, ForeignOrOpenWorkFoldersAreRefused) {
  struct Case {
    const char* what;
    mode_t workMode, subMode;
    bool workHis, subHis, used;
  } cases[] = {
      {"private", 0700, 0700, false, false, true},
      {"PVTempDir of the neighbour", 0700, 0700, true, false, false},
      {"vcard of the neighbour", 0700, 0700, false, true, false},
      {"PVTempDir writable by all", 0777, 0700, false, false, false},
      {"PVTempDir writable by the group", 0770, 0700, false, false, false},
      {"vcard readable by others", 0700, 0755, false, false, false},
  };
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string t = base / ("t" + std::to_string(n++));
    const std::string work = t + "/PVTempDir", sub = work + "/vcard";
    mkdir(t.c_str(), 0755);
    mkdir(work.c_str(), 0700);
    mkdir(sub.c_str(), 0700);
    const std::string settings = "[MODE]\r\nAsAnsi=0\r\n";
    WriteFile(sub + "/UserMode.INI", settings);
    if (c.subHis) {
      EXPECT_EQ(0, chown(sub.c_str(), uid_, gid_));
    }
    if (c.workHis) {
      EXPECT_EQ(0, chown(work.c_str(), uid_, gid_));
    }
    chmod(sub.c_str(), c.subMode);
    chmod(work.c_str(), c.workMode);
    const std::string out = base / ("out" + std::to_string(n) + ".vcf");
    const Outcome o = Export(out, t);
    EXPECT_EQ(o.status, 0) << o.err;
    const std::string vcf = ReadFile(out);
    EXPECT_NE(vcf.find(c.used ? kUmlautUtf8 : kUmlautAnsi), std::string::npos) << vcf;
    EXPECT_EQ(ReadFile(sub + "/UserMode.INI"), settings);
  }
}

// The ledger of a shared database folder: a link the neighbour plants there is not followed.
TEST_F(HostileNeighbour, PlantedLedgerLinkIsNotFollowed) {
  const std::string ledgerFolder = db + "/vCard.Export";
  chmod(ledgerFolder.c_str(), 01777);
  const std::string victim = base / "victim", ledger = ledgerFolder + "/calc.txt";
  WriteFile(victim, "precious");
  ASSERT_TRUE(AsNeighbour([&] { return symlink(victim.c_str(), ledger.c_str()) == 0; }));
  const Outcome o =
      RunProgram(PV_BENCH, {db, base / "out.vcf", ledger, "changes"}, tmp, base / "stderr");
  EXPECT_EQ(o.status, 0) << o.err;  // a ledger that cannot be saved does not fail the export
  EXPECT_EQ(ReadFile(victim), "precious");
  EXPECT_EQ(Kind(ledger), S_IFLNK);
  EXPECT_NE(ReadFile(base / "out.vcf").find("BEGIN:VCARD"), std::string::npos);
}

}  // namespace
}  // namespace pv
