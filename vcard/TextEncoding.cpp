#include "vcard/TextEncoding.h"

#include "files/AnsiText.h"

namespace pv {

void AppendQuotedBreaks(std::string& out, std::string_view text) {
  // One pass gives the result of the three replacements in order: the "=" of "=0D" and "=0A"
  // come from the later replacements and were never subject to the first.
  for (const char c : text) {
    switch (c) {
      case '=':
        out += "=3D";
        break;
      case '\r':
        out += "=0D";
        break;
      case '\n':
        out += "=0A";
        break;
      default:
        out += c;
    }
  }
}

std::string QuotedBreaks(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  AppendQuotedBreaks(out, text);
  return out;
}

std::u16string AnsiToUtf16(std::string_view text) { return AnsiToWide(text); }

size_t WideToUtf8Buffer(char* dest, size_t capacity, const char16_t* source, size_t sourceUnits) {
  if (source == nullptr) return 0;
  if (dest == nullptr) {
    size_t count = 0;
    for (size_t i = 0; i < sourceUnits; ++i) {
      const char16_t u = source[i];
      count += u <= 0x7F ? 1 : u <= 0x7FF ? 2 : 3;
    }
    return count + 1;
  }
  if (capacity == 0) return 0;
  // The last byte of the buffer is kept for the terminator.
  const size_t limit = capacity - 1;
  size_t count = 0;
  for (size_t i = 0; i < sourceUnits; ++i) {
    const char16_t u = source[i];
    if (u <= 0x7F) {
      if (count + 1 > limit) break;
      dest[count++] = static_cast<char>(u);
    } else if (u <= 0x7FF) {
      if (count + 2 > limit) break;
      dest[count++] = static_cast<char>(0xC0 | (u >> 6));
      dest[count++] = static_cast<char>(0x80 | (u & 0x3F));
    } else {
      if (count + 3 > limit) break;
      dest[count++] = static_cast<char>(0xE0 | (u >> 12));
      dest[count++] = static_cast<char>(0x80 | ((u >> 6) & 0x3F));
      dest[count++] = static_cast<char>(0x80 | (u & 0x3F));
    }
  }
  dest[count] = '\0';
  return count + 1;
}

std::string WideToUtf8Text(std::u16string_view text) {
  if (text.empty()) return {};
  // Three bytes per unit always suffice, plus one for the terminator.
  std::string out(3 * text.size() + 1, '\0');
  const size_t result = WideToUtf8Buffer(out.data(), out.size(), text.data(), text.size());
  out.resize(result < 1 ? 0 : result - 1);
  return out;
}

}  // namespace pv
