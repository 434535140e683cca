#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <mutex>
#include <vector>

#include "files/Folders.h"
#include "hostlink/HostValue.h"
#include "hostlink/IPCClient.h"
#include "tests/hostlink/LinkTestUtil.h"

namespace pv::test {
namespace {

using Clock = std::chrono::steady_clock;

const std::string kEndMarker(8, '\xFF');

long long MsSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

class IPCClientTest : public LinkTest {
 protected:
  // Runs one exchange against the pipe "peer".
  MessageRef Exchange(IMessageData& request, uint32_t timeoutMs = 1000) {
    client_.SetServerName("peer");
    return client_.ConnectAndTransact(request, timeoutMs);
  }
  MessageRef EmptyRequest() { return TMessageData::Create(); }

  TIPCClient client_;
};

TEST_F(IPCClientTest, PipePathAndDefaultLimits) {
  EXPECT_EQ(".", client_.ComputerName());
  client_.SetServerName("QPV");
  EXPECT_EQ("\\\\.\\pipe\\QPV", client_.PipePath());
  EXPECT_EQ(30000u, DefaultIPCTransferTimeoutMs);
  EXPECT_EQ(5000u, DefaultIPCConnectTimeoutMs);
}

TEST_F(IPCClientTest, EmptyRequestIsSixteenZeroBytesAndEndsWithTheEndMarker) {
  std::string received, after;
  bool quietBeforeAnswer = false;
  {
    ScriptedPeer peer("peer", [&](int fd) {
      received = ReadN(fd, 16);
      quietBeforeAnswer = Quiet(fd, 100);
      SendAll(fd, Frame("", ""));
      after = ReadToEnd(fd);
    });
    MessageRef request = EmptyRequest();
    MessageRef answer = Exchange(*request);
    ASSERT_TRUE(answer);
    EXPECT_TRUE(client_.Answered());
    EXPECT_EQ("", client_.ErrorDesc());
    EXPECT_EQ(0, client_.ErrorCode());
    EXPECT_EQ(0, answer->GetData().Stream().Size());
    EXPECT_FALSE(client_.Connected());
  }
  EXPECT_EQ(std::string(16, '\0'), received);
  EXPECT_TRUE(quietBeforeAnswer);
  EXPECT_EQ(kEndMarker, after);
}

std::mutex writesLock;
std::vector<size_t> writes;
void RecordWrite(size_t n) {
  std::lock_guard<std::mutex> lock(writesLock);
  writes.push_back(n);
}

TEST_F(IPCClientTest, DataGoesOutInPiecesOfAtMost64KiB) {
  struct Row {
    size_t dataSize;
    std::vector<size_t> expectedWrites;
  } rows[] = {
      {65536, {8 + 3, 8, 65536}},
      {65537, {8 + 3, 8, 65536, 1}},
      {200000, {8 + 3, 8, 65536, 65536, 65536, 3392}},
  };
  TScopedOverride observer(SetPipeWriteObserverForTests, &RecordWrite);
  for (const Row& row : rows) {
    SCOPED_TRACE(row.dataSize);
    writes.clear();
    // One wide string whose whole encoding (4 + 2 + 8 header bytes) has the wanted size.
    MessageRef request = EmptyRequest();
    request->SetID("req");
    const size_t units = (row.dataSize - 14) / 2;
    request->GetData().WriteWideString(u"D", std::u16string(units, u'x'));
    if (row.dataSize % 2) request->GetData().Stream().Write("!", 1);
    ASSERT_EQ(static_cast<int64_t>(row.dataSize), request->GetData().Stream().Size());

    std::string received;
    {
      ScriptedPeer peer("peer", [&](int fd) {
        received = ReadRequest(fd);
        SendAll(fd, Frame("", ""));
        ReadToEnd(fd);
      });
      Exchange(*request);
    }
    EXPECT_TRUE(client_.Answered());
    EXPECT_EQ(row.expectedWrites, writes);
    const TMemoryStream& s = request->GetData().Stream();
    EXPECT_EQ(Frame("req", std::string(s.Memory(), static_cast<size_t>(s.Size()))), received);
  }
}

TEST_F(IPCClientTest, AnswerInSeveralPiecesIsReassembledAndRewound) {
  MessageRef built = TMessageData::Create();
  built->GetData().WriteInteger(u"INDEX", 7);
  built->GetData().WriteWideString(u"DATA", std::u16string(40000, u'\xE4'));
  const TMemoryStream& s = built->GetData().Stream();
  const std::string data(s.Memory(), static_cast<size_t>(s.Size()));
  const std::string framed = Frame("answer-id", data);

  ScriptedPeer peer("peer", [&](int fd) {
    ReadRequest(fd);
    for (size_t at = 0; at < framed.size(); at += 7000) {
      SendAll(fd, framed.substr(at, 7000));
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    ReadToEnd(fd);
  });
  MessageRef request = EmptyRequest();
  MessageRef answer = Exchange(*request);
  ASSERT_TRUE(answer);
  ASSERT_TRUE(client_.Answered());
  EXPECT_EQ("answer-id", answer->GetID());
  EXPECT_EQ(0, answer->GetData().Stream().Position());
  EXPECT_EQ(data, std::string(answer->GetData().Stream().Memory(), data.size()));
  EXPECT_EQ(std::u16string(40000, u'\xE4'), answer->GetData().ReadWideString(u"DATA"));
}

TEST_F(IPCClientTest, NoSuchPipeFailsAtOnceWithoutAnswer) {
  struct Row {
    const char* what;
    std::string name;
  } rows[] = {
      {"no socket", "peer"},
      {"empty name", ""},
      {"slash", "a/b"},
      {"parent", ".."},
      {"dots inside", "a..b"},
      {"NUL", std::string("a\0b", 3)},
      {"too long", std::string(200, 'n')},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    TIPCClient client;
    client.SetServerName(row.name);
    MessageRef request = EmptyRequest();
    const auto start = Clock::now();
    EXPECT_FALSE(client.ConnectAndTransact(*request, 5000));
    EXPECT_LT(MsSince(start), 1000);
    EXPECT_EQ("WaitNamedPipe failed while wating for the pipe", client.ErrorDesc());
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, client.ErrorCode());
    EXPECT_FALSE(client.Answered());
    EXPECT_FALSE(client.Connected());
  }
}

TEST_F(IPCClientTest, PipePathMapsToTheSocketInThePipeFolder) {
  EXPECT_EQ(WorkFolder() + "pipe/abc", PipeSocketFile("\\\\.\\pipe\\abc"));
  EXPECT_EQ(WorkFolder() + "pipe/a\\b", PipeSocketFile("\\\\.\\pipe\\a\\b"));
  EXPECT_EQ("", PipeSocketFile("\\\\server\\pipe\\abc"));
  EXPECT_EQ("", PipeSocketFile("\\\\.\\pipe\\"));
  EXPECT_EQ("", PipeSocketFile("abc"));
  EXPECT_EQ("", PipeSocketFile("\\\\.\\pipe\\../x"));
}

TEST_F(IPCClientTest, PipeFolderOpenToOthersCountsAsMissing) {
  const std::string dirs[] = {WorkFolder() + "pipe", WorkFolder()};
  for (const std::string& dir : dirs) {
    SCOPED_TRACE(dir);
    ScriptedPeer peer("peer", [](int) {});
    ASSERT_EQ(0, chmod(dir.c_str(), 0755));
    MessageRef request = EmptyRequest();
    EXPECT_FALSE(Exchange(*request));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, client_.ErrorCode());
    ASSERT_EQ(0, chmod(dir.c_str(), 0700));
    // Let the peer go: connect once more, now that the folder is private again.
    Exchange(*request);
  }
}

TEST_F(IPCClientTest, BusyPipePastTheLimitTimesOut) {
  // A listener that accepts nobody, with its queue filled.
  const std::string file = GetWorkFolder("pipe") + "peer";
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::memcpy(addr.sun_path, file.data(), file.size());
  const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
  ASSERT_EQ(0, bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)));
  ASSERT_EQ(0, listen(fd, 0));
  std::vector<int> fillers;
  for (int i = 0; i < 8; ++i) {
    const int f = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0);
    if (connect(f, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0) {
      close(f);
      break;
    }
    fillers.push_back(f);
  }
  MessageRef request = EmptyRequest();
  const auto start = Clock::now();
  EXPECT_FALSE(Exchange(*request, 300));
  EXPECT_GE(MsSince(start), 300);
  EXPECT_LT(MsSince(start), 3000);
  EXPECT_EQ("IPC client failed with WAIT timeout", client_.ErrorDesc());
  EXPECT_EQ(WAIT_TIMEOUT, client_.ErrorCode());
  for (int f : fillers) close(f);
  close(fd);
}

