// pv-exchange-service: a stand-in for the host product's local exchange service. It serves named
// values over the pipe framing of the host link (a Unix-domain socket in the working folder's
// private "pipe" folder), publishes its pipe name in the service name file and prints it on
// stdout once it serves, and on SIGINT or SIGTERM removes both files and exits 0. Switches make it
// misbehave on purpose, for tests.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/random.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "files/AnsiText.h"
#include "files/FileUtil.h"
#include "files/Folders.h"
#include "hostlink/HostValue.h"
#include "hostlink/IPCClient.h"
#include "hostlink/MessageData.h"

namespace {

using namespace pv;

// How the service answers. Everything but Normal breaks the framing on purpose.
enum class Fault {
  Normal,
  CloseMidway,   // sends half of the answer, then closes
  ShortData,     // announces more data than it sends, then waits for the client
  OversizeID,    // announces an answer ID far above the client's limit
  OversizeData,  // announces answer data far above the client's limit
  Garbage,       // a well-framed answer whose values are not a valid encoding
  Declare,       // announces --declare bytes of data, sends the real answer, then waits
  Flood,         // announces --declare bytes (default 8 MiB) and sends filler without end
};

struct Options {
  std::map<std::u16string, std::u16string> values;  // as they travel: UTF-16
  std::string name;
  int delayMs = 0;
  int trickleMs = 0;
  int64_t declared = 8 << 20;
  Fault fault = Fault::Normal;
  bool busy = false;
  long runAsUid = -1;
  std::string logFile;
};

constexpr const char* kUsage =
    "usage: pv-exchange-service [--value NAME=TEXT]... [--name PIPE] [--log FILE]\n"
    "                           [--delay MS] [--close-midway | --short-data | --oversize-id |\n"
    "                            --oversize-data | --garbage | --declare BYTES | --flood]\n"
    "                           [--trickle MS] [--busy] [--run-as-uid UID]\n"
    "  --value NAME=TEXT  answer the command NAME with TEXT (repeatable; UTF-8, the text of\n"
    "                     a client that reads Windows-1252 gets '?' for other characters)\n"
    "  --name PIPE        the pipe name (default: a fresh unique one)\n"
    "  --log FILE         append one line per client: its command and whether it ended cleanly\n"
    "  --delay MS         answer each request MS milliseconds late\n"
    "  --close-midway     close in the middle of each answer\n"
    "  --short-data       announce more answer bytes than are sent\n"
    "  --oversize-id      announce an oversized answer ID\n"
    "  --oversize-data    announce oversized answer data\n"
    "  --garbage          send answer data that is not a valid value encoding\n"
    "  --declare BYTES    announce BYTES of answer data, send only the real answer, then wait\n"
    "  --flood            announce --declare bytes (default 8 MiB), then send filler without end\n"
    "  --trickle MS       send the answer one byte every MS milliseconds\n"
    "  --busy             accept no client: the pipe stays busy\n"
    "  --run-as-uid UID   serve as that user (needs root)\n";

const std::map<std::string, Fault> kFaultSwitches = {
    {"--close-midway", Fault::CloseMidway}, {"--short-data", Fault::ShortData},
    {"--oversize-id", Fault::OversizeID},   {"--oversize-data", Fault::OversizeData},
    {"--garbage", Fault::Garbage},          {"--flood", Fault::Flood},
};

// Idle clients are dropped after this long so that a stuck one cannot hold a thread for ever.
constexpr int kClientIdleMs = 60000;

[[noreturn]] void Usage(const std::string& problem) {
  std::fprintf(stderr, "pv-exchange-service: %s\n%s", problem.c_str(), kUsage);
  std::exit(2);
}

[[noreturn]] void Die(const std::string& problem) {
  std::fprintf(stderr, "pv-exchange-service: %s\n", problem.c_str());
  std::exit(1);
}

// Command-line text (the locale's UTF-8) as the UTF-16 that travels in messages; characters beyond
// the basic plane become surrogate pairs. Text that is not valid UTF-8 is taken byte for byte as
// Windows-1252, the system's own 8-bit text.
std::u16string ArgToWide(const std::string& text) {
  static constexpr char32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
  std::u16string out;
  for (size_t i = 0; i < text.size();) {
    const auto lead = static_cast<unsigned char>(text[i]);
    const size_t len = lead < 0x80           ? 1
                       : (lead >> 5) == 0x06 ? 2
                       : (lead >> 4) == 0x0E ? 3
                       : (lead >> 3) == 0x1E ? 4
                                             : 0;
    if (len == 0 || i + len > text.size()) return AnsiToWide(text);
    char32_t cp = len == 1 ? lead : lead & (0x7Fu >> len);
    for (size_t k = 1; k < len; ++k) {
      const auto next = static_cast<unsigned char>(text[i + k]);
      if ((next & 0xC0) != 0x80) return AnsiToWide(text);
      cp = (cp << 6) | (next & 0x3Fu);
    }
    if (cp < kSmallest[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
      return AnsiToWide(text);
    }
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out += static_cast<char16_t>(0xD800 + (cp >> 10));
      out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
    } else {
      out += static_cast<char16_t>(cp);
    }
    i += len;
  }
  return out;
}

bool ParseInt(const std::string& text, long& out) {
  char* end = nullptr;
  errno = 0;
  out = std::strtol(text.c_str(), &end, 10);
  return !text.empty() && errno == 0 && *end == '\0' && out >= 0;
}

Options ParseArgs(int argc, char** argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto next = [&]() -> std::string {
      if (i + 1 >= argc) Usage(arg + " needs a value");
      return argv[++i];
    };
    long number = 0;
    if (arg == "--value") {
      const std::string v = next();
      const size_t eq = v.find('=');
      if (eq == std::string::npos || eq == 0) Usage("--value needs NAME=TEXT");
      o.values[ArgToWide(v.substr(0, eq))] = ArgToWide(v.substr(eq + 1));
    } else if (arg == "--name") {
      o.name = next();
      if (!IsValidPipeName(o.name)) Usage("not a usable pipe name: " + o.name);
    } else if (arg == "--log") {
      o.logFile = next();
    } else if (arg == "--delay") {
      if (!ParseInt(next(), number) || number > 3600000) Usage("--delay needs milliseconds");
      o.delayMs = static_cast<int>(number);
    } else if (arg == "--trickle") {
      if (!ParseInt(next(), number) || number > 3600000) Usage("--trickle needs milliseconds");
      o.trickleMs = static_cast<int>(number);
    } else if (arg == "--declare") {
      if (!ParseInt(next(), number)) Usage("--declare needs a byte count");
      o.declared = number;
      if (o.fault == Fault::Normal) o.fault = Fault::Declare;
    } else if (kFaultSwitches.count(arg)) {
      o.fault = kFaultSwitches.at(arg);
    } else if (arg == "--busy") {
      o.busy = true;
    } else if (arg == "--run-as-uid") {
      if (!ParseInt(next(), number)) Usage("--run-as-uid needs a user id");
      o.runAsUid = number;
    } else if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      std::exit(0);
    } else {
      Usage("unknown argument " + arg);
    }
  }
  return o;
}

