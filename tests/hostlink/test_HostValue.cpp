#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <thread>
#include <vector>

#include "files/FileUtil.h"
#include "hostlink/HostValue.h"
#include "hostlink/IPCClient.h"
#include "tests/hostlink/LinkTestUtil.h"
#include "tests/support/ExchangeService.h"

namespace pv::test {
namespace {

using Clock = std::chrono::steady_clock;

long long MsSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

std::string Raised(const std::string& command) {
  try {
    ReadIPCValueSync(command, true);
  } catch (const TIPCClientException& e) {
    return e.what();
  }
  return "(nothing raised)";
}

std::string Expected(const std::string& errorDesc, const std::string& server) {
  return "Named Pipe Error [ReadIPCValueSync]\r\nErrorDesc: " + errorDesc +
         "\r\nComputerName: .\r\nServerName: " + server;
}

const char* kNoPipe = "WaitNamedPipe failed while wating for the pipe";

class HostValueTest : public LinkTest {
 protected:
  ExchangeService::Options Serving(std::vector<std::string> switches = {}) {
    ExchangeService::Options o;
    o.values = {{"DBPATH", dbFolder_}, {"OTHER", "x"}};
    o.switches = std::move(switches);
    o.binary = PV_EXCHANGE_SERVICE;
    return o;
  }
  void WriteNameFile(const std::string& text) {
    WriteFile(WorkFolder() + IPCServiceNameFile, text);
  }

