// Helpers of the host link tests: a private $TMPDIR per test, the timing limits lowered for the
// test's length, an in-process scripted peer on the pipe socket, and framing bytes.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <thread>

#include "files/ScopedOverride.h"
#include "hostlink/HostValue.h"
#include "hostlink/IPCClient.h"
#include "tests/support/TempDir.h"

namespace pv::test {

// Little-endian 64-bit integer as 8 bytes.
std::string Le64(int64_t v);
// An answer in the pipe framing: ID length, ID, data size, data.
std::string Frame(const std::string& id, const std::string& data);

// The connect and transfer limits while a LinkTest runs.
inline constexpr uint32_t kLinkTestTimeoutMs = 1000;

// Points $TMPDIR at a fresh private folder for the test and lowers the connect and transfer
// limits; both are put back afterwards.
class LinkTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  // <private temp>/PVTempDir/
  std::string WorkFolder() const;

  TempDir tmp_;

 private:
  std::string oldTmp_;
  bool hadTmp_ = false;
  TScopedOverride<uint32_t> connect_{SetIPCConnectTimeoutForTests, kLinkTestTimeoutMs};
  TScopedOverride<uint32_t> transfer_{SetIPCTransferTimeoutForTests, kLinkTestTimeoutMs};
};

// Listens on the pipe name in the current working folder and runs serve on the first client's
// socket, on a thread of its own. The socket is closed when serve returns.
class ScriptedPeer {
 public:
  ScriptedPeer(const std::string& name, std::function<void(int fd)> serve);
  ~ScriptedPeer();  // waits for serve to end
  ScriptedPeer(const ScriptedPeer&) = delete;
  ScriptedPeer& operator=(const ScriptedPeer&) = delete;

 private:
  std::string file_;
  int listenFd_ = -1;
  std::thread thread_;
};

// Socket helpers for scripted peers (each gives up after a few seconds).
std::string ReadN(int fd, size_t n);
std::string ReadToEnd(int fd);
void SendAll(int fd, const std::string& bytes);
// True when the client has sent nothing more within ms.
bool Quiet(int fd, int ms);
// The request as a peer receives it: ID length and ID, data size, data.
std::string ReadRequest(int fd);

}  // namespace pv::test
