#include "hostlink/IPCClient.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include "files/FileUtil.h"
#include "files/Folders.h"

namespace pv {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// Failure texts, one per step that can fail.
enum class Step {
  WaitTimeout,
  WaitPipe,
  CreateHandle,
  WriteID,
  WriteDataSize,
  WriteChunk,
  ReadIDLength,
  ReadID,
  ReadDataSize,
  ReadData,
};
constexpr const char* kStepText[] = {
    "IPC client failed with WAIT timeout",
    "WaitNamedPipe failed while wating for the pipe",
    "CreateFile failed while creating new pipe handle",
    "WriteFile failed while writing message ID",
    "WriteFile failed while writing message data size",
    "WriteFile failed while writing message chunk",
    "ReadFile failed while reading message ID length",
    "ReadFile failed while reading message ID",
    "ReadFile failed while reading message data size",
    "ReadFile failed while reading message data",
};
const char* Text(Step s) { return kStepText[static_cast<int>(s)]; }

// The system's errors in the host product's numbering; anything else is a general failure.
struct ErrnoCode {
  int err;
  int32_t code;
};
constexpr ErrnoCode kErrnoCodes[] = {
    {ENOENT, ERROR_FILE_NOT_FOUND},      {ECONNREFUSED, ERROR_FILE_NOT_FOUND},
    {ENOTDIR, ERROR_PATH_NOT_FOUND},     {EMFILE, ERROR_TOO_MANY_OPEN_FILES},
    {ENFILE, ERROR_TOO_MANY_OPEN_FILES}, {EACCES, ERROR_ACCESS_DENIED},
    {EPERM, ERROR_ACCESS_DENIED},        {EBADF, ERROR_INVALID_HANDLE},
    {ENOTSOCK, ERROR_INVALID_HANDLE},    {ENOMEM, ERROR_NOT_ENOUGH_MEMORY},
    {ENOBUFS, ERROR_NOT_ENOUGH_MEMORY},  {EINVAL, ERROR_INVALID_PARAMETER},
    {ECONNRESET, ERROR_BROKEN_PIPE},     {EPIPE, ERROR_NO_DATA},
    {ETIMEDOUT, WAIT_TIMEOUT},
};
int32_t CodeOf(int err) {
  for (const auto& e : kErrnoCodes) {
    if (e.err == err) return e.code;
  }
  return ERROR_GEN_FAILURE;
}

constexpr const char* kPipePrefix = "\\\\.\\pipe\\";
constexpr const char* kPipeFolder = "pipe";

std::atomic<TPipeWriteObserver> writeObserver{nullptr};
std::atomic<uint32_t> transferTimeoutMs{DefaultIPCTransferTimeoutMs};

// Waits until fd is ready for events, at most until the deadline. 0 when ready (or hung up: the
// next call on fd tells), else the failure code.
int32_t AwaitProgress(int fd, short events, Clock::time_point deadline) {
  for (;;) {
    const auto left = std::chrono::ceil<milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) return WAIT_TIMEOUT;
    pollfd p{fd, events, 0};
    const int r = poll(&p, 1, static_cast<int>(std::min<long long>(left, 1 << 30)));
    if (r > 0) return 0;
    if (r == 0) return WAIT_TIMEOUT;
    if (errno != EINTR) return CodeOf(errno);
  }
}

// One framing write: all n bytes before the deadline. 0 or the failure code.
int32_t WriteAll(int fd, const char* p, size_t n, Clock::time_point deadline) {
  if (auto observer = writeObserver.load()) observer(n);
  while (n > 0) {
    if (Clock::now() >= deadline) return WAIT_TIMEOUT;
    const ssize_t w = send(fd, p, n, MSG_NOSIGNAL);
    if (w > 0) {
      p += w;
      n -= static_cast<size_t>(w);
    } else if (w < 0 && errno == EINTR) {
      continue;
    } else if (w < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      if (int32_t code = AwaitProgress(fd, POLLOUT, deadline)) return code;
    } else {
      return CodeOf(errno);
    }
  }
  return 0;
}

// Reads up to n bytes (at least one) before the deadline; got is how many arrived. 0 or the
// failure code; a peer that has closed gives ERROR_BROKEN_PIPE.
int32_t ReadSome(int fd, char* p, size_t n, size_t& got, Clock::time_point deadline) {
  got = 0;
  for (;;) {
    // The deadline holds even while bytes keep arriving one by one.
    if (Clock::now() >= deadline) return WAIT_TIMEOUT;
    const ssize_t r = recv(fd, p, n, 0);
    if (r > 0) {
      got = static_cast<size_t>(r);
      return 0;
    }
    if (r == 0) return ERROR_BROKEN_PIPE;
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) return CodeOf(errno);
    if (int32_t code = AwaitProgress(fd, POLLIN, deadline)) return code;
  }
}