std::string UniqueName() {
  unsigned char r[8] = {};
  if (getrandom(r, sizeof(r), 0) != static_cast<ssize_t>(sizeof(r))) {
    const auto t = std::chrono::steady_clock::now().time_since_epoch().count();
    std::memcpy(r, &t, sizeof(r));
  }
  char hex[17];
  for (size_t i = 0; i < sizeof(r); ++i) std::snprintf(hex + 2 * i, 3, "%02x", r[i]);
  return "pv-exchange-" + std::to_string(getpid()) + "-" + hex;
}

std::string Int64Bytes(int64_t v) {
  std::string b(8, '\0');
  for (int i = 0; i < 8; ++i) b[i] = static_cast<char>(static_cast<uint64_t>(v) >> (8 * i));
  return b;
}

int64_t Int64Of(const char* b) {
  uint64_t u = 0;
  for (int i = 0; i < 8; ++i)
    u |= static_cast<uint64_t>(static_cast<unsigned char>(b[i])) << (8 * i);
  return static_cast<int64_t>(u);
}

// One client's socket. Every wait also watches the stop descriptor and the idle limit.
class Client {
 public:
  Client(int fd, int stopFd) : fd_(fd), stopFd_(stopFd) {}
  ~Client() { close(fd_); }

  // False when the client closed, the service stops or the client stayed idle too long.
  bool Read(char* p, size_t n) {
    while (n > 0) {
      const ssize_t r = recv(fd_, p, n, 0);
      if (r > 0) {
        p += r;
        n -= static_cast<size_t>(r);
      } else if (r == 0 || (errno != EAGAIN && errno != EINTR) || !Wait(POLLIN, kClientIdleMs)) {
        return false;
      }
    }
    return true;
  }

