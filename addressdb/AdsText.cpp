#include "addressdb/AdsText.h"

#include <array>
#include <cstdint>
#include <cstring>

#include "files/AnsiText.h"

namespace pv {
namespace {

// The code points of the bytes 0x80..0x9F, the only bytes whose code point is not the byte.
const std::array<char16_t, 32> kHighCodePoints = [] {
  std::array<char16_t, 32> table{};
  for (int i = 0; i < 32; ++i) table[i] = AnsiCharToWide(static_cast<unsigned char>(0x80 + i));
  return table;
}();

char AnsiOfCodePoint(char32_t cp) {
  if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) return static_cast<char>(cp);
  for (int i = 0; i < 32; ++i) {
    if (kHighCodePoints[i] == cp) return static_cast<char>(0x80 + i);
  }
  return '?';
}

// The length of the valid multi-byte sequence at s[0] (at most `left` bytes) and its code point;
// 0 when it is not valid UTF-8 (overlong forms, surrogates and values past U+10FFFF included).
size_t DecodeSequence(const unsigned char* s, size_t left, char32_t& cp) {
  const unsigned char c = s[0];
  size_t n;
  char32_t min;
  if ((c & 0xE0) == 0xC0) {
    n = 2, cp = c & 0x1F, min = 0x80;
  } else if ((c & 0xF0) == 0xE0) {
    n = 3, cp = c & 0x0F, min = 0x800;
  } else if ((c & 0xF8) == 0xF0) {
    n = 4, cp = c & 0x07, min = 0x10000;
  } else {
    return 0;
  }
  if (n > left) return 0;
  for (size_t k = 1; k < n; ++k) {
    if ((s[k] & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (s[k] & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  return n;
}

}  // namespace

void AssignUtf8AsAnsi(std::string& out, std::string_view text) {
  constexpr uint64_t kHighBits = 0x8080808080808080ULL;
  const size_t size = text.size();
  const auto* src = reinterpret_cast<const unsigned char*>(text.data());
  out.resize(size);  // the 1252 form is never longer than the UTF-8 one
  char* dst = out.data();
  size_t i = 0, o = 0;
  while (i < size) {
    // Plain ASCII, by far the most common, is copied eight bytes at a time.
    uint64_t word;
    if (i + 8 <= size && (std::memcpy(&word, src + i, 8), (word & kHighBits) == 0)) {
      std::memcpy(dst + o, &word, 8);
      i += 8, o += 8;
      continue;
    }
    if (src[i] < 0x80) {
      dst[o++] = static_cast<char>(src[i++]);
      continue;
    }
    char32_t cp;
    const size_t n = DecodeSequence(src + i, size - i, cp);
    if (n == 0) {
      out.assign(text);  // not UTF-8: the bytes are Windows-1252 already
      return;
    }
    dst[o++] = AnsiOfCodePoint(cp);
    i += n;
  }
  out.resize(o);
}

}  // namespace pv
