#include <gtest/gtest.h>

#include <optional>
#include <random>

#include "files/AnsiText.h"
#include "settings/FastIniFile.h"
#include "tests/support/TempDir.h"

namespace pv {
namespace {

using test::TempDir;

// An object on a file holding text, already loaded.
struct LoadedIni {
  TempDir dir;
  TFastIniFile ini;
  explicit LoadedIni(const std::string& text) : ini(dir / "t.ini") {
    test::WriteFile(dir / "t.ini", text);
    ini.LoadFile();
  }
  std::string Written() { return ini.IniItems().SaveToStream(); }
};

TEST(FastIniFile, IntegerAndBooleanValues) {
  struct Case {
    const char* stored;
    std::optional<std::int32_t> value;  // nullopt: the default
  } cases[] = {
      // clang-format off
      {"42", 42}, {"-7", -7}, {"+5", 5}, {"0", 0}, {"0x1F", 31}, {"0X1f", 31}, {"$ff", 255},
      {"$FFFFFFFF", -1}, {"-$10", -16}, {"  0x10  ", 16}, {"5 ; five", 5},
      {"2147483647", INT32_MAX}, {"-2147483648", INT32_MIN}, {"2147483648", {}},
      {"0x100000000", {}}, {"12abc", {}}, {"true", {}}, {"", {}}, {"0x", {}}, {"$", {}},
      {"- 5", {}}, {"1e3", {}},
      // clang-format on
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.stored);
    LoadedIni f(std::string("[S]\r\nk=") + c.stored + "\r\n");
    EXPECT_EQ(f.ini.GetInteger("S", "k", -99), c.value.value_or(-99));
    for (bool def : {false, true})
      EXPECT_EQ(f.ini.GetBool("S", "k", def), c.value ? *c.value != 0 : def);
  }
}

TEST(FastIniFile, StringValuesLoseBlanksAndCommentsButKeepQuotes) {
  struct Case {
    const char* line;
    const char* value;
    const char* unquoted;  // with StripQuotes
  } cases[] = {
      {"  k  =  v  ", "v", "v"},
      {"k=word ;comment", "word", "word"},
      {"k=;comment", "", ""},
      {"k==v", "=v", "=v"},
      {"k=\"a;b\" ;c", "\"a;b\"", "a;b"},
      {"k=\"a;b", "\"a;b", "\"a;b"},  // unbalanced: the rest counts as quoted
      {"k=a\"b;c\"d;x", "a\"b;c\"d", "a\"b;c\"d"},
      {"k='x'", "'x'", "x"},
      {"k=\"x'", "\"x'", "\"x'"},
      {"k=\"", "\"", "\""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    LoadedIni f(std::string("[S]\r\n") + c.line + "\r\n");
    EXPECT_EQ(f.ini.GetString("S", "k", "-"), c.value);
    f.ini.StripQuotes = true;
    EXPECT_EQ(f.ini.GetString("S", "k", "-"), c.unquoted);
  }
}

TEST(FastIniFile, NamesIgnoreCaseLaterSectionAndFirstKeyWin) {
  LoadedIni f("[\xC4mter]\r\nk=1\r\nk=2\r\n[B]\r\n[\xE4MTER]\r\nK=3\r\nk=4\r\n[]\r\n=5\r\n");
  EXPECT_EQ(f.ini.GetString("\xC4mter", " k ", "-"), "3");
  EXPECT_EQ(f.ini.GetString("", "", "-"), "-");
  f.ini.PutString("\xE4mter", "k", "6");
  EXPECT_EQ(f.Written(),
            "[\xC4mter]\r\nk=1\r\nk=2\r\n[B]\r\n[\xE4MTER]\r\nK=6\r\nk=4\r\n[]\r\n=5\r\n");
}

TEST(FastIniFile, OnlyLinesASearchPassedAreRewritten) {
  LoadedIni f("; head\n[A]\r\n  a  =  1  \r  plain\r\nb=2\n\n[B]\r\n  x  =  y  \r\n\tjunk\r\n");
  f.ini.PutString("A", "b", "3");
  EXPECT_EQ(f.Written(),
            "; head\r\n[A]\r\na=1\r\nplain\r\nb=3\r\n\r\n[B]\r\n  x  =  y  \r\n\tjunk\r\n");
}

TEST(FastIniFile, CommentKeepsItsColumn) {
  struct Case {
    const char* stored;
    const char* value;
    const char* written;
  } cases[] = {
      {"word   ; note", "ab", "ab     ; note"},
      {"word   ; note", "abcdefg", "abcdefg; note"},
      {"word   ; note", "abcdefgh", "abcdefgh ; note"},
      {"; only", "x", "x ; only"},
      {"word   ; note", "word", "word   ; note"},  // the same value: no change
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.value);
    LoadedIni f(std::string("[S]\r\nk=") + c.stored + "\r\n");
    f.ini.PutString("S", "k", c.value);
    EXPECT_EQ(f.Written(), std::string("[S]\r\nk=") + c.written + "\r\n");
    EXPECT_EQ(f.ini.Modified(), std::string(c.stored) != c.written);
  }
  LoadedIni f("[S]\r\nk=v ;" + std::string(400, 'c') + "\r\n");  // comments are cut at 255
  f.ini.PutString("S", "k", "w");
  EXPECT_EQ(f.ini.IniItems().Line(1).Value, "w ;" + std::string(254, 'c'));
}

// A value reads back as put; a kept comment must not turn into quoted text of the new value.
TEST(FastIniFile, CommentAfterAValueWithAnOpenQuoteIsDropped) {
  struct Case {
    const char* stored;
    const char* value;
    const char* written;
  } cases[] = {
      {"word   ;comment", "a\"", "a\""},
      {"word   ;comment", "\"", "\""},
      {"word   ;comment", "x\"y\"z\"", "x\"y\"z\""},
      {"\"q;q\" ;c", "a\"b", "a\"b"},
      {"; only", "\"open", "\"open"},
      {"word   ;comment", "\"a\"", "\"a\"    ;comment"},  // balanced quotes keep the comment
      {"word   ;comment", "a\"\"b", "a\"\"b   ;comment"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.stored) + " <- " + c.value);
    LoadedIni f(std::string("[S]\r\nk=") + c.stored + "\r\n");
    f.ini.PutString("S", "k", c.value);
    EXPECT_EQ(f.ini.GetString("S", "k", "-"), c.value);
    EXPECT_EQ(f.Written(), std::string("[S]\r\nk=") + c.written + "\r\n");
    f.ini.UpdateFile();
    TFastIniFile reloaded(f.dir / "t.ini");
    EXPECT_EQ(reloaded.GetString("S", "k", "-"), c.value);
  }
}

