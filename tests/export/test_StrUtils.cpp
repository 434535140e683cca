// Text helpers of the export job: splitting, natural order and its sort, replacing, hashes, GUIDs.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "export/StrUtils.h"
#include "files/AnsiText.h"

namespace pv {
namespace {

using Texts = std::vector<std::string>;

TEST(StrUtils, SplitText) {
  struct Case {
    std::string sep, text;
    Texts pieces;
  } cases[] = {
      {" ", "", {}},
      {" ", "a b", {"a", "b"}},
      {" ", " a", {"", "a"}},         // leading separator: empty first piece
      {" ", "a ", {"a"}},             // trailing separator: no empty last piece
      {" ", "a  b", {"a", "", "b"}},  // neighbours: an empty piece between
      {" ", "a  ", {"a", ""}},
      {" ", " ", {""}},
      {" ", "  ", {"", ""}},
      {"--", "a--b---c--", {"a", "b", "-c"}},
      {"long separator", "short", {"short"}},
      {"", "whole", {"whole"}},
  };
  std::vector<std::string_view> views{"left over"};  // reused: must be cleared
  for (const auto& c : cases) {
    SCOPED_TRACE("sep '" + c.sep + "' text '" + c.text + "'");
    EXPECT_EQ(SplitText(c.sep, c.text), c.pieces);
    SplitText(c.sep, c.text, views);
    EXPECT_EQ(Texts(views.begin(), views.end()), c.pieces);
  }
}

TEST(StrUtils, NaturalCompare) {
  struct Case {
    std::string a, b;
    int result;
  } cases[] = {
      {"abc", "ABC", 0},
      {"\xE4rger", "\xC4RGER", 0},  // Windows-1252 upper case of a-umlaut
      {"a01", "a1", 0},             // equal values, the walk ends with the texts
      {"x9@a.de", "x10@a.de", -1},  // short texts: digit runs by value
      {"x10", "x9", 1},
      {"abcdefgh10", "abcdefgh9", -1},  // 10 characters: runs compare as text
      {"0301234567", "030123456", 1},
      {"1a", "a1", -1},  // digit run against letters: as text, '1' before 'A'
      {"a2b", "a2C", -1},
      {"b", "a", 1},
      {"abc", "abc1", 0},  // one text runs out of runs: the last pair decides
      {"", "x", 0},
      {"a\xE4", "a\xFC", -1},  // letters beyond ASCII by their code page upper case
  };
  for (const auto& c : cases) {
    SCOPED_TRACE("'" + c.a + "' vs '" + c.b + "'");
    EXPECT_EQ(NaturalCompare(c.a, c.b), c.result);
    EXPECT_EQ(NaturalCompare(c.b, c.a), -c.result);
  }
  Texts list = {"x100@a.de", "X9@a.de", "x10@a.de", "0301234567", "030123456"};
  NaturalSort(list);
  EXPECT_EQ(list, (Texts{"030123456", "0301234567", "X9@a.de", "x10@a.de", "x100@a.de"}));
}

// The natural order as its definition reads: the runs cut out whole and compared as whole texts.
int NaturalCompareByRuns(std::string_view a, std::string_view b) {
  if (AnsiSameText(a, b)) return 0;
  const auto isDigit = [](char c) { return c >= '0' && c <= '9'; };
  const auto run = [&](std::string_view text, size_t& pos) {
    const size_t start = pos;
    while (pos < text.size() && isDigit(text[pos]) == isDigit(text[start])) ++pos;
    return text.substr(start, pos - start);
  };
  const bool numeric = a.size() < 10 && b.size() < 10;
  size_t pa = 0, pb = 0;
  int result = 0;
  while (result == 0 && pa < a.size() && pb < b.size()) {
    const std::string_view runA = run(a, pa), runB = run(b, pb);
    if (numeric && isDigit(runA[0]) && isDigit(runB[0])) {
      const long x = std::stol(std::string(runA)), y = std::stol(std::string(runB));
      result = (x > y) - (x < y);
    } else {
      const int c = AnsiCompareText(runA, runB);
      result = (c > 0) - (c < 0);
    }
  }
  return result;
}

TEST(StrUtils, NaturalCompareAgreesWithItsDefinitionOnRandomTexts) {
  std::mt19937 rng(5);
  const std::string alphabet = "0129aAbB.@\xE4\xC4 ";
  std::uniform_int_distribution<size_t> letter(0, alphabet.size() - 1), length(0, 12);
  const auto text = [&] {
    std::string t(length(rng), ' ');
    for (char& c : t) c = alphabet[letter(rng)];
    return t;
  };
  for (int i = 0; i < 20000; ++i) {
    const std::string a = text();
    const std::string b = i % 4 == 0 ? a.substr(0, a.size() / 2) + text() : text();
    ASSERT_EQ(NaturalCompare(a, b), NaturalCompareByRuns(a, b)) << "'" << a << "' vs '" << b << "'";
  }
}

TEST(StrUtils, QuickSortOnOrdersAndOnNonsense) {
  std::mt19937 rng(11);
  auto byText = [](const std::string& a, const std::string& b) { return a.compare(b); };
  std::uniform_int_distribution<int> answer(-1, 1);
  auto randomAnswer = [&](const std::string&, const std::string&) { return answer(rng); };
  auto alwaysLess = [](const std::string&, const std::string&) { return -1; };
  auto alwaysGreater = [](const std::string&, const std::string&) { return 1; };
  for (int size : {0, 1, 2, 3, 257, 5000}) {
    for (int distinct : {1, 3, 1000000}) {  // all equal, many duplicates, mostly unique
      SCOPED_TRACE(::testing::Message() << size << " entries, " << distinct << " values");
      Texts list;
      for (int i = 0; i < size; ++i) list.push_back(std::to_string(rng() % distinct));
      Texts sorted = list;
      std::sort(sorted.begin(), sorted.end());
      QuickSortTexts(list, byText);
      EXPECT_EQ(list, sorted);
      // A comparison that is no order: indexes stay in range (ASan checks), nothing is lost.
      QuickSortTexts(list, randomAnswer);
      QuickSortTexts(list, alwaysLess);
      QuickSortTexts(list, alwaysGreater);
      std::sort(list.begin(), list.end());
      EXPECT_EQ(list, sorted);
    }
  }
  Texts reversed;  // the worst case of a badly chosen pivot
  for (int i = 0; i < 20000; ++i) reversed.push_back(std::to_string(200000 - i));
  Texts sorted(reversed.rbegin(), reversed.rend());
  QuickSortTexts(reversed, byText);
  EXPECT_EQ(reversed, sorted);
}

TEST(StrUtils, ReplaceAll) {
  // One pass without overlaps (three blanks become two); inserted text is not scanned again.
  struct Case {
    std::string text, oldPart, newPart, result;
  } cases[] = {
      {"a  b", "  ", " ", "a b"}, {"a   b", "  ", " ", "a  b"}, {"aaaa", "aa", "a", "aa"},
      {"ab", "a", "aa", "aab"},   {"abc", "", "x", "abc"},      {"", "x", "y", ""},
      {"xyx", "x", "", "y"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE("'" + c.text + "' '" + c.oldPart + "' -> '" + c.newPart + "'");
    EXPECT_EQ(ReplaceAll(c.text, c.oldPart, c.newPart), c.result);
  }
}

TEST(StrUtils, ElfHashAndGuids) {
  EXPECT_EQ(ElfHash(""), 0u);
  EXPECT_EQ(ElfHash("ab"), 0x672u);
  EXPECT_EQ(ElfHash("printf"), 0x077905A6u);
  EXPECT_EQ(ElfHash(std::string(20, '\xFF')), 4335u);  // bytes above 127 count as unsigned

  // H: upper-case hex digit; 4: the version; V: the variant (8, 9, A or B).
  const std::string shape = "HHHHHHHH-HHHH-4HHH-VHHH-HHHHHHHHHHHH";
  std::set<std::string> seen;
  for (int i = 0; i < 50; ++i) {
    const std::string guid = NewGuidText();
    ASSERT_EQ(guid.size(), shape.size());
    for (std::size_t k = 0; k < guid.size(); ++k) {
      const std::string allowed = shape[k] == 'H'   ? "0123456789ABCDEF"
                                  : shape[k] == 'V' ? "89AB"
                                                    : std::string(1, shape[k]);
      EXPECT_NE(allowed.find(guid[k]), std::string::npos) << guid << " at " << k;
    }
    seen.insert(guid);
    EXPECT_LT(GuidNumber(), 1u << 28);
  }
  EXPECT_EQ(seen.size(), 50u);
}

}  // namespace
}  // namespace pv
