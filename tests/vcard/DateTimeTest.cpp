#include <gtest/gtest.h>

#include <cmath>
#include <ctime>
#include <limits>

#include "tests/vcard/TzScope.h"
#include "vcard/DateTime.h"

namespace pv {
namespace {

struct Fields {
  int y, m, d, h, n, s, ms;
};

Fields Decode(TDateTime v) {
  Fields f{};
  DecodeDateTime(v, f.y, f.m, f.d, f.h, f.n, f.s, f.ms);
  return f;
}

TDateTime Encode(const Fields& f) {
  TDateTime v = std::nan("");
  EXPECT_TRUE(TryEncodeDateTime(f.y, f.m, f.d, f.h, f.n, f.s, f.ms, v));
  return v;
}

void ExpectFields(const Fields& want, const Fields& got) {
  EXPECT_EQ(want.y, got.y);
  EXPECT_EQ(want.m, got.m);
  EXPECT_EQ(want.d, got.d);
  EXPECT_EQ(want.h, got.h);
  EXPECT_EQ(want.n, got.n);
  EXPECT_EQ(want.s, got.s);
  EXPECT_EQ(want.ms, got.ms);
}

TEST(DateTimeTest, EncodesAndDecodesDayNumbers) {
  const struct {
    Fields fields;
    TDateTime value;
  } rows[] = {
      {{1899, 12, 30, 0, 0, 0, 0}, 0},
      {{1900, 3, 1, 0, 0, 0, 0}, 61},
      {{2000, 1, 1, 12, 0, 0, 0}, 36526.5},
      {{2026, 12, 7, 6, 0, 0, 0}, 46363.25},
      {{1899, 12, 29, 6, 0, 0, 0}, -1.25},  // before the epoch the time counts away from zero
      {{1800, 1, 1, 18, 0, 0, 0}, -36522.75},
      {{1, 1, 1, 0, 0, 0, 0}, -693593},
      {{9999, 12, 31, 23, 59, 59, 999}, 2958465 + 86399999.0 / 86400000},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.value);
    EXPECT_DOUBLE_EQ(row.value, Encode(row.fields));
    ExpectFields(row.fields, Decode(row.value));
  }
}

TEST(DateTimeTest, RejectsFieldsOutOfRange) {
  const Fields rows[] = {
      {0, 1, 1, 0, 0, 0, 0},     {10000, 1, 1, 0, 0, 0, 0}, {2024, 0, 1, 0, 0, 0, 0},
      {2024, 13, 1, 0, 0, 0, 0}, {2024, 4, 31, 0, 0, 0, 0}, {1900, 2, 29, 0, 0, 0, 0},
      {2023, 2, 29, 0, 0, 0, 0}, {2024, 1, 0, 0, 0, 0, 0},  {2024, 1, 1, 24, 0, 0, 0},
      {2024, 1, 1, 0, 60, 0, 0}, {2024, 1, 1, 0, 0, 60, 0}, {2024, 1, 1, 0, 0, 0, 1000},
      {2024, 1, 1, -1, 0, 0, 0},
  };
  for (const auto& f : rows) {
    SCOPED_TRACE(testing::Message() << f.y << "-" << f.m << "-" << f.d << " " << f.h << ":" << f.n
                                    << ":" << f.s << "." << f.ms);
    TDateTime v = 42;
    EXPECT_FALSE(TryEncodeDateTime(f.y, f.m, f.d, f.h, f.n, f.s, f.ms, v));
    EXPECT_EQ(42, v);
  }
  TDateTime v = 0;
  EXPECT_TRUE(TryEncodeDate(2000, 2, 29, v));  // divisible by 400: a leap year
}

TEST(DateTimeTest, DecodeRoundsToTheMillisecondAcrossMidnight) {
  ExpectFields({2000, 1, 2, 0, 0, 0, 0}, Decode(36526 + 0.99999999999));
  ExpectFields({1899, 12, 30, 6, 0, 0, 0}, Decode(-0.25));  // between -1 and 0: the epoch day
}

TEST(DateTimeTest, DecodeGivesZeroFieldsForValuesWithoutADate) {
  for (const double v : {std::numeric_limits<double>::quiet_NaN(),
                         std::numeric_limits<double>::infinity(), -1e300, 1e12}) {
    SCOPED_TRACE(v);
    ExpectFields({0, 0, 0, 0, 0, 0, 0}, Decode(v));
  }
}

TEST(DateTimeTest, FormatsTokensAndLiterals) {
  const TDateTime v = Encode({2024, 3, 5, 7, 8, 9, 45});
  const struct {
    const char* format;
    const char* expected;
  } rows[] = {
      {"yyyy.dd.mm.hh.nn.ss", "2024.05.03.07.08.09"},
      {"YYYYMMDD", "20240305"},
      {"yy-m-d h:n:s", "24-3-5 7:8:9"},
      {"hh:nn:ss.zzz", "07:08:09.045"},
      {"ss z", "09 45"},
      {"yyyy'T'hh \"mm\" <>", "2024T07 mm <>"},
      {"mmmm", "0303"},  // longer runs are taken as pairs
      {"", ""},
      {"'open", "open"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.format);
    EXPECT_EQ(row.expected, FormatDateTime(row.format, v));
  }
  EXPECT_EQ("1899.30.12.00.00.00", FormatDateTime("yyyy.dd.mm.hh.nn.ss", 0));
  EXPECT_EQ("0005-01-01", FormatDateTime("yyyy-mm-dd", Encode({5, 1, 1, 0, 0, 0, 0})));
}

TEST(DateTimeTest, LocalToUtcFollowsTheZoneRules) {
  test::TzScope tz(test::kBerlinTz);
  const struct {
    Fields local, utc;
  } rows[] = {
      {{2026, 12, 7, 5, 30, 5, 250}, {2026, 12, 7, 4, 30, 5, 250}},  // winter: UTC+1
      {{2026, 7, 1, 12, 0, 0, 0}, {2026, 7, 1, 10, 0, 0, 0}},        // summer: UTC+2
      {{2027, 1, 1, 0, 30, 0, 0}, {2026, 12, 31, 23, 30, 0, 0}},     // back over new year
      {{2026, 3, 29, 3, 0, 0, 0}, {2026, 3, 29, 1, 0, 0, 0}},        // first summer hour
      {{2026, 3, 29, 1, 59, 59, 0}, {2026, 3, 29, 0, 59, 59, 0}},    // last winter second
      {{1950, 1, 15, 12, 0, 0, 0}, {1950, 1, 15, 11, 0, 0, 0}},      // before 1970
      {{1800, 1, 1, 0, 30, 0, 0}, {1799, 12, 31, 23, 30, 0, 0}},     // negative values
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(testing::Message() << row.local.y << "-" << row.local.m << "-" << row.local.d
                                    << " " << row.local.h << ":" << row.local.n);
    ExpectFields(row.utc, Decode(LocalToUtc(Encode(row.local))));
  }
  // The hour skipped in spring is read as standard time.
  ExpectFields({2026, 3, 29, 1, 30, 0, 0}, Decode(LocalToUtc(Encode({2026, 3, 29, 2, 30, 0, 0}))));
  EXPECT_TRUE(std::isnan(LocalToUtc(std::nan(""))));
}

TEST(DateTimeTest, LocalToUtcIsIdentityInUtc) {
  test::TzScope tz("UTC0");
  const TDateTime v = Encode({2026, 7, 1, 12, 34, 56, 789});
  ExpectFields(Decode(v), Decode(LocalToUtc(v)));
}

TEST(DateTimeTest, NowLocalMatchesTheSystemClock) {
  test::TzScope tz(test::kBerlinTz);
  const std::time_t before = std::time(nullptr);
  const TDateTime now = NowLocal();
  const std::time_t after = std::time(nullptr);
  // Back to UTC, then to seconds since 1970.
  const double seconds = std::floor((LocalToUtc(now) - 25569) * 86400 + 0.5);
  EXPECT_GE(seconds, static_cast<double>(before) - 1);
  EXPECT_LE(seconds, static_cast<double>(after) + 1);
}

}  // namespace
}  // namespace pv
