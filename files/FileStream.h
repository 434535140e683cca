// A whole-file stream that honours the advisory locks other processes of the program take.
#pragma once

#include <string>
#include <string_view>

namespace pv {

// A file opened for one whole read or one whole replacement, guarded by an advisory lock: shared
// while it is read, exclusive while it is replaced. While another process holds a conflicting lock
// the open is retried every 10 ms until more than 10 s have passed since the first try.
class TFileStreamEx {
 public:
  enum TMode { fmOpenRead, fmCreate };

  // Opens (fmOpenRead) or prepares to replace (fmCreate) the file. A file missing in fmCreate is
  // fine: there is nothing to lock. Raises EFCreateError "Datei <name> kann nicht geöffnet werden"
  // (fmOpenRead) or "Datei <name> kann nicht erstellt werden" (fmCreate) when the file cannot be
  // opened, is no regular file, or stays locked past the limit.
  TFileStreamEx(const std::string& fileName, TMode mode);
  ~TFileStreamEx();
  TFileStreamEx(const TFileStreamEx&) = delete;
  TFileStreamEx& operator=(const TFileStreamEx&) = delete;

  // fmOpenRead: the whole file. Raises EFCreateError when reading fails.
  std::string ReadAll();
  // fmCreate: replaces the file atomically with data (the old file stays whole on failure).
  // Raises EFCreateError.
  void WriteAll(std::string_view data);

  // Test hook: the retry limit in milliseconds (10000 unless changed); returns the previous one.
  static int SetRetryLimitForTests(int milliseconds);

 private:
  int TryOpen();
  std::string FFileName;
  TMode FMode;
  int FHandle = -1;
};

}  // namespace pv
