// The client side of the host service's pipe: one framed request out, one framed answer back,
// then the end marker. Transport failures are recorded as a text and a code, never raised.
// A pipe "\\.\pipe\NAME" is the Unix-domain stream socket <working folder>/pipe/NAME.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "hostlink/MessageData.h"

namespace pv {

// The system error codes the client reports (the host product's numbering).
inline constexpr int32_t ERROR_FILE_NOT_FOUND = 2;
inline constexpr int32_t ERROR_PATH_NOT_FOUND = 3;
inline constexpr int32_t ERROR_TOO_MANY_OPEN_FILES = 4;
inline constexpr int32_t ERROR_ACCESS_DENIED = 5;
inline constexpr int32_t ERROR_INVALID_HANDLE = 6;
inline constexpr int32_t ERROR_NOT_ENOUGH_MEMORY = 8;
inline constexpr int32_t ERROR_INVALID_DATA = 13;
inline constexpr int32_t ERROR_GEN_FAILURE = 31;
inline constexpr int32_t ERROR_INVALID_PARAMETER = 87;
inline constexpr int32_t ERROR_BROKEN_PIPE = 109;
inline constexpr int32_t ERROR_NO_DATA = 232;
inline constexpr int32_t WAIT_TIMEOUT = 258;

// Framing limits: pieces of the encoded data on the wire, and the largest answer accepted.
inline constexpr size_t PipeChunkSize = 65536;
inline constexpr int64_t MaxAnswerIDLength = int64_t{64} * 1024;
inline constexpr int64_t MaxAnswerDataSize = int64_t{64} * 1024 * 1024;

// A transfer on an open pipe (the request out and the answer in) that has not finished this long
// after it began fails with WAIT_TIMEOUT in the step it is in, however the service paces its
// bytes: a service that trickles or stalls cannot hold the caller longer.
inline constexpr uint32_t DefaultIPCTransferTimeoutMs = 30000;
// Test hook: the transfer limit in force; returns the previous one.
uint32_t SetIPCTransferTimeoutForTests(uint32_t milliseconds);

// Test hook: when set, called with the byte count of every framing write of a request
// (ID length and ID, data size, each data piece). nullptr switches it off. Returns the previous
// observer.
using TPipeWriteObserver = void (*)(size_t bytes);
TPipeWriteObserver SetPipeWriteObserverForTests(TPipeWriteObserver observer);

// True for a pipe name that names a socket in the pipe folder: not empty and holding no '/',
// NUL or "..".
bool IsValidPipeName(std::string_view name);

// The socket file of a pipe path "\\.\pipe\NAME": <working folder>/pipe/NAME. Empty when the
// path names no pipe here (another computer, another form, or a name IsValidPipeName refuses).
std::string PipeSocketFile(const std::string& pipePath);

// One exchange with the host service. Create it, set the server name, run ConnectAndTransact
// once, read the state, drop it. Belongs to the thread that uses it.
class TIPCClient {
 public:
  TIPCClient();
  // Disconnects (end marker, close) when still connected.
  ~TIPCClient();
  TIPCClient(const TIPCClient&) = delete;
  TIPCClient& operator=(const TIPCClient&) = delete;

  // Stores the name and rebuilds the pipe path "\\<computer>\pipe\<name>".
  void SetServerName(const std::string& name);

  // Opens the pipe, waiting up to timeoutMs while it is busy. On failure ErrorDesc/ErrorCode say
  // why: no such pipe (or a folder that is not private) fails at once, a busy pipe past the
  // limit gives WAIT_TIMEOUT, a peer of another user (not root) ERROR_ACCESS_DENIED.
  void Connect(uint32_t timeoutMs);

  // Sends the request in full framing and reads the answer, all within the transfer limit.
  // Returns nullptr when the request did not go out in full, else the answer object, complete
  // only when Answered() is true.
  // Each failed step sets its own failure text and code. Exceptions of the message objects
  // (out of memory) pass through.
  MessageRef Transact(IMessageData& request);

  // Sends the end marker (a failure is ignored) and closes the pipe; nothing when not connected.
  void Disconnect();

  // Connect, then Transact when connected, then Disconnect in every case.
  MessageRef ConnectAndTransact(IMessageData& request, uint32_t timeoutMs);

  // Takes an already connected socket as the open pipe (fuzzing and tests).
  void AttachHandle(int fd);

  const std::string& PipePath() const { return pipePath_; }
  const std::string& ErrorDesc() const { return errorDesc_; }
  int32_t ErrorCode() const { return errorCode_; }
  const std::string& ServerName() const { return serverName_; }
  int PipeHandle() const { return pipeHandle_; }
  bool Connected() const { return connected_; }
  bool Answered() const { return answered_; }
  const std::string& ComputerName() const { return computerName_; }

 private:
  using Deadline = std::chrono::steady_clock::time_point;
  void Fail(const char* text, int32_t code);
  // Framing steps 1 to 3; false (with the failure recorded) when the request did not go out.
  bool SendRequest(IMessageData& request, Deadline deadline, std::vector<char>& buffer);
  // Framing steps 4 to 7 into answer; sets Answered when it is complete.
  void ReadAnswer(IMessageData& answer, Deadline deadline, std::vector<char>& buffer);

  std::string pipePath_;
  std::string errorDesc_;
  int32_t errorCode_ = 0;
  std::string serverName_;
  int pipeHandle_ = -1;
  bool connected_ = false;
  bool answered_ = false;
  std::string computerName_ = ".";
};

}  // namespace pv
