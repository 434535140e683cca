// File and folder helpers used for every existence test, path join, retrying delete and load, and
// for replacing files so that a failure never leaves a half-written file behind.
// Paths are 8-bit strings; the delimiter is the native '/'.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace pv {

inline constexpr char PathDelim = '/';
inline constexpr int RetryAttempts = 100;
inline constexpr int RetryPauseMs = 100;

// True for an existing entry that is not a folder (also when another process locks it).
// With followLink false a symbolic link counts as a file whatever it points to.
bool FileExistsSafe(const std::string& name, bool followLink = true);

// True for an existing folder; followLink false: a link to a folder counts, one to a file does not.
bool DirectoryExistsSafe(const std::string& name, bool followLink = true);

// The path with one trailing delimiter; empty stays empty, a path ending in '/' stays as it is.
std::string AddBackslash(const std::string& path);

// The folder part of a path, up to and including its last delimiter; empty when it has none.
std::string ExtractFilePath(const std::string& path);

// The part of a path after its last delimiter (the whole path when it has none).
std::string ExtractFileName(const std::string& path);

// The path without one trailing delimiter (only the last one is removed).
std::string RemoveBackslash(const std::string& path);

// Creates the folder and its missing parents; true when it exists afterwards.
// An empty name raises EInOutError "Verzeichnis kann nicht erstellt werden" (code 3).
bool ForceFolders(const std::string& dir);

// As ForceFolders, but the folders it creates are private to the user (mode 0700).
bool ForcePrivateFolders(const std::string& dir);

// Deletes the file; true when it is gone (also when there was none). Up to 100 attempts; an error
// raised by the 100th attempt is passed on, earlier ones are retried after 100 ms.
bool DeleteFileRetry(const std::string& name);

// Replaces list by the lines of the file (LF, CR LF or CR end a line); a missing file leaves the
// list as it was. Retried like DeleteFileRetry; the 100th failure raises EFCreateError.
void LoadListRetry(std::vector<std::string>& list, const std::string& name);

// Calls fn(line) for each line of a text: LF, CR LF or CR ends a line; a final line break gives
// no empty last line. The lines are views into text.
template <class Fn>
void ForEachLine(std::string_view text, Fn fn) {
  size_t start = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c != '\r' && c != '\n') continue;
    fn(text.substr(start, i - start));
    if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
    start = i + 1;
  }
  if (start < text.size()) fn(text.substr(start));
}

// The lines of a text, as ForEachLine finds them.
std::vector<std::string> SplitLines(std::string_view text);

// Appends what fd holds from its position to its end, but at most limit bytes, to data. False
// with errno set when a read fails; data then keeps what came before the failure.
bool ReadToEnd(int fd, std::string& data, size_t limit = SIZE_MAX);

// The whole file, or raises EFCreateError "Datei %s kann nicht geöffnet werden".
std::string ReadWholeFile(const std::string& name);

// Replaces the file atomically: writes an unnamed file in the target's folder, flushes it to disk,
// gives it a temporary name and renames it over the target, so a crash, a kill or a full disk
// leaves the previous file whole and no temporary file behind. The old file's permission bits are
// kept; a new file gets 0666 less the umask. The target is found by ResolveReplaceTarget. Raises
// EFCreateError ("Datei %s kann nicht erstellt werden (<reason>)").
void SaveFileAtomic(const std::string& name, std::string_view data);

// Like SaveFileAtomic, but the data comes in pieces: Write() appends, Commit() makes the file
// visible. Destroying it without Commit() drops the new data and keeps the old file.
// Where the file system has no unnamed files, the data goes to a file named
// ".<name>.pvtmp-<pid>-<random>" that stays locked while its writer lives; the next writer in that
// folder removes such files of the user whose writer is gone (RemoveStaleTempFiles), and the
// "<name>.tmp-XXXXXX" files that earlier versions left for the same name when no process has them
// open.
class AtomicFileWriter {
 public:
  explicit AtomicFileWriter(const std::string& name);  // raises EFCreateError
  ~AtomicFileWriter();
  AtomicFileWriter(const AtomicFileWriter&) = delete;
  AtomicFileWriter& operator=(const AtomicFileWriter&) = delete;

  void Write(std::string_view data);  // raises EFCreateError
  void Commit();                      // raises EFCreateError

 private:
  class TDiskSync;
  void OpenTemporary();
  void OpenNamedTemporary();
  void LinkUnnamed();
  void SyncInBackground();
  void Discard();
  [[noreturn]] void Fail(int err);
  std::string name_;    // as given (messages, the test hook)
  std::string target_;  // the file that is replaced (links followed)
  std::string base_;    // target_'s name inside its folder
  std::string temp_;    // the temporary name inside the folder; empty while there is none
  int dirFd_ = -1;
  int fd_ = -1;
  long long written_ = 0;  // bytes written so far
  long long flushed_ = 0;  // bytes handed to the disk's writeback
  long long synced_ = 0;   // bytes whose flush to the disk was asked for in the background
  std::unique_ptr<TDiskSync> sync_;  // started with the first large piece
};

// The file that replacing name replaces: name itself when it is a regular file or missing; for a
// symbolic link, the file it leads to, link by link (at most 40), each link followed only under the
// rule the kernel uses for protected links: its folder is not both sticky and writable by all, or
// the link belongs to this user or to the folder's owner. Raises EFCreateError for anything that
// is not a regular file (folder, device, FIFO, socket), for a link that may not be followed, and
// for too many links.
std::string ResolveReplaceTarget(const std::string& name);

// Removes the temporary files that writers killed before they finished left in folder: regular
// files of this user with the writer's pattern whose process is gone and whose lock is free.
// Returns how many were removed.
int RemoveStaleTempFiles(const std::string& folder);

// The system's description of err as Windows-1252 text (strerror gives the locale's encoding).
std::string SystemErrorText(int err);

// Text in the locale's encoding (UTF-8 or a single-byte Latin code page) as Windows-1252.
std::string LocaleTextToAnsi(std::string_view text);

// Test hook (for TScopedOverride; returns the failure it replaces): writes through
// SaveFileAtomic/AtomicFileWriter whose target name ends with nameSuffix fail with ENOSPC after
// afterBytes bytes. An empty suffix switches it off.
struct TWriteFailure {
  std::string nameSuffix;
  long long afterBytes = 0;
};
TWriteFailure SetWriteFailureForTests(TWriteFailure failure);

// Test hook (returns the previous setting): false makes the writers behave as on a file system
// without unnamed files.
bool SetUnnamedFilesForTests(bool allowed);

// Test hook (returns the previous call): what AtomicFileWriter calls to flush a large file to the
// disk in the background while it is written (fdatasync).
using TDiskSyncCall = int (*)(int fd);
TDiskSyncCall SetDiskSyncForTests(TDiskSyncCall call);

}  // namespace pv