int32_t ReadExact(int fd, char* p, size_t n, Clock::time_point deadline) {
  while (n > 0) {
    size_t got = 0;
    if (int32_t code = ReadSome(fd, p, n, got, deadline)) return code;
    p += got;
    n -= got;
  }
  return 0;
}

int32_t ReadInt64(int fd, int64_t& v, Clock::time_point deadline) {
  unsigned char b[8];
  if (int32_t code = ReadExact(fd, reinterpret_cast<char*>(b), 8, deadline)) return code;
  uint64_t u = 0;
  for (int i = 0; i < 8; ++i) u |= static_cast<uint64_t>(b[i]) << (8 * i);
  v = static_cast<int64_t>(u);
  return 0;
}

std::string Int64Bytes(int64_t v) {
  std::string b(8, '\0');
  for (int i = 0; i < 8; ++i) b[i] = static_cast<char>(static_cast<uint64_t>(v) >> (8 * i));
  return b;
}

// True when the peer runs as this user or as root.
bool PeerTrusted(int fd) {
  ucred cred{};
  socklen_t len = sizeof(cred);
  if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &len) != 0) return false;
  return cred.uid == geteuid() || cred.uid == 0;
}

}  // namespace

TPipeWriteObserver SetPipeWriteObserverForTests(TPipeWriteObserver observer) {
  return writeObserver.exchange(observer);
}

uint32_t SetIPCTransferTimeoutForTests(uint32_t milliseconds) {
  return transferTimeoutMs.exchange(milliseconds);
}

bool IsValidPipeName(std::string_view name) {
  return !name.empty() && name.find('/') == std::string_view::npos &&
         name.find('\0') == std::string_view::npos && name.find("..") == std::string_view::npos;
}

std::string PipeSocketFile(const std::string& pipePath) {
  const std::string_view prefix = kPipePrefix;
  if (pipePath.compare(0, prefix.size(), prefix) != 0) return "";
  const std::string name = pipePath.substr(prefix.size());
  if (!IsValidPipeName(name)) return "";
  return GetWorkFolder("") + kPipeFolder + PathDelim + name;
}

TIPCClient::TIPCClient() = default;

TIPCClient::~TIPCClient() { Disconnect(); }

void TIPCClient::SetServerName(const std::string& name) {
  serverName_ = name;
  pipePath_ = "\\\\" + computerName_ + "\\pipe\\" + name;
}

void TIPCClient::Fail(const char* text, int32_t code) {
  errorDesc_ = text;
  errorCode_ = code;
}

void TIPCClient::Connect(uint32_t timeoutMs) {
  if (pipeHandle_ >= 0) close(pipeHandle_);
  pipeHandle_ = -1;
  connected_ = false;
  errorDesc_.clear();
  errorCode_ = 0;
  const auto start = Clock::now();
  const auto limit = milliseconds(timeoutMs);

  while (Clock::now() - start < limit) {
    // Only a socket in the user's own private pipe folder counts as the pipe.
    const std::string file = PipeSocketFile(pipePath_);
    const std::string work = GetWorkFolder("");
    sockaddr_un addr{};
    if (file.empty() || file.size() >= sizeof(addr.sun_path) || !IsPrivateFolder(work) ||
        !IsPrivateFolder(work + kPipeFolder)) {
      Fail(Text(Step::WaitPipe), ERROR_FILE_NOT_FOUND);
      return;
    }
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path, file.data(), file.size());

    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
      Fail(Text(Step::CreateHandle), CodeOf(errno));
      return;
    }
    if (connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof(addr)) == 0) {
      if (!PeerTrusted(fd)) {
        close(fd);
        Fail(Text(Step::CreateHandle), ERROR_ACCESS_DENIED);
        return;
      }
      pipeHandle_ = fd;
      connected_ = true;
      return;
    }
    const int err = errno;
    close(fd);
    if (err == EAGAIN || err == EINPROGRESS || err == EINTR) {
      // Every instance is busy (the listen queue is full): wait for the pipe.
      const auto left = limit - (Clock::now() - start);
      std::this_thread::sleep_for(
          std::min<Clock::duration>(milliseconds(10), std::max<Clock::duration>(left, {})));
      continue;
    }
    if (err == EACCES || err == EPERM) {
      Fail(Text(Step::CreateHandle), ERROR_ACCESS_DENIED);
    } else {
      Fail(Text(Step::WaitPipe), CodeOf(err));
    }
    return;
  }
  Fail(Text(Step::WaitTimeout), WAIT_TIMEOUT);
}

