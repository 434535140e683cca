#include "settings/UserMode.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <exception>
#include <mutex>
#include <thread>

#include "files/FileUtil.h"

namespace pv {
namespace {

constexpr const char* kLockSuffix = ".lock";
constexpr int kLockPauseMs = 10;
std::atomic<int> gLockWaitMs{10000};

struct SettingsState {
  std::mutex lock;
  std::string folder;
  std::string programFolderOverride;
} gState;

std::string SettingsFolder() {
  std::lock_guard<std::mutex> hold(gState.lock);
  return gState.folder;
}

// The folder of the running program file, with trailing '/'; empty when it cannot be found.
std::string ProgramFolder() {
  {
    std::lock_guard<std::mutex> hold(gState.lock);
    if (!gState.programFolderOverride.empty()) return AddBackslash(gState.programFolderOverride);
  }
  char path[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
  if (n <= 0) return {};
  return ExtractFilePath(std::string(path, static_cast<size_t>(n)));
}

class FileHandle {
 public:
  explicit FileHandle(int fd) : fd_(fd) {}
  ~FileHandle() {
    if (fd_ >= 0) close(fd_);
  }
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

// Copies UserMode.INI of the program folder into folder when folder has none. The copy appears
// whole or not at all, and under the settings lock, so that it never replaces a file another
// process has just written; every failure is ignored.
void CopyFromProgramFolder(const std::string& folder) {
  const std::string target = AddBackslash(folder) + SettingsFileName;
  const std::string programFolder = ProgramFolder();
  if (programFolder.empty()) return;
  const std::string source = programFolder + SettingsFileName;
  if (source == target || FileExistsSafe(target) || !FileExistsSafe(source)) return;
  try {
    TSettingsLock lock(target);
    if (FileExistsSafe(target)) return;
    FileHandle in(open(source.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    struct stat st;
    if (in.get() < 0 || fstat(in.get(), &st) != 0 || !S_ISREG(st.st_mode)) return;
    std::string data;
    if (ReadToEnd(in.get(), data)) SaveFileAtomic(target, data);
  } catch (const std::exception&) {
  }
}

std::string QuoteModeString(const std::string& value) {
  std::string quoted = "\"";
  for (char c : value) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + '"';
}

// A value that begins with a double quote: the text up to the closing quote (or the end), with
// doubled quotes made single. Any other value unchanged.
std::string UnquoteModeString(const std::string& value) {
  if (value.empty() || value.front() != '"') return value;
  std::string text;
  for (size_t i = 1; i < value.size(); ++i) {
    if (value[i] == '"') {
      if (i + 1 < value.size() && value[i + 1] == '"')
        ++i;
      else
        break;
    }
    text += value[i];
  }
  return text;
}

// Opens the settings file, applies put and saves, all under the settings lock; every failure is
// swallowed.
template <class Put>
void WriteMode(const std::string& folder, Put put) {
  try {
    std::unique_ptr<TFastIniFile> ini = OpenSettingsFile(folder);
    const std::string iniFolder = ExtractFilePath(ini->FileName());
    if (!iniFolder.empty()) ForceFolders(iniFolder);
    TSettingsLock lock(ini->FileName());
    put(*ini);
    ini->SaveIfModified();
  } catch (const std::exception&) {
  }
}

// The value get reads from the settings file, or def on any failure.
template <class T, class Get>
T ReadMode(const std::string& folder, const T& def, Get get) {
  try {
    std::unique_ptr<TFastIniFile> ini = OpenSettingsFile(folder);
    return get(*ini);
  } catch (const std::exception&) {
    return def;
  }
}

}  // namespace

TSettingsLock::TSettingsLock(const std::string& settingsFile) {
  const std::string name = settingsFile + kLockSuffix;
  const std::string failure = FileFailureText(TFileAction::Open, name);
  fd_ = open(name.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0600);
  if (fd_ < 0) throw EFCreateError(failure);
  struct stat st;
  if (fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(fd_);
    throw EFCreateError(failure);
  }
  const auto limit = std::chrono::milliseconds(gLockWaitMs.load());
  const auto start = std::chrono::steady_clock::now();
  while (flock(fd_, LOCK_EX | LOCK_NB) != 0) {
    if ((errno != EWOULDBLOCK && errno != EINTR) ||
        std::chrono::steady_clock::now() - start > limit) {
      close(fd_);
      throw EFCreateError(failure);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(kLockPauseMs));
  }
}

TSettingsLock::~TSettingsLock() { close(fd_); }  // closing lets the lock go

int TSettingsLock::SetWaitLimitForTests(int milliseconds) {
  return gLockWaitMs.exchange(milliseconds);
}

void SetSettingsFolder(const std::string& folder) {
  {
    std::lock_guard<std::mutex> hold(gState.lock);
    if (folder == gState.folder) return;
  }
  if (!folder.empty()) CopyFromProgramFolder(folder);
  std::lock_guard<std::mutex> hold(gState.lock);
  gState.folder = folder;
}

std::unique_ptr<TFastIniFile> OpenSettingsFile(const std::string& folder) {
  std::string dir = folder.empty() ? SettingsFolder() : folder;
  if (dir.empty()) dir = ProgramFolder();
  return std::make_unique<TFastIniFile>(AddBackslash(dir) + SettingsFileName);
}

bool ReadModeBool(const std::string& key, bool def, const std::string& folder, bool writeBack) {
  if (key.empty()) return def;
  const bool value =
      ReadMode(folder, def, [&](TFastIniFile& ini) { return ini.GetBool(ModeSection, key, def); });
  if (writeBack) WriteModeBool(key, value, folder);
  return value;
}

std::int32_t ReadModeInteger(const std::string& key, std::int32_t def, const std::string& folder,
                             bool writeBack) {
  if (key.empty()) return def;
  const std::int32_t value = ReadMode(
      folder, def, [&](TFastIniFile& ini) { return ini.GetInteger(ModeSection, key, def); });
  if (writeBack) WriteModeInteger(key, value, folder);
  return value;
}

std::string ReadModeString(const std::string& key, const std::string& def,
                           const std::string& folder, bool writeBack) {
  if (key.empty()) return {};
  std::string value = UnquoteModeString(ReadMode(
      folder, def, [&](TFastIniFile& ini) { return ini.GetString(ModeSection, key, def); }));
  if (writeBack) WriteModeString(key, value, folder);
  return value;
}

void WriteModeBool(const std::string& key, bool value, const std::string& folder) {
  if (key.empty()) return;
  WriteMode(folder, [&](TFastIniFile& ini) { ini.PutBool(ModeSection, key, value); });
}

void WriteModeInteger(const std::string& key, std::int32_t value, const std::string& folder) {
  if (key.empty()) return;
  WriteMode(folder, [&](TFastIniFile& ini) { ini.PutInteger(ModeSection, key, value); });
}

void WriteModeString(const std::string& key, const std::string& value, const std::string& folder) {
  if (key.empty()) return;
  WriteMode(folder,
            [&](TFastIniFile& ini) { ini.PutString(ModeSection, key, QuoteModeString(value)); });
}

std::string SetProgramFolderForTests(std::string folder) {
  std::lock_guard<std::mutex> hold(gState.lock);
  std::swap(gState.programFolderOverride, folder);
  return folder;
}

}  // namespace pv