TEST(FastIniFile, NewSectionsAndKeysGoWhereAReaderExpectsThem) {
  struct Case {
    const char* before;
    const char* section;
    const char* after;
  } cases[] = {
      {"", "S", "[S]\r\nk=v\r\n"},
      {"[A]\r\nx=1", "S", "[A]\r\nx=1\r\n\r\n[S]\r\nk=v\r\n"},
      {"[A]\r\nx=1\r\n\r\n", "S", "[A]\r\nx=1\r\n\r\n[S]\r\nk=v\r\n"},
      {"[A]\r\nx=1\r\n; tail\r\n\r\n[B]\r\n", "A", "[A]\r\nx=1\r\nk=v\r\n; tail\r\n\r\n[B]\r\n"},
      {"[A]\r\n; c\r\n[B]\r\n", "A", "[A]\r\nk=v\r\n; c\r\n[B]\r\n"},
      {"[A]\r\nx=1\r\nno equals\r\n;c\r\n", "a", "[A]\r\nx=1\r\nno equals\r\nk=v\r\n;c\r\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.before);
    LoadedIni f(c.before);
    f.ini.PutString(c.section, "  k ", "v");
    EXPECT_EQ(f.Written(), c.after);
  }
  LoadedIni f("[A]\r\nx=1\r\n");
  f.ini.PutString("", "k", "v");
  f.ini.PutString("A", "x", "1");
  EXPECT_FALSE(f.ini.Modified());
}

// Every kind of write to a key that does not exist yet reaches the file, even one whose text is
// empty, and writing the same value again changes nothing.
TEST(FastIniFile, WriteToANewKeyIsSaved) {
  using Put = void (*)(TFastIniFile&);
  struct Case {
    const char* name;
    Put put;
    const char* line;
  } cases[] = {
      {"empty string", [](TFastIniFile& i) { i.PutString("A", "new", ""); }, "new="},
      {"string", [](TFastIniFile& i) { i.PutString("A", "new", "v"); }, "new=v"},
      {"integer", [](TFastIniFile& i) { i.PutInteger("A", "new", 0); }, "new=0"},
      {"bool", [](TFastIniFile& i) { i.PutBool("A", "new", false); }, "new=0"},
  };
  for (const char* before : {"", "[A]\r\nx=1\r\n", "[a]\r\n"}) {
    for (const auto& c : cases) {
      SCOPED_TRACE(std::string(c.name) + " into \"" + before + "\"");
      TempDir dir;
      const std::string file = dir / "t.ini";
      if (*before != 0) test::WriteFile(file, before);
      {
        TFastIniFile ini(file);
        c.put(ini);
        EXPECT_TRUE(ini.Modified());
        ini.UpdateFile();
        c.put(ini);
        EXPECT_FALSE(ini.Modified());
      }
      EXPECT_NE(test::ReadFile(file).find(std::string("\r\n") + c.line + "\r\n"),
                std::string::npos);
      TFastIniFile reloaded(file);
      EXPECT_EQ(reloaded.GetString("A", "new", "missing"), std::string(c.line).substr(4));
    }
  }
}

TEST(FastIniFile, DamagedLinesKeepTheirMeaningWhenWrittenBack) {
  // Empty keys come back unchanged; a line that trimming would turn into a header or a comment
  // keeps its blanks, and so does a key that begins with ";" or "[".
  LoadedIni f("[S]\r\n = x \r\n=\r\n[\r\n]\r\n  [T]\r\n  ;c\r\n  [k=v]\r\n  ;x=1\r\n");
  EXPECT_EQ(f.ini.GetString("S", "[k", "-"), "v]");
  f.ini.PutString("S", "n", "1");
  const std::string written = f.Written();
  EXPECT_EQ(written, "[S]\r\n = x \r\n=\r\n[\r\n]\r\n  [T]\r\n  ;c\r\n [k=v]\r\n ;x=1\r\nn=1\r\n");
  TIniItems again;
  again.LoadFromStream(written);
  EXPECT_EQ(again.Statistics().Sections, 1);
  EXPECT_EQ(again.Statistics().Comments, 0);
  EXPECT_THROW(f.ini.PutString("S", "n", "1\r\n[B]"), Exception);
  EXPECT_THROW(f.ini.PutString("S", "n=", "1"), Exception);
  try {
    f.ini.IniItems().Line(10);
    ADD_FAILURE() << "no exception";
  } catch (const EStringListError& e) {
    EXPECT_STREQ(e.what(),
                 "Der Index der Liste \xFC"
                 "berschreitet das Maximum (10)");
  }
}

// Three sections of 300 to 700 keys (enough for the key index to switch on by itself), with
// blanks, comments, plain lines and keys repeated in another letter case; A runs straight into
// the next header.
std::string BigIniText() {
  std::string text = "; big\r\n";
  for (auto [name, keys] : {std::pair{"A", 300}, {"Big", 700}, {"Z", 300}}) {
    text += std::string("[") + name + "]\r\n";
    for (int i = 0; i < keys; ++i) {
      if (i % 37 == 0) text += "; comment\r\nplain line\r\n";
      text += (i % 3 ? "key" : "  Key") + std::to_string(i % (keys - 40)) + (i % 5 ? "=" : " = ") +
              name + std::to_string(i) + "\r\n";
    }
    if (name[0] != 'A') text += "\r\n";
  }
  return text;
}

TEST(FastIniFile, KeyIndexFindsWhatTheLinearSearchFinds) {
  const std::string text = BigIniText();
  TIniItems indexed, linear;
  indexed.LoadFromStream(text);
  linear.LoadFromStream(text);
  ASSERT_TRUE(indexed.KeyIndexMode());
  linear.SetKeyIndexMode(false);

  const char* sections[] = {"A", "big", "Z", "New1", "NEW2"};
  std::mt19937 random(4711);
  auto pick = [&](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };
  for (int op = 0; op < 4000; ++op) {
    const std::string section = sections[pick(5)];
    std::string key = (pick(4) ? "key" : "fresh") + std::to_string(pick(700));
    if (pick(2)) key = AnsiUpperCase(key);
    SCOPED_TRACE(section + "/" + key);
    TSectionItem* si = indexed.FindSection(section, pick(10) == 0);
    TSectionItem* sl = linear.FindSection(section, si != nullptr);
    ASSERT_EQ(si == nullptr, sl == nullptr);
    if (si == nullptr) continue;
    int at = indexed.FindKey(si, key);
    ASSERT_EQ(at, linear.FindKey(sl, key));
    if (at < 0 && pick(3) == 0) {
      at = indexed.AddKey(si, key);
      ASSERT_EQ(at, linear.AddKey(sl, key));
    }
    if (at >= 0) {
      indexed.SetValue(at, std::to_string(op));
      linear.SetValue(at, std::to_string(op));
    }
  }
  // Let the linear search pass every line too; then both must write the same file.
  for (const char* s : sections) {
    linear.FindKey(linear.FindSection(s, false), "no such key");
    indexed.FindKey(indexed.FindSection(s, false), "no such key");
  }
  EXPECT_EQ(indexed.SaveToStream(), linear.SaveToStream());
}

}  // namespace
}  // namespace pv
