// Feeds arbitrary bytes to the pipe client as the service's answer, then reads values from
// whatever answer object came back. The client must take exactly the framing the bytes hold: a
// complete answer within the limits is answered with its ID and exactly its announced data, and
// anything short of that is not answered.
#include <sys/socket.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "fuzz/FuzzUtil.h"
#include "hostlink/IPCClient.h"
#include "hostlink/MessageData.h"

namespace {

struct Framed {
  std::string id;
  std::string data;
};

bool TakeLength(std::string_view& in, int64_t& v) {
  if (in.size() < 8) return false;
  uint64_t u = 0;
  for (int i = 0; i < 8; ++i)
    u |= static_cast<uint64_t>(static_cast<unsigned char>(in[i])) << (8 * i);
  v = static_cast<int64_t>(u);
  in.remove_prefix(8);
  return true;
}

bool TakeBytes(std::string_view& in, int64_t n, int64_t limit, std::string& out) {
  if (n > limit) return false;
  if (n <= 0) return true;
  if (in.size() < static_cast<uint64_t>(n)) return false;
  out = in.substr(0, static_cast<size_t>(n));
  in.remove_prefix(static_cast<size_t>(n));
  return true;
}

// The answer the bytes frame, when they hold a complete one within the client's limits.
std::optional<Framed> Expected(std::string_view in) {
  Framed f;
  int64_t m = 0, e = 0;
  if (!TakeLength(in, m) || !TakeBytes(in, m, pv::MaxAnswerIDLength, f.id)) return std::nullopt;
  if (!TakeLength(in, e) || !TakeBytes(in, e, pv::MaxAnswerDataSize, f.data)) return std::nullopt;
  return f;
}

}  // namespace

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

  const auto expected = Expected({reinterpret_cast<const char*>(data), size});
  FUZZ_CHECK(static_cast<bool>(answer));  // the request always goes out here
  FUZZ_CHECK(client.Answered() == expected.has_value());
  if (expected) {
    const pv::TMemoryStream& got = answer->GetData().Stream();
    FUZZ_CHECK(answer->GetID() == expected->id);
    FUZZ_CHECK(std::string_view(got.Memory(), static_cast<size_t>(got.Size())) == expected->data);
  }

  if (answer) {
    pv::TStreamStorage& values = answer->GetData();
    values.ReadWideString(u"DATA");
    values.ReadWideString(u"MISSING");
    values.ReadWideString(u"INDEX");
    values.ReadWideString(u"DATA");
  }
  return 0;
}
