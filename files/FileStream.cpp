#include "files/FileStream.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cassert>
#include <cerrno>
#include <chrono>
#include <iterator>
#include <thread>

#include "files/Errors.h"
#include "files/FileUtil.h"

namespace pv {
namespace {

// Open failures that another process may end soon (a lock, a short shortage); all others are final.
constexpr int kTransientErrors[] = {EWOULDBLOCK, EAGAIN, EINTR, EBUSY, ETXTBSY, ENFILE, EMFILE};

constexpr int kDefaultRetryLimitMs = 10000;
constexpr int kRetryPauseMs = 10;
std::atomic<int> gRetryLimitMs{kDefaultRetryLimitMs};

}  // namespace

TFileStreamEx::TFileStreamEx(const std::string& fileName, TMode mode)
    : FFileName(fileName), FMode(mode) {
  const std::string failure =
      FileFailureText(mode == fmOpenRead ? TFileAction::Open : TFileAction::Create, FFileName);
  if (FFileName.empty()) throw EFCreateError(failure);
  const auto limit = std::chrono::milliseconds(gRetryLimitMs.load());
  const auto start = std::chrono::steady_clock::now();
  for (;;) {
    const int err = TryOpen();
    if (err == 0) return;
    const bool transient = std::find(std::begin(kTransientErrors), std::end(kTransientErrors),
                                     err) != std::end(kTransientErrors);
    if (!transient || std::chrono::steady_clock::now() - start > limit)
      throw EFCreateError(failure);
    std::this_thread::sleep_for(std::chrono::milliseconds(kRetryPauseMs));
  }
}

TFileStreamEx::~TFileStreamEx() {
  if (FHandle >= 0) close(FHandle);
}

// Opens and locks the file; 0 on success, else the reason. In fmCreate a missing file or one that
// is no regular file needs no lock: it is simply replaced.
int TFileStreamEx::TryOpen() {
  const int fd = open(FFileName.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) return FMode == fmCreate && errno == ENOENT ? 0 : errno;
  struct stat opened;
  if (fstat(fd, &opened) != 0) {
    const int err = errno;
    close(fd);
    return err;
  }
  if (!S_ISREG(opened.st_mode)) {
    close(fd);
    if (S_ISDIR(opened.st_mode)) return EISDIR;
    return FMode == fmCreate ? 0 : EINVAL;
  }
  if (flock(fd, (FMode == fmOpenRead ? LOCK_SH : LOCK_EX) | LOCK_NB) != 0) {
    const int err = errno;
    close(fd);
    return err;
  }
  // A writer may have replaced the file while we waited for its lock: then lock the new one.
  struct stat current;
  if (stat(FFileName.c_str(), &current) != 0 || current.st_dev != opened.st_dev ||
      current.st_ino != opened.st_ino) {
    close(fd);
    return EAGAIN;
  }
  FHandle = fd;
  return 0;
}

std::string TFileStreamEx::ReadAll() {
  assert(FMode == fmOpenRead && FHandle >= 0);
  std::string data;
  if (!ReadToEnd(FHandle, data)) throw EFCreateError(FileFailureText(TFileAction::Open, FFileName));
  return data;
}

void TFileStreamEx::WriteAll(std::string_view data) {
  assert(FMode == fmCreate);
  SaveFileAtomic(FFileName, data);
}

int TFileStreamEx::SetRetryLimitForTests(int milliseconds) {
  return gRetryLimitMs.exchange(milliseconds);
}

}  // namespace pv