void TIPCClient::AttachHandle(int fd) {
  if (pipeHandle_ >= 0) close(pipeHandle_);
  // Reads and writes wait through poll, under the transfer's time limit.
  if (fd >= 0) fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
  pipeHandle_ = fd;
  connected_ = fd >= 0;
}

bool TIPCClient::SendRequest(IMessageData& request, Deadline deadline, std::vector<char>& buffer) {
  const int fd = pipeHandle_;
  TMemoryStream& data = request.GetData().Stream();
  const int64_t d = data.Size();
  data.Seek(0);

  const std::string id = request.GetID();
  const std::string head = Int64Bytes(static_cast<int64_t>(id.size())) + id;
  if (int32_t code = WriteAll(fd, head.data(), head.size(), deadline)) {
    Fail(Text(Step::WriteID), code);
    return false;
  }
  const std::string size = Int64Bytes(d);
  if (int32_t code = WriteAll(fd, size.data(), size.size(), deadline)) {
    Fail(Text(Step::WriteDataSize), code);
    return false;
  }
  if (d > 0) {
    while (const size_t n = data.Read(buffer.data(), buffer.size())) {
      if (int32_t code = WriteAll(fd, buffer.data(), n, deadline)) {
        Fail(Text(Step::WriteChunk), code);
        return false;
      }
    }
  }
  return true;
}

void TIPCClient::ReadAnswer(IMessageData& answer, Deadline deadline, std::vector<char>& buffer) {
  const int fd = pipeHandle_;
  int64_t m = 0;
  if (int32_t code = ReadInt64(fd, m, deadline)) return Fail(Text(Step::ReadIDLength), code);
  // Lengths come from the other side: refuse any above the limits before allocating.
  if (m > MaxAnswerIDLength) return Fail(Text(Step::ReadIDLength), ERROR_INVALID_DATA);
  if (m > 0) {
    std::string answerID(static_cast<size_t>(m), '\0');
    if (int32_t code = ReadExact(fd, answerID.data(), answerID.size(), deadline)) {
      return Fail(Text(Step::ReadID), code);
    }
    answer.SetID(answerID);
  }
  int64_t e = 0;
  if (int32_t code = ReadInt64(fd, e, deadline)) return Fail(Text(Step::ReadDataSize), code);
  if (e > MaxAnswerDataSize) return Fail(Text(Step::ReadDataSize), ERROR_INVALID_DATA);
  TMemoryStream& received = answer.GetData().Stream();
  int64_t total = 0;
  while (total < e) {
    const size_t want = static_cast<size_t>(std::min<int64_t>(e - total, buffer.size()));
    size_t got = 0;
    if (int32_t code = ReadSome(fd, buffer.data(), want, got, deadline)) {
      return Fail(Text(Step::ReadData), code);
    }
    received.Write(buffer.data(), got);
    total += static_cast<int64_t>(got);
  }
  received.Seek(0);
  answered_ = true;
}

MessageRef TIPCClient::Transact(IMessageData& request) {
  answered_ = false;
  errorDesc_.clear();
  errorCode_ = 0;
  // One limit for the whole transfer, however the other side paces its bytes.
  const Deadline deadline = Clock::now() + milliseconds(transferTimeoutMs.load());
  std::vector<char> buffer(PipeChunkSize);
  if (!SendRequest(request, deadline, buffer)) return nullptr;
  // From here on the caller gets the answer object back, complete or not.
  MessageRef answer = TMessageData::Create();
  ReadAnswer(*answer, deadline, buffer);
  return answer;
}

void TIPCClient::Disconnect() {
  if (pipeHandle_ >= 0) {
    // The end marker; a peer that does not read any more simply does not get it.
    const std::string marker = Int64Bytes(-1);
    [[maybe_unused]] ssize_t ignored =
        send(pipeHandle_, marker.data(), marker.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    close(pipeHandle_);
    pipeHandle_ = -1;
  }
  connected_ = false;
}

MessageRef TIPCClient::ConnectAndTransact(IMessageData& request, uint32_t timeoutMs) {
  Connect(timeoutMs);
  MessageRef answer;
  if (connected_) {
    try {
      answer = Transact(request);
    } catch (...) {
      Disconnect();
      throw;
    }
  }
  Disconnect();
  return answer;
}

}  // namespace pv
