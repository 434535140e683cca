#include <gtest/gtest.h>

#include <string>

#include "vcard/TextSink.h"

namespace pv {
namespace {

// Pieces of every size, past the sink's first room and its doublings, after text already held.
TEST(TextSinkTest, HoldsExactlyWhatWasAppendedAfterTheTextBefore) {
  for (const size_t before : {size_t{0}, size_t{3}, size_t{5000}}) {
    std::string text(before, 'b'), want(before, 'b');
    {
      TTextSink sink(text);
      for (size_t n = 0; n < 700; ++n) {
        const std::string piece(n % 37, static_cast<char>('a' + n % 26));
        sink += piece;
        sink += ';';
        sink.Append(n % 5, '0');
        want += piece + ';' + std::string(n % 5, '0');
        ASSERT_EQ(want.size(), sink.size());
      }
      EXPECT_EQ(want.substr(before + 10), sink.Since(before + 10));
    }
    EXPECT_EQ(want, text);
  }
}

TEST(TextSinkTest, CutToTakesBackAndLeavesNothingBehind) {
  std::string text = "keep";
  {
    TTextSink sink(text);
    sink += std::string(2000, 'x');
    sink.CutTo(5);
    EXPECT_EQ("x", sink.Since(4));
    sink += "end";
  }
  EXPECT_EQ("keepxend", text);
}

}  // namespace
}  // namespace pv
