// The CSV reader over fuzz bytes. Every record it delivers is numbered one after the other, and
// the field values survive a round trip: written back with every field quoted (as the change
// ledger writes them) and read again, they come out the same.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "export/FastCSV.h"
#include "files/Errors.h"
#include "fuzz/FuzzUtil.h"

namespace {

using Records = std::vector<std::vector<std::string>>;

constexpr int kMaxRecords = 100000;

// All records the reader delivers, in order.
Records ReadAll(std::string_view bytes, char delimiter) {
  pv::TCSVReader reader(bytes, delimiter);
  Records records;
  int last = -1;
  reader.First();
  for (int i = 0; i < kMaxRecords; ++i) {
    if (reader.RecordIndex() != last) {
      FUZZ_CHECK(reader.RecordIndex() == last + 1);
      last = reader.RecordIndex();
      FUZZ_CHECK(reader.FieldCount() >= 0);
      FUZZ_CHECK(reader.Field(-1).empty() && reader.Field(reader.FieldCount()).empty());
      auto& fields = records.emplace_back();
      for (int f = 0; f < reader.FieldCount(); ++f) fields.push_back(reader.Field(f));
    }
    if (reader.Eof()) break;
    reader.Next();
  }
  if (!reader.Eof()) return records;
  // Past the end: either "Try to read past eof", or the same broken record again, without one.
  try {
    reader.Next();
    FUZZ_CHECK(reader.Eof() && reader.RecordIndex() == last);
  } catch (const pv::Exception&) {
  }
  return records;
}

std::string Quoted(const std::string& field) {
  std::string out = "\"";
  for (char c : field) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + "\"";
}

// Records joined by CR LF: the reader delivers a last line without line break as a record too.
std::string Write(const Records& records, char delimiter) {
  std::string out;
  for (size_t r = 0; r < records.size(); ++r) {
    const auto& fields = records[r];
    if (r > 0) out += "\r\n";
    for (size_t f = 0; f < fields.size(); ++f) {
      if (f > 0) out += delimiter;
      out += Quoted(fields[f]);
    }
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  // The first byte picks the delimiter: 0 (the list separator), ',', ';', TAB or any other byte
  // that cannot be confused with the quote or the record end.
  char delimiter = static_cast<char>(data[0]);
  if (delimiter == '"' || delimiter == '\r') delimiter = ',';
  const std::string_view bytes(reinterpret_cast<const char*>(data) + 1, size - 1);

  const Records records = ReadAll(bytes, delimiter);
  const char effective = delimiter == '\0' ? ',' : delimiter;
  // (No records at all: the data began with an open quote; an empty text reads as an empty line.)
  if (!records.empty()) FUZZ_CHECK(ReadAll(Write(records, effective), delimiter) == records);
  // Reading from the start again gives the same records.
  pv::TCSVReader again(bytes, delimiter);
  again.First();
  if (!records.empty() && again.RecordIndex() == 0) {
    FUZZ_CHECK(again.FieldCount() == static_cast<int>(records[0].size()));
  }
  return 0;
}
