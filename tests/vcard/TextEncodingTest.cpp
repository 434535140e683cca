#include <gtest/gtest.h>

#include <string>

#include "files/AnsiText.h"
#include "vcard/TextEncoding.h"

namespace pv {
namespace {

TEST(TextEncodingTest, QuotedBreaksEncodesEqualsAndBreaksOnly) {
  const struct {
    std::string in, out;
  } rows[] = {
      {"", ""},
      {"==", "=3D=3D"},
      {"\n", "=0A"},
      {"a=b\r\n", "a=3Db=0D=0A"},
      {"=0D", "=3D0D"},  // an encoded-looking text is encoded again
      {"\r\r\n\n", "=0D=0D=0A=0A"},
      {"R\xFC"
       "ckruf \t ",
       "R\xFC"
       "ckruf \t "},  // high bytes, tabs and trailing blanks pass
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(testing::PrintToString(row.in));
    EXPECT_EQ(row.out, QuotedBreaks(row.in));
  }
}

TEST(TextEncodingTest, WideToUtf8TextEncodesEachUnit) {
  const struct {
    std::u16string in;
    std::string out;
  } rows[] = {
      {u"", ""},
      {u"A", "A"},
      {u"\u00FC", "\xC3\xBC"},
      {u"\u07FF\u0800", "\xDF\xBF\xE0\xA0\x80"},
      {u"\u20AC", "\xE2\x82\xAC"},
      {u"\uFFFF", "\xEF\xBF\xBF"},
      // Surrogate halves are encoded one by one.
      {u"\U0001F600", "\xED\xA0\xBD\xED\xB8\x80"},
      {std::u16string(1, u'\0') + u"x", std::string(1, '\0') + "x"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(testing::PrintToString(row.out));
    EXPECT_EQ(row.out, WideToUtf8Text(row.in));
  }
}

TEST(TextEncodingTest, WideToUtf8BufferStaysInsideItsCapacity) {
  const struct {
    const char* name;
    std::u16string source;
    size_t capacity;
    std::string stored;  // bytes before the terminator
    size_t result;
  } rows[] = {
      {"room to spare", u"a\u00FC", 10, "a\xC3\xBC", 4},
      {"exact fit with terminator", u"ab", 3, "ab", 3},
      {"second two-byte character does not fit", u"\u00FC\u00FC", 3, "\xC3\xBC", 3},
      {"last byte given up for the terminator", u"ab", 2, "a", 2},
      // Never half a sequence: the first character would leave no room for the terminator.
      {"two-byte character in two bytes", u"\u00FC", 2, "", 1},
      {"three-byte character in three bytes", u"\u20AC", 3, "", 1},
      {"capacity one", u"a", 1, "", 1},
      {"empty source", u"", 5, "", 1},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    std::string buffer(16, '\xEE');
    EXPECT_EQ(row.result,
              WideToUtf8Buffer(buffer.data(), row.capacity, row.source.data(), row.source.size()));
    EXPECT_EQ(row.stored, buffer.substr(0, row.stored.size()));
    EXPECT_EQ('\0', buffer[row.stored.size()]);
    // Nothing is written at or beyond the capacity.
    EXPECT_EQ(std::string(16 - row.capacity, '\xEE'), buffer.substr(row.capacity));
  }
}

TEST(TextEncodingTest, WideToUtf8BufferEdgeCasesWithoutRoomOrSource) {
  char buffer[4] = {'x', 'x', 'x', 'x'};
  const char16_t source[] = u"ab";
  EXPECT_EQ(0u, WideToUtf8Buffer(buffer, 0, source, 2));  // no room even for the terminator
  EXPECT_EQ('x', buffer[0]);
  EXPECT_EQ(0u, WideToUtf8Buffer(buffer, 4, nullptr, 2));
  EXPECT_EQ('x', buffer[0]);
  EXPECT_EQ(0u, WideToUtf8Buffer(nullptr, 0, nullptr, 0));
  // Counting only: the bytes needed plus one.
  const std::u16string mixed = u"a\u00FC\u20AC";
  EXPECT_EQ(7u, WideToUtf8Buffer(nullptr, 0, mixed.data(), mixed.size()));
  EXPECT_EQ(1u, WideToUtf8Buffer(nullptr, 0, mixed.data(), 0));
}

// The writer converts with a byte table; it must give the same bytes as the route through UTF-16.
TEST(TextEncodingTest, ByteTableMatchesTheUtf16RouteForEveryByte) {
  std::string all;
  for (int c = 0; c < 256; ++c) {
    const std::string one(1, static_cast<char>(c));
    std::string viaTable;
    AppendAnsiAsUtf8(viaTable, one);
    EXPECT_EQ(WideToUtf8Text(AnsiToUtf16(one)), viaTable) << "byte " << c;
    all += one;
  }
  std::string viaTable = "prefix";
  AppendAnsiAsUtf8(viaTable, all);
  EXPECT_EQ("prefix" + WideToUtf8Text(AnsiToUtf16(all)), viaTable);
  EXPECT_EQ(u"\u20AC\u00FC", AnsiToUtf16("\x80\xFC"));
}

}  // namespace
}  // namespace pv
