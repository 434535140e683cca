#include "vcard/DateTime.h"

#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <ctime>

namespace pv {
namespace {

constexpr int64_t kMsPerDay = 86400000;
constexpr int64_t kUnixEpochDay = 25569;  // 1970-01-01 as a day number
constexpr double kDecodeLimit = 1e10;     // days; keeps the millisecond count inside 64 bits

// Days since 1970-01-01 of a proleptic Gregorian date.
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const auto yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void CivilFromDays(int64_t z, int64_t& y, unsigned& m, unsigned& d) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const auto doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = doy - (153 * mp + 2) / 5 + 1;
  m = mp < 10 ? mp + 3 : mp - 9;
  y = static_cast<int64_t>(yoe) + era * 400 + (m <= 2);
}

bool IsLeapYear(int y) { return y % 4 == 0 && (y % 100 != 0 || y % 400 == 0); }

int DaysInMonth(int y, int m) {
  static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && IsLeapYear(y) ? 29 : kDays[m - 1];
}

// A day number and a time fraction as one value; before 1899-12-30 the time is subtracted.
TDateTime Compose(TDateTime date, TDateTime time) { return date < 0 ? date - time : date + time; }

void AppendNumber(std::string& out, int64_t value, int width) {
  if (value < 0) {
    out += '-';
    value = -value;
  }
  char digits[24];
  int n = 0;
  do {
    digits[n++] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0);
  for (int i = n; i < width; ++i) out += '0';
  while (n > 0) out += digits[--n];
}

char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; }

}  // namespace

bool TryEncodeDate(int year, int month, int day, TDateTime& result) {
  if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 ||
      day > DaysInMonth(year, month)) {
    return false;
  }
  result = static_cast<TDateTime>(
      DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) +
      kUnixEpochDay);
  return true;
}

bool TryEncodeTime(int hour, int minute, int second, int msec, TDateTime& result) {
  if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59 || msec < 0 ||
      msec > 999) {
    return false;
  }
  const int64_t ms = ((hour * 60 + minute) * 60 + second) * int64_t{1000} + msec;
  result = static_cast<TDateTime>(ms) / static_cast<TDateTime>(kMsPerDay);
  return true;
}

bool TryEncodeDateTime(int year, int month, int day, int hour, int minute, int second, int msec,
                       TDateTime& result) {
  TDateTime date, time;
  if (!TryEncodeDate(year, month, day, date) || !TryEncodeTime(hour, minute, second, msec, time)) {
    return false;
  }
  result = Compose(date, time);
  return true;
}

void DecodeDateTime(TDateTime value, int& year, int& month, int& day, int& hour, int& minute,
                    int& second, int& msec) {
  if (!std::isfinite(value) || std::fabs(value) > kDecodeLimit) {
    year = month = day = hour = minute = second = msec = 0;
    return;
  }
  // Round the whole value to the millisecond first, so that 23:59:59.9996 becomes the next day.
  const int64_t total = std::llround(value * static_cast<double>(kMsPerDay));
  const int64_t days = total / kMsPerDay;  // towards zero: the day of a negative value
  int64_t ms = std::llabs(total % kMsPerDay);
  int64_t y;
  unsigned m, d;
  CivilFromDays(days - kUnixEpochDay, y, m, d);
  year = static_cast<int>(y);
  month = static_cast<int>(m);
  day = static_cast<int>(d);
  msec = static_cast<int>(ms % 1000);
  ms /= 1000;
  second = static_cast<int>(ms % 60);
  ms /= 60;
  minute = static_cast<int>(ms % 60);
  hour = static_cast<int>(ms / 60);
}

TDateTime NowLocal() {
  const auto now = std::chrono::system_clock::now();
  const std::time_t t = std::chrono::system_clock::to_time_t(now);
  const auto ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
  std::tm lt{};
  localtime_r(&t, &lt);
  TDateTime result = 0;
  TryEncodeDateTime(lt.tm_year + 1900, lt.tm_mon + 1, lt.tm_mday, lt.tm_hour, lt.tm_min,
                    lt.tm_sec > 59 ? 59 : lt.tm_sec, static_cast<int>(ms < 0 ? 0 : ms), result);
  return result;
}

TDateTime LocalToUtc(TDateTime local) {
  int y, m, d, h, n, s, ms;
  DecodeDateTime(local, y, m, d, h, n, s, ms);
  if (y < 1 || y > 9999) return local;
  std::tm fields{};
  fields.tm_year = y - 1900;
  fields.tm_mon = m - 1;
  fields.tm_mday = d;
  fields.tm_hour = h;
  fields.tm_min = n;
  fields.tm_sec = s;
  fields.tm_isdst = -1;  // let the zone's rule decide
  fields.tm_wday = -1;   // stays -1 only when mktime fails
  const std::time_t t = std::mktime(&fields);
  if (fields.tm_wday < 0) return local;
  int64_t days = static_cast<int64_t>(t) / 86400;
  int64_t secs = static_cast<int64_t>(t) % 86400;
  if (secs < 0) {
    secs += 86400;
    --days;
  }
  return Compose(static_cast<TDateTime>(days + kUnixEpochDay),
                 static_cast<TDateTime>(secs * 1000 + ms) / static_cast<TDateTime>(kMsPerDay));
}

std::string FormatDateTime(std::string_view format, TDateTime value) {
  std::string out;
  out.reserve(format.size() + 8);
  AppendDateTime(out, format, value);
  return out;
}

namespace {

struct TDateParts {
  int y, m, d, h, n, s, ms;
};

// Appends the field that a run of the letter lc stands for (run: how often it repeats); returns
// how many letters of the run the field takes, or 0 when lc names no field.
size_t AppendField(std::string& out, char lc, size_t run, const TDateParts& p) {
  int field;
  switch (lc) {
    case 'y':
      AppendNumber(out, run > 2 ? p.y : p.y % 100, run > 2 ? 4 : 2);
      return run;
    case 'z':
      AppendNumber(out, p.ms, run >= 3 ? 3 : 0);
      return run >= 3 ? 3 : 1;
    case 'm':
      field = p.m;
      break;
    case 'd':
      field = p.d;
      break;
    case 'h':
      field = p.h;
      break;
    case 'n':
      field = p.n;
      break;
    case 's':
      field = p.s;
      break;
    default:
      return 0;
  }
  AppendNumber(out, field, run >= 2 ? 2 : 0);
  return run >= 2 ? 2 : 1;
}

}  // namespace

void AppendDateTime(std::string& out, std::string_view format, TDateTime value) {
  TDateParts p;
  DecodeDateTime(value, p.y, p.m, p.d, p.h, p.n, p.s, p.ms);
  size_t i = 0;
  while (i < format.size()) {
    const char c = format[i];
    if (c == '"' || c == '\'') {  // quoted text goes out as it stands
      const size_t close = format.find(c, i + 1);
      const size_t end = close == std::string_view::npos ? format.size() : close;
      out.append(format.substr(i + 1, end - i - 1));
      i = end == format.size() ? end : end + 1;
      continue;
    }
    const char lc = LowerAscii(c);
    size_t run = 1;
    while (i + run < format.size() && LowerAscii(format[i + run]) == lc) ++run;
    const size_t used = AppendField(out, lc, run, p);
    if (used == 0) out += c;
    i += used == 0 ? 1 : used;
  }
}

}  // namespace pv
