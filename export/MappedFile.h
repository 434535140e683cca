// TMMF: a read-only memory stream over a file mapped into memory, so that a large file is read
// without a copy through a buffered stream.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace pv {

enum class TSeekOrigin { Beginning, Current, End };

class TMMF {
 public:
  // Opens fileName for reading with a shared lock (others cannot take the exclusive lock of a
  // writer while it is mapped) and maps the whole file read-only. The stream is empty, and no
  // error is raised, when the file is missing, unreadable, not a regular file, empty, locked by a
  // writer or cannot be mapped.
  explicit TMMF(const std::string& fileName);
  // Unmaps the file, releases the lock and closes it.
  ~TMMF();
  TMMF(const TMMF&) = delete;
  TMMF& operator=(const TMMF&) = delete;

  // The mapped bytes (null when empty) and their count.
  const char* Memory() const { return data_; }
  std::int64_t Size() const { return size_; }
  // All bytes, and the bytes from the position to the end.
  std::string_view Bytes() const { return {data_, static_cast<std::size_t>(size_)}; }
  std::string_view Remaining() const;

  std::int64_t Position() const { return position_; }
  // Moves the position as on any memory stream (it may go beyond the end; reading there gives
  // nothing; a negative target is refused and the position stays). Returns the new position.
  std::int64_t Seek(std::int64_t offset, TSeekOrigin origin);
  // Copies up to count bytes from the position into buffer and advances; returns the count copied.
  std::int64_t Read(void* buffer, std::int64_t count);
  // The stream is read-only: writes nothing and returns 0.
  std::int64_t Write(const void* buffer, std::int64_t count);

 private:
  int fd_ = -1;
  const char* data_ = nullptr;
  std::int64_t size_ = 0;
  std::int64_t position_ = 0;
};

}  // namespace pv
