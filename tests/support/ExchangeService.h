// A running reference exchange service for tests: the real service program as a child process,
// serving given values (and misbehaving when asked) in a private temporary working folder.
#pragma once

#include <sys/types.h>

#include <string>
#include <utility>
#include <vector>

namespace pv::test {

class ExchangeService {
 public:
  struct Options {
    // Served values, NAME -> TEXT (each becomes --value NAME=TEXT).
    std::vector<std::pair<std::string, std::string>> values;
    // Further arguments as they are, e.g. {"--delay", "300"} or {"--garbage"}.
    std::vector<std::string> switches;
    // The pipe name; empty: the service makes up a fresh one.
    std::string name;
    // $TMPDIR of the child, whose working folder is <tempFolder>/PVTempDir/; empty: this
    // process's $TMPDIR (so a client in this process finds the service).
    std::string tempFolder;
    // The service program; empty: DefaultBinary().
    std::string binary;
  };

  // Starts the service and waits until it has published its name (at most 10 s); a service that
  // does not come up fails the test (Running() is then false).
  explicit ExchangeService(Options options);
  // Stops the service when it still runs.
  ~ExchangeService();
  ExchangeService(const ExchangeService&) = delete;
  ExchangeService& operator=(const ExchangeService&) = delete;

  // Sends SIGTERM and waits for the end (SIGKILL after 10 s). The exit code, or -1 when the
  // service did not run or ended by a signal.
  int Stop();
  // Ends the service with SIGKILL: its socket and name file stay behind.
  void Kill();

  bool Running() const { return pid_ > 0; }
  const std::string& PipeName() const { return name_; }
  // <temp folder>/PVTempDir/ and the files the service publishes there.
  std::string WorkFolder() const;
  std::string NameFile() const;
  std::string SocketFile() const;

  // The service's log: one line per client, "COMMAND=<command> END=<yes|no>". Waits up to
  // timeoutMs for at least minLines lines.
  std::vector<std::string> LogLines(size_t minLines = 0, int timeoutMs = 5000) const;

  // The service program of this build.
  static std::string DefaultBinary();

 private:
  std::string tempFolder_;
  std::string logFile_;
  std::string name_;
  pid_t pid_ = -1;
};

}  // namespace pv::test