// How a scripted peer answers after reading the request; then it closes, or it stays silent
// until the client leaves.
struct BrokenAnswer {
  const char* what;
  std::string bytes;
  const char* failure;
};

const BrokenAnswer kBrokenAnswers[] = {
    {"nothing", "", "ReadFile failed while reading message ID length"},
    {"half an ID length", "\x05\x00\x00", "ReadFile failed while reading message ID length"},
    {"ID cut short", Le64(5) + "ab", "ReadFile failed while reading message ID"},
    {"no data size", Le64(0), "ReadFile failed while reading message data size"},
    {"data cut short", Le64(0) + Le64(100) + std::string(10, 'd'),
     "ReadFile failed while reading message data"},
};

TEST_F(IPCClientTest, PeerClosingEarlyFailsThatStep) {
  for (const BrokenAnswer& row : kBrokenAnswers) {
    SCOPED_TRACE(row.what);
    {
      ScriptedPeer peer("peer", [&](int fd) {
        ReadRequest(fd);
        SendAll(fd, row.bytes);
      });
      MessageRef request = EmptyRequest();
      MessageRef answer = Exchange(*request);
      EXPECT_TRUE(answer) << "the request went out in full";
    }
    EXPECT_FALSE(client_.Answered());
    EXPECT_EQ(row.failure, client_.ErrorDesc());
    EXPECT_EQ(ERROR_BROKEN_PIPE, client_.ErrorCode());
  }
}

