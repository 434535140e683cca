#include "hostlink/MessageData.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "files/AnsiText.h"
#include "files/ElfHash.h"
#include "files/Errors.h"

namespace pv {
namespace {

constexpr uint32_t kIndexBuckets = 50;
// Index entries are 32-bit stream positions; a message never grows past them.
constexpr int64_t kMaxIndexedPosition = std::numeric_limits<int32_t>::max();

void PutLE(TMemoryStream& s, uint64_t v, int bytes) {
  unsigned char b[8];
  for (int i = 0; i < bytes; ++i) b[i] = static_cast<unsigned char>(v >> (8 * i));
  s.Write(b, static_cast<size_t>(bytes));
}

// Reads a little-endian integer of the given width; false when fewer bytes remain.
bool GetLE(TMemoryStream& s, uint64_t& v, int bytes) {
  unsigned char b[8];
  if (s.Read(b, static_cast<size_t>(bytes)) != static_cast<size_t>(bytes)) return false;
  v = 0;
  for (int i = 0; i < bytes; ++i) v |= static_cast<uint64_t>(b[i]) << (8 * i);
  return true;
}

void PutUnits(TMemoryStream& s, std::u16string_view text) {
  std::string bytes(text.size() * 2, '\0');
  for (size_t i = 0; i < text.size(); ++i) {
    bytes[2 * i] = static_cast<char>(text[i] & 0xFF);
    bytes[2 * i + 1] = static_cast<char>(text[i] >> 8);
  }
  s.Write(bytes.data(), bytes.size());
}

// Reads byteCount bytes as UTF-16LE; an odd last byte is consumed but gives no unit.
// The caller has checked that the bytes are there.
std::u16string GetUnits(TMemoryStream& s, int64_t byteCount) {
  const size_t n = static_cast<size_t>(byteCount);
  std::string bytes(n, '\0');
  s.Read(bytes.data(), n);
  std::u16string text(n / 2, u'\0');
  for (size_t i = 0; i < text.size(); ++i) {
    text[i] = static_cast<char16_t>(static_cast<unsigned char>(bytes[2 * i]) |
                                    static_cast<unsigned char>(bytes[2 * i + 1]) << 8);
  }
  return text;
}

int64_t Remaining(const TMemoryStream& s) { return std::max<int64_t>(0, s.Size() - s.Position()); }

// Reads a value size and checks that the whole value lies inside the stream.
bool ReadValueSize(TMemoryStream& s, int64_t& size) {
  uint64_t raw = 0;
  if (!GetLE(s, raw, 8)) return false;
  size = static_cast<int64_t>(raw);
  return size >= 0 && size <= Remaining(s);
}

}  // namespace

// --- TMemoryStream ---

size_t TMemoryStream::Read(void* buffer, size_t count) {
  if (pos_ >= Size() || count == 0) return 0;
  const size_t n = std::min(count, static_cast<size_t>(Size() - pos_));
  std::memcpy(buffer, bytes_.data() + pos_, n);
  pos_ += static_cast<int64_t>(n);
  return n;
}

void TMemoryStream::Write(const void* buffer, size_t count) {
  if (count == 0) return;
  const size_t end = static_cast<size_t>(pos_) + count;
  if (end > bytes_.size()) bytes_.resize(end);
  std::memcpy(bytes_.data() + pos_, buffer, count);
  pos_ = static_cast<int64_t>(end);
}

void TMemoryStream::Clear() {
  bytes_.clear();
  pos_ = 0;
}

// --- TStringHash ---

TStringHash::TStringHash(uint32_t size) : buckets_(std::max<uint32_t>(size, 1)) {}

TStringHash::~TStringHash() { RemoveAll(); }

uint32_t TStringHash::HashKey(std::string_view key) const { return ElfHash(key); }

void TStringHash::Insert(std::string_view key, int32_t value) {
  auto& head = buckets_[HashKey(key) % buckets_.size()];
  auto item = std::make_unique<THashItem>();
  item->Key = key;
  item->Value = value;
  item->NextItem = std::move(head);
  head = std::move(item);
}

int32_t TStringHash::Lookup(std::string_view key) const {
  for (const THashItem* p = buckets_[HashKey(key) % buckets_.size()].get(); p;
       p = p->NextItem.get()) {
    if (p->Key == key) return p->Value;
  }
  return -1;
}

void TStringHash::RemoveAll() {
  // Unlinks one entry at a time: a long chain must not free itself recursively.
  for (auto& head : buckets_) {
    std::unique_ptr<THashItem> p = std::move(head);
    while (p) p = std::move(p->NextItem);
  }
}

// --- TStreamStorage ---

TStreamStorage::TStreamStorage() : index_(kIndexBuckets) {}

void TStreamStorage::AppendValueHeader(std::u16string_view name, int64_t valueSize) {
  const std::string key = WideToAnsi(name);
  if (index_.Lookup(key) >= 0) {
    throw Exception("Value with name \"" + key + "\" already exists");
  }
  const int64_t sizeField = stream_.Size() + 4 + 2 * static_cast<int64_t>(name.size());
  if (sizeField > kMaxIndexedPosition) throw Exception("Message data exceeds 2 GiB");
  stream_.Seek(stream_.Size());
  PutLE(stream_, static_cast<uint32_t>(2 * name.size()), 4);
  PutUnits(stream_, name);
  index_.Insert(key, static_cast<int32_t>(stream_.Position()));
  PutLE(stream_, static_cast<uint64_t>(valueSize), 8);
}

void TStreamStorage::FinishWrite() { indexedTo_ = stream_.Position(); }

void TStreamStorage::WriteBoolean(std::u16string_view name, bool value) {
  if (name.empty()) return;
  AppendValueHeader(name, 1);
  const unsigned char b = value ? 1 : 0;
  stream_.Write(&b, 1);
  FinishWrite();
}

void TStreamStorage::WriteInteger(std::u16string_view name, int32_t value) {
  if (name.empty()) return;
  AppendValueHeader(name, 4);
  PutLE(stream_, static_cast<uint32_t>(value), 4);
  FinishWrite();
}

void TStreamStorage::WriteWideString(std::u16string_view name, std::u16string_view value) {
  if (name.empty() || value.empty()) return;
  AppendValueHeader(name, 2 * static_cast<int64_t>(value.size()));
  PutUnits(stream_, value);
  FinishWrite();
}

bool TStreamStorage::LocateValue(std::u16string_view name, int64_t& valueSize) {
  valueSize = 0;
  const int32_t known = index_.Lookup(WideToAnsi(name));
  if (known >= 0) {
    stream_.Seek(known);
    if (ReadValueSize(stream_, valueSize)) return true;
    valueSize = 0;
    stream_.Seek(indexedTo_);
    return false;
  }

  stream_.Seek(indexedTo_);
  while (stream_.Position() < stream_.Size()) {
    // A malformed entry ends the scan at its start, so that a later scan stops there again.
    const int64_t entry = stream_.Position();
    const bool found = ScanEntry(name, valueSize);
    if (found) return true;
    if (stream_.Position() <= entry) break;
  }
  return false;
}

// Reads the entry at the position: indexes its name and, when it is the wanted one, stops at
// its value. Otherwise skips the value. A malformed entry leaves the position at its start.
bool TStreamStorage::ScanEntry(std::u16string_view name, int64_t& valueSize) {
  const int64_t entry = stream_.Position();
  auto malformed = [&] {
    stream_.Seek(entry);
    return false;
  };
  uint64_t rawLength = 0;
  if (!GetLE(stream_, rawLength, 4)) return malformed();
  const int64_t nameLength = static_cast<int32_t>(static_cast<uint32_t>(rawLength));
  if (nameLength < 0 || nameLength > Remaining(stream_)) return malformed();
  const std::u16string entryName = GetUnits(stream_, nameLength);
  if (stream_.Position() > kMaxIndexedPosition) return malformed();
  index_.Insert(WideToAnsi(entryName), static_cast<int32_t>(stream_.Position()));
  int64_t size = 0;
  if (!ReadValueSize(stream_, size)) return malformed();
  if (entryName == name) {
    valueSize = size;
    return true;
  }
  stream_.Seek(stream_.Position() + size);
  return false;
}

std::u16string TStreamStorage::ReadWideString(std::u16string_view name) {
  std::u16string result;
  int64_t size = 0;
  if (LocateValue(name, size)) {
    result = GetUnits(stream_, size);
  }
  indexedTo_ = std::max(indexedTo_, stream_.Position());
  return result;
}

// --- TInterfacedMessageObject / TMessageData ---

int32_t TInterfacedMessageObject::Release() {
  const int32_t left = refCount_.fetch_sub(1, std::memory_order_acq_rel) - 1;
  if (left == 0) delete this;
  return left;
}

MessageRef TMessageData::Create() {
  auto* message = new TMessageData();
  message->AfterConstruction();
  return MessageRef(message);
}

}  // namespace pv
