#include "tests/support/RadicaleServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <thread>

extern char** environ;

namespace pv::test {
namespace {

constexpr int kStartTimeoutMs = 60000;  // radicale starts slowly on a loaded machine

void Write(const std::string& name, const std::string& text) {
  std::ofstream f(name, std::ios::binary | std::ios::trunc);
  f << text;
}

pid_t Spawn(const std::vector<std::string>& args, const std::string& logFile) {
  std::vector<char*> argv;
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, logFile.c_str(), O_WRONLY | O_CREAT | O_APPEND,
                                   0600);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  pid_t pid = -1;
  if (posix_spawn(&pid, args[0].c_str(), &actions, nullptr, argv.data(), environ) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

void Stop(pid_t& pid) {
  if (pid <= 0) return;
  kill(pid, SIGTERM);
  for (int i = 0; i < 100; ++i) {
    if (waitpid(pid, nullptr, WNOHANG) == pid) {
      pid = -1;
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
  pid = -1;
}

}  // namespace

int FreeLoopbackPort() {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  int port = 0;
  if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
      getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) == 0)
    port = ntohs(a.sin_port);
  close(fd);
  return port;
}

bool WaitForPort(int port, int timeoutMs) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (std::chrono::steady_clock::now() < end) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<uint16_t>(port));
    const bool up = connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    close(fd);
    if (up) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return false;
}

RadicaleServer::RadicaleServer(const std::string& folder) : folder_(folder) {
  if (access("/usr/bin/radicale", X_OK) != 0 || access("/usr/bin/python3", X_OK) != 0) {
    problem_ = "radicale or /usr/bin/python3 is not installed";
    return;
  }
  const std::string book = folder_ + "/collections/collection-root/" + User + "/" + BookName;
  std::filesystem::create_directories(book);
  Write(book + "/.Radicale.props", R"({"tag": "VADDRESSBOOK", "D:displayname": "Kontakte"})");
  Write(folder_ + "/users", std::string(User) + ":" + Password + "\n");
  Write(folder_ + "/rule.json", "");
  ok_ = StartRadicale(FreeLoopbackPort()) && StartProxy();
}

RadicaleServer::~RadicaleServer() {
  Stop(proxy_);
  Stop(radicale_);
}

bool RadicaleServer::StartRadicale(int port) {
  port_ = port;
  Write(folder_ + "/config", "[server]\nhosts = 127.0.0.1:" + std::to_string(port_) +
                                 "\n[auth]\ntype = htpasswd\nhtpasswd_filename = " + folder_ +
                                 "/users\nhtpasswd_encryption = plain\n[storage]\n"
                                 "filesystem_folder = " +
                                 folder_ +
                                 "/collections\n"
                                 "[rights]\ntype = owner_only\n[web]\ntype = none\n"
                                 "[logging]\nlevel = warning\n");
  radicale_ =
      Spawn({"/usr/bin/radicale", "--config", folder_ + "/config"}, folder_ + "/radicale.log");
  if (radicale_ > 0 && WaitForPort(port_, kStartTimeoutMs)) return true;
  problem_ = "radicale did not start; see " + folder_ + "/radicale.log";
  return false;
}

bool RadicaleServer::StartProxy() {
  proxyPort_ = FreeLoopbackPort();
  proxy_ = Spawn({"/usr/bin/python3", PV_SOURCE_DIR "/tests/support/carddav_proxy.py",
                  std::to_string(proxyPort_), std::to_string(port_), folder_ + "/requests.log",
                  folder_ + "/rule.json"},
                 folder_ + "/proxy.log");
  if (proxy_ > 0 && WaitForPort(proxyPort_, kStartTimeoutMs)) return true;
  problem_ = "the proxy did not start; see " + folder_ + "/proxy.log";
  return false;
}

bool RadicaleServer::RestartProxy() {
  Stop(proxy_);
  return StartProxy();
}

void RadicaleServer::StopRadicale() { Stop(radicale_); }

bool RadicaleServer::RestartRadicale() {
  Stop(radicale_);
  return StartRadicale(port_);
}

std::string RadicaleServer::ServerUrl() const {
  return "http://127.0.0.1:" + std::to_string(proxyPort_) + "/";
}

std::string RadicaleServer::BookUrl() const { return ServerUrl() + User + "/" + BookName + "/"; }

std::string RadicaleServer::DirectBookUrl() const {
  return "http://127.0.0.1:" + std::to_string(port_) + "/" + User + "/" + BookName + "/";
}

std::vector<std::string> RadicaleServer::Requests() const {
  std::vector<std::string> lines;
  std::ifstream f(folder_ + "/requests.log");
  for (std::string line; std::getline(f, line);) lines.push_back(line);
  return lines;
}

std::map<std::string, int> RadicaleServer::MethodCounts() const {
  std::map<std::string, int> counts;
  for (const auto& line : Requests()) ++counts[line.substr(0, line.find(' '))];
  return counts;
}

void RadicaleServer::ClearRequests() { Write(folder_ + "/requests.log", ""); }

void RadicaleServer::SetRule(const std::string& json) { Write(folder_ + "/rule.json", json); }

}  // namespace pv::test
