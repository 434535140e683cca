// A service that misbehaves on purpose (trickles, stalls, announces huge answers, floods, sends
// garbage) and service name files that are not plain files: the client must give up within its
// time limit and keep its memory near the size of the answer. Each case runs in a child process,
// so that a client that hangs or eats memory cannot take the test program with it.
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "files/AnsiText.h"
#include "hostlink/HostValue.h"
#include "hostlink/IPCClient.h"
#include "tests/hostlink/LinkTestUtil.h"
#include "tests/support/ExchangeService.h"

namespace pv::test {
namespace {

using Clock = std::chrono::steady_clock;

// A child that has not answered after this long is taken to hang (and killed).
constexpr int kChildLimitMs = 60000;

// What a child reports: the text its work returned, how long the work took and how far the
// process's peak memory rose above its size when the work began.
struct ChildReport {
  bool finished = false;
  std::string text;
  long long ms = 0;
  long long growthKiB = 0;
};

long long StatusKiB(const char* field) {
  std::ifstream in("/proc/self/status");
  for (std::string line; std::getline(in, line);) {
    if (line.rfind(field, 0) == 0) return std::stoll(line.substr(std::string(field).size()));
  }
  return 0;
}

// Runs work in a forked child and collects its report; a child still running after
// kChildLimitMs is killed and reported as not finished.
ChildReport RunInChild(const std::function<std::string()>& work) {
  int out[2];
  if (pipe(out) != 0) return {};
  const pid_t pid = fork();
  if (pid == 0) {
    close(out[0]);
    // Start the peak at the present size (when the system allows it).
    std::ofstream("/proc/self/clear_refs") << "5";
    const long long before = StatusKiB("VmRSS:");
    const auto start = Clock::now();
    std::string text = work();
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
    std::ostringstream report;
    report << ms << ' ' << StatusKiB("VmHWM:") - before << ' ' << text;
    const std::string bytes = report.str();
    [[maybe_unused]] ssize_t ignored = write(out[1], bytes.data(), bytes.size());
    _exit(0);
  }
  close(out[1]);
  ChildReport r;
  std::string bytes;
  const auto deadline = Clock::now() + std::chrono::milliseconds(kChildLimitMs);
  for (;;) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    pollfd p{out[0], POLLIN, 0};
    if (left <= 0 || poll(&p, 1, static_cast<int>(left)) <= 0) break;
    char buf[4096];
    const ssize_t n = read(out[0], buf, sizeof buf);
    if (n <= 0) {
      r.finished = !bytes.empty();
      break;
    }
    bytes.append(buf, static_cast<size_t>(n));
  }
  close(out[0]);
  if (!r.finished) kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
  std::istringstream in(bytes);
  in >> r.ms >> r.growthKiB;
  in.get();
  std::getline(in, r.text, '\0');
  return r;
}

class HostileServiceTest : public LinkTest {
 protected:
  ExchangeService::Options Serving(std::vector<std::string> switches) {
    ExchangeService::Options o;
    o.values = {{"DBPATH", dbFolder_}};
    o.switches = std::move(switches);
    o.binary = PV_EXCHANGE_SERVICE;
    return o;
  }
  std::string dbFolder_ = "/srv/parvela/db";
};

// One attempt against the service; the child reports "answered|failure text|code|value".
std::string OneAttempt(const std::string& server) {
  TIPCClient client;
  client.SetServerName(server);
  MessageRef request = TMessageData::Create();
  request->GetData().WriteWideString(u"COMMAND", u"DBPATH");
  MessageRef answer = client.ConnectAndTransact(*request, kLinkTestTimeoutMs);
  std::string value;
  if (answer && client.Answered()) value = WideToAnsi(answer->GetData().ReadWideString(u"DATA"));
  return std::to_string(client.Answered()) + "|" + client.ErrorDesc() + "|" +
         std::to_string(client.ErrorCode()) + "|" + value;
}

TEST_F(HostileServiceTest, MisbehavingServiceNeverHoldsTheClientPastTheLimit) {
  constexpr long long kLimitMs = 1000;
  constexpr long long kFlood = 8 << 20;
  const std::string declaredMax = std::to_string(MaxAnswerDataSize);
  struct Row {
    std::vector<std::string> switches;
    std::string outcome;     // answered|failure|code (the value follows)
    long long maxGrowthKiB;  // peak memory rise allowed to the client
    long long limitMs = kLimitMs;
  } rows[] = {
      // The answer would take about 30 s at one byte per 300 ms.
      {{"--trickle", "300"}, "0|ReadFile failed while reading message ID length|258", 16 << 10},
      {{"--delay", "600000"}, "0|ReadFile failed while reading message ID length|258", 16 << 10},
      // The largest answer accepted is announced, but only a few bytes come.
      {{"--declare", declaredMax}, "0|ReadFile failed while reading message data|258", 16 << 10},
      {{"--declare", "1099511627776"},
       "0|ReadFile failed while reading message data size|13",
       16 << 10},
      {{"--oversize-id"}, "0|ReadFile failed while reading message ID length|13", 16 << 10},
      {{"--garbage"}, "1||0", 16 << 10},
      // Filler past the announced size is never read; memory stays a small multiple of it.
      // (A long limit: this row is about memory, and a loaded machine may move data slowly.)
      {{"--flood", "--declare", std::to_string(kFlood)},
       "1||0",
       4 * kFlood / 1024 + (16 << 10),
       30000},
  };
  for (const Row& row : rows) {
    std::string trace;
    for (const auto& s : row.switches) trace += s + " ";
    SCOPED_TRACE(trace);
    ExchangeService service(Serving(row.switches));
    ASSERT_TRUE(service.Running());
    TScopedOverride transfer(SetIPCTransferTimeoutForTests, static_cast<uint32_t>(row.limitMs));
    const ChildReport r = RunInChild([&] { return OneAttempt(service.PipeName()); });
    ASSERT_TRUE(r.finished) << "the client hung";
    EXPECT_EQ(row.outcome, r.text.substr(0, r.text.rfind('|')));
    // Generous: the limit plus start-up and a loaded machine, far below the misbehaviour's time.
    EXPECT_LT(r.ms, row.limitMs + 8000);
    EXPECT_LT(r.growthKiB, row.maxGrowthKiB);
    service.Kill();
  }
}

TEST_F(HostileServiceTest, WholeRequestWithRetriesEndsWithinThreeLimits) {
  TScopedOverride transfer(SetIPCTransferTimeoutForTests, 500u);
  ExchangeService service(Serving({"--trickle", "200"}));
  ASSERT_TRUE(service.Running());
  const ChildReport r = RunInChild([] { return ReadIPCValueSync("DBPATH"); });
  ASSERT_TRUE(r.finished) << "the request hung";
  EXPECT_EQ("", r.text);
  EXPECT_LT(r.ms, IPCAttempts * (500 + IPCRetryPauseMs) + 8000);
  service.Kill();
}

TEST_F(HostileServiceTest, ServiceNameFileThatIsNoPlainFileOfTheUserIsNotRead) {
  ExchangeService service(Serving({}));
  ASSERT_TRUE(service.Running());
  const std::string file = service.NameFile();
  const std::string name = service.PipeName();
  struct Row {
    const char* what;
    std::function<void()> make;
    std::string expected;
  } rows[] = {
      {"a link to /dev/zero", [&] { ASSERT_EQ(0, symlink("/dev/zero", file.c_str())); }, ""},
      {"a FIFO nobody writes to", [&] { ASSERT_EQ(0, mkfifo(file.c_str(), 0600)); }, ""},
      {"a folder", [&] { ASSERT_EQ(0, mkdir(file.c_str(), 0700)); }, ""},
      {"a link to a file of the user",
       [&] {
         WriteFile(file + ".real", name + "\n");
         ASSERT_EQ(0, symlink((file + ".real").c_str(), file.c_str()));
       },
       ""},
      {"a plain file of 8 MiB: its first line counts",
       [&] { WriteFile(file, name + "\r\n" + std::string(8 << 20, 'x')); }, name},
      {"a first line longer than what is read: cut there",
       [&] { WriteFile(file, std::string(IPCServiceNameFileLimit + 10, 'n') + "\n"); },
       std::string(IPCServiceNameFileLimit, 'n')},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    unlink(file.c_str());
    rmdir(file.c_str());
    row.make();
    const ChildReport r = RunInChild([] { return GetIPCServerName(); });
    ASSERT_TRUE(r.finished) << "reading the name file hung";
    EXPECT_EQ(row.expected, r.text);
    EXPECT_LT(r.growthKiB, 16 << 10);
    unlink((file + ".real").c_str());
  }
  unlink(file.c_str());
  rmdir(file.c_str());
}

}  // namespace
}  // namespace pv::test
