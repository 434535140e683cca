#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "files/Errors.h"
#include "hostlink/MessageData.h"

namespace pv {
namespace {

std::string Bytes(const TStreamStorage& s) {
  return std::string(s.Stream().Memory(), static_cast<size_t>(s.Stream().Size()));
}

std::string Hex(std::initializer_list<int> bytes) {
  std::string out;
  for (int b : bytes) out += static_cast<char>(b);
  return out;
}

// One encoded value with raw fields, for building received data by hand.
std::string Entry(int32_t nameLength, const std::string& name, int64_t size,
                  const std::string& value) {
  std::string out;
  for (int i = 0; i < 4; ++i)
    out += static_cast<char>(static_cast<uint32_t>(nameLength) >> (8 * i));
  out += name;
  for (int i = 0; i < 8; ++i) out += static_cast<char>(static_cast<uint64_t>(size) >> (8 * i));
  return out + value;
}

std::string Utf16(const std::string& ascii) {
  std::string out;
  for (char c : ascii) out += std::string{c, '\0'};
  return out;
}

MessageRef Received(const std::string& bytes) {
  MessageRef m = TMessageData::Create();
  m->GetData().Stream().Write(bytes.data(), bytes.size());
  m->GetData().Stream().Seek(0);
  return m;
}

TEST(MessageData, DbPathRequestEncodesToTheKnown85Bytes) {
  MessageRef m = TMessageData::Create();
  TStreamStorage& s = m->GetData();
  s.WriteWideString(u"COMMAND", u"DBPATH");
  s.WriteInteger(u"INDEX", -1);
  s.WriteWideString(u"DATA", u"");  // an empty string is never stored
  s.WriteBoolean(u"SYNC", true);

  const std::string expected =
      Hex({0x0e, 0, 0, 0}) + Utf16("COMMAND") + Hex({0x0c, 0, 0, 0, 0, 0, 0, 0}) + Utf16("DBPATH") +
      Hex({0x0a, 0, 0, 0}) + Utf16("INDEX") + Hex({4, 0, 0, 0, 0, 0, 0, 0}) +
      Hex({0xff, 0xff, 0xff, 0xff}) + Hex({8, 0, 0, 0}) + Utf16("SYNC") +
      Hex({1, 0, 0, 0, 0, 0, 0, 0}) + Hex({1});
  ASSERT_EQ(85u, expected.size());
  EXPECT_EQ(expected, Bytes(s));
  EXPECT_EQ(85, s.IndexedTo());
  EXPECT_EQ(u"DBPATH", s.ReadWideString(u"COMMAND"));
}

TEST(MessageData, EmptyNamesWriteNothing) {
  MessageRef m = TMessageData::Create();
  TStreamStorage& s = m->GetData();
  s.WriteBoolean(u"", true);
  s.WriteInteger(u"", 1);
  s.WriteWideString(u"", u"x");
  EXPECT_EQ(0, s.Stream().Size());
  EXPECT_EQ(u"", s.ReadWideString(u"DATA"));
}

TEST(MessageData, DuplicateNameIsRefusedAndNothingIsWritten) {
  MessageRef m = TMessageData::Create();
  TStreamStorage& s = m->GetData();
  s.WriteInteger(u"INDEX", -1);
  const std::string before = Bytes(s);
  try {
    s.WriteInteger(u"INDEX", 2);
    FAIL() << "no exception";
  } catch (const Exception& e) {
    EXPECT_STREQ("Value with name \"INDEX\" already exists", e.what());
  }
  EXPECT_THROW(s.WriteWideString(u"INDEX", u"x"), Exception);
  EXPECT_EQ(before, Bytes(s));
}

TEST(MessageData, LookupIndexesOnTheWayAndResumesWhereItStopped) {
  MessageRef m =
      Received(Entry(10, Utf16("INDEX"), 4, Hex({1, 0, 0, 0})) +
               Entry(8, Utf16("DATA"), 4, Utf16("ok")) + Entry(6, Utf16("TAG"), 2, Utf16("t")));
  TStreamStorage& s = m->GetData();
  const int64_t dataEnd = 26 + 24;
  EXPECT_EQ(u"ok", s.ReadWideString(u"DATA"));
  EXPECT_EQ(dataEnd, s.IndexedTo());
  // INDEX was passed and indexed: its four bytes read as two code units.
  EXPECT_EQ(std::u16string({1, 0}), s.ReadWideString(u"INDEX"));
  EXPECT_EQ(dataEnd, s.IndexedTo());
  EXPECT_EQ(u"", s.ReadWideString(u"MISSING"));
  EXPECT_EQ(s.Stream().Size(), s.IndexedTo());
  EXPECT_EQ(u"t", s.ReadWideString(u"TAG"));
  EXPECT_EQ(u"", s.ReadWideString(u"data")) << "names compare case-sensitively";
}

TEST(MessageData, MalformedReceivedDataEndsTheScanAsNotFound) {
  const std::string good = Entry(10, Utf16("INDEX"), 4, Hex({1, 0, 0, 0}));
  const std::string data = Utf16("DATA");
  struct Row {
    const char* what;
    std::string bytes;
  } rows[] = {
      {"negative name length", good + Entry(-8, data, 2, "ab")},
      {"name past the end", good + Entry(4000, data, 2, "ab")},
      {"negative value size", good + Entry(8, data, -2, "ab")},
      {"value past the end", good + Entry(8, data, 1LL << 40, "ab")},
      {"value one byte short", good + Entry(8, data, 3, "ab")},
      {"size field cut off", good + Entry(8, data, 2, "").substr(0, 26 + 4 + 8 + 5)},
      {"name length cut off", good + "\x08\x00"},
      {"huge name length", good + Entry(0x7fffffff, data, 2, "ab")},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    MessageRef m = Received(row.bytes);
    TStreamStorage& s = m->GetData();
    EXPECT_EQ(u"", s.ReadWideString(u"DATA"));
    // The scan stops at the broken entry; the sound one before it stays readable.
    EXPECT_EQ(26, s.IndexedTo());
    EXPECT_EQ(std::u16string({1, 0}), s.ReadWideString(u"INDEX"));
    EXPECT_EQ(u"", s.ReadWideString(u"DATA"));
    EXPECT_EQ(u"", s.ReadWideString(u"OTHER"));
  }
}

TEST(MessageData, OddSizesKeepWholeCodeUnits) {
  // Odd name length: the last byte is consumed; odd value size: the last byte is dropped.
  MessageRef m = Received(Entry(9, Utf16("DATA") + "x", 5, Utf16("ab") + "c") +
                          Entry(6, Utf16("TAG"), 2, Utf16("t")));
  TStreamStorage& s = m->GetData();
  EXPECT_EQ(u"ab", s.ReadWideString(u"DATA"));
  EXPECT_EQ(u"t", s.ReadWideString(u"TAG"));
}

TEST(MessageData, EmptyNameInReceivedDataIsPassedOver) {
  MessageRef m = Received(Entry(0, "", 2, "zz") + Entry(8, Utf16("DATA"), 2, Utf16("d")));
  EXPECT_EQ(u"d", m->GetData().ReadWideString(u"DATA"));
}

// Keys whose ELF hashes fall in the same of 3 buckets.
class ProbeHash : public TStringHash {
 public:
  ProbeHash() : TStringHash(3) {}
  uint32_t Hash(std::string_view key) const { return HashKey(key); }
};

TEST(StringHash, ElfHashValues) {
  ProbeHash h;
  EXPECT_EQ(0u, h.Hash(""));
  EXPECT_EQ(0x41u, h.Hash("A"));
  EXPECT_EQ(0x452u, h.Hash("AB"));
  // Nine bytes push bits into the top nibble, which is folded back and cleared.
  EXPECT_EQ(0x0789eea9u, h.Hash("ABCDEFGHI"));
  EXPECT_EQ(0u, h.Hash("ABCDEFGHIJKLMNOP") & 0xF0000000u);
}

TEST(StringHash, CollisionsAndDuplicatesAndRemoveAll) {
  ProbeHash h;
  std::vector<std::string> same;
  for (char c = 'a'; same.size() < 4; ++c) {
    if (h.Hash(std::string(1, c)) % 3 == h.Hash("a") % 3) same.push_back(std::string(1, c));
  }
  for (size_t i = 0; i < same.size(); ++i) h.Insert(same[i], static_cast<int32_t>(i));
  for (size_t i = 0; i < same.size(); ++i) EXPECT_EQ(static_cast<int32_t>(i), h.Lookup(same[i]));
  h.Insert("a", 99);
  EXPECT_EQ(99, h.Lookup("a"));
  EXPECT_EQ(-1, h.Lookup("A"));
  h.RemoveAll();
  EXPECT_EQ(-1, h.Lookup("a"));
  h.Insert("a", 1);
  EXPECT_EQ(1, h.Lookup("a"));
}

TEST(StringHash, LongChainIsFreedWithoutDeepRecursion) {
  TStringHash h(1);
  for (int i = 0; i < 300000; ++i) h.Insert("", i);
  EXPECT_EQ(299999, h.Lookup(""));
}

TEST(MessageData, ReferencesFromManyThreads) {
  MessageRef m = TMessageData::Create();
  auto* object = static_cast<TMessageData*>(m.get());
  EXPECT_EQ(1, object->RefCount());
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([m] {
      for (int i = 0; i < 10000; ++i) {
        MessageRef copy = m;
        copy->AddRef();
        copy->Release();
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(1, object->RefCount());
}

}  // namespace
}  // namespace pv
