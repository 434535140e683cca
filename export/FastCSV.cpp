#include "export/FastCSV.h"

#include <cstring>

#include "files/Errors.h"

namespace pv {

namespace {

constexpr char kListSeparator = ',';  // stands for delimiter 0
constexpr const char* kReadPastEof = "Try to read past eof";

}  // namespace

TCSVReader::TCSVReader(std::string_view bytes, char delimiter)
    : buffer_(new char[bytes.size() + 2]),
      end_(bytes.size() + 1),
      delimiter_(delimiter == '\0' ? kListSeparator : delimiter),
      fields_(kInitialFields) {
  if (!bytes.empty()) std::memcpy(buffer_.get(), bytes.data(), bytes.size());
  buffer_[end_ - 1] = kRecordSeparator;
  buffer_[end_] = '\0';
  Reset();
}

TCSVReader::TCSVReader(TMMF& stream, char delimiter) : TCSVReader(stream.Remaining(), delimiter) {
  stream.Seek(0, TSeekOrigin::End);
}

void TCSVReader::Reset() {
  position_ = 0;
  lastRecord_ = false;
  eof_ = false;
  fieldCount_ = 0;
  recordIndex_ = -1;
}

void TCSVReader::First() {
  Reset();
  Next();
}

void TCSVReader::StoreField(std::size_t start, std::size_t end) {
  if (static_cast<std::size_t>(fieldCount_) == fields_.size()) fields_.resize(fields_.size() * 2);
  fields_[static_cast<std::size_t>(fieldCount_)] = FieldRef{start, end - start};
  ++fieldCount_;
}

bool TCSVReader::SkipQuoted(std::size_t& pos) const {
  const char* b = buffer_.get();
  ++pos;
  for (;;) {
    const void* quote = std::memchr(b + pos, kQuote, end_ - pos);
    if (quote == nullptr) {
      pos = end_;
      return false;
    }
    pos = static_cast<std::size_t>(static_cast<const char*>(quote) - b) + 1;
    if (b[pos] != kQuote) return true;  // b[end_] is NUL, so b[pos] is always readable
    ++pos;                              // a doubled quote stands for one
  }
}

void TCSVReader::Next() {
  fieldCount_ = 0;
  if (lastRecord_) throw Exception(kReadPastEof);
  eof_ = false;
  const char* b = buffer_.get();
  std::size_t pos = position_;
  std::size_t fieldStart = pos;
  // Running into the final NUL (only possible at the very start or inside quotes: the appended
  // CR comes first otherwise) delivers no record.
  const auto hitEnd = [this] {
    fieldCount_ = 0;
    eof_ = true;
  };
  if (pos == end_ || (b[pos] == kQuote && !SkipQuoted(pos))) return hitEnd();
  for (;;) {
    const char c = b[pos];
    if (c == kRecordSeparator) break;
    ++pos;
    if (c == delimiter_) {
      StoreField(fieldStart, pos - 1);
      fieldStart = pos;
      if (b[pos] == kQuote && !SkipQuoted(pos)) return hitEnd();
    }
  }
  if (pos != position_) StoreField(fieldStart, pos);  // an empty line has no field
  if (pos + 1 == end_) {
    lastRecord_ = true;
    eof_ = true;
  } else {
    position_ = pos + kRecordSeparatorLength;
  }
  ++recordIndex_;
}

std::string TCSVReader::Field(int i) const {
  if (i < 0 || i >= fieldCount_) return {};
  const FieldRef& f = fields_[static_cast<std::size_t>(i)];
  if (f.length == 0) return {};
  const char* s = buffer_.get() + f.start;
  if (s[0] != kQuote) return std::string(s, f.length);
  std::string text;
  if (f.length < 2) return text;
  const std::size_t last = f.length - 1;  // the closing quote's place
  // Without a quote inside, the usual case, the text between the quotes is the field.
  if (last == 1 || std::memchr(s + 1, kQuote, last - 1) == nullptr) {
    return std::string(s + 1, last - 1);
  }
  text.reserve(last - 1);
  for (std::size_t k = 1; k < last; ++k) {
    text.push_back(s[k]);
    if (s[k] == kQuote && k + 1 < last && s[k + 1] == kQuote) ++k;
  }
  return text;
}

}  // namespace pv
