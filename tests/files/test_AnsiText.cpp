#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "files/AnsiText.h"

namespace pv {
namespace {

TEST(AnsiText, EveryByteSurvivesTheRoundTripThroughUtf16AndUtf8) {
  std::string all;
  for (int c = 0; c < 256; ++c) all += static_cast<char>(c);
  EXPECT_EQ(WideToAnsi(AnsiToWide(all)), all);
  EXPECT_EQ(Utf8ToAnsi(AnsiToUtf8(all)), all);
}

TEST(AnsiText, Conversions) {
  struct Case {
    std::string ansi, utf8;
  } cases[] = {
      {"A", "A"},
      {"\xFC", "\xC3\xBC"},      // ü
      {"\x80", "\xE2\x82\xAC"},  // €
      {"\x81", "\xC2\x81"},      // unassigned: maps to itself
      {"\x9F", "\xC5\xB8"},      // Ÿ
      {"Stra\xDF"
       "e",
       "Stra\xC3\x9F"
       "e"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.utf8);
    EXPECT_EQ(AnsiToUtf8(c.ansi), c.utf8);
    EXPECT_EQ(Utf8ToAnsi(c.utf8), c.ansi);
  }
}

TEST(AnsiText, Utf8OutsideTheCodePageBecomesQuestionMarkAndInvalidUtf8IsKeptAsBytes) {
  EXPECT_EQ(Utf8ToAnsi("a\xE2\x82\xBD"
                       "b"),
            "a?b");                                       // rouble sign
  EXPECT_EQ(Utf8ToAnsi("\xF0\x9F\x98\x80"), "?");         // emoji
  EXPECT_EQ(Utf8ToAnsi("M\xFCller"), "M\xFCller");        // already 1252
  EXPECT_EQ(Utf8ToAnsi("\xC3"), "\xC3");                  // cut sequence
  EXPECT_EQ(Utf8ToAnsi("\xC0\x80"), "\xC0\x80");          // overlong NUL
  EXPECT_EQ(Utf8ToAnsi("\xED\xA0\x80"), "\xED\xA0\x80");  // surrogate
  EXPECT_EQ(WideToAnsi(u"\u20AC\u0416"), "\x80?");
}

// The shortcut for text that needs no round trip must give exactly what the round trip gives.
TEST(AnsiText, Utf8ThroughAnsiEqualsTheRoundTrip) {
  std::vector<std::string> texts = {
      "",
      "plain ASCII that is longer than eight bytes",
      "K\xC3\xB6ln \xE2\x82\xAC Stra\xC3\x9F"
      "e",                         // all in the code page
      "\xC2\x81\xC2\x8D\xC2\x9D",  // the unassigned bytes map to themselves
      "\xC2\x80\xC2\x9F",          // C1 controls the code page lacks
      "a\xE2\x82\xBD"
      "b\xF0\x9F\x98\x80",  // rouble sign, emoji
      "M\xFCller",
      "\xC3",
      "\xC0\x80",
      "\xED\xA0\x80",  // not UTF-8
  };
  std::mt19937 random(7);
  for (int i = 0; i < 2000; ++i) {  // short random texts, mostly from the interesting bytes
    static constexpr char kBytes[] = "aZ \x80\x81\x9F\xA0\xBF\xC2\xC3\xC5\xE2\x82\xAC\xF0\x9F\xFF";
    std::string text;
    for (size_t n = random() % 12; n > 0; --n) text += kBytes[random() % (sizeof kBytes - 1)];
    texts.push_back(text);
  }
  for (const std::string& text : texts) {
    SCOPED_TRACE(::testing::PrintToString(text));
    std::string out = "x";
    AppendUtf8ThroughAnsi(out, text);
    EXPECT_EQ(out, "x" + AnsiToUtf8(Utf8ToAnsi(text)));
  }
}

TEST(AnsiText, CaseTablesAndComparison) {
  EXPECT_EQ(AnsiUpperCase("abc\xE4\xF6\xFC\xFF\x9A\xDF\xB5\xF7"),
            "ABC\xC4\xD6\xDC\x9F\x8A\xDF\xB5\xF7");
  EXPECT_EQ(AnsiLower('\xC4'), 0xE4);
  EXPECT_TRUE(AnsiSameText("M\xFCLLER@x.DE", "m\xDCller@X.de"));
  EXPECT_FALSE(AnsiSameText("a", "ab"));
  EXPECT_LT(AnsiCompareText("a", "ab"), 0);
  EXPECT_GT(AnsiCompareText("b", "AB"), 0);
  EXPECT_EQ(AnsiCompareText("", ""), 0);
}

}  // namespace
}  // namespace pv
