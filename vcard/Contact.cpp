#include "vcard/Contact.h"

#include "files/FileUtil.h"

namespace pv {

void TvStrings::SetText(std::string_view text) {
  // The existing strings are refilled, so that their memory is reused.
  size_t count = 0;
  ForEachLine(text, [&](std::string_view line) {
    if (count == lines_.size()) lines_.emplace_back();
    lines_[count++].assign(line);
  });
  lines_.resize(count);
}

std::string TvStrings::Text() const {
  size_t size = 0;
  for (const auto& line : lines_) size += line.size() + 2;
  std::string text;
  text.reserve(size);
  for (const auto& line : lines_) {
    text += line;
    text += "\r\n";
  }
  return text;
}

void TvStrings::Assign(const TvPersistent& source) {
  if (auto* s = dynamic_cast<const TvStrings*>(&source)) Assign(*s);
}

void TvEmail::Assign(const TvPersistent& source) {
  if (auto* s = dynamic_cast<const TvEmail*>(&source)) Assign(*s);
}

void TvPhone::Assign(const TvPersistent& source) {
  if (auto* s = dynamic_cast<const TvPhone*>(&source)) Assign(*s);
}

void TvAddress::Assign(const TvPersistent& source) {
  if (auto* s = dynamic_cast<const TvAddress*>(&source)) Assign(*s);
}

void TvGeoLocation::Assign(const TvPersistent& source) {
  if (auto* s = dynamic_cast<const TvGeoLocation*>(&source)) Assign(*s);
}

void TvSocialItem::Assign(const TvPersistent& source) {
  if (auto* s = dynamic_cast<const TvSocialItem*>(&source)) Assign(*s);
}

void TvContact::Assign(const TvContact& source) {
  if (&source == this) return;
  ID = source.ID;
  FirstName = source.FirstName;
  LastName = source.LastName;
  MiddleName = source.MiddleName;
  NamePrefix = source.NamePrefix;
  NameSuffix = source.NameSuffix;
  FullName = source.FullName;
  NickName = source.NickName;
  Company = source.Company;
  JobTitle = source.JobTitle;
  BirthDay = source.BirthDay;
  Profession = source.Profession;
  WebsiteURL = source.WebsiteURL;
  Emails.Assign(source.Emails);
  PhoneNumbers.Assign(source.PhoneNumbers);
  Addresses.Assign(source.Addresses);
  vCardVersion = source.vCardVersion;
  Categories.Assign(source.Categories);
  GeoLocation.Assign(source.GeoLocation);
  Note.Assign(source.Note);
  Updated = source.Updated;
  Source = source.Source;
  ProdID = source.ProdID;
  SocialProfile.Assign(source.SocialProfile);
  SortString = source.SortString;
  TimeZone = source.TimeZone;
  ScoreItem = source.ScoreItem;
}

void TvContact::Assign(const TvPersistent& source) {
  if (auto* s = dynamic_cast<const TvContact*>(&source)) Assign(*s);
}

}  // namespace pv
