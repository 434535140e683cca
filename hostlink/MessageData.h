// Host messages: an 8-bit message ID and named values kept in their wire encoding in one growing
// byte stream, the lazy name index over that stream, and the string hash table behind the index.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace pv {

// A growing in-memory byte stream with a current position.
class TMemoryStream {
 public:
  int64_t Size() const { return static_cast<int64_t>(bytes_.size()); }
  int64_t Position() const { return pos_; }
  // Moves to pos (negative counts as 0; past the end is allowed, a read there gives nothing).
  void Seek(int64_t pos) { pos_ = pos < 0 ? 0 : pos; }
  // Copies up to count bytes from the position on and advances; returns how many it copied.
  size_t Read(void* buffer, size_t count);
  // Writes count bytes at the position, growing the stream as needed, and advances.
  void Write(const void* buffer, size_t count);
  const char* Memory() const { return bytes_.data(); }
  void Clear();

 private:
  std::string bytes_;
  int64_t pos_ = 0;
};

// One entry of a hash chain.
struct THashItem {
  std::unique_ptr<THashItem> NextItem;
  std::string Key;
  int32_t Value = 0;
};

// Maps 8-bit keys to 32-bit integers through a fixed number of chained buckets.
class TStringHash {
 public:
  explicit TStringHash(uint32_t size = 256);
  virtual ~TStringHash();
  TStringHash(const TStringHash&) = delete;
  TStringHash& operator=(const TStringHash&) = delete;

  // Adds the pair at the head of its chain without looking for the key, so the newest entry for
  // a key is the one Lookup finds.
  void Insert(std::string_view key, int32_t value);
  // The value of the newest entry whose key equals key byte for byte; -1 when there is none.
  int32_t Lookup(std::string_view key) const;
  void RemoveAll();
  uint32_t BucketCount() const { return static_cast<uint32_t>(buckets_.size()); }

 protected:
  // ELF hash over the key's bytes (the bucket is this value modulo the bucket count).
  virtual uint32_t HashKey(std::string_view key) const;

 private:
  std::vector<std::unique_ptr<THashItem>> buckets_;
};

// The encoded values of one message, their lazy name index and how far the index reaches.
// Wire form of one value: name length (int32 LE, bytes), name (UTF-16LE), value size (int64 LE),
// value bytes. Boolean: 1 byte; integer: 4 bytes LE; wide string: UTF-16LE, no terminator.
class TStreamStorage {
 public:
  TStreamStorage();

  // Append one value. An empty name writes nothing; WriteWideString also writes nothing for an
  // empty value. A name whose 8-bit form is already indexed raises pv::Exception
  // "Value with name "<name>" already exists" and writes nothing.
  void WriteBoolean(std::u16string_view name, bool value);
  void WriteInteger(std::u16string_view name, int32_t value);
  void WriteWideString(std::u16string_view name, std::u16string_view value);

  // The wide-string value under name; empty when the name is missing or the data around it is
  // malformed. Names passed on the way are indexed; the scan resumes where the last one stopped.
  std::u16string ReadWideString(std::u16string_view name);

  // Finds the value under name. True: valueSize holds its size and the stream stands at its first
  // byte, with the whole value inside the stream. False when the name is missing, or when a name
  // length or value size on the way is negative or runs past the end of the stream.
  bool LocateValue(std::u16string_view name, int64_t& valueSize);
  // Appends the name length, the name and the value size, and indexes the name (raises as the
  // writes above). The caller writes the value bytes next.
  void AppendValueHeader(std::u16string_view name, int64_t valueSize);

  // Every value that begins before this position has its name in the index. Only grows.
  int64_t IndexedTo() const { return indexedTo_; }
  // The encoded bytes: copied out from position 0 to send, appended to on receipt.
  TMemoryStream& Stream() { return stream_; }
  const TMemoryStream& Stream() const { return stream_; }

 private:
  void FinishWrite();
  bool ScanEntry(std::u16string_view name, int64_t& valueSize);

  int64_t indexedTo_ = 0;
  TMemoryStream stream_;
  TStringHash index_;
};

// Base of reference-counted message objects. The count changes atomically; the object deletes
// itself when it drops to 0. It is 1 while the constructor runs, so references taken and dropped
// there cannot free the object early; AfterConstruction brings it back to 0.
class TInterfacedMessageObject {
 public:
  int32_t AddRef() { return refCount_.fetch_add(1, std::memory_order_relaxed) + 1; }
  int32_t Release();
  int32_t RefCount() const { return refCount_.load(std::memory_order_relaxed); }

 protected:
  TInterfacedMessageObject() = default;
  virtual ~TInterfacedMessageObject() = default;
  void AfterConstruction() { refCount_.fetch_sub(1, std::memory_order_release); }

 private:
  std::atomic<int32_t> refCount_{1};
};

// A host message: an 8-bit message ID and its values. Reference counted; hold it in a MessageRef.
class IMessageData {
 public:
  virtual int32_t AddRef() = 0;
  virtual int32_t Release() = 0;
  virtual std::string GetID() const = 0;
  virtual TStreamStorage& GetData() = 0;
  virtual void SetID(const std::string& id) = 0;

 protected:
  virtual ~IMessageData() = default;
};

// Owning reference to a reference-counted object (AddRef on copy, Release on drop).
template <class T>
class RefPtr {
 public:
  RefPtr() = default;
  RefPtr(std::nullptr_t) {}
  // Takes a new reference to p.
  explicit RefPtr(T* p) : p_(p) {
    if (p_) p_->AddRef();
  }
  RefPtr(const RefPtr& o) : RefPtr(o.p_) {}
  RefPtr(RefPtr&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
  RefPtr& operator=(RefPtr o) noexcept {
    std::swap(p_, o.p_);
    return *this;
  }
  ~RefPtr() {
    if (p_) p_->Release();
  }
  T* get() const { return p_; }
  T* operator->() const { return p_; }
  T& operator*() const { return *p_; }
  explicit operator bool() const { return p_ != nullptr; }

 private:
  T* p_ = nullptr;
};

using MessageRef = RefPtr<IMessageData>;

// The message object: an ID (empty at first) and an owned, initially empty storage.
class TMessageData final : public TInterfacedMessageObject, public IMessageData {
 public:
  // A new empty message; the returned reference is the only one.
  static MessageRef Create();

  int32_t AddRef() override { return TInterfacedMessageObject::AddRef(); }
  int32_t Release() override { return TInterfacedMessageObject::Release(); }
  std::string GetID() const override { return id_; }
  TStreamStorage& GetData() override { return data_; }
  void SetID(const std::string& id) override { id_ = id; }

 private:
  TMessageData() = default;
  ~TMessageData() override = default;

  std::string id_;
  TStreamStorage data_;
};

}  // namespace pv
