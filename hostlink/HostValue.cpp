#include "hostlink/HostValue.h"

#include <chrono>
#include <thread>
#include <vector>

#include "files/AnsiText.h"
#include "files/FileUtil.h"
#include "files/Folders.h"
#include "hostlink/IPCClient.h"
#include "hostlink/MessageData.h"

namespace pv {

std::string GetIPCServerName() {
  const std::string work = GetWorkFolder("");
  // A working folder that others may change is treated as missing: nothing is read from it.
  if (!IsPrivateFolder(work)) return "";
  std::vector<std::string> lines;
  LoadListRetry(lines, work + IPCServiceNameFile);
  return lines.empty() ? std::string() : lines.front();
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
  MessageRef answer = client.ConnectAndTransact(*request, IPCConnectTimeoutMs.load());
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

}  // namespace pv
