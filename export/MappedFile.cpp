#include "export/MappedFile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

namespace pv {

TMMF::TMMF(const std::string& fileName) {
  // O_NONBLOCK: opening a FIFO must not wait for a writer; it is refused below as not regular.
  fd_ = ::open(fileName.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd_ < 0) return;
  struct stat info {};
  if (::flock(fd_, LOCK_SH | LOCK_NB) != 0 || ::fstat(fd_, &info) != 0 || !S_ISREG(info.st_mode) ||
      info.st_size <= 0) {
    return;  // empty stream; the destructor closes the file
  }
  void* view =
      ::mmap(nullptr, static_cast<std::size_t>(info.st_size), PROT_READ, MAP_PRIVATE, fd_, 0);
  if (view == MAP_FAILED) return;
  data_ = static_cast<const char*>(view);
  size_ = info.st_size;
}

TMMF::~TMMF() {
  if (data_ != nullptr) ::munmap(const_cast<char*>(data_), static_cast<std::size_t>(size_));
  if (fd_ >= 0) ::close(fd_);  // also releases the lock
}

std::string_view TMMF::Remaining() const {
  if (position_ >= size_) return {};
  return {data_ + position_, static_cast<std::size_t>(size_ - position_)};
}

std::int64_t TMMF::Seek(std::int64_t offset, TSeekOrigin origin) {
  std::int64_t base = 0;
  if (origin == TSeekOrigin::Current) base = position_;
  if (origin == TSeekOrigin::End) base = size_;
  // Refuses a target before the start (and one that would overflow).
  if ((offset < 0 && base + offset >= 0) || (offset >= 0 && base <= INT64_MAX - offset)) {
    position_ = base + offset;
  }
  return position_;
}

std::int64_t TMMF::Read(void* buffer, std::int64_t count) {
  if (count <= 0 || position_ >= size_) return 0;
  const std::int64_t n = std::min(count, size_ - position_);
  std::memcpy(buffer, data_ + position_, static_cast<std::size_t>(n));
  position_ += n;
  return n;
}

std::int64_t TMMF::Write(const void*, std::int64_t) { return 0; }

}  // namespace pv
