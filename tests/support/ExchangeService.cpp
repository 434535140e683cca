#include "tests/support/ExchangeService.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <thread>

extern char** environ;

namespace pv::test {
namespace {

using Clock = std::chrono::steady_clock;

std::string Env(const char* name) {
  const char* v = std::getenv(name);
  return v ? v : "";
}

std::string WithSlash(std::string dir) {
  if (!dir.empty() && dir.back() != '/') dir += '/';
  return dir;
}

// Reads the first line the child prints (its pipe name), at most until the deadline.
std::string ReadFirstLine(int fd, Clock::time_point deadline) {
  std::string line;
  for (;;) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) return "";
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(left)) <= 0) continue;
    char c;
    const ssize_t r = read(fd, &c, 1);
    if (r <= 0) return "";
    if (c == '\n') return line;
    line += c;
  }
}

// Waits for the child to end; its exit code, or -1 for a signal or after the deadline.
int WaitExit(pid_t pid, Clock::time_point deadline) {
  for (;;) {
    int status = 0;
    const pid_t r = waitpid(pid, &status, WNOHANG);
    if (r == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    if (r < 0 && errno != EINTR) return -1;
    if (Clock::now() >= deadline) return -2;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

}  // namespace

std::string ExchangeService::DefaultBinary() {
  return PV_BINARY_DIR "/tools/exchange/pv-exchange-service";
}

ExchangeService::ExchangeService(Options options)
    : tempFolder_(options.tempFolder.empty() ? Env("TMPDIR") : options.tempFolder) {
  static std::atomic<int> counter{0};
  logFile_ = WithSlash(tempFolder_) + "exchange-service-" + std::to_string(getpid()) + "-" +
             std::to_string(counter++) + ".log";
  const std::string binary = options.binary.empty() ? DefaultBinary() : options.binary;

  std::vector<std::string> args = {binary, "--log", logFile_};
  for (const auto& [name, text] : options.values) {
    args.push_back("--value");
    args.push_back(name + "=" + text);
  }
  if (!options.name.empty()) {
    args.push_back("--name");
    args.push_back(options.name);
  }
  args.insert(args.end(), options.switches.begin(), options.switches.end());

  std::vector<std::string> env;
  for (char** e = environ; *e; ++e) {
    if (std::string(*e).rfind("TMPDIR=", 0) != 0) env.push_back(*e);
  }
  env.push_back("TMPDIR=" + tempFolder_);

  std::vector<char*> argv, envp;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  for (auto& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);

  int out[2];
  if (pipe2(out, O_CLOEXEC) != 0) {
    ADD_FAILURE() << "pipe failed";
    return;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  pid_t pid = -1;
  const int rc = posix_spawn(&pid, binary.c_str(), &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  close(out[1]);
  if (rc != 0) {
    close(out[0]);
    ADD_FAILURE() << "cannot start " << binary << ": " << strerror(rc);
    return;
  }
  pid_ = pid;
  // The service prints its pipe name once its socket listens and its name file is written.
  name_ = ReadFirstLine(out[0], Clock::now() + std::chrono::seconds(10));
  close(out[0]);
  if (name_.empty()) {
    ADD_FAILURE() << "the exchange service did not come up (exit code "
                  << WaitExit(pid_, Clock::now() + std::chrono::seconds(2)) << ")";
    kill(pid_, SIGKILL);
    WaitExit(pid_, Clock::now() + std::chrono::seconds(10));
    pid_ = -1;
  }
}

ExchangeService::~ExchangeService() {
  if (Running()) Stop();
}

int ExchangeService::Stop() {
  if (!Running()) return -1;
  kill(pid_, SIGTERM);
  int code = WaitExit(pid_, Clock::now() + std::chrono::seconds(10));
  if (code == -2) {
    ADD_FAILURE() << "the exchange service ignored SIGTERM";
    kill(pid_, SIGKILL);
    code = WaitExit(pid_, Clock::now() + std::chrono::seconds(10));
  }
  pid_ = -1;
  return code;
}

void ExchangeService::Kill() {
  if (!Running()) return;
  kill(pid_, SIGKILL);
  WaitExit(pid_, Clock::now() + std::chrono::seconds(10));
  pid_ = -1;
}

std::string ExchangeService::WorkFolder() const { return WithSlash(tempFolder_) + "PVTempDir/"; }

std::string ExchangeService::NameFile() const {
  return WorkFolder() + "QPV-EXCHANGELOCALSERVICE.TXT";
}

std::string ExchangeService::SocketFile() const { return WorkFolder() + "pipe/" + name_; }

std::vector<std::string> ExchangeService::LogLines(size_t minLines, int timeoutMs) const {
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    std::vector<std::string> lines;
    std::ifstream in(logFile_);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    if (lines.size() >= minLines || Clock::now() >= deadline) return lines;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

}  // namespace pv::test
