#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <vector>

#include "vcard/Contact.h"

namespace pv {
namespace {

TEST(ContactTest, FreshContactHasItsDefaults) {
  TvContact c;
  EXPECT_EQ(vv30, c.vCardVersion);
  EXPECT_EQ(0, c.Emails.Count() + c.PhoneNumbers.Count() + c.Addresses.Count() +
                   c.SocialProfile.Count() + c.Categories.Count() + c.Note.Count());
  EXPECT_EQ(0, c.BirthDay + c.Updated + c.GeoLocation.Latitude + c.GeoLocation.Longitude);
  EXPECT_EQ(0, c.ScoreItem.RecordID);
  EXPECT_EQ(&c, c.Emails.GetOwner());
  const TvPhone& p = c.PhoneNumbers.Add();
  EXPECT_TRUE(p.PhoneType.Empty());
  EXPECT_EQ(ftHome, p.FieldType);
  EXPECT_EQ(ftHome, c.Addresses.Add().AddressType);
}

TEST(ContactTest, SetTextSplitsAtEveryKindOfLineBreak) {
  const std::pair<const char*, std::vector<std::string>> rows[] = {
      {"", {}},
      {"a\r\n", {"a"}},
      {"a\rb\nc\r\nd", {"a", "b", "c", "d"}},
      {"a\n\nb", {"a", "", "b"}},
      {"a\r\n\r\n", {"a", ""}},
      {"\n\r", {"", ""}},  // LF then CR: two breaks
  };
  for (const auto& [text, lines] : rows) {
    TvStrings s;
    s.Add("old");
    s.SetText(text);
    EXPECT_EQ(lines, s.Lines()) << testing::PrintToString(std::string(text));
  }
  TvStrings s;
  s.SetText("a\nb");
  EXPECT_EQ("a\r\nb\r\n", s.Text());
  EXPECT_THROW(s[2], std::out_of_range);
}

TEST(ContactTest, AssignMakesAnIndependentDeepCopy) {
  auto source = std::make_unique<TvContact>();
  source->FirstName = "Erika";
  source->ScoreItem = {4711, "2024.15.03.14.30.05"};
  source->Emails.Add().EmailAddress = "a@example.com";
  source->PhoneNumbers.Add().PhoneType = {ptMain};
  source->Addresses.Add().MailingLabel.SetText("Hauptstr. 1\n70173 Stuttgart");
  source->Categories.Add("Kunden");
  source->GeoLocation.Latitude = 48.7758;
  source->SocialProfile.Add().User = "erika";
  TvContact copy;
  copy.Emails.Add();
  copy.Emails.Add();
  copy.Assign(*source);
  EXPECT_EQ("Erika", copy.FirstName);
  EXPECT_EQ("2024.15.03.14.30.05", copy.ScoreItem.ChangeStamp);
  ASSERT_EQ(1, copy.Emails.Count());
  EXPECT_EQ(&copy, copy.Emails.GetOwner());

  copy.Emails[0].EmailAddress = "x";
  copy.Categories[0] = "x";
  copy.GeoLocation.Latitude = 1;
  copy.SocialProfile[0].User = "x";
  copy.Addresses[0].MailingLabel[1] = "x";
  EXPECT_EQ("a@example.com", source->Emails[0].EmailAddress);
  EXPECT_EQ("Kunden", source->Categories[0]);
  EXPECT_EQ(48.7758, source->GeoLocation.Latitude);
  EXPECT_EQ("erika", source->SocialProfile[0].User);
  EXPECT_EQ("70173 Stuttgart", source->Addresses[0].MailingLabel[1]);

  TvContact other;
  other.PhoneNumbers = source->PhoneNumbers;  // writing a list copies its contents
  source.reset();
  EXPECT_EQ((TvPhoneTypes{ptMain}), copy.PhoneNumbers[0].PhoneType);
  EXPECT_EQ(0x100, other.PhoneNumbers[0].PhoneType.Bits());  // ptMain is bit 8
}

TEST(ContactTest, AssignFromAnotherClassOrItselfChangesNothing) {
  TvContact c;
  c.FirstName = "Erika";
  c.Emails.Add().EmailAddress = "keep";
  c.Assign(static_cast<const TvPersistent&>(c.GeoLocation));
  c.Emails.Assign(static_cast<const TvPersistent&>(c.PhoneNumbers));
  c.Emails[0].Assign(static_cast<const TvPersistent&>(c));
  c.Assign(c);
  c.Emails.Assign(c.Emails);
  EXPECT_EQ("Erika", c.FirstName);
  ASSERT_EQ(1, c.Emails.Count());
  EXPECT_EQ("keep", c.Emails[0].EmailAddress);
}

TEST(ContactTest, ItemsKeepTheirAddressWhileTheCollectionGrows) {
  TvContact c;
  TvEmail& first = c.Emails.Add();
  for (int i = 0; i < 1000; ++i) c.Emails.Add();
  EXPECT_EQ(&first, &c.Emails[0]);
  EXPECT_THROW(c.Emails.Items(1001), std::out_of_range);
  EXPECT_THROW(c.Emails.Items(-1), std::out_of_range);
}

}  // namespace
}  // namespace pv
