#include <gtest/gtest.h>

#include <string>

#include "files/AnsiText.h"
#include "vcard/TextEncoding.h"

namespace pv {
namespace {

TEST(TextEncodingTest, QuotedBreaksEncodesEqualsAndBreaksOnly) {
  const std::pair<std::string, std::string> rows[] = {
      {"", ""},         {"==", "=3D=3D"},         {"\n", "=0A"}, {"a=b\r\n", "a=3Db=0D=0A"},
      {"=0D", "=3D0D"}, {"\xFC \t ", "\xFC \t "},  // high bytes, tabs and trailing blanks pass
  };
  for (const auto& [in, out] : rows) EXPECT_EQ(out, QuotedBreaks(in)) << in;
}

TEST(TextEncodingTest, WideToUtf8TextEncodesEachUnit) {
  const std::pair<std::u16string, std::string> rows[] = {
      {u"", ""},
      {u"A", "A"},
      {u"\u00FC", "\xC3\xBC"},
      {u"\u07FF\u0800", "\xDF\xBF\xE0\xA0\x80"},
      {u"\u20AC", "\xE2\x82\xAC"},
      {u"\U0001F600", "\xED\xA0\xBD\xED\xB8\x80"},  // surrogate halves one by one
  };
  for (const auto& [in, out] : rows) EXPECT_EQ(out, WideToUtf8Text(in));
}

TEST(TextEncodingTest, WideToUtf8BufferStaysInsideItsCapacity) {
  const struct {
    std::u16string source;
    size_t capacity;
    std::string stored;  // before the terminator
    size_t result;
  } rows[] = {
      {u"a\u00FC", 10, "a\xC3\xBC", 4},
      {u"ab", 3, "ab", 3},
      {u"\u00FC\u00FC", 3, "\xC3\xBC", 3},  // the second character would need bytes 3 and 4
      {u"ab", 2, "a", 2},                   // the last byte is kept for the terminator
      {u"\u00FC", 2, "", 1},                // never half a sequence
      {u"\u20AC", 3, "", 1},
      {u"a", 1, "", 1},
      {u"", 5, "", 1},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(testing::Message() << "capacity " << row.capacity << ", " << row.stored);
    std::string buffer(16, '\xEE');
    EXPECT_EQ(row.result,
              WideToUtf8Buffer(buffer.data(), row.capacity, row.source.data(), row.source.size()));
    EXPECT_EQ(row.stored + '\0', buffer.substr(0, row.stored.size() + 1));
    EXPECT_EQ(std::string(16 - row.capacity, '\xEE'), buffer.substr(row.capacity));
  }
  char untouched[2] = {'x', 'x'};
  EXPECT_EQ(0u, WideToUtf8Buffer(untouched, 0, u"ab", 2));  // no room even for the terminator
  EXPECT_EQ(0u, WideToUtf8Buffer(untouched, 2, nullptr, 2));
  EXPECT_EQ('x', untouched[0]);
  EXPECT_EQ(7u, WideToUtf8Buffer(nullptr, 0, u"a\u00FC\u20AC", 3));  // counting only
}

}  // namespace
}  // namespace pv
