// The system's own exception family: every recoverable failure (a file, the database, the pipe)
// travels as one of these. Messages are 8-bit Windows-1252 text, as all text inside the system.
#pragma once

#include <stdexcept>
#include <string>

namespace pv {

// Base of the family. what() gives the message bytes (Windows-1252).
class Exception : public std::runtime_error {
 public:
  explicit Exception(const std::string& message) : std::runtime_error(message) {}
  std::string Message() const { return what(); }
};

// Input/output failure with the system's error code (ForceFolders, file streams).
class EInOutError : public Exception {
 public:
  EInOutError(const std::string& message, int errorCode)
      : Exception(message), ErrorCode(errorCode) {}
  int ErrorCode;
};

// A file could not be created or opened (message names the file).
class EFCreateError : public Exception {
 public:
  using Exception::Exception;
};

}  // namespace pv
