#include "files/FileUtil.h"

#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fstream>
#include <mutex>
#include <thread>

#include "files/AnsiText.h"
#include "files/Errors.h"

namespace pv {
namespace {

constexpr long long kWritebackChunk = 8 << 20;

bool IsMissingError(int err) { return err == ENOENT || err == ENOTDIR || err == ENAMETOOLONG; }

void Pause() { std::this_thread::sleep_for(std::chrono::milliseconds(RetryPauseMs)); }

std::string CannotCreate(const std::string& name, int err) {
  std::string msg = "Datei " + Utf8ToAnsi(name) + " kann nicht erstellt werden";
  if (err != 0) msg += std::string(" (") + std::strerror(err) + ")";
  return msg;
}

// The injected write failure of SetWriteFailureForTests.
struct WriteFailure {
  std::mutex lock;
  std::string suffix;
  long long afterBytes = 0;
} gWriteFailure;

// Bytes a write to name may still make before the injected failure, or -1 for no limit.
long long InjectedLimit(const std::string& name) {
  std::lock_guard<std::mutex> hold(gWriteFailure.lock);
  const std::string& s = gWriteFailure.suffix;
  if (s.empty() || name.size() < s.size() || name.compare(name.size() - s.size(), s.size(), s) != 0)
    return -1;
  return gWriteFailure.afterBytes;
}

// The permission bits a newly created file gets from the process's umask.
mode_t NewFileMode() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("Umask:", 0) == 0)
      return 0666 & ~static_cast<mode_t>(std::stoul(line.substr(6), nullptr, 8));
  }
  return 0644;
}

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

std::string ReadWholeFile(const std::string& name) {
  const int fd = open(name.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0)
    throw EFCreateError("Datei " + name +
                        " kann nicht ge\xF6"
                        "ffnet werden");
  std::string data;
  struct stat st;
  if (fstat(fd, &st) == 0 && st.st_size > 0) data.reserve(static_cast<size_t>(st.st_size));
  char buf[65536];
  for (;;) {
    const ssize_t n = read(fd, buf, sizeof buf);
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR) continue;
      close(fd);
      throw EFCreateError("Datei " + name +
                          " kann nicht ge\xF6"
                          "ffnet werden");
    }
    data.append(buf, static_cast<size_t>(n));
  }
  close(fd);
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

AtomicFileWriter::AtomicFileWriter(const std::string& name) : name_(name) {
  struct stat st;
  mode_t mode = 0;
  if (lstat(name_.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
    // Replace the file the link points to, not the link.
    char resolved[PATH_MAX];
    if (realpath(name_.c_str(), resolved) != nullptr) name_ = resolved;
  }
  if (stat(name_.c_str(), &st) == 0) {
    if (S_ISDIR(st.st_mode)) throw EFCreateError(CannotCreate(name, EISDIR));
    mode = st.st_mode & 07777;
  } else {
    mode = NewFileMode();
  }
  temp_ = name_ + ".tmp-XXXXXX";
  fd_ = mkostemp(temp_.data(), O_CLOEXEC);
  if (fd_ < 0) throw EFCreateError(CannotCreate(name, errno));
  fchmod(fd_, mode);
}

AtomicFileWriter::~AtomicFileWriter() {
  if (fd_ >= 0) {
    close(fd_);
    unlink(temp_.c_str());
  }
}

void AtomicFileWriter::Fail(int err) {
  close(fd_);
  fd_ = -1;
  unlink(temp_.c_str());
  throw EFCreateError(CannotCreate(name_, err));
}

void AtomicFileWriter::Write(std::string_view data) {
  if (fd_ < 0) throw EFCreateError(CannotCreate(name_, EBADF));
  long long limit = InjectedLimit(name_);
  if (limit >= 0) {
    limit -= written_;
    if (limit < static_cast<long long>(data.size())) {
      if (limit > 0) Write(data.substr(0, static_cast<size_t>(limit)));
      Fail(ENOSPC);
    }
  }
  while (!data.empty()) {
    const ssize_t n = write(fd_, data.data(), data.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      Fail(errno);
    }
    data.remove_prefix(static_cast<size_t>(n));
    written_ += n;
  }
  // Start writing the data to disk now, in the background, so that Commit's flush finds little
  // left to do.
  if (written_ - flushed_ >= kWritebackChunk) {
    sync_file_range(fd_, flushed_, written_ - flushed_, SYNC_FILE_RANGE_WRITE);
    flushed_ = written_;
  }
}

void AtomicFileWriter::Commit() {
  if (fd_ < 0) throw EFCreateError(CannotCreate(name_, EBADF));
  if (fsync(fd_) != 0) Fail(errno);
  if (close(fd_) != 0) {
    fd_ = -1;
    const int err = errno;
    unlink(temp_.c_str());
    throw EFCreateError(CannotCreate(name_, err));
  }
  fd_ = -1;
  if (rename(temp_.c_str(), name_.c_str()) != 0) {
    const int err = errno;
    unlink(temp_.c_str());
    throw EFCreateError(CannotCreate(name_, err));
  }
  // Make the rename itself durable.
  const std::string folder = ExtractFilePath(name_);
  const int dfd = open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dfd >= 0) {
    fsync(dfd);
    close(dfd);
  }
}

void SaveFileAtomic(const std::string& name, std::string_view data) {
  AtomicFileWriter writer(name);
  writer.Write(data);
  writer.Commit();
}

void SetWriteFailureForTests(const std::string& nameSuffix, long long afterBytes) {
  std::lock_guard<std::mutex> hold(gWriteFailure.lock);
  gWriteFailure.suffix = nameSuffix;
  gWriteFailure.afterBytes = afterBytes;
}

}  // namespace pv
