// Date-time values as the address data stores them: a double counting days since 1899-12-30, its
// fraction the time of day. Encoding, decoding, the local clock, local-to-UTC and a small
// formatter.
#pragma once

#include <string>
#include <string_view>

namespace pv {

// Days since 1899-12-30 00:00. For negative values the integral part is the day and the absolute
// value of the fraction the time of day (-1.25 is 1899-12-29 06:00).
using TDateTime = double;

// Date of y-m-d (years 1..9999, months 1..12, days of that month). False and result untouched when
// any part is out of range.
bool TryEncodeDate(int year, int month, int day, TDateTime& result);

// Time of day (hours 0..23, minutes and seconds 0..59, milliseconds 0..999) as a fraction of a day.
// False and result untouched when any part is out of range.
bool TryEncodeTime(int hour, int minute, int second, int msec, TDateTime& result);

// Date and time together; negative dates get the time subtracted, so that decoding gives them back.
bool TryEncodeDateTime(int year, int month, int day, int hour, int minute, int second, int msec,
                       TDateTime& result);

// Splits a value into its fields, rounded to the millisecond (proleptic Gregorian calendar).
// A value that is not finite or lies beyond +-10^10 days gives every field 0 (month 0 marks it).
void DecodeDateTime(TDateTime value, int& year, int& month, int& day, int& hour, int& minute,
                    int& second, int& msec);

// The current local date and time, to the millisecond.
TDateTime NowLocal();

// A local wall-clock time converted to UTC through the C library's time zone (TZ), with the
// daylight-saving rule in force on that date. A time that falls into the hour skipped when clocks
// go forward is taken as standard time. A value outside years 1..9999 is returned unchanged.
TDateTime LocalToUtc(TDateTime local);

// Formats a value. Case-insensitive tokens: yyyy (four-digit year) and yy (two digits), mm/m
// (month), dd/d (day), hh/h (hour), nn/n (minute), ss/s (second), zzz/z (millisecond); the
// doubled forms are zero-padded. Longer runs of one letter are taken as pairs. Text in double or
// single quotes and every other character are copied. Example: "yyyy.dd.mm.hh.nn.ss".
std::string FormatDateTime(std::string_view format, TDateTime value);

// As FormatDateTime, appending to out (no temporary string).
void AppendDateTime(std::string& out, std::string_view format, TDateTime value);

}  // namespace pv
