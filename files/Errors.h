// The system's own exception family: every recoverable failure (a file, the database, the pipe)
// travels as one of these. Messages are 8-bit Windows-1252 text, as all text inside the system.
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

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

// What could not be done to a file, for FileFailureText.
enum class TFileAction { Open, Create };

// The one text for a file that cannot be opened or created: "Datei <name> kann nicht geöffnet
// werden" or "Datei <name> kann nicht erstellt werden", followed by " (<reason>)" when a reason is
// given. The name, a path of the file system (UTF-8), appears as Windows-1252 text.
std::string FileFailureText(TFileAction action, const std::string& name,
                            std::string_view reason = {});

}  // namespace pv
