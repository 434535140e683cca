#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "files/AnsiText.h"

namespace pv {
namespace {

// A plain decoder to check the fast one against: code point by code point through the code page's
// UTF-16 table, the whole text kept as it is when any sequence is not valid UTF-8.
std::string ReferenceUtf8ToAnsi(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size();) {
    const auto c = static_cast<unsigned char>(text[i]);
    const size_t n = c < 0x80                ? 1
                     : c >= 0xC2 && c < 0xE0 ? 2
                     : c >= 0xE0 && c < 0xF0 ? 3
                     : c >= 0xF0 && c < 0xF5 ? 4
                                             : 0;
    if (n == 0 || i + n > text.size()) return text;
    char32_t cp = n == 1 ? c : c & (0x7F >> n);
    for (size_t k = 1; k < n; ++k) {
      const auto d = static_cast<unsigned char>(text[i + k]);
      if ((d & 0xC0) != 0x80) return text;
      cp = (cp << 6) | (d & 0x3F);
    }
    if ((n == 3 && cp < 0x800) || (n == 4 && (cp < 0x10000 || cp > 0x10FFFF)) ||
        (cp >= 0xD800 && cp <= 0xDFFF))
      return text;
    char byte = '?';
    for (int b = 0; b < 256; ++b) {
      if (AnsiCharToWide(static_cast<unsigned char>(b)) == cp) byte = static_cast<char>(b);
    }
    out += byte;
    i += n;
  }
  return out;
}

TEST(Utf8ToAnsi, AgreesWithAPlainDecoder) {
  const std::string cases[] = {
      "",
      "plain ASCII longer than eight bytes",
      "M\xC3\xBCller",
      "\xE2\x82\xAC\xE2\x80\x9A\xC5\xA0\xC5\xBD\xC5\xB8",  // characters of 0x80..0x9F
      "\xC2\x81\xC2\x8D\xC2\x8F\xC2\x90\xC2\x9D",          // the five unassigned bytes
      "\xC2\x80\xC2\x9F",                                  // C1 controls without a byte
      "\xF0\x9F\x98\x80 emoji \xE4\xB8\xAD",               // outside the code page
      "12345678\xC3\xA4"
      "12345678\xC3",          // cut after an ASCII block
      "\xC3\xA4\xC3",          // cut sequence at the end
      "\xC0\x80",              // overlong
      "\xE0\x80\xAF",          // overlong, three bytes
      "\xED\xA0\x80",          // a surrogate
      "\xF4\x90\x80\x80",      // past U+10FFFF
      "\xF8\x88\x80\x80\x80",  // five-byte form
      "\x80 lone continuation",
      "M\xFCller",  // 1252 already
      std::string("nul\0inside\xC3\xA4", 12),
  };
  for (const auto& text : cases) {
    SCOPED_TRACE(testing::PrintToString(text));
    std::string out = "some earlier, longer value of this field";
    AssignUtf8AsAnsi(out, text);
    EXPECT_EQ(out, ReferenceUtf8ToAnsi(text));
  }
}

TEST(Utf8ToAnsi, AgreesWithAPlainDecoderOnRandomBytes) {
  // Random texts biased towards the bytes that start or continue UTF-8 sequences.
  static constexpr unsigned char kAlphabet[] = {'a',  ' ',  '0',  0x80, 0x9F, 0xA4, 0xBF, 0xC2,
                                                0xC3, 0xC5, 0xE2, 0xED, 0xF0, 0xF4, 0xF8, 0xFF};
  uint64_t state = 42;
  std::string out;
  for (int round = 0; round < 20000; ++round) {
    state = state * 6364136223846793005ULL + 1442695040888963407ULL;
    std::string text;
    const int length = static_cast<int>((state >> 33) % 24);
    for (int i = 0; i < length; ++i) {
      state = state * 6364136223846793005ULL + 1442695040888963407ULL;
      text += static_cast<char>(kAlphabet[(state >> 40) % sizeof kAlphabet]);
    }
    AssignUtf8AsAnsi(out, text);
    ASSERT_EQ(out, ReferenceUtf8ToAnsi(text)) << testing::PrintToString(text);
    AppendUtf8AsAnsi(out, text);  // appending keeps what was there
    ASSERT_EQ(out, ReferenceUtf8ToAnsi(text) + ReferenceUtf8ToAnsi(text));
  }
}

TEST(Utf8ToAnsi, ReusesTheStringsBuffer) {
  std::string out;
  out.reserve(256);
  const char* buffer = out.data();
  for (const char* text : {"Stuttgart", "M\xC3\xBCnchen",
                           "not \xFC"
                           "tf-8",
                           ""}) {
    AssignUtf8AsAnsi(out, text);
    EXPECT_EQ(out.data(), buffer) << text;
  }
}

}  // namespace
}  // namespace pv
