#include "files/AnsiText.h"

#include <array>
#include <cstring>

namespace pv {
namespace {

// 0x80..0x9F of Windows-1252; the five unassigned bytes map to themselves.
constexpr std::array<char16_t, 32> kHigh = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

struct Tables {
  std::array<unsigned char, 256> upper{};
  std::array<unsigned char, 256> lower{};
  // UTF-8 form of each byte: length in [0], bytes in [1..3].
  std::array<std::array<char, 4>, 256> utf8{};

  constexpr Tables() {
    for (int c = 0; c < 256; ++c) {
      upper[c] = lower[c] = static_cast<unsigned char>(c);
    }
    auto pair = [this](int up, int low) {
      upper[low] = static_cast<unsigned char>(up);
      lower[up] = static_cast<unsigned char>(low);
    };
    for (int c = 'a'; c <= 'z'; ++c) pair(c - 32, c);
    for (int c = 0xE0; c <= 0xFE; ++c) {
      if (c != 0xF7) pair(c - 32, c);
    }
    pair(0x8A, 0x9A);  // S caron
    pair(0x8C, 0x9C);  // OE
    pair(0x8E, 0x9E);  // Z caron
    pair(0x9F, 0xFF);  // Y diaeresis
    for (int c = 0; c < 256; ++c) {
      const char16_t u = c >= 0x80 && c < 0xA0 ? kHigh[c - 0x80] : static_cast<char16_t>(c);
      auto& e = utf8[c];
      if (u < 0x80) {
        e = {1, static_cast<char>(u), 0, 0};
      } else if (u < 0x800) {
        e = {2, static_cast<char>(0xC0 | (u >> 6)), static_cast<char>(0x80 | (u & 0x3F)), 0};
      } else {
        e = {3, static_cast<char>(0xE0 | (u >> 12)), static_cast<char>(0x80 | ((u >> 6) & 0x3F)),
             static_cast<char>(0x80 | (u & 0x3F))};
      }
    }
  }
};

constexpr Tables kTables;

// The byte of a code point, or '?' when the code page has none.
char AnsiOf(char32_t u) {
  if (u < 0x80 || (u >= 0xA0 && u <= 0xFF)) return static_cast<char>(u);
  for (int i = 0; i < 32; ++i) {
    if (kHigh[i] == u) return static_cast<char>(0x80 + i);
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

char16_t AnsiCharToWide(unsigned char c) {
  return c >= 0x80 && c < 0xA0 ? kHigh[c - 0x80] : static_cast<char16_t>(c);
}

std::u16string AnsiToWide(std::string_view text) {
  std::u16string out(text.size(), u'\0');
  for (size_t i = 0; i < text.size(); ++i) {
    out[i] = AnsiCharToWide(static_cast<unsigned char>(text[i]));
  }
  return out;
}

std::string WideToAnsi(std::u16string_view text) {
  std::string out(text.size(), '\0');
  for (size_t i = 0; i < text.size(); ++i) out[i] = AnsiOf(text[i]);
  return out;
}

void AppendUtf8AsAnsi(std::string& out, std::string_view text) {
  constexpr uint64_t kHighBits = 0x8080808080808080ULL;
  const size_t size = text.size();
  const auto* src = reinterpret_cast<const unsigned char*>(text.data());
  // Plain ASCII, by far the most common, is the same in both: its start is appended as it is.
  const size_t ascii = NextNonAscii(text);
  const size_t start = out.size();
  out.append(text.data(), ascii);
  if (ascii == size) return;
  out.resize(start + size);  // the 1252 form is never longer than the UTF-8 one
  char* dst = out.data() + start;
  size_t i = ascii, o = ascii;
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
      // Not UTF-8: the bytes are Windows-1252 already.
      out.resize(start);
      out.append(text);
      return;
    }
    dst[o++] = AnsiOf(cp);
    i += n;
  }
  out.resize(start + o);
}

void AssignUtf8AsAnsi(std::string& out, std::string_view text) {
  out.clear();
  AppendUtf8AsAnsi(out, text);
}

std::string Utf8ToAnsi(std::string_view text) {
  std::string out;
  AssignUtf8AsAnsi(out, text);
  return out;
}

void AppendAnsiAsUtf8(std::string& out, std::string_view text) {
  // Plain ASCII, by far the most common, is the same in both: its start is appended as it is.
  const size_t ascii = NextNonAscii(text);
  out.append(text.data(), ascii);
  text.remove_prefix(ascii);
  if (text.empty()) return;
  const size_t start = out.size();
  out.resize(start + 3 * text.size());
  char* p = out.data() + start;
  for (const char ch : text) {
    const auto& e = kTables.utf8[static_cast<unsigned char>(ch)];
    p[0] = e[1];
    p[1] = e[2];
    p[2] = e[3];
    p += e[0];
  }
  out.resize(static_cast<size_t>(p - out.data()));
}

std::string AnsiToUtf8(std::string_view text) {
  std::string out;
  AppendAnsiAsUtf8(out, text);
  return out;
}

void AppendUtf8ThroughAnsi(std::string& out, std::string_view text) {
  const auto* src = reinterpret_cast<const unsigned char*>(text.data());
  for (size_t i = NextNonAscii(text); i < text.size(); i = NextNonAscii(text, i)) {
    // U+00C0 to U+00FF (the accented letters), by far the most common, are in the code page.
    if (src[i] == 0xC3 && i + 1 < text.size() && (src[i + 1] & 0xC0) == 0x80) {
      i += 2;
      continue;
    }
    char32_t cp;
    const size_t n = DecodeSequence(src + i, text.size() - i, cp);
    // Not UTF-8, or a character the code page lacks: the round trip changes the text.
    if (n == 0 || ((cp < 0xA0 || cp > 0xFF) && AnsiOf(cp) == '?')) {
      AppendAnsiAsUtf8(out, Utf8ToAnsi(text));
      return;
    }
    i += n;
  }
  out.append(text);
}

std::string_view AnsiCharAsUtf8(unsigned char c) {
  const auto& e = kTables.utf8[c];
  return {e.data() + 1, static_cast<size_t>(e[0])};
}

unsigned char AnsiUpper(unsigned char c) { return kTables.upper[c]; }
unsigned char AnsiLower(unsigned char c) { return kTables.lower[c]; }

std::string AnsiUpperCase(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(kTables.upper[static_cast<unsigned char>(c)]);
  return out;
}

int AnsiCompareText(std::string_view a, std::string_view b) {
  const size_t n = a.size() < b.size() ? a.size() : b.size();
  for (size_t i = 0; i < n; ++i) {
    const int x = kTables.upper[static_cast<unsigned char>(a[i])];
    const int y = kTables.upper[static_cast<unsigned char>(b[i])];
    if (x != y) return x - y;
  }
  return a.size() < b.size() ? -1 : (a.size() > b.size() ? 1 : 0);
}

}  // namespace pv
