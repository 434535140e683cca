#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <ctime>

#include "tests/vcard/TzScope.h"
#include "vcard/DateTime.h"

namespace pv {
namespace {

using Fields = std::array<int, 7>;  // y, m, d, h, n, s, ms

Fields Decode(TDateTime v) {
  Fields f;
  DecodeDateTime(v, f[0], f[1], f[2], f[3], f[4], f[5], f[6]);
  return f;
}

TDateTime Encode(const Fields& f) {
  TDateTime v = std::nan("");
  EXPECT_TRUE(TryEncodeDateTime(f[0], f[1], f[2], f[3], f[4], f[5], f[6], v));
  return v;
}

TEST(DateTimeTest, EncodesAndDecodesDayNumbers) {
  const std::pair<Fields, TDateTime> rows[] = {
      {{1899, 12, 30, 0, 0, 0, 0}, 0},
      {{1900, 3, 1, 0, 0, 0, 0}, 61},
      {{2026, 12, 7, 6, 0, 0, 0}, 46363.25},
      {{1899, 12, 29, 6, 0, 0, 0}, -1.25},  // before the epoch the time counts away from zero
      {{1, 1, 1, 0, 0, 0, 0}, -693593},
      {{9999, 12, 31, 23, 59, 59, 999}, 2958465 + 86399999.0 / 86400000},
  };
  for (const auto& [fields, value] : rows) {
    EXPECT_DOUBLE_EQ(value, Encode(fields));
    EXPECT_EQ(fields, Decode(value)) << value;
  }
  EXPECT_EQ((Fields{2000, 1, 2, 0, 0, 0, 0}), Decode(36526.99999999999));  // rounds over midnight
  EXPECT_EQ((Fields{1899, 12, 30, 6, 0, 0, 0}), Decode(-0.25));
  EXPECT_EQ((Fields{}), Decode(std::nan("")));
  EXPECT_EQ((Fields{}), Decode(-1e300));
}

TEST(DateTimeTest, RejectsFieldsOutOfRange) {
  const Fields rows[] = {{0, 1, 1, 0, 0, 0, 0},     {10000, 1, 1, 0, 0, 0, 0},
                         {2024, 13, 1, 0, 0, 0, 0}, {2024, 4, 31, 0, 0, 0, 0},
                         {1900, 2, 29, 0, 0, 0, 0}, {2024, 1, 0, 0, 0, 0, 0},
                         {2024, 1, 1, 24, 0, 0, 0}, {2024, 1, 1, 0, 60, 0, 0},
                         {2024, 1, 1, 0, 0, 60, 0}, {2024, 1, 1, 0, 0, 0, 1000}};
  for (const Fields& f : rows) {
    TDateTime v = 42;
    EXPECT_FALSE(TryEncodeDateTime(f[0], f[1], f[2], f[3], f[4], f[5], f[6], v));
    EXPECT_EQ(42, v);
  }
  TDateTime v;
  EXPECT_TRUE(TryEncodeDate(2000, 2, 29, v));
}

TEST(DateTimeTest, FormatsTokensAndLiterals) {
  const TDateTime v = Encode({2024, 3, 5, 7, 8, 9, 45});
  const std::pair<const char*, const char*> rows[] = {
      {"yyyy.dd.mm.hh.nn.ss", "2024.05.03.07.08.09"},
      {"YYYYMMDD", "20240305"},
      {"yy-m-d h:n:s", "24-3-5 7:8:9"},
      {"hh:nn:ss.zzz z", "07:08:09.045 45"},
      {"yyyy'T'hh \"mm\" <>", "2024T07 mm <>"},
      {"'open", "open"},
  };
  for (const auto& [format, text] : rows) EXPECT_EQ(text, FormatDateTime(format, v));
  EXPECT_EQ("1899.30.12.00.00.00", FormatDateTime("yyyy.dd.mm.hh.nn.ss", 0));
}

TEST(DateTimeTest, LocalToUtcFollowsTheZoneRules) {
  test::TzScope tz(test::kBerlinTz);
  const std::pair<Fields, Fields> rows[] = {
      {{2026, 12, 7, 5, 30, 5, 250}, {2026, 12, 7, 4, 30, 5, 250}},  // winter: UTC+1
      {{2026, 7, 1, 12, 0, 0, 0}, {2026, 7, 1, 10, 0, 0, 0}},        // summer: UTC+2
      {{2027, 1, 1, 0, 30, 0, 0}, {2026, 12, 31, 23, 30, 0, 0}},
      {{2026, 3, 29, 1, 59, 59, 0}, {2026, 3, 29, 0, 59, 59, 0}},  // last winter second
      {{2026, 3, 29, 2, 30, 0, 0}, {2026, 3, 29, 1, 30, 0, 0}},    // skipped hour: winter
      {{2026, 3, 29, 3, 0, 0, 0}, {2026, 3, 29, 1, 0, 0, 0}},
      {{1800, 1, 1, 0, 30, 0, 0}, {1799, 12, 31, 23, 30, 0, 0}},  // negative values
  };
  for (const auto& [local, utc] : rows) EXPECT_EQ(utc, Decode(LocalToUtc(Encode(local))));

  // NowLocal, back to UTC, is the system clock.
  const double now = std::round((LocalToUtc(NowLocal()) - 25569) * 86400);
  EXPECT_NEAR(static_cast<double>(std::time(nullptr)), now, 2);
}

}  // namespace
}  // namespace pv