TEST_F(IPCClientTest, PeerStallingFailsThatStepAfterTheTransferLimit) {
  TScopedOverride transfer(SetIPCTransferTimeoutForTests, 200u);
  for (const BrokenAnswer& row : kBrokenAnswers) {
    SCOPED_TRACE(row.what);
    std::string tail;
    const auto start = Clock::now();
    {
      ScriptedPeer peer("peer", [&](int fd) {
        ReadRequest(fd);
        SendAll(fd, row.bytes);
        tail = ReadToEnd(fd);
      });
      MessageRef request = EmptyRequest();
      Exchange(*request);
    }
    EXPECT_GE(MsSince(start), 200);
    EXPECT_FALSE(client_.Answered());
    EXPECT_EQ(row.failure, client_.ErrorDesc());
    EXPECT_EQ(WAIT_TIMEOUT, client_.ErrorCode());
    EXPECT_EQ(kEndMarker, tail);
  }
}

TEST_F(IPCClientTest, PeerTricklingFailsOnceTheWholeTransferPassesTheLimit) {
  // Every byte comes well within the limit, but the whole answer would take far longer.
  TScopedOverride transfer(SetIPCTransferTimeoutForTests, 300u);
  const std::string answer = Frame("", std::string(64, 'x'));
  struct Row {
    const char* what;
    size_t sentAtOnce;  // bytes of the answer sent before the trickle starts
    const char* failure;
  } rows[] = {
      {"from the first byte", 0, "ReadFile failed while reading message ID length"},
      {"after the ID length", 8, "ReadFile failed while reading message data size"},
      {"after the data size", 16, "ReadFile failed while reading message data"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    const auto start = Clock::now();
    {
      ScriptedPeer peer("peer", [&](int fd) {
        ReadRequest(fd);
        SendAll(fd, answer.substr(0, row.sentAtOnce));
        for (size_t i = row.sentAtOnce; i < answer.size(); ++i) {
          if (!Quiet(fd, 50)) break;  // the client has closed (or sent its end marker)
          SendAll(fd, answer.substr(i, 1));
        }
      });
      MessageRef request = EmptyRequest();
      Exchange(*request);
    }
    EXPECT_FALSE(client_.Answered());
    EXPECT_EQ(row.failure, client_.ErrorDesc());
    EXPECT_EQ(WAIT_TIMEOUT, client_.ErrorCode());
    // Generous against a loaded machine, yet far below the 4 s the trickle would take.
    EXPECT_GE(MsSince(start), 300);
    EXPECT_LT(MsSince(start), 3000);
  }
}

TEST_F(IPCClientTest, AnnouncedLengthsAreCheckedBeforeAnythingIsRead) {
  struct Row {
    const char* what;
    std::string bytes;
    bool answered;
    const char* failure;
  } rows[] = {
      {"ID above 64 KiB", Le64(MaxAnswerIDLength + 1), false,
       "ReadFile failed while reading message ID length"},
      {"ID of 2^62", Le64(int64_t{1} << 62), false,
       "ReadFile failed while reading message ID length"},
      {"data above 64 MiB", Le64(0) + Le64(MaxAnswerDataSize + 1), false,
       "ReadFile failed while reading message data size"},
      {"ID of exactly 64 KiB", Frame(std::string(MaxAnswerIDLength, 'i'), ""), true, ""},
      {"negative lengths mean absent", Le64(-5) + Le64(-1), true, ""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    {
      ScriptedPeer peer("peer", [&](int fd) {
        ReadRequest(fd);
        SendAll(fd, row.bytes);
        ReadToEnd(fd);
      });
      MessageRef request = EmptyRequest();
      Exchange(*request);
    }
    EXPECT_EQ(row.answered, client_.Answered());
    EXPECT_EQ(row.failure, client_.ErrorDesc());
    EXPECT_EQ(row.answered ? 0 : ERROR_INVALID_DATA, client_.ErrorCode());
  }
}

TEST_F(IPCClientTest, DataBeyondTheAnnouncedSizeIsNotRead) {
  ScriptedPeer peer("peer", [&](int fd) {
    ReadRequest(fd);
    SendAll(fd, Le64(0) + Le64(10) + std::string(10, 'a') + std::string(5000, 'b'));
    ReadToEnd(fd);
  });
  MessageRef request = EmptyRequest();
  MessageRef answer = Exchange(*request);
  ASSERT_TRUE(client_.Answered());
  EXPECT_EQ(std::string(10, 'a'), std::string(answer->GetData().Stream().Memory(), 10));
  EXPECT_EQ(10, answer->GetData().Stream().Size());
}

TEST_F(IPCClientTest, PeerThatStopsReadingFailsTheChunkWrite) {
  MessageRef request = EmptyRequest();
  request->GetData().WriteWideString(u"D", std::u16string(1 << 20, u'x'));
  struct Row {
    const char* what;
    bool closes;
    int32_t code;
  } rows[] = {{"closes", true, ERROR_NO_DATA}, {"stalls", false, WAIT_TIMEOUT}};
  TScopedOverride transfer(SetIPCTransferTimeoutForTests, 200u);
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    std::atomic<bool> clientDone{false};
    {
      ScriptedPeer peer("peer", [&](int fd) {
        ReadN(fd, 16);
        // Stalling: read nothing more until the client has given up.
        while (!row.closes && !clientDone)
          std::this_thread::sleep_for(std::chrono::milliseconds(5));
      });
      EXPECT_FALSE(Exchange(*request));
      clientDone = true;
    }
    EXPECT_EQ("WriteFile failed while writing message chunk", client_.ErrorDesc());
    EXPECT_EQ(row.code, client_.ErrorCode());
  }
}

}  // namespace
}  // namespace pv::test
