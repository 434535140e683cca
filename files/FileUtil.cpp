#include "files/FileUtil.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <thread>

#include "files/Errors.h"

namespace pv {
namespace {

bool IsMissingError(int err) { return err == ENOENT || err == ENOTDIR || err == ENAMETOOLONG; }

void Pause() { std::this_thread::sleep_for(std::chrono::milliseconds(RetryPauseMs)); }

}  // namespace

bool FileExistsSafe(const std::string& name, bool followLink) {
  struct stat st;
  if (name.empty() || lstat(name.c_str(), &st) != 0) return false;
  if (!S_ISLNK(st.st_mode)) return !S_ISDIR(st.st_mode);
  if (!followLink) return true;
  if (stat(name.c_str(), &st) != 0) return false;  // dangling link
  if (S_ISDIR(st.st_mode)) return false;
  const int fd = open(name.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return false;
  close(fd);
  return true;
}

bool DirectoryExistsSafe(const std::string& name, bool followLink) {
  struct stat st;
  if (lstat(name.c_str(), &st) != 0) return !IsMissingError(errno);
  if (!S_ISLNK(st.st_mode)) return S_ISDIR(st.st_mode);
  const bool targetIsDir = stat(name.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
  if (followLink) return targetIsDir;
  if (targetIsDir) return true;
  const int fd = open(name.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return true;
  close(fd);
  return false;
}

std::string AddBackslash(const std::string& path) {
  if (path.empty() || path.back() == PathDelim) return path;
  return path + PathDelim;
}

std::string ExtractFilePath(const std::string& path) {
  const size_t cut = path.find_last_of(PathDelim);
  return cut == std::string::npos ? std::string() : path.substr(0, cut + 1);
}

std::string ExtractFileName(const std::string& path) {
  return path.substr(ExtractFilePath(path).size());
}

std::string RemoveBackslash(const std::string& path) {
  if (!path.empty() && path.back() == PathDelim) return path.substr(0, path.size() - 1);
  return path;
}

namespace {

bool ForceFoldersMode(const std::string& folder, mode_t mode) {
  if (folder.empty()) throw EInOutError("Verzeichnis kann nicht erstellt werden", 3);
  const std::string dir = RemoveBackslash(folder);
  if (dir.size() < 3 || DirectoryExistsSafe(dir, true)) return true;
  const std::string parent = ExtractFilePath(dir);
  if (parent == dir) return true;
  return ForceFoldersMode(parent, mode) && (mkdir(dir.c_str(), mode) == 0 || errno == EEXIST);
}

}  // namespace

bool ForceFolders(const std::string& dir) { return ForceFoldersMode(dir, 0777); }

bool ForcePrivateFolders(const std::string& dir) { return ForceFoldersMode(dir, 0700); }

bool DeleteFileRetry(const std::string& name) {
  for (int attempt = 1; attempt <= RetryAttempts; ++attempt) {
    if (!FileExistsSafe(name)) return true;
    if (unlink(name.c_str()) == 0) return true;
  }
  return false;
}

bool ReadToEnd(int fd, std::string& data, size_t limit) {
  struct stat st;
  if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0)
    data.reserve(data.size() + std::min(static_cast<size_t>(st.st_size), limit));
  char buffer[65536];
  for (size_t got = 0; got < limit;) {
    const ssize_t n = read(fd, buffer, std::min(sizeof buffer, limit - got));
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data.append(buffer, static_cast<size_t>(n));
    got += static_cast<size_t>(n);
  }
  return true;
}

std::string ReadWholeFile(const std::string& name) {
  const int fd = open(name.c_str(), O_RDONLY | O_CLOEXEC);
  std::string data;
  const bool read = fd >= 0 && ReadToEnd(fd, data);
  if (fd >= 0) close(fd);
  if (!read) throw EFCreateError(FileFailureText(TFileAction::Open, name));
  return data;
}

std::vector<std::string> SplitLines(std::string_view text) {
  std::vector<std::string> lines;
  ForEachLine(text, [&lines](std::string_view line) { lines.emplace_back(line); });
  return lines;
}

void LoadListRetry(std::vector<std::string>& list, const std::string& name) {
  for (int attempt = 1;; ++attempt) {
    try {
      if (FileExistsSafe(name)) list = SplitLines(ReadWholeFile(name));
      return;
    } catch (const Exception&) {
      if (attempt >= RetryAttempts) throw;
      Pause();
    }
  }
}

}  // namespace pv
