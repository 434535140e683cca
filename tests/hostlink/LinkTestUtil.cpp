#include "tests/hostlink/LinkTestUtil.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "files/Folders.h"
#include "hostlink/HostValue.h"
#include "hostlink/IPCClient.h"

namespace pv::test {

namespace {
constexpr int kPeerPatienceMs = 5000;

bool WaitFor(int fd, short events, int ms) {
  pollfd p{fd, events, 0};
  return poll(&p, 1, ms) > 0;
}
}  // namespace

std::string Le64(int64_t v) {
  std::string b(8, '\0');
  for (int i = 0; i < 8; ++i) b[i] = static_cast<char>(static_cast<uint64_t>(v) >> (8 * i));
  return b;
}

std::string Frame(const std::string& id, const std::string& data) {
  return Le64(static_cast<int64_t>(id.size())) + id + Le64(static_cast<int64_t>(data.size())) +
         data;
}

void LinkTest::SetUp() {
  const char* old = std::getenv("TMPDIR");
  hadTmp_ = old != nullptr;
  if (old) oldTmp_ = old;
  setenv("TMPDIR", tmp_.path().c_str(), 1);
}

void LinkTest::TearDown() {
  if (hadTmp_) {
    setenv("TMPDIR", oldTmp_.c_str(), 1);
  } else {
    unsetenv("TMPDIR");
  }
}

std::string LinkTest::WorkFolder() const { return tmp_.path() + "/PVTempDir/"; }

ScriptedPeer::ScriptedPeer(const std::string& name, std::function<void(int fd)> serve) {
  const std::string file = GetWorkFolder("pipe") + name;
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::memcpy(addr.sun_path, file.data(), std::min(file.size(), sizeof(addr.sun_path) - 1));
  file_ = file;
  unlink(file.c_str());
  listenFd_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0 ||
      listen(listenFd_, 4) != 0) {
    ADD_FAILURE() << "cannot listen on " << file;
    return;
  }
  thread_ = std::thread([this, serve = std::move(serve)] {
    if (!WaitFor(listenFd_, POLLIN, kPeerPatienceMs)) {
      ADD_FAILURE() << "no client came";
      return;
    }
    const int fd = accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
    serve(fd);
    close(fd);
  });
}

ScriptedPeer::~ScriptedPeer() {
  if (thread_.joinable()) thread_.join();
  close(listenFd_);
  unlink(file_.c_str());
}

std::string ReadN(int fd, size_t n) {
  std::string got;
  char buf[65536];
  while (got.size() < n && WaitFor(fd, POLLIN, kPeerPatienceMs)) {
    const ssize_t r = recv(fd, buf, std::min(sizeof(buf), n - got.size()), 0);
    if (r <= 0) break;
    got.append(buf, static_cast<size_t>(r));
  }
  return got;
}

std::string ReadToEnd(int fd) {
  std::string got;
  char buf[65536];
  while (WaitFor(fd, POLLIN, kPeerPatienceMs)) {
    const ssize_t r = recv(fd, buf, sizeof(buf), 0);
    if (r <= 0) break;
    got.append(buf, static_cast<size_t>(r));
  }
  return got;
}

void SendAll(int fd, const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t w = send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    if (w <= 0) return;
    done += static_cast<size_t>(w);
  }
}

bool Quiet(int fd, int ms) { return !WaitFor(fd, POLLIN, ms); }

std::string ReadRequest(int fd) {
  auto int64At = [](const std::string& b) {
    uint64_t u = 0;
    for (size_t i = 0; i < 8 && i < b.size(); ++i) {
      u |= static_cast<uint64_t>(static_cast<unsigned char>(b[i])) << (8 * i);
    }
    return static_cast<size_t>(u);
  };
  std::string request = ReadN(fd, 8);
  request += ReadN(fd, int64At(request));
  const std::string size = ReadN(fd, 8);
  return request + size + ReadN(fd, int64At(size));
}

}  // namespace pv::test
