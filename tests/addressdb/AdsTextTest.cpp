#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "addressdb/AdsText.h"
#include "files/AnsiText.h"

namespace pv {
namespace {

// The in-place conversion must agree with the code page's own Utf8ToAnsi on every input.
TEST(AdsTextTest, AgreesWithUtf8ToAnsi) {
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
      std::string("nul\0inside\xC3\xA4", 13),
  };
  for (const auto& text : cases) {
    SCOPED_TRACE(testing::PrintToString(text));
    std::string out = "some earlier, longer value of this field";
    AssignUtf8AsAnsi(out, text);
    EXPECT_EQ(out, Utf8ToAnsi(text));
  }
}

TEST(AdsTextTest, AgreesWithUtf8ToAnsiOnRandomBytes) {
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
    ASSERT_EQ(out, Utf8ToAnsi(text)) << testing::PrintToString(text);
  }
}

TEST(AdsTextTest, ReusesTheStringsBuffer) {
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
