#include "hostlink/HostValue.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <thread>
#include <vector>

#include "files/AnsiText.h"
#include "files/FileUtil.h"
#include "files/Folders.h"
#include "hostlink/IPCClient.h"
#include "hostlink/MessageData.h"

namespace pv {

namespace {

std::atomic<uint32_t> connectTimeoutMs{DefaultIPCConnectTimeoutMs};

class NotReadable {};

// At most limit bytes from the start of the file; nothing when it is missing or not a regular file
// of this user. Opened without following a link and without waiting for a writer, so that a FIFO
// or a device put in its place can neither block nor feed endless bytes. Throws NotReadable when
// the file is there but cannot be read.
std::string ReadOwnFileHead(const std::string& name, size_t limit) {
  const int fd = open(name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ENOENT || errno == ENOTDIR || errno == ELOOP) return "";
    throw NotReadable{};
  }
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != geteuid()) {
    close(fd);
    return "";
  }
  std::string head;
  const bool read = ReadToEnd(fd, head, limit);
  close(fd);
  if (!read) throw NotReadable{};
  return head;
}

}  // namespace

std::string GetIPCServerName() {
  const std::string work = GetWorkFolder("");
  // A working folder that others may change is treated as missing: nothing is read from it.
  if (!IsPrivateFolder(work)) return "";
  const std::string file = work + IPCServiceNameFile;
  for (int attempt = 1;; ++attempt) {
    try {
      const std::string head = ReadOwnFileHead(file, IPCServiceNameFileLimit);
      std::string_view first;
      bool found = false;
      ForEachLine(head, [&](std::string_view line) {
        if (!found) first = line;
        found = true;
      });
      return std::string(first);
    } catch (const NotReadable&) {
      if (attempt >= RetryAttempts) {
        throw EFCreateError(FileFailureText(TFileAction::Open, file));
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(RetryPauseMs));
    }
  }
}

std::string ReadIPCValueOnce(const std::string& command, const std::string& serverName,
                             const std::string& data, TIPCResult& result) {
  result = TIPCResult{};
  TIPCClient client;
  client.SetServerName(serverName);

  MessageRef request = TMessageData::Create();
  TStreamStorage& values = request->GetData();
  values.WriteWideString(u"COMMAND", AnsiToWide(command));
  values.WriteInteger(u"INDEX", -1);
  values.WriteWideString(u"DATA", AnsiToWide(data));
  values.WriteBoolean(u"SYNC", true);

  std::string value;
  MessageRef answer = client.ConnectAndTransact(*request, connectTimeoutMs.load());
  // An answer that broke off midway may hold a cut value: only a complete one is used.
  if (answer && client.Answered()) {
    value = WideToAnsi(answer->GetData().ReadWideString(u"DATA"));
  }
  result.Answered = client.Answered();
  result.ErrorDesc = client.ErrorDesc();
  result.ComputerName = client.ComputerName();
  result.ServerName = client.ServerName();
  return value;
}

std::string ReadIPCValueSync(const std::string& command, bool raise, const std::string& data) {
  std::string value;
  const std::string serverName = GetIPCServerName();
  for (int attempt = 0; attempt < IPCAttempts; ++attempt) {
    TIPCResult result;
    value = ReadIPCValueOnce(command, serverName, data, result);
    if (raise && !result.Answered) {
      throw TIPCClientException(
          "Named Pipe Error [ReadIPCValueSync]\r\nErrorDesc: " + result.ErrorDesc +
          "\r\nComputerName: " + result.ComputerName + "\r\nServerName: " + result.ServerName);
    }
    if (result.Answered) return value;
    std::this_thread::sleep_for(std::chrono::milliseconds(IPCRetryPauseMs));
  }
  return value;
}

uint32_t SetIPCConnectTimeoutForTests(uint32_t milliseconds) {
  return connectTimeoutMs.exchange(milliseconds);
}

}  // namespace pv
