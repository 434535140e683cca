#include "tests/carddav/SyncTestUtil.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <thread>

#include "tests/support/Process.h"
#include "tests/support/RadicaleServer.h"
#include "tests/support/TempDir.h"

namespace pv::test {
namespace {

std::vector<std::string> Environment(const std::string& tmp, const std::string& password) {
  std::vector<std::string> env =
      EnvironmentWithout({"DISPLAY=", "WAYLAND_DISPLAY=", "TMPDIR=", "QT_QPA_PLATFORM=",
                          "PV_CARDDAV_PASSWORD=", "DBUS_SESSION_BUS_ADDRESS="});
  env.push_back("TMPDIR=" + tmp);
  if (!password.empty()) env.push_back("PV_CARDDAV_PASSWORD=" + password);
  return env;
}

}  // namespace

pid_t StartSync(const std::vector<std::string>& args, const std::string& tmp,
                const std::string& password) {
  return SpawnProgram(PV_PROGRAM, args, Environment(tmp, password), tmp + "/stderr.txt",
                      tmp + "/stdout.txt");
}

ProgramOutcome WaitSync(pid_t pid, const std::string& tmp) {
  ProgramOutcome o;
  int status = 0;
  if (pid > 0 && waitpid(pid, &status, 0) == pid) o.status = ExitStatus(status);
  o.out = ReadFile(tmp + "/stdout.txt");
  o.err = ReadFile(tmp + "/stderr.txt");
  return o;
}

ProgramOutcome RunSync(const std::vector<std::string>& args, const std::string& tmp,
                       const std::string& password) {
  return WaitSync(StartSync(args, tmp, password), tmp);
}

void ExecSql(const std::string& folder, const std::string& sql) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open((folder + "/Parvela.sqlite").c_str(), &db), SQLITE_OK);
  char* error = nullptr;
  const int rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error);
  EXPECT_EQ(rc, SQLITE_OK) << (error ? error : "") << "\n" << sql;
  sqlite3_free(error);
  sqlite3_close(db);
}

std::string LedgerText(const std::string& folder) {
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator(folder + "/vCard.Export", ec)) {
    if (e.path().filename().string().rfind("carddav-", 0) == 0) return ReadFile(e.path());
  }
  return {};
}

std::vector<int64_t> LedgerIds(const std::string& folder) {
  std::vector<int64_t> ids;
  std::istringstream in(LedgerText(folder));
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line[0] != '#') ids.push_back(std::stoll(line));
  }
  return ids;
}

std::string CheckBook(const std::string& bookUrl, int cards, const std::string& version,
                      const std::string& exportFile) {
  TempDir dir;
  const std::string out = dir / "check.txt";
  const std::string cmd =
      std::string("/usr/bin/python3 " PV_SOURCE_DIR "/tests/carddav/check_book.py '") + bookUrl +
      "' " + RadicaleServer::User + " " + RadicaleServer::Password + " " + std::to_string(cards) +
      " " + version + " " + exportFile + " > " + out + " 2>&1";
  const int rc = std::system(cmd.c_str());
  if (WIFEXITED(rc) && WEXITSTATUS(rc) == 0) return {};
  if (WIFEXITED(rc) && WEXITSTATUS(rc) == 77) return {};  // no vobject: the counts still ran
  return "check_book.py: " + ReadFile(out);
}

void ExportFile(const std::string& folder, const std::string& file, const std::string& tmp) {
  // The program trusts only a settings folder private to the user.
  mkdir((tmp + "/PVTempDir").c_str(), 0700);
  mkdir((tmp + "/PVTempDir/vcard").c_str(), 0700);
  WriteFile(tmp + "/PVTempDir/vcard/UserMode.INI", "[MODE]\r\nAsAnsi=0\r\n");
  const ProgramOutcome o = RunSync({"AUTO", folder, file}, tmp, "");
  ASSERT_EQ(o.status, 0) << o.err;
}

int CountRequests(const std::vector<std::string>& log, const std::string& method,
                  const std::string& status) {
  int n = 0;
  for (const auto& line : log) {
    if (line.rfind(method + " ", 0) != 0) continue;
    if (status.empty() ||
        (line.size() > status.size() &&
         line.compare(line.size() - status.size() - 1, std::string::npos, " " + status) == 0))
      ++n;
  }
  return n;
}

}  // namespace pv::test
