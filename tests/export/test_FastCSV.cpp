// The mapped file stream and the CSV reader over it: record and quote rules, the end of the data,
// fields beyond a record, and garbage that must parse without reading out of bounds.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <random>
#include <string>

#include "export/FastCSV.h"
#include "export/MappedFile.h"
#include "files/Errors.h"
#include "tests/support/TempDir.h"

namespace pv {
namespace {

using namespace std::string_literals;

// Reads from the first record to Eof. Each step shows the fields in brackets, joined by '|', then
// RecordIndex; "$" marks the step where Eof was set.
std::string Trace(TCSVReader& reader) {
  std::string out;
  reader.First();
  for (int step = 0; step < 50; ++step, reader.Next()) {
    out += step > 0 ? " [" : "[";
    for (int i = 0; i < reader.FieldCount(); ++i) out += (i > 0 ? "|" : "") + reader.Field(i);
    out += "]" + std::to_string(reader.RecordIndex());
    if (reader.Eof()) return out + "$";
  }
  return out + "...";
}

TEST(CSVReader, RecordsFieldsAndQuotes) {
  struct Case {
    std::string name, data, trace;
  } cases[] = {
      {"quoted ledger line", "\"1\",\"x\"\r\n", "[1|x]0 []1$"},
      {"unquoted ledger line", "4711,2024.15.03.14.30.05\r\n", "[4711|2024.15.03.14.30.05]0 []1$"},
      {"last line without break comes with Eof", "1,x\r\n2,y", "[1|x]0 [2|y]1$"},
      {"no data", "", "[]0$"},
      {"empty lines have no fields", "a\r\n\r\nb\r\n", "[a]0 []1 [b]2 []3$"},
      {"empty fields", ",,\r\n", "[||]0 []1$"},
      {"delimiter and line break inside quotes", "\"a,b\",\"c\r\nd\"\r\n", "[a,b|c\r\nd]0 []1$"},
      {"doubled quotes", "\"a\"\"b\",\"\"\"\"\r\n", "[a\"b|\"]0 []1$"},
      {"empty quoted field", "\"\",x\r\n", "[|x]0 []1$"},
      {"quote inside an unquoted field", "ab\"c,d\r\n", "[ab\"c|d]0 []1$"},
      {"text after the closing quote", "\"a\"b,c\r\n", "[a\"|c]0 []1$"},
      {"only CR ends a record", "a\nb\n", "[a\nb\n]0$"},
      {"NUL bytes are ordinary data", "x\0y,z\r\n"s, "[x\0y|z]0 []1$"s},
      {"unterminated quote gives no record", "1,x\r\n2,\"open\r\n", "[1|x]0 []0$"},
      {"a lone quote", "\"", "[]-1$"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TCSVReader reader(c.data, ',');
    EXPECT_EQ(Trace(reader), c.trace);
  }
  TCSVReader semicolon("a;b,c\r\n", ';'), listSeparator("a;b,c\r\n", '\0');
  EXPECT_EQ(Trace(semicolon), "[a|b,c]0 []1$");
  EXPECT_EQ(Trace(listSeparator), "[a;b|c]0 []1$");
}

TEST(CSVReader, EndOfData) {
  for (const std::string data : {"\"1\",\"x\"\r\n", "1,x"}) {
    SCOPED_TRACE(data);
    TCSVReader reader(data, ',');
    Trace(reader);
    try {
      reader.Next();
      ADD_FAILURE() << "no error";
    } catch (const Exception& e) {
      EXPECT_STREQ(e.what(), "Try to read past eof");
    }
    reader.First();  // starts again
    EXPECT_EQ(reader.Field(1), "x");
  }
  // Eof inside an open quote: each further Next parses the broken record again, without an error.
  TCSVReader broken("1,\"abc\r\n", ',');
  broken.First();
  EXPECT_NO_THROW(broken.Next());
  EXPECT_TRUE(broken.Eof());
  EXPECT_EQ(broken.FieldCount(), 0);
}

TEST(CSVReader, FieldsBeyondTheRecordAreEmpty) {
  // A short line must not borrow the fields of a longer line before it.
  std::string wide;
  for (int i = 0; i < 250; ++i) wide += std::to_string(i) + ",";
  TCSVReader reader(wide + "\r\n5\r\n", ',');
  reader.First();
  ASSERT_EQ(reader.FieldCount(), 251);
  EXPECT_EQ(reader.Field(249), "249");
  reader.Next();
  EXPECT_EQ(reader.Field(0), "5");
  for (int i : {1, 249, -1, 100000}) EXPECT_EQ(reader.Field(i), "") << i;
}

// Reads data to the end, touching every field; must end without a crash or a stray read.
void ReadToTheEnd(const std::string& data, char delimiter) {
  TCSVReader reader(data, delimiter);
  std::size_t bytes = 0;
  for (reader.First(); !reader.Eof(); reader.Next()) {
    for (int i = 0; i < reader.FieldCount(); ++i) bytes += reader.Field(i).size();
  }
  EXPECT_LE(bytes, data.size());
}

TEST(CSVReader, GarbageParsesSafely) {
  std::mt19937 rng(2024);
  std::string random(10 * 1024 * 1024, '\0');
  for (char& c : random) c = static_cast<char>(rng());
  ReadToTheEnd(random, ',');
  // Mostly the characters that steer the parser, so that every path is taken many times.
  const std::string alphabet = "\"\",,\r\r\n\0a"s;
  std::uniform_int_distribution<std::size_t> pick(0, alphabet.size() - 1);
  for (int round = 0; round < 200; ++round) {
    std::string data(std::uniform_int_distribution<int>(0, 3000)(rng), '\0');
    for (char& c : data) c = alphabet[pick(rng)];
    ReadToTheEnd(data, ',');
    ReadToTheEnd(data, '"');  // a delimiter that is also the quote
  }
}

TEST(MappedFile, ReadsTheFileFromThePosition) {
  test::TempDir dir;
  const std::string name = dir / "calc.txt";
  test::WriteFile(name, "skip\r\n\"4711\",\"a\"\"b\"\r\n");
  TMMF stream(name);
  EXPECT_EQ(stream.Write("xx", 2), 0);
  char buffer[6];
  ASSERT_EQ(stream.Read(buffer, 6), 6);
  EXPECT_EQ(std::string(buffer, 6), "skip\r\n");
  TCSVReader reader(stream, ',');
  EXPECT_EQ(stream.Position(), stream.Size());
  EXPECT_EQ(stream.Read(buffer, 6), 0);
  reader.First();
  EXPECT_EQ(reader.Field(0), "4711");
  EXPECT_EQ(reader.Field(1), "a\"b");
  EXPECT_EQ(stream.Seek(-100, TSeekOrigin::Current), stream.Size());  // before the start: refused
}

TEST(MappedFile, UnusableFilesGiveAnEmptyStream) {
  test::TempDir dir;
  test::WriteFile(dir / "empty", "");
  test::WriteFile(dir / "locked", "\"1\",\"x\"\r\n");
  ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0600), 0);  // must not wait for a writer
  const int writer = ::open((dir / "locked").c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_EQ(::flock(writer, LOCK_EX | LOCK_NB), 0);
  for (const std::string& path :
       {dir / "missing", dir / "empty", dir.path(), dir / "fifo", dir / "locked"}) {
    SCOPED_TRACE(path);
    TMMF stream(path);
    EXPECT_EQ(stream.Size(), 0);
    EXPECT_EQ(stream.Memory(), nullptr);
    TCSVReader reader(stream, ',');
    reader.First();
    EXPECT_TRUE(reader.Eof());
  }
  ::flock(writer, LOCK_UN);
  {
    TMMF stream(dir / "locked");
    EXPECT_EQ(stream.Size(), 9);
    EXPECT_NE(::flock(writer, LOCK_EX | LOCK_NB), 0);  // a writer is kept out while it is mapped
  }
  EXPECT_EQ(::flock(writer, LOCK_EX | LOCK_NB), 0);
  ::close(writer);
}

}  // namespace
}  // namespace pv
