// The in-memory vCard contact: names, organisation, dates, and the owned lists that hang off it
// (e-mail addresses, telephone numbers, postal addresses, position, social profiles, free text).
// Plain storage with deep copies; every output rule lives in the writer.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "vcard/DateTime.h"

namespace pv {

class TAdvvCard;
class TvContact;

enum TvCardVersion : uint8_t { vvNone, vv21, vv30, vv40 };

enum TvPhoneType : uint8_t {
  ptText,
  ptVoice,
  ptFax,
  ptCell,
  ptVideo,
  ptPager,
  ptTextPhone,
  ptiPhone,
  ptMain
};

enum TvFieldType : uint8_t { ftHome, ftWork, ftOther, ftNone };

// A set of phone types in 16 bits, member n in bit n (ptMain is bit 8).
class TvPhoneTypes {
 public:
  constexpr TvPhoneTypes() = default;
  constexpr TvPhoneTypes(std::initializer_list<TvPhoneType> types) {
    for (TvPhoneType t : types) Include(t);
  }
  constexpr void Include(TvPhoneType t) { bits_ = static_cast<uint16_t>(bits_ | Bit(t)); }
  constexpr void Exclude(TvPhoneType t) { bits_ = static_cast<uint16_t>(bits_ & ~Bit(t)); }
  constexpr bool Contains(TvPhoneType t) const { return (bits_ & Bit(t)) != 0; }
  constexpr bool Empty() const { return bits_ == 0; }
  constexpr uint16_t Bits() const { return bits_; }
  friend constexpr bool operator==(TvPhoneTypes, TvPhoneTypes) = default;

 private:
  static constexpr uint16_t Bit(TvPhoneType t) { return t < 16 ? uint16_t(1u << t) : 0; }
  uint16_t bits_ = 0;
};

// Bookkeeping record of one exported address record; also the change ledger's entry.
struct TScoreItem {
  int32_t RecordID = 0;
  std::string ChangeStamp;  // "yyyy.dd.mm.hh.nn.ss"
  bool Seen = false;        // ledger use only
  void* Owner = nullptr;    // ledger use only: the export job, opaque here
};

// Root of the model's classes. Assign copies the source's contents when it is of the target's
// class (or derived from it) and does nothing otherwise; assigning an object to itself keeps it.
class TvPersistent {
 public:
  virtual ~TvPersistent() = default;
  virtual void Assign(const TvPersistent& source) = 0;

 protected:
  TvPersistent() = default;
  TvPersistent(const TvPersistent&) = default;
  TvPersistent& operator=(const TvPersistent&) = default;
};

// Lines of text (categories, a note, a mailing label). Copying copies the lines.
class TvStrings : public TvPersistent {
 public:
  // Replaces the lines by those of a whole text: CR LF, CR alone or LF alone ends a line; a final
  // line break gives no empty last line; an empty text gives no lines.
  void SetText(std::string_view text);
  // Every line followed by CR LF; empty when there are no lines.
  std::string Text() const;

  void Add(std::string line) { lines_.push_back(std::move(line)); }
  void Clear() { lines_.clear(); }
  int Count() const { return static_cast<int>(lines_.size()); }
  bool Empty() const { return lines_.empty(); }
  // Line i (0-based); std::out_of_range when there is none.
  const std::string& operator[](int i) const { return lines_.at(static_cast<size_t>(i)); }
  std::string& operator[](int i) { return lines_.at(static_cast<size_t>(i)); }
  const std::vector<std::string>& Lines() const { return lines_; }

  void Assign(const TvStrings& source) { lines_ = source.lines_; }
  void Assign(const TvPersistent& source) override;

 private:
  std::vector<std::string> lines_;
};

// Items of one class in the order added, each owned and kept at a fixed address, so that a
// reference from Add or Items stays valid while more items are added. Copying (operator= or
// Assign) replaces the items by copies of the source's and keeps the owner. Empty costs no heap.
template <class Item, class OwnerT>
class TvCollection : public TvPersistent {
 public:
  explicit TvCollection(OwnerT* owner) : owner_(owner) {}
  TvCollection(const TvCollection&) = delete;
  TvCollection& operator=(const TvCollection& source) {
    if (&source != this) Assign(source);
    return *this;
  }

  // Appends a new item with its defaults and returns it.
  Item& Add() { return *items_.emplace_back(std::make_unique<Item>()); }
  // Item i (0-based); std::out_of_range when there is none.
  Item& Items(int i) { return *items_.at(static_cast<size_t>(i)); }
  const Item& Items(int i) const { return *items_.at(static_cast<size_t>(i)); }
  Item& operator[](int i) { return Items(i); }
  const Item& operator[](int i) const { return Items(i); }
  int Count() const { return static_cast<int>(items_.size()); }
  void Clear() {
    items_.clear();
    spare_.clear();
  }
  // Keeps the first n items as they are and drops the rest, or adds items with their defaults up
  // to n: lets a caller that fills one object again and again reuse its items. Dropped items are
  // set aside, so that the items added later reuse their memory instead of new allocations.
  void Resize(int n) {
    if (n < 0) n = 0;
    while (Count() > n) {
      spare_.push_back(std::move(items_.back()));
      items_.pop_back();
    }
    while (Count() < n) {
      if (spare_.empty()) {
        Add();
        continue;
      }
      *spare_.back() = Item();  // back to its defaults; its strings keep their buffers
      items_.push_back(std::move(spare_.back()));
      spare_.pop_back();
    }
  }
  OwnerT* GetOwner() const { return owner_; }

