// Sets the process time zone for one test and restores the previous one afterwards.
#pragma once

#include <stdlib.h>
#include <time.h>

#include <optional>
#include <string>

namespace pv::test {

// Central European time as a POSIX rule, so that no zone database is needed.
inline constexpr const char* kBerlinTz = "CET-1CEST,M3.5.0,M10.5.0/3";

class TzScope {
 public:
  explicit TzScope(const char* tz) {
    if (const char* old = getenv("TZ")) old_ = old;
    setenv("TZ", tz, 1);
    tzset();
  }
  ~TzScope() {
    old_ ? setenv("TZ", old_->c_str(), 1) : unsetenv("TZ");
    tzset();
  }

 private:
  std::optional<std::string> old_;
};

}  // namespace pv::test
