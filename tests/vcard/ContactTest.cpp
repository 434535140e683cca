#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <vector>

#include "vcard/Contact.h"

namespace pv {
namespace {

// A contact with every property set and two items in each list.
void Fill(TvContact& c) {
  c.ID = "id";
  c.FirstName = "Erika";
  c.LastName = "Muster";
  c.FullName = "Erika Muster";
  c.Company = "ACME";
  c.BirthDay = 25599;
  c.vCardVersion = vv21;
  c.Updated = 46363.25;
  c.SortString = "Muster";
  c.ScoreItem = {4711, "2024.15.03.14.30.05", true, &c};
  for (const char* a : {"a@example.com", "b@example.com"}) {
    auto& e = c.Emails.Add();
    e.EmailAddress = a;
    e.EmailType = ftWork;
  }
  auto& p = c.PhoneNumbers.Add();
  p.PhoneNumber = "07111234567";
  p.PhoneType = {ptVoice, ptMain};
  auto& a = c.Addresses.Add();
  a.Street = "Hauptstr. 1";
  a.MailingLabel.SetText("Hauptstr. 1\r\n70173 Stuttgart");
  c.Categories.SetText("Kunden\r\nLieferanten");
  c.Note.Add("note");
  c.GeoLocation.Latitude = 48.7758;
  c.GeoLocation.Longitude = 9.1829;
  auto& s = c.SocialProfile.Add();
  s.URI = "https://example.com/erika";
  s.Service = "example";
  s.User = "erika";
}

TEST(ContactTest, FreshContactHasItsDefaults) {
  TvContact c;
  EXPECT_EQ(vv30, c.vCardVersion);
  EXPECT_EQ(0, c.Emails.Count());
  EXPECT_EQ(0, c.PhoneNumbers.Count());
  EXPECT_EQ(0, c.Addresses.Count());
  EXPECT_EQ(0, c.SocialProfile.Count());
  EXPECT_TRUE(c.Categories.Empty());
  EXPECT_TRUE(c.Note.Empty());
  EXPECT_EQ(0, c.BirthDay);
  EXPECT_EQ(0, c.Updated);
  EXPECT_EQ(0, c.GeoLocation.Latitude);
  EXPECT_EQ(0, c.GeoLocation.Longitude);
  EXPECT_EQ(0, c.ScoreItem.RecordID);
  EXPECT_EQ("", c.ScoreItem.ChangeStamp);
  EXPECT_FALSE(c.ScoreItem.Seen);
  EXPECT_EQ(nullptr, c.ScoreItem.Owner);
  EXPECT_EQ(&c, c.Emails.GetOwner());
  EXPECT_EQ(&c, c.SocialProfile.GetOwner());

  const TvPhone& p = c.PhoneNumbers.Add();
  EXPECT_TRUE(p.PhoneType.Empty());
  EXPECT_EQ(ftHome, p.FieldType);
  EXPECT_EQ(ftHome, c.Emails.Add().EmailType);
  EXPECT_EQ(ftHome, c.Addresses.Add().AddressType);
}

TEST(ContactTest, SetTextSplitsAtEveryKindOfLineBreak) {
  const struct {
    const char* text;
    std::vector<std::string> lines;
  } rows[] = {
      {"", {}},
      {"a", {"a"}},
      {"a\r\n", {"a"}},
      {"a\r\nb", {"a", "b"}},
      {"a\rb\nc\r\nd", {"a", "b", "c", "d"}},
      {"a\n\nb", {"a", "", "b"}},
      {"\r\n", {""}},
      {"a\r\n\r\n", {"a", ""}},
      {"\n\r", {"", ""}},  // LF then CR: two breaks, not one
      {" a \t", {" a \t"}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(testing::PrintToString(std::string(row.text)));
    TvStrings s;
    s.Add("old");
    s.SetText(row.text);
    EXPECT_EQ(row.lines, s.Lines());
  }
}

TEST(ContactTest, TextEndsEveryLineWithCrLf) {
  TvStrings s;
  EXPECT_EQ("", s.Text());
  s.SetText("a\nb");
  s.Add("");
  EXPECT_EQ("a\r\nb\r\n\r\n", s.Text());
  EXPECT_EQ(3, s.Count());
  EXPECT_EQ("b", s[1]);
  EXPECT_THROW(s[3], std::out_of_range);
}

TEST(ContactTest, AssignMakesAnIndependentDeepCopy) {
  auto source = std::make_unique<TvContact>();
  Fill(*source);
  TvContact copy;
  copy.Emails.Add().EmailAddress = "replaced@example.com";
  copy.Assign(*source);

  EXPECT_EQ("Erika", copy.FirstName);
  EXPECT_EQ(vv21, copy.vCardVersion);
  EXPECT_EQ(46363.25, copy.Updated);
  EXPECT_EQ(4711, copy.ScoreItem.RecordID);
  EXPECT_EQ("2024.15.03.14.30.05", copy.ScoreItem.ChangeStamp);
  ASSERT_EQ(2, copy.Emails.Count());
  EXPECT_EQ("a@example.com", copy.Emails[0].EmailAddress);
  EXPECT_EQ(ftWork, copy.Emails[1].EmailType);
  EXPECT_EQ((TvPhoneTypes{ptVoice, ptMain}), copy.PhoneNumbers[0].PhoneType);
  EXPECT_EQ(2, copy.Addresses[0].MailingLabel.Count());
  EXPECT_EQ(&copy, copy.Emails.GetOwner());  // the owner is not copied

  // Changes to the copy stay in the copy.
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

  // And the copy outlives its source.
  source.reset();
  EXPECT_EQ("https://example.com/erika", copy.SocialProfile[0].URI);
}

TEST(ContactTest, AssignFromAnotherClassChangesNothing) {
  TvContact c;
  Fill(c);
  TvEmail email;
  email.EmailAddress = "keep@example.com";
  const TvPersistent& contactAsBase = c;
  email.Assign(contactAsBase);
  EXPECT_EQ("keep@example.com", email.EmailAddress);

  TvPhone phone;
  phone.PhoneNumber = "0711";
  phone.Assign(static_cast<const TvPersistent&>(email));
  EXPECT_EQ("0711", phone.PhoneNumber);

  c.Emails.Assign(static_cast<const TvPersistent&>(c.PhoneNumbers));
  EXPECT_EQ(2, c.Emails.Count());
  c.Assign(static_cast<const TvPersistent&>(c.GeoLocation));
  EXPECT_EQ("Erika", c.FirstName);
}

TEST(ContactTest, AssignToItselfKeepsEverything) {
  TvContact c;
  Fill(c);
  c.Assign(c);
  c.Emails = c.Emails;
  c.Categories.Assign(c.Categories);
  EXPECT_EQ(2, c.Emails.Count());
  EXPECT_EQ("b@example.com", c.Emails[1].EmailAddress);
  EXPECT_EQ(2, c.Categories.Count());
}

TEST(ContactTest, WritingAListCopiesItsContents) {
  TvContact target;
  {
    TvContact other;
    Fill(other);
    target.PhoneNumbers = other.PhoneNumbers;
    target.GeoLocation = other.GeoLocation;
    target.Categories = other.Categories;
  }
  ASSERT_EQ(1, target.PhoneNumbers.Count());
  EXPECT_EQ("07111234567", target.PhoneNumbers[0].PhoneNumber);
  EXPECT_EQ(&target, target.PhoneNumbers.GetOwner());
  EXPECT_EQ(9.1829, target.GeoLocation.Longitude);
  EXPECT_EQ("Lieferanten", target.Categories[1]);
}

TEST(ContactTest, ItemsKeepTheirAddressWhileTheCollectionGrows) {
  TvContact c;
  TvEmail& first = c.Emails.Add();
  first.EmailAddress = "first";
  for (int i = 0; i < 1000; ++i) c.Emails.Add();
  EXPECT_EQ(&first, &c.Emails[0]);
  EXPECT_EQ("first", first.EmailAddress);
  EXPECT_EQ(1001, c.Emails.Count());
  EXPECT_THROW(c.Emails.Items(1001), std::out_of_range);
  EXPECT_THROW(c.Emails.Items(-1), std::out_of_range);
}

TEST(ContactTest, PhoneTypeSetUsesOneBitPerMember) {
  TvPhoneTypes t{ptMain};
  EXPECT_EQ(0x100, t.Bits());  // outside the low byte
  t.Include(ptText);
  t.Include(ptiPhone);
  EXPECT_EQ(0x181, t.Bits());
  t.Exclude(ptMain);
  EXPECT_FALSE(t.Contains(ptMain));
  EXPECT_TRUE(t.Contains(ptiPhone));
  EXPECT_EQ(2u, sizeof(TvPhoneTypes));
}

}  // namespace
}  // namespace pv
