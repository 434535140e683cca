// Asking the host product's local exchange service for a named value (such as the database
// folder "DBPATH"): the service's pipe name from its name file, a request over the pipe client,
// a few quick retries, and the answer's "DATA" text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "files/Errors.h"

namespace pv {

// The file the service leaves in the working folder; its first line is the pipe name.
inline constexpr const char* IPCServiceNameFile = "QPV-EXCHANGELOCALSERVICE.TXT";

// Only this much of the service name file is read: its first line is a short pipe name.
inline constexpr size_t IPCServiceNameFileLimit = 4096;

inline constexpr int IPCAttempts = 3;
inline constexpr int IPCRetryPauseMs = 50;
// Time limit for opening the pipe in each attempt.
inline constexpr uint32_t DefaultIPCConnectTimeoutMs = 5000;
// Test hook: the connect limit in force; returns the previous one.
uint32_t SetIPCConnectTimeoutForTests(uint32_t milliseconds);

// The outcome of one attempt.
struct TIPCResult {
  std::string ErrorDesc;     // the client's last failure text, empty after a clean exchange
  std::string ComputerName;  // "."
  std::string ServerName;    // the pipe name used
  bool Answered = false;     // a complete answer arrived
};

// Raised by ReadIPCValueSync when raising is asked for and an attempt was not answered.
class TIPCClientException : public Exception {
 public:
  using Exception::Exception;
};

// The first line of the service name file in the working folder, verbatim, from at most its
// first IPCServiceNameFileLimit bytes. Empty when there is no file, it is empty, it is not a
// regular file of this user (a link, a FIFO or a device is never opened for reading), or the
// working folder is not private to this user. A file that still cannot be read after
// RetryAttempts tries RetryPauseMs apart raises EFCreateError.
std::string GetIPCServerName();

// One attempt: asks the service under serverName for command (with data when not empty). The
// value is the answer's "DATA" (empty when missing or when no complete answer came); result
// tells how the attempt went. Never raises for transport failures.
std::string ReadIPCValueOnce(const std::string& command, const std::string& serverName,
                             const std::string& data, TIPCResult& result);

// The value of command from the host service: up to IPCAttempts attempts IPCRetryPauseMs apart
// (the pause follows every unanswered attempt), stopping at the first answered one. Empty when
// the service cannot be reached. With raise set, the first unanswered attempt raises
// TIPCClientException "Named Pipe Error [ReadIPCValueSync]\r\nErrorDesc: ...\r\nComputerName:
// ...\r\nServerName: ...". Blocks the calling thread.
std::string ReadIPCValueSync(const std::string& command, bool raise = false,
                             const std::string& data = "");

}  // namespace pv
