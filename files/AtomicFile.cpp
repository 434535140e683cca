// Replacing a file atomically and safely in folders that other people can write to: the target is
// resolved link by link under the protected-link rule, the new data goes to an unnamed file in the
// target's folder, which only gets a name at the very end, right before it is renamed over the
// target.
#include <dirent.h>
#include <fcntl.h>
#include <langinfo.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <random>
#include <string_view>
#include <system_error>
#include <thread>

#include "files/AnsiText.h"
#include "files/Errors.h"
#include "files/FileUtil.h"

namespace pv {
namespace {

constexpr long long kWritebackChunk = 8 << 20;
constexpr long long kDiskSyncChunk = 32 << 20;
constexpr int kMaxLinkHops = 40;
constexpr int kTempNameAttempts = 100;
constexpr size_t kMaxBaseInTempName = 200;  // keeps the temporary name under NAME_MAX
constexpr const char* kTempMark = ".pvtmp-";
constexpr const char* kNotRegular = "keine gew\xF6hnliche Datei";
constexpr const char* kForeignLink =
    "symbolischer Link eines anderen Benutzers in einem f\xFCr alle beschreibbaren Ordner";

// "Datei <name> kann nicht erstellt werden (<reason>)": the reason is the given text, else the
// system's text for err; no brackets when there is neither.
std::string CannotCreate(const std::string& name, int err, const char* reason = nullptr) {
  if (reason == nullptr && err != 0)
    return FileFailureText(TFileAction::Create, name, SystemErrorText(err));
  return FileFailureText(TFileAction::Create, name, reason == nullptr ? "" : reason);
}

// The injected write failure of SetWriteFailureForTests.
struct {
  std::mutex lock;
  TWriteFailure failure;
} gWriteFailure;

std::atomic<bool> gUnnamedFiles{true};
std::atomic<TDiskSyncCall> gDiskSync{fdatasync};

// Bytes a write to name may still make before the injected failure, or -1 for no limit.
long long InjectedLimit(const std::string& name) {
  std::lock_guard<std::mutex> hold(gWriteFailure.lock);
  const std::string& s = gWriteFailure.failure.nameSuffix;
  if (s.empty() || !name.ends_with(s)) return -1;
  return gWriteFailure.failure.afterBytes;
}

std::string FolderOf(const std::string& path) {
  const std::string folder = ExtractFilePath(path);
  return folder.empty() ? std::string("./") : folder;
}

// The kernel's rule for protected links: a link in a folder that is sticky and writable by all is
// followed only when it belongs to this user or to the folder's owner.
bool MayFollowLink(const std::string& link, const struct stat& linkStat) {
  struct stat dir;
  if (stat(FolderOf(link).c_str(), &dir) != 0) return false;
  const bool shared = (dir.st_mode & S_ISVTX) != 0 && (dir.st_mode & S_IWOTH) != 0;
  return !shared || linkStat.st_uid == geteuid() || linkStat.st_uid == dir.st_uid;
}

// The link's text; empty with errno set when it cannot be read (a link never holds empty text).
std::string ReadLinkText(const std::string& link, off_t size) {
  std::string text(static_cast<size_t>(size > 0 ? size : 4095) + 1, '\0');
  const ssize_t n = readlink(link.c_str(), text.data(), text.size());
  if (n < 0) return {};
  if (static_cast<size_t>(n) >= text.size()) {
    errno = ENAMETOOLONG;  // it grew since lstat
    return {};
  }
  text.resize(static_cast<size_t>(n));
  return text;
}

std::string RandomHex() {
  static thread_local std::mt19937_64 engine{std::random_device{}()};
  static const char* const kDigits = "0123456789abcdef";
  std::uint64_t v = engine();
  std::string hex;
  for (int i = 0; i < 12; ++i, v >>= 4) hex += kDigits[v & 15];
  return hex;
}

// ".<base>.pvtmp-<pid>-<random>": hidden, and telling whose writer made it.
std::string TempName(const std::string& base) {
  std::string name = ".";
  name.append(base, 0, kMaxBaseInTempName).append(kTempMark).append(std::to_string(getpid()));
  return name.append("-").append(RandomHex());
}

// The process id in a temporary name of ours, or 0 when the name is none.
pid_t TempNameOwner(const char* entry) {
  const char* mark = std::strstr(entry, kTempMark);
  if (entry[0] != '.' || mark == nullptr) return 0;
  char* end = nullptr;
  const long pid = std::strtol(mark + std::strlen(kTempMark), &end, 10);
  return pid > 0 && end != nullptr && *end == '-' ? static_cast<pid_t>(pid) : 0;
}

bool ProcessAlive(pid_t pid) { return kill(pid, 0) == 0 || errno == EPERM; }

// Removes entry of dirFd when it is a stale temporary file of ours; true when it was removed.
bool RemoveIfStale(int dirFd, const char* entry) {
  const pid_t owner = TempNameOwner(entry);
  if (owner == 0 || owner == getpid() || ProcessAlive(owner)) return false;
  const int fd = openat(dirFd, entry, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return false;
  bool removed = false;
  struct stat opened, current;
  if (fstat(fd, &opened) == 0 && S_ISREG(opened.st_mode) && opened.st_uid == geteuid() &&
      flock(fd, LOCK_EX | LOCK_NB) == 0 &&
      fstatat(dirFd, entry, &current, AT_SYMLINK_NOFOLLOW) == 0 &&
      current.st_dev == opened.st_dev && current.st_ino == opened.st_ino) {
    removed = unlinkat(dirFd, entry, 0) == 0;
  }
  close(fd);
  return removed;
}

// Calls visit(dirFd, name) for every entry of the folder dirFd; false when it cannot be read.
template <class Visit>
bool ForEachEntry(int dirFd, Visit visit) {
  const int scanFd = openat(dirFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (scanFd < 0) return false;
  DIR* scan = fdopendir(scanFd);
  if (scan == nullptr) {
    close(scanFd);
    return false;
  }
  while (const dirent* e = readdir(scan)) visit(dirfd(scan), e->d_name);
  closedir(scan);
  return true;
}

// True when some process has the file open, or when that cannot be told. Writers of earlier
// versions left neither a lock nor their process id, so /proc is the one place that tells; every
// process of the file's owner is visible there.
bool OpenInSomeProcess(const struct stat& file) {
  const int procFd = open("/proc", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (procFd < 0) return true;
  bool inUse = false;
  const bool listed = ForEachEntry(procFd, [&](int procDir, const char* pid) {
    if (inUse || pid[0] < '1' || pid[0] > '9') return;
    const int fdDir =
        openat(procDir, (std::string(pid) + "/fd").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fdDir < 0) return;  // gone, or another user's
    ForEachEntry(fdDir, [&](int dir, const char* fd) {
      struct stat st;
      if (!inUse && fd[0] != '.' && fstatat(dir, fd, &st, 0) == 0)
        inUse = st.st_dev == file.st_dev && st.st_ino == file.st_ino;
    });
    close(fdDir);
  });
  close(procFd);
  return inUse || !listed;
}

// Whether entry is "<base>.tmp-XXXXXX", the temporary name earlier versions gave base.
bool IsLegacyTempName(std::string_view entry, const std::string& base) {
  constexpr std::string_view kMark = ".tmp-";
  constexpr size_t kRandom = 6;
  if (base.empty() || entry.size() != base.size() + kMark.size() + kRandom ||
      !entry.starts_with(base) || entry.substr(base.size(), kMark.size()) != kMark)
    return false;
  for (char c : entry.substr(base.size() + kMark.size()))
    if (!std::isalnum(static_cast<unsigned char>(c))) return false;
  return true;
}

// Removes entry when it is a temporary file that a writer of an earlier version left for base: a
// regular file of this user that no process has open. True when it was removed.
bool RemoveIfLegacy(int dirFd, const char* entry, const std::string& base) {
  struct stat st;
  if (!IsLegacyTempName(entry, base) || fstatat(dirFd, entry, &st, AT_SYMLINK_NOFOLLOW) != 0 ||
      !S_ISREG(st.st_mode) || st.st_uid != geteuid() || OpenInSomeProcess(st))
    return false;
  return unlinkat(dirFd, entry, 0) == 0;
}

// Removes the stale temporary files in dirFd: ours of gone writers, and earlier versions' for base
// (none when base is empty). Returns how many were removed.
int RemoveStaleIn(int dirFd, const std::string& base = {}) {
  int removed = 0;
  ForEachEntry(dirFd, [&](int, const char* entry) {
    removed += RemoveIfStale(dirFd, entry) || RemoveIfLegacy(dirFd, entry, base) ? 1 : 0;
  });
  return removed;
}

}  // namespace

std::string LocaleTextToAnsi(std::string_view text) {
  const char* codeset = nl_langinfo(CODESET);
  if (codeset != nullptr && std::strcmp(codeset, "UTF-8") == 0) return Utf8ToAnsi(text);
  return std::string(text);  // ASCII or a Latin code page: its letters are those of 1252
}

std::string SystemErrorText(int err) {
  char buffer[256];
  return LocaleTextToAnsi(strerror_r(err, buffer, sizeof buffer));
}

std::string ResolveReplaceTarget(const std::string& name) {
  std::string path = name;
  for (int hops = 0;; ++hops) {
    struct stat st;
    if (lstat(path.c_str(), &st) != 0) {
      if (errno == ENOENT) return path;  // a new file
      throw EFCreateError(CannotCreate(name, errno));
    }
    if (S_ISREG(st.st_mode)) return path;
    if (!S_ISLNK(st.st_mode)) throw EFCreateError(CannotCreate(name, 0, kNotRegular));
    if (hops >= kMaxLinkHops) throw EFCreateError(CannotCreate(name, ELOOP));
    if (!MayFollowLink(path, st)) throw EFCreateError(CannotCreate(name, 0, kForeignLink));
    const std::string to = ReadLinkText(path, st.st_size);
    if (to.empty()) throw EFCreateError(CannotCreate(name, errno));
    path = to.starts_with(PathDelim) ? to : ExtractFilePath(path).append(to);
  }
}

int RemoveStaleTempFiles(const std::string& folder) {
  const int dirFd =
      open(FolderOf(AddBackslash(folder)).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dirFd < 0) return 0;
  const int removed = RemoveStaleIn(dirFd);
  close(dirFd);
  return removed;
}

// Flushes the file to the disk on a thread of its own while the writer goes on, so that what is
// written so far reaches the disk while the rest is still being made, and Commit's flush finds
// little left to do. The first failed flush is kept for the writer: the kernel reports a failed
// write-back to one flush only.
class AtomicFileWriter::TDiskSync {
 public:
  explicit TDiskSync(int fd) : fd_(fd), thread_([this] { Run(); }) {}
  ~TDiskSync() { Stop(); }
  TDiskSync(const TDiskSync&) = delete;
  TDiskSync& operator=(const TDiskSync&) = delete;

  // Asks for a flush of everything written so far; one under way takes the request along.
  void Request() {
    {
      std::lock_guard<std::mutex> hold(lock_);
      requested_ = true;
    }
    wake_.notify_one();
  }
  // The errno of the first failed flush so far, or 0.
  int Error() {
    std::lock_guard<std::mutex> hold(lock_);
    return error_;
  }
  // Ends the thread once a flush under way is done; then the errno of the first failed flush,
  // or 0.
  int Stop() {
    {
      std::lock_guard<std::mutex> hold(lock_);
      stop_ = true;
    }
    wake_.notify_one();
    if (thread_.joinable()) thread_.join();
    return error_;
  }

 private:
  void Run() {
    std::unique_lock<std::mutex> hold(lock_);
    for (;;) {
      wake_.wait(hold, [this] { return requested_ || stop_; });
      if (stop_) return;
      requested_ = false;
      hold.unlock();
      const int err = gDiskSync.load()(fd_) == 0 ? 0 : errno;
      hold.lock();
      if (error_ == 0) error_ = err;
    }
  }

  const int fd_;
  std::mutex lock_;
  std::condition_variable wake_;
  bool requested_ = false;  // guarded by lock_
  bool stop_ = false;       // guarded by lock_
  int error_ = 0;           // guarded by lock_
  std::thread thread_;      // last: starts once the rest is set up
};

AtomicFileWriter::AtomicFileWriter(const std::string& name) : name_(name) {
  target_ = ResolveReplaceTarget(name_);
  base_ = ExtractFileName(target_);
  if (base_.empty()) throw EFCreateError(CannotCreate(name_, EISDIR));
  dirFd_ = open(FolderOf(target_).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dirFd_ < 0) throw EFCreateError(CannotCreate(name_, errno));
  try {
    RemoveStaleIn(dirFd_, base_);
    OpenTemporary();
  } catch (...) {
    Discard();
    throw;
  }
}

// Opens the file the data goes to: unnamed where the file system allows, else a named one. It
// is locked while this writer lives and gets the old file's permission bits.
void AtomicFileWriter::OpenTemporary() {
  fd_ = gUnnamedFiles ? openat(dirFd_, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0666) : -1;
  if (fd_ < 0) {
    const int err = gUnnamedFiles ? errno : EOPNOTSUPP;
    if (err != EOPNOTSUPP && err != EISDIR && err != EINVAL) Fail(err);
    OpenNamedTemporary();
  }
  flock(fd_, LOCK_EX | LOCK_NB);
  struct stat old;
  if (fstatat(dirFd_, base_.c_str(), &old, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(old.st_mode))
    fchmod(fd_, old.st_mode & 07777);
}

void AtomicFileWriter::OpenNamedTemporary() {
  for (int attempt = 0; attempt < kTempNameAttempts; ++attempt) {
    const std::string temp = TempName(base_);
    fd_ = openat(dirFd_, temp.c_str(), O_CREAT | O_EXCL | O_RDWR | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd_ >= 0) {
      temp_ = temp;
      return;
    }
    if (errno != EEXIST) Fail(errno);
  }
  Fail(EEXIST);
}

// Gives the unnamed file a temporary name in the folder (still locked, so never taken for stale).
void AtomicFileWriter::LinkUnnamed() {
  const std::string self = "/proc/self/fd/" + std::to_string(fd_);
  for (int attempt = 0; attempt < kTempNameAttempts; ++attempt) {
    const std::string temp = TempName(base_);
    int rc = linkat(AT_FDCWD, self.c_str(), dirFd_, temp.c_str(), AT_SYMLINK_FOLLOW);
    if (rc != 0 && errno == ENOENT) rc = linkat(fd_, "", dirFd_, temp.c_str(), AT_EMPTY_PATH);
    if (rc == 0) {
      temp_ = temp;
      return;
    }
    if (errno != EEXIST) Fail(errno);
  }
  Fail(EEXIST);
}

AtomicFileWriter::~AtomicFileWriter() { Discard(); }

// Drops whatever this writer holds: the temporary name, the file and the folder.
void AtomicFileWriter::Discard() {
  sync_.reset();  // it uses fd_
  if (!temp_.empty() && dirFd_ >= 0) unlinkat(dirFd_, temp_.c_str(), 0);
  temp_.clear();
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
  if (dirFd_ >= 0) close(dirFd_);
  dirFd_ = -1;
}

void AtomicFileWriter::Fail(int err) {
  Discard();
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
  // Start writing the data to disk now, in the background, and flush the disk's own cache now and
  // then on a thread of its own, so that Commit's flush finds little left to do.
  if (written_ - flushed_ >= kWritebackChunk) {
    sync_file_range(fd_, flushed_, written_ - flushed_, SYNC_FILE_RANGE_WRITE);
    flushed_ = written_;
  }
  if (written_ - synced_ >= kDiskSyncChunk) SyncInBackground();
}

void AtomicFileWriter::SyncInBackground() {
  synced_ = written_;
  if (!sync_) {
    try {
      sync_ = std::make_unique<TDiskSync>(fd_);
    } catch (const std::system_error&) {
      return;  // no thread to be had: Commit flushes it all, as for a small file
    }
  }
  if (const int err = sync_->Error(); err != 0) Fail(err);
  sync_->Request();
}

void AtomicFileWriter::Commit() {
  if (fd_ < 0) throw EFCreateError(CannotCreate(name_, EBADF));
  if (sync_) {
    const int err = sync_->Stop();
    sync_.reset();
    if (err != 0) Fail(err);
  }
  if (fsync(fd_) != 0) Fail(errno);
  if (temp_.empty()) LinkUnnamed();
  // The old file stays until the new one takes its name in one step.
  if (renameat(dirFd_, temp_.c_str(), dirFd_, base_.c_str()) != 0) Fail(errno);
  temp_.clear();
  fsync(dirFd_);  // makes the rename itself durable
  Discard();
}

void SaveFileAtomic(const std::string& name, std::string_view data) {
  AtomicFileWriter writer(name);
  writer.Write(data);
  writer.Commit();
}

TWriteFailure SetWriteFailureForTests(TWriteFailure failure) {
  std::lock_guard<std::mutex> hold(gWriteFailure.lock);
  std::swap(gWriteFailure.failure, failure);
  return failure;
}

bool SetUnnamedFilesForTests(bool allowed) { return gUnnamedFiles.exchange(allowed); }

TDiskSyncCall SetDiskSyncForTests(TDiskSyncCall call) { return gDiskSync.exchange(call); }

}  // namespace pv