  std::string dbFolder_ = "/srv/parvela/db \xE4\xF6\xFC";
};

TEST_F(HostValueTest, ServiceAnswersThenStoppedServiceGivesEmptyAfterThreeAttempts) {
  ExchangeService service(Serving());
  ASSERT_TRUE(service.Running());
  EXPECT_EQ(service.PipeName(), GetIPCServerName());
  EXPECT_EQ(dbFolder_, ReadIPCValueSync("DBPATH"));
  EXPECT_EQ(std::vector<std::string>{"COMMAND=DBPATH END=yes"}, service.LogLines(1));

  EXPECT_EQ(0, service.Stop());
  EXPECT_FALSE(FileExistsSafe(service.SocketFile()));
  EXPECT_FALSE(FileExistsSafe(service.NameFile()));
  const auto start = Clock::now();
  EXPECT_EQ("", ReadIPCValueSync("DBPATH"));
  EXPECT_GE(MsSince(start), IPCAttempts * IPCRetryPauseMs);
  EXPECT_LT(MsSince(start), 2000);
}

TEST_F(HostValueTest, ServiceNameFileVariants) {
  ExchangeService service(Serving());
  ASSERT_TRUE(service.Running());
  struct Row {
    const char* what;
    std::string content;
    std::string value;
  } rows[] = {
      {"several lines: only the first counts", service.PipeName() + "\r\nbogus\r\n", dbFolder_},
      {"first line names another pipe", "bogus\n" + service.PipeName() + "\n", ""},
      {"empty file", "", ""},
      {"line with a trailing blank is used verbatim", service.PipeName() + " \n", ""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    WriteNameFile(row.content);
    EXPECT_EQ(row.value, ReadIPCValueSync("DBPATH"));
  }
  unlink((WorkFolder() + IPCServiceNameFile).c_str());
  EXPECT_EQ("", GetIPCServerName());
  EXPECT_EQ("", ReadIPCValueSync("DBPATH"));
}

TEST_F(HostValueTest, RaisingNamesTheFailureAndTheServer) {
  EXPECT_EQ(Expected(kNoPipe, ""), Raised("DBPATH")) << "no service name file";
  WriteNameFile("gone\n");
  EXPECT_EQ(Expected(kNoPipe, "gone"), Raised("DBPATH")) << "service not running";

  ExchangeService service(Serving());
  EXPECT_EQ("(nothing raised)", Raised("DBPATH"));
  EXPECT_EQ("(nothing raised)", Raised("UNKNOWN")) << "an answer without DATA is an answer";
}

TEST_F(HostValueTest, LeftOverFilesOfADeadService) {
  ExchangeService service(Serving());
  const std::string name = service.PipeName();
  service.Kill();  // socket and name file stay behind
  ASSERT_TRUE(FileExistsSafe(service.NameFile()));
  const auto start = Clock::now();
  EXPECT_EQ("", ReadIPCValueSync("DBPATH"));
  EXPECT_LT(MsSince(start), 2000);
  EXPECT_EQ(Expected(kNoPipe, name), Raised("DBPATH"));

  // A new service on the same name replaces the dead socket.
  ExchangeService::Options o = Serving();
  o.name = name;
  ExchangeService again(o);
  EXPECT_EQ(dbFolder_, ReadIPCValueSync("DBPATH"));
}

TEST_F(HostValueTest, AnswerWithoutDataIsOneAnsweredAttempt) {
  ExchangeService service(Serving());
  TIPCResult result;
  EXPECT_EQ("", ReadIPCValueOnce("UNKNOWN", service.PipeName(), "", result));
  EXPECT_TRUE(result.Answered);
  EXPECT_EQ("", ReadIPCValueSync("UNKNOWN"));
  // One request from each call, no retry after an answer.
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_EQ(std::vector<std::string>(2, "COMMAND=UNKNOWN END=yes"), service.LogLines(2));
}

TEST_F(HostValueTest, RequestBytesOnTheWire) {
  struct Row {
    std::string data;
    std::string encodedTail;  // after COMMAND and INDEX
  } rows[] = {
      {"", ""},
      {"x", std::string("\x08\0\0\0D\0A\0T\0A\0\x02\0\0\0\0\0\0\0x\0", 22)},
  };
  const std::string command =
      std::string("\x0e\0\0\0C\0O\0M\0M\0A\0N\0D\0\x0c\0\0\0\0\0\0\0D\0B\0P\0A\0T\0H\0", 38);
  const std::string index =
      std::string("\x0a\0\0\0I\0N\0D\0E\0X\0\x04\0\0\0\0\0\0\0\xff\xff\xff\xff", 26);
  const std::string sync = std::string("\x08\0\0\0S\0Y\0N\0C\0\x01\0\0\0\0\0\0\0\x01", 21);
  for (const Row& row : rows) {
    SCOPED_TRACE(row.data);
    std::string received;
    {
      ScriptedPeer peer("peer", [&](int fd) {
        received = ReadRequest(fd);
        SendAll(fd, Frame("", ""));
        received += ReadToEnd(fd);
      });
      TIPCResult result;
      ReadIPCValueOnce("DBPATH", "peer", row.data, result);
      EXPECT_TRUE(result.Answered);
      EXPECT_EQ("peer", result.ServerName);
      EXPECT_EQ(".", result.ComputerName);
    }
    const std::string data = command + index + row.encodedTail + sync;
    EXPECT_EQ(Le64(0) + Le64(static_cast<int64_t>(data.size())) + data + std::string(8, '\xFF'),
              received);
  }
}

TEST_F(HostValueTest, BusyServicePastTheLimit) {
  TScopedOverride connect(SetIPCConnectTimeoutForTests, 200u);
  ExchangeService service(Serving({"--busy"}));
  ASSERT_TRUE(service.Running());
  const auto start = Clock::now();
  EXPECT_EQ("", ReadIPCValueSync("DBPATH"));
  EXPECT_GE(MsSince(start), IPCAttempts * (200 + IPCRetryPauseMs));
  EXPECT_EQ(Expected("IPC client failed with WAIT timeout", service.PipeName()), Raised("DBPATH"));
}

TEST_F(HostValueTest, MisbehavingService) {
  TScopedOverride transfer(SetIPCTransferTimeoutForTests, 300u);
  struct Row {
    std::vector<std::string> switches;
    bool answered;
    std::string value;
    std::string failure;
    int32_t code;
  } rows[] = {
      {{"--delay", "100"}, true, dbFolder_, "", 0},
      {{"--delay", "2000"},
       false,
       "",
       "ReadFile failed while reading message ID length",
       WAIT_TIMEOUT},
      {{"--close-midway"},
       false,
       "",
       "ReadFile failed while reading message data",
       ERROR_BROKEN_PIPE},
      {{"--short-data"}, false, "", "ReadFile failed while reading message data", WAIT_TIMEOUT},
      {{"--oversize-id"},
       false,
       "",
       "ReadFile failed while reading message ID length",
       ERROR_INVALID_DATA},
      {{"--oversize-data"},
       false,
       "",
       "ReadFile failed while reading message data size",
       ERROR_INVALID_DATA},
      {{"--garbage"}, true, "", "", 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.switches.front());
    ExchangeService service(Serving(row.switches));
    ASSERT_TRUE(service.Running());

    TIPCClient client;
    client.SetServerName(service.PipeName());
    MessageRef request = TMessageData::Create();
    request->GetData().WriteWideString(u"COMMAND", u"DBPATH");
    MessageRef answer = client.ConnectAndTransact(*request, 1000);
    EXPECT_TRUE(answer) << "the request went out in full";
    EXPECT_EQ(row.answered, client.Answered());
    EXPECT_EQ(row.failure, client.ErrorDesc());
    EXPECT_EQ(row.code, client.ErrorCode());

    EXPECT_EQ(row.value, ReadIPCValueSync("DBPATH"));
    EXPECT_EQ(0, service.Stop());
  }
}

TEST_F(HostValueTest, ManyClientsAtOnce) {
  ExchangeService service(Serving({"--delay", "50"}));
  std::vector<std::string> values(6);
  std::vector<std::thread> threads;
  for (size_t i = 0; i < values.size(); ++i) {
    threads.emplace_back(
        [&values, i] { values[i] = ReadIPCValueSync(i % 2 ? "OTHER" : "DBPATH"); });
  }
  for (auto& t : threads) t.join();
  for (size_t i = 0; i < values.size(); ++i) EXPECT_EQ(i % 2 ? "x" : dbFolder_, values[i]);
  EXPECT_EQ(values.size(), service.LogLines(values.size()).size());
}

TEST_F(HostValueTest, WorkingFolderOpenToOthersIsNotRead) {
  ExchangeService service(Serving());
  ASSERT_EQ(0, chmod(WorkFolder().c_str(), 0755));
  EXPECT_EQ("", GetIPCServerName());
  EXPECT_EQ("", ReadIPCValueSync("DBPATH"));
  ASSERT_EQ(0, chmod(WorkFolder().c_str(), 0700));
  EXPECT_EQ(dbFolder_, ReadIPCValueSync("DBPATH"));
}

TEST_F(HostValueTest, ServiceOfAnotherUserIsRefused) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to run the service as another user";
  ExchangeService service(Serving({"--run-as-uid", "65534"}));
  ASSERT_TRUE(service.Running());
  TIPCResult result;
  EXPECT_EQ("", ReadIPCValueOnce("DBPATH", service.PipeName(), "", result));
  EXPECT_FALSE(result.Answered);
  EXPECT_EQ("CreateFile failed while creating new pipe handle", result.ErrorDesc);
  EXPECT_EQ("", ReadIPCValueSync("DBPATH"));
  EXPECT_EQ(0, service.Stop());
}

}  // namespace
}  // namespace pv::test