  bool Send(const std::string& bytes) {
    const char* p = bytes.data();
    size_t n = bytes.size();
    while (n > 0) {
      const ssize_t w = send(fd_, p, n, MSG_NOSIGNAL);
      if (w > 0) {
        p += w;
        n -= static_cast<size_t>(w);
      } else if ((errno != EAGAIN && errno != EINTR) || !Wait(POLLOUT, kClientIdleMs)) {
        return false;
      }
    }
    return true;
  }

  // Sleeps ms milliseconds; false when the service stops meanwhile.
  bool Pause(int ms) {
    if (ms <= 0) return true;
    pollfd p{stopFd_, POLLIN, 0};
    int r;
    while ((r = poll(&p, 1, ms)) < 0 && errno == EINTR) {
    }
    return r == 0;
  }

  // Waits for events on the socket; false on the stop signal or when ms pass.
  bool Wait(short events, int ms) {
    pollfd p[2] = {{stopFd_, POLLIN, 0}, {fd_, events, 0}};
    for (;;) {
      const int r = poll(p, 2, ms);
      if (r < 0 && errno == EINTR) continue;
      return r > 0 && !(p[0].revents & POLLIN);
    }
  }

 private:
  int fd_;
  int stopFd_;
};

class Service {
 public:
  explicit Service(Options o) : o_(std::move(o)) {}

  void Serve(int fd, int stopFd) {
    Client c(fd, stopFd);
    std::string command;
    const bool cleanEnd = Exchange(c, command);
    Log("COMMAND=" + command + " END=" + (cleanEnd ? "yes" : "no"));
  }

