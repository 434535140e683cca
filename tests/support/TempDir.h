// A private temporary folder for one test, removed with everything in it at the end.
#pragma once

#include <string>

namespace pv::test {

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  // The folder, without a trailing '/'.
  const std::string& path() const { return path_; }
  // path() + "/" + name.
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// Writes bytes to a file (creating or truncating it); fails the test on error.
void WriteFile(const std::string& name, const std::string& bytes);
// The whole file; empty when it cannot be read.
std::string ReadFile(const std::string& name);

}  // namespace pv::test
