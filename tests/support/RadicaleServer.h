// A real CardDAV server for tests: Debian's radicale on 127.0.0.1 at a free port, with a fresh
// storage folder, one user with a password and one empty address book, behind a small counting
// proxy that can also answer 507 or drop connections on request. Both stop with the object.
#pragma once

#include <sys/types.h>

#include <map>
#include <string>
#include <vector>

namespace pv::test {

class RadicaleServer {
 public:
  static constexpr const char* User = "anna";
  static constexpr const char* Password = "geheim";
  static constexpr const char* BookName = "kontakte";

  // Starts both processes in folder (which must exist) and waits until they accept connections.
  // Ok() is false when radicale or python3 is missing or a process did not come up.
  explicit RadicaleServer(const std::string& folder);
  ~RadicaleServer();
  RadicaleServer(const RadicaleServer&) = delete;
  RadicaleServer& operator=(const RadicaleServer&) = delete;

  bool Ok() const { return ok_; }
  const std::string& Problem() const { return problem_; }

  // Through the proxy: "http://127.0.0.1:<port>/" and the address book "…/anna/kontakte/".
  std::string ServerUrl() const;
  std::string BookUrl() const;
  // The address book, straight at radicale (no proxy).
  std::string DirectBookUrl() const;

  // The requests the proxy has seen, as "METHOD PATH STATUS" lines, and how many of each method.
  std::vector<std::string> Requests() const;
  std::map<std::string, int> MethodCounts() const;
  // Forgets the requests seen so far (the log is emptied; the proxy's rule counts stay).
  void ClearRequests();
  // Sets the proxy's rule (JSON, see carddav_proxy.py); empty clears it. Counting for "after"
  // starts when the proxy is restarted, so set it before RestartProxy when it must count afresh.
  void SetRule(const std::string& json);
  bool RestartProxy();

  // Stops radicale (the proxy stays and drops what it cannot forward), and starts it again on
  // the same port and storage.
  void StopRadicale();
  bool RestartRadicale();

 private:
  bool StartRadicale(int port);
  bool StartProxy();

  std::string folder_;
  int port_ = 0;
  int proxyPort_ = 0;
  pid_t radicale_ = -1;
  pid_t proxy_ = -1;
  bool ok_ = false;
  std::string problem_;
};

// A TCP port on 127.0.0.1 that was free a moment ago.
int FreeLoopbackPort();
// Waits until something accepts connections on 127.0.0.1:port, at most timeoutMs.
bool WaitForPort(int port, int timeoutMs);

}  // namespace pv::test