 private:
  // Reads one request and answers it; true when the client then sent the end marker.
  bool Exchange(Client& c, std::string& command) {
    char b[8];
    if (!c.Read(b, 8)) return false;
    const int64_t idLength = Int64Of(b);
    if (idLength < 0 || idLength > MaxAnswerIDLength) return false;
    std::string id(static_cast<size_t>(idLength), '\0');
    if (!c.Read(id.data(), id.size()) || !c.Read(b, 8)) return false;
    const int64_t dataSize = Int64Of(b);
    if (dataSize < 0 || dataSize > MaxAnswerDataSize) return false;
    std::string data(static_cast<size_t>(dataSize), '\0');
    if (!c.Read(data.data(), data.size())) return false;

    MessageRef request = TMessageData::Create();
    request->GetData().Stream().Write(data.data(), data.size());
    const std::u16string wanted = request->GetData().ReadWideString(u"COMMAND");
    command = WideToAnsi(wanted);

    MessageRef answer = TMessageData::Create();
    if (auto it = o_.values.find(wanted); it != o_.values.end()) {
      answer->GetData().WriteWideString(u"DATA", it->second);
    }
    const TMemoryStream& s = answer->GetData().Stream();
    const std::string encoded(s.Memory(), static_cast<size_t>(s.Size()));
    const std::string head = Int64Bytes(static_cast<int64_t>(id.size())) + id;

    if (!c.Pause(o_.delayMs)) return false;
    bool sent = false;
    switch (o_.fault) {
      case Fault::Normal:
        sent = Send(c, head + Int64Bytes(static_cast<int64_t>(encoded.size())) + encoded);
        break;
      case Fault::Declare:
        sent = Send(c, head + Int64Bytes(o_.declared) + encoded);
        break;
      case Fault::Flood: {
        // Filler as fast as the client takes it, until it goes away or the service stops.
        if (!Send(c, head + Int64Bytes(o_.declared))) return false;
        const std::string filler(65536, 'F');
        while (c.Send(filler)) {
        }
        return false;
      }
      case Fault::CloseMidway:
        c.Send(head + Int64Bytes(static_cast<int64_t>(encoded.size())) +
               encoded.substr(0, encoded.size() / 2));
        return false;
      case Fault::ShortData:
        sent = c.Send(head + Int64Bytes(static_cast<int64_t>(encoded.size()) + 16) + encoded);
        break;
      case Fault::OversizeID:
        sent = c.Send(Int64Bytes(int64_t{1} << 40));
        break;
      case Fault::OversizeData:
        sent = c.Send(head + Int64Bytes(int64_t{1} << 40));
        break;
      case Fault::Garbage: {
        // A sound INDEX, then DATA whose value size runs far past the end.
        MessageRef broken = TMessageData::Create();
        broken->GetData().WriteInteger(u"INDEX", -1);
        broken->GetData().AppendValueHeader(u"DATA", int64_t{1} << 40);
        const TMemoryStream& g = broken->GetData().Stream();
        const std::string bytes =
            std::string(g.Memory(), static_cast<size_t>(g.Size())) + "garbage";
        sent = c.Send(head + Int64Bytes(static_cast<int64_t>(bytes.size())) + bytes);
        break;
      }
    }
    if (!sent) return false;
    // The client ends with the end marker, then closes.
    return c.Read(b, 8) && Int64Of(b) == -1;
  }

  // All bytes at once, or with --trickle one byte at a time.
  bool Send(Client& c, const std::string& bytes) {
    if (o_.trickleMs <= 0) return c.Send(bytes);
    for (const char b : bytes) {
      if (!c.Send(std::string(1, b)) || !c.Pause(o_.trickleMs)) return false;
    }
    return true;
  }

  void Log(const std::string& line) {
    if (o_.logFile.empty()) return;
    std::lock_guard<std::mutex> lock(logLock_);
    std::ofstream out(o_.logFile, std::ios::app | std::ios::binary);
    out << line << '\n';
  }

  const Options o_;
  std::mutex logLock_;
};

// Binds the listening socket at file; a socket left over by a service that died is replaced,
// one that still answers is not.
int Listen(const std::string& file, const Options& o) {
  sockaddr_un addr{};
  if (file.size() >= sizeof(addr.sun_path)) Die("socket path too long: " + file);
  addr.sun_family = AF_UNIX;
  std::memcpy(addr.sun_path, file.data(), file.size());
  const auto* sa = reinterpret_cast<const sockaddr*>(&addr);

  struct stat st;
  if (lstat(file.c_str(), &st) == 0) {
    const int probe = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const bool alive = probe >= 0 && connect(probe, sa, sizeof(addr)) == 0;
    if (probe >= 0) close(probe);
    if (alive) Die("the pipe " + file + " is served already");
    if (!S_ISSOCK(st.st_mode)) Die(file + " is not a socket");
    unlink(file.c_str());
  }
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0 || bind(fd, sa, sizeof(addr)) != 0)
    Die("cannot create " + file + ": " + std::strerror(errno));
  chmod(file.c_str(), 0600);
  // A peer learns the credentials in force when listen() runs.
  if (o.runAsUid >= 0 && seteuid(static_cast<uid_t>(o.runAsUid)) != 0) {
    Die("cannot switch to user " + std::to_string(o.runAsUid) + ": " + std::strerror(errno));
  }
  const bool listening = listen(fd, o.busy ? 0 : 64) == 0;
  const int listenErr = errno;
  if (o.runAsUid >= 0 && seteuid(0) != 0) Die("cannot switch back to root");
  if (!listening) Die(std::string("listen failed: ") + std::strerror(listenErr));
  return fd;
}

