// TCSVReader: a fast reader of comma-separated records over one in-memory copy of the data.
// Fields are (start, length) pairs into that copy; text is copied only when a field is asked for.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "export/MappedFile.h"

namespace pv {

class TCSVReader {
 public:
  // Takes a copy of the stream's bytes from its position to its end (the stream is left at its
  // end and not owned). delimiter 0 means the list separator, ",". The reader starts before the
  // first record: call First.
  TCSVReader(TMMF& stream, char delimiter);
  // The same over bytes that need no stream (copied; the caller may drop them afterwards).
  TCSVReader(std::string_view bytes, char delimiter);

  // Starts again at the first record and reads it (as Next).
  void First();

  // Reads the next record. Records end at CR; the character after the CR (the LF) is skipped.
  // Inside a field that begins with a double quote, delimiters and CRs belong to the field and a
  // doubled quote stands for one. Reaching the end of the data inside a quoted field sets Eof
  // without a record (a further Next parses the same broken record again). A last line without
  // line break is delivered with Eof already set. Raises pv::Exception "Try to read past eof"
  // when called again after that last record.
  void Next();

  // True when no record is current.
  bool Eof() const { return eof_; }
  int FieldCount() const { return fieldCount_; }
  // Zero-based number of the current record; -1 before the first.
  int RecordIndex() const { return recordIndex_; }
  char Delimiter() const { return delimiter_; }
  char QuoteChar() const { return kQuote; }

  // Field i of the current record, its quotes removed and doubled quotes made single. An empty
  // text for any i outside 0 .. FieldCount() - 1.
  std::string Field(int i) const;

 private:
  static constexpr char kQuote = '"';
  static constexpr char kRecordSeparator = '\r';
  static constexpr std::size_t kRecordSeparatorLength = 2;  // CR and the character after it
  static constexpr std::size_t kInitialFields = 100;

  struct FieldRef {
    std::size_t start = 0;
    std::size_t length = 0;
  };

  void Reset();
  void StoreField(std::size_t start, std::size_t end);
  // Steps over a quoted part that starts at pos (the opening quote); false at the end of the data.
  bool SkipQuoted(std::size_t& pos) const;

  // The data, then CR, then NUL, allocated to the exact size so that no read can pass the NUL
  // unnoticed.
  std::unique_ptr<char[]> buffer_;
  std::size_t end_;  // index of the final NUL
  std::size_t position_ = 0;
  char delimiter_;
  bool lastRecord_ = false;
  bool eof_ = false;
  int fieldCount_ = 0;
  int recordIndex_ = -1;
  std::vector<FieldRef> fields_;
};

}  // namespace pv
