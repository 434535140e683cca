// Helpers shared by the fuzz targets: a failed invariant ends the run with its text, and a
// private scratch folder holds the files a target writes and reads back.
#pragma once

#include <string>
#include <string_view>

namespace pv::fuzz {

// Prints the broken invariant and aborts, which libFuzzer reports as a crash with its input.
[[noreturn]] void Fail(const char* what, const char* file, int line, std::string_view detail = {});

// The bytes with everything outside printable ASCII as \xNN (for failure details).
std::string Escaped(std::string_view bytes);

// True when the environment variable PV_FUZZ_TOLERATE (names separated by commas) names this
// known finding: a long run can then go on past a fault that is already reported.
bool Tolerated(std::string_view finding);

// A folder private to this process ("/.../pv-fuzz-XXXXXX/"), made at the first call and removed
// when the process ends normally.
const std::string& ScratchFolder();

// Writes bytes to the file, replacing it; false when that fails.
bool WriteFile(const std::string& name, std::string_view bytes);
// The whole file, or empty when it cannot be read.
std::string ReadFile(const std::string& name);

}  // namespace pv::fuzz

#define FUZZ_CHECK(cond)                                      \
  do {                                                        \
    if (!(cond)) ::pv::fuzz::Fail(#cond, __FILE__, __LINE__); \
  } while (0)

// As FUZZ_CHECK; detail (evaluated only on failure) is printed with it.
#define FUZZ_CHECK_MSG(cond, detail)                                    \
  do {                                                                  \
    if (!(cond)) ::pv::fuzz::Fail(#cond, __FILE__, __LINE__, (detail)); \
  } while (0)
