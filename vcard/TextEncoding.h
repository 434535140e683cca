// Text encodings of the vCard output: the minimal quoted-printable form of multi-line values, and
// the conversion of Windows-1252 text to UTF-16 and of UTF-16 to UTF-8 bytes.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace pv {

// "=" -> "=3D", CR -> "=0D", LF -> "=0A", in that order; every other byte passes unchanged (no
// soft line breaks, no length limit). Example: "a=b\r\n" -> "a=3Db=0D=0A".
std::string QuotedBreaks(std::string_view text);
// As QuotedBreaks, appending to out.
void AppendQuotedBreaks(std::string& out, std::string_view text);

// Windows-1252 text as UTF-16, one unit per byte; empty gives empty.
std::u16string AnsiToUtf16(std::string_view text);

// Encodes UTF-16 units as UTF-8, each unit by itself (surrogate halves are not paired; one becomes
// a three-byte sequence). With dest: stores whole sequences while they fit in capacity - 1 bytes,
// then a terminating zero, and returns the bytes stored plus one; a sequence that does not fit
// ends the conversion (no partial sequence is ever stored). Capacity 0 stores nothing and returns
// 0. Without dest: returns the bytes the whole source needs plus one. No source: returns 0.
size_t WideToUtf8Buffer(char* dest, size_t capacity, const char16_t* source, size_t sourceUnits);

// The UTF-8 bytes of a UTF-16 text, without terminating zero (same unit-by-unit encoding).
std::string WideToUtf8Text(std::u16string_view text);

}  // namespace pv
