// Windows-1252, the fixed 8-bit code page of all text inside the system, and its conversions:
// to and from UTF-16 and UTF-8, and the upper-case table behind every comparison that ignores
// letter case (no locale collation: the same order on every machine).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace pv {

// The UTF-16 unit of one Windows-1252 byte. 0x81, 0x8D, 0x8F, 0x90 and 0x9D map to themselves.
char16_t AnsiCharToWide(unsigned char c);

// The whole text as UTF-16 (one unit per byte).
std::u16string AnsiToWide(std::string_view text);

// UTF-16 to Windows-1252; a unit that has no byte in the code page becomes '?'.
std::string WideToAnsi(std::u16string_view text);

// UTF-8 to Windows-1252. Valid UTF-8 is decoded (characters outside the code page become '?');
// text that is not valid UTF-8 is taken byte for byte as Windows-1252 already.
std::string Utf8ToAnsi(std::string_view text);
// The same into out, reusing its memory (for readers that convert field after field), or
// appended to what out holds.
void AssignUtf8AsAnsi(std::string& out, std::string_view text);
void AppendUtf8AsAnsi(std::string& out, std::string_view text);

// Appends AnsiToUtf8(Utf8ToAnsi(text)): the text as the system holds it, in UTF-8. Valid UTF-8 of
// characters the code page has, the usual case, is appended as it is, without the round trip.
void AppendUtf8ThroughAnsi(std::string& out, std::string_view text);

// The index of the first byte from 0x80 on in text at or after from, or text.size(): where the
// plain ASCII ends, which is the same in Windows-1252 and UTF-8. Eight bytes per test.
inline size_t NextNonAscii(std::string_view text, size_t from = 0) {
  const size_t size = text.size();
  for (uint64_t word; from + 8 <= size; from += 8) {
    std::memcpy(&word, text.data() + from, 8);
    if ((word & 0x8080808080808080u) != 0) break;
  }
  while (from < size && static_cast<unsigned char>(text[from]) < 0x80) ++from;
  return from;
}

// text as Windows-1252: text itself when it is plain ASCII (the same in both), else its
// conversion, held in scratch.
inline std::string_view Utf8AsAnsiView(std::string_view text, std::string& scratch) {
  if (NextNonAscii(text) == text.size()) return text;
  AssignUtf8AsAnsi(scratch, text);
  return scratch;
}

// The UTF-8 form of one Windows-1252 byte: one to three bytes.
std::string_view AnsiCharAsUtf8(unsigned char c);

// Appends the UTF-8 form of Windows-1252 text to out (one to three bytes per input byte).
void AppendAnsiAsUtf8(std::string& out, std::string_view text);
std::string AnsiToUtf8(std::string_view text);

// Upper and lower case of one byte through the code page's tables (A-Z and the accented letters;
// 0xDF and 0xB5 have no single-byte upper case and stay).
unsigned char AnsiUpper(unsigned char c);
unsigned char AnsiLower(unsigned char c);
std::string AnsiUpperCase(std::string_view text);

// Compares byte by byte after upper-casing both sides: <0, 0 or >0; a prefix orders first.
int AnsiCompareText(std::string_view a, std::string_view b);
inline bool AnsiSameText(std::string_view a, std::string_view b) {
  // The very same text (a sort comparing its pivot with itself) needs no look at its bytes.
  return a.size() == b.size() && (a.data() == b.data() || AnsiCompareText(a, b) == 0);
}

}  // namespace pv
