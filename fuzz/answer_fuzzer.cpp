// Feeds arbitrary bytes to the pipe client as the service's answer, then reads values from
// whatever answer object came back.
#include <sys/socket.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>

#include "hostlink/IPCClient.h"
#include "hostlink/MessageData.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The whole input must fit the socket buffer, since nobody reads the other end meanwhile.
  if (size > 100000) return 0;
  int fds[2];
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) return 0;
  const int sndbuf = 1 << 20;
  setsockopt(fds[1], SOL_SOCKET, SO_SNDBUF, &sndbuf, sizeof(sndbuf));
  size_t done = 0;
  while (done < size) {
    const ssize_t w = send(fds[1], data + done, size - done, MSG_NOSIGNAL);
    if (w <= 0) break;
    done += static_cast<size_t>(w);
  }
  shutdown(fds[1], SHUT_WR);

  pv::TIPCClient client;
  client.AttachHandle(fds[0]);
  pv::MessageRef request = pv::TMessageData::Create();
  request->GetData().WriteWideString(u"COMMAND", u"DBPATH");
  request->GetData().WriteInteger(u"INDEX", -1);
  pv::MessageRef answer = client.Transact(*request);
  client.Disconnect();
  close(fds[1]);

  if (answer) {
    pv::TStreamStorage& values = answer->GetData();
    values.ReadWideString(u"DATA");
    values.ReadWideString(u"MISSING");
    values.ReadWideString(u"INDEX");
    values.ReadWideString(u"DATA");
  }
  return 0;
}