  void Assign(const TvCollection& source) {
    if (&source == this) return;
    std::vector<std::unique_ptr<Item>> copy;
    copy.reserve(source.items_.size());
    for (const auto& item : source.items_) {
      copy.push_back(std::make_unique<Item>());
      copy.back()->Assign(*item);
    }
    items_.swap(copy);
  }
  void Assign(const TvPersistent& source) override {
    if (auto* s = dynamic_cast<const TvCollection*>(&source)) Assign(*s);
  }

 private:
  OwnerT* owner_;
  std::vector<std::unique_ptr<Item>> items_;
  std::vector<std::unique_ptr<Item>> spare_;  // dropped by Resize, for its next items
};

class TvEmail : public TvPersistent {
 public:
  std::string EmailAddress;
  TvFieldType EmailType = ftHome;
  bool Preferred = false;

  void Assign(const TvEmail& source) { *this = source; }
  void Assign(const TvPersistent& source) override;
};

class TvPhone : public TvPersistent {
 public:
  std::string PhoneNumber;
  TvPhoneTypes PhoneType;
  TvFieldType FieldType = ftHome;
  bool Preferred = false;

  void Assign(const TvPhone& source) { *this = source; }
  void Assign(const TvPersistent& source) override;
};

class TvAddress : public TvPersistent {
 public:
  std::string POBox;
  std::string Number;  // the extended-address component
  std::string Street;
  std::string City;
  std::string Region;
  std::string PostCode;
  std::string Country;
  TvFieldType AddressType = ftHome;
  TvStrings MailingLabel;  // one label line per entry
  bool Preferred = false;

  void Assign(const TvAddress& source) { *this = source; }
  void Assign(const TvPersistent& source) override;
};

// A position; unset while either coordinate is exactly 0.
class TvGeoLocation : public TvPersistent {
 public:
  double Latitude = 0;
  double Longitude = 0;

  void Assign(const TvGeoLocation& source) { *this = source; }
  void Assign(const TvPersistent& source) override;
};

class TvSocialItem : public TvPersistent {
 public:
  std::string URI;
  std::string Service;
  std::string User;

  void Assign(const TvSocialItem& source) { *this = source; }
  void Assign(const TvPersistent& source) override;
};

class TvEmailCollection final : public TvCollection<TvEmail, TvContact> {
 public:
  using TvCollection::TvCollection;
  using TvCollection::operator=;
};
class TvPhoneCollection final : public TvCollection<TvPhone, TvContact> {
 public:
  using TvCollection::TvCollection;
  using TvCollection::operator=;
};
class TvAddressCollection final : public TvCollection<TvAddress, TvContact> {
 public:
  using TvCollection::TvCollection;
  using TvCollection::operator=;
};
class TvSocialProfile final : public TvCollection<TvSocialItem, TvContact> {
 public:
  using TvCollection::TvCollection;
  using TvCollection::operator=;
};

// One contact. Text, number, date and enumeration members store values unchanged; the owned
// lists are members whose assignment copies contents. Not copyable (its lists know their owner):
// use Assign. Constructing one allocates nothing.
class TvContact : public TvPersistent {
 public:
  TvContact() = default;
  TvContact(const TvContact&) = delete;
  TvContact& operator=(const TvContact&) = delete;

  std::string ID;
  std::string FirstName;
  std::string LastName;
  std::string MiddleName;
  std::string NamePrefix;
  std::string NameSuffix;
  std::string FullName;
  std::string NickName;
  std::string Company;
  std::string JobTitle;
  TDateTime BirthDay = 0;  // 0 = unset
  std::string Profession;
  std::string WebsiteURL;
  TvEmailCollection Emails{this};
  TvPhoneCollection PhoneNumbers{this};
  TvAddressCollection Addresses{this};
  TvCardVersion vCardVersion = vv30;
  TvStrings Categories;
  TvGeoLocation GeoLocation;
  TvStrings Note;
  TDateTime Updated = 0;  // local time; 0 = unset
  std::string Source;
  std::string ProdID;  // not written: the card's own ProdID is
  TvSocialProfile SocialProfile{this};
  std::string SortString;
  std::string TimeZone;
  TScoreItem ScoreItem;

  // Copies every property, the lists item by item (deep).
  void Assign(const TvContact& source);
  void Assign(const TvPersistent& source) override;
};

class TvContactsCollection final : public TvCollection<TvContact, TAdvvCard> {
 public:
  using TvCollection::TvCollection;
  using TvCollection::operator=;
};

}  // namespace pv