// Fills the listen queue so that every further connect finds the pipe busy.
std::vector<int> FillQueue(const std::string& file) {
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::memcpy(addr.sun_path, file.data(), file.size());
  std::vector<int> fillers;
  for (int i = 0; i < 16; ++i) {
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) break;
    if (connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof(addr)) != 0) {
      close(fd);
      break;
    }
    fillers.push_back(fd);
  }
  return fillers;
}

struct Worker {
  std::thread thread;
  std::atomic<bool> done{false};
};

// Serves clients, each on its own thread, until SIGINT or SIGTERM arrives on signalFd; then wakes
// the client threads through stopPipe and waits for them.
void ServeUntilStopped(const Options& o, int listenFd, int signalFd, const int stopPipe[2]) {
  Service service(o);
  std::list<Worker> workers;
  for (;;) {
    pollfd p[2] = {{signalFd, POLLIN, 0}, {listenFd, POLLIN, 0}};
    const int r = poll(p, o.busy ? 1 : 2, 1000);
    if (r < 0 && errno != EINTR) break;
    if (p[0].revents & POLLIN) break;
    if (r > 0 && (p[1].revents & POLLIN)) {
      const int fd = accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
      if (fd >= 0) {
        Worker& w = workers.emplace_back();
        w.thread = std::thread([&service, &w, fd, stopFd = stopPipe[0]] {
          service.Serve(fd, stopFd);
          w.done = true;
        });
      }
    }
    workers.remove_if([](Worker& w) {
      if (!w.done) return false;
      w.thread.join();
      return true;
    });
  }
  [[maybe_unused]] ssize_t ignored = write(stopPipe[1], "x", 1);
  for (Worker& w : workers) w.thread.join();
}

// Removes the name file unless another service has taken it over meanwhile.
// Another service may have taken the name file over meanwhile; leave its file alone. Read as the
// client reads it, so that something else put in its place cannot hang the service.
void RemoveNameFile(const std::string& nameFile, const std::string& name) {
  std::string current;
  try {
    current = GetIPCServerName();
  } catch (const std::exception&) {
  }
  if (current == name) unlink(nameFile.c_str());
}

}  // namespace

int main(int argc, char** argv) {
  Options o = ParseArgs(argc, argv);
  if (o.name.empty()) o.name = UniqueName();

  // SIGINT and SIGTERM arrive through a descriptor; every thread inherits the blocked mask.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
  signal(SIGPIPE, SIG_IGN);
  const int signalFd = signalfd(-1, &stopSignals, SFD_CLOEXEC);
  int stopPipe[2];
  if (signalFd < 0 || pipe2(stopPipe, O_CLOEXEC) != 0) Die("cannot set up signal handling");

  const std::string work = GetWorkFolder("");
  const std::string pipeDir = GetWorkFolder("pipe");
  if (!IsPrivateFolder(work) || !IsPrivateFolder(pipeDir)) {
    Die("the working folder " + work + " is not private to this user");
  }
  const std::string socketFile = pipeDir + o.name;
  const int listenFd = Listen(socketFile, o);
  std::vector<int> fillers;
  if (o.busy) fillers = FillQueue(socketFile);

  const std::string nameFile = work + IPCServiceNameFile;
  try {
    SaveFileAtomic(nameFile, o.name + "\n");
  } catch (const std::exception& e) {
    unlink(socketFile.c_str());
    Die(e.what());
  }
  std::printf("%s\n", o.name.c_str());
  std::fflush(stdout);

  ServeUntilStopped(o, listenFd, signalFd, stopPipe);
  // Remove what the service published.
  for (int fd : fillers) close(fd);
  close(listenFd);
  unlink(socketFile.c_str());
  RemoveNameFile(nameFile, o.name);
  return 0;
}
