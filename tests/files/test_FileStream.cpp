#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <string>

#include "files/AnsiText.h"
#include "files/Errors.h"
#include "files/FileStream.h"
#include "tests/support/TempDir.h"

namespace pv {
namespace {

using test::TempDir;

TEST(FileStreamEx, FailuresThatLastAreNotRetried) {
  TempDir dir;
  ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0600), 0);
  const auto start = std::chrono::steady_clock::now();
  // The name in the message is Windows-1252 text, like every message.
  for (const std::string& name :
       {dir.path(), dir / "fifo", dir / "missing", dir / "M\xC3\xBCller.ini", std::string()}) {
    SCOPED_TRACE(name);
    try {
      TFileStreamEx stream(name, TFileStreamEx::fmOpenRead);
      ADD_FAILURE() << "opened";
    } catch (const EFCreateError& e) {
      EXPECT_EQ(e.Message(), "Datei " + Utf8ToAnsi(name) +
                                 " kann nicht ge\xF6"
                                 "ffnet werden");
    }
  }
  EXPECT_THROW(TFileStreamEx(dir.path(), TFileStreamEx::fmCreate), EFCreateError);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
  TFileStreamEx(dir / "missing", TFileStreamEx::fmCreate).WriteAll("x");  // nothing to lock yet
  EXPECT_EQ(test::ReadFile(dir / "missing"), "x");
}

}  // namespace
}  // namespace pv
