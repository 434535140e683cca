#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "tests/support/TempDir.h"
#include "tests/vcard/TzScope.h"
#include "vcard/TextEncoding.h"
#include "vcard/VCard.h"

namespace pv {
namespace {

TDateTime At(int y, int m, int d, int h = 0, int n = 0, int s = 0) {
  TDateTime v = 0;
  EXPECT_TRUE(TryEncodeDateTime(y, m, d, h, n, s, 0, v));
  return v;
}

// 05:30:05 in Berlin is 04:30:05 UTC.
TDateTime FixedSaveTime() { return At(2026, 12, 7, 5, 30, 5); }

// The lines of a text whose lines end with CR LF; a final CR LF gives an empty last entry.
std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2) {
    lines.push_back(text.substr(start, end - start));
  }
  lines.push_back(text.substr(start));
  return lines;
}

// Compares with a file under tests/vcard/data byte for byte; PV_UPDATE_GOLDEN=1 rewrites it.
void ExpectGolden(const std::string& name, const std::string& actual) {
  const std::string path = PV_SOURCE_DIR "/tests/vcard/data/" + name;
  if (std::getenv("PV_UPDATE_GOLDEN") != nullptr) test::WriteFile(path, actual);
  const auto want = SplitLines(test::ReadFile(path));
  const auto got = SplitLines(actual);
  for (size_t i = 0; i < std::max(want.size(), got.size()); ++i) {
    const std::string w = i < want.size() ? want[i] : "<end of file>";
    const std::string g = i < got.size() ? got[i] : "<end of file>";
    ASSERT_EQ(w, g) << name << ": first difference in line " << i + 1;
  }
}

TvAddress& Adr(TvContact& c, TvFieldType type = ftWork) {
  TvAddress& a = c.Addresses.Add();
  a.AddressType = type;
  return a;
}

TvPhone& Tel(TvContact& c, TvFieldType field, TvPhoneTypes types, bool pref = false) {
  TvPhone& p = c.PhoneNumbers.Add();
  p.PhoneNumber = "0711";
  p.FieldType = field;
  p.PhoneType = types;
  p.Preferred = pref;
  return p;
}

TvEmail& Mail(TvContact& c, std::string address, TvFieldType type = ftWork, bool pref = false) {
  TvEmail& e = c.Emails.Add();
  e.EmailAddress = std::move(address);
  e.EmailType = type;
  e.Preferred = pref;
  return e;
}

void Social(TvContact& c, const std::string& service, const std::string& user,
            const std::string& uri) {
  TvSocialItem& s = c.SocialProfile.Add();
  s.Service = service;
  s.User = user;
  s.URI = uri;
}

void Geo(TvContact& c, double lat, double lon) {
  c.GeoLocation.Latitude = lat;
  c.GeoLocation.Longitude = lon;
}

// The contact as the export job fills it.
void FillTypical(TvContact& c) {
  c.vCardVersion = vv40;
  c.ScoreItem = {17, "2024.15.03.14.30.05"};
  c.Categories.SetText("Kunden");
  c.FirstName = "J\xFCrgen";
  c.LastName = "M\xFCller";
  c.Company = "Beispiel GmbH";
  TvAddress& a = Adr(c);
  a.Street =
      "Hauptstra\xDF"
      "e 1";
  a.City = "Stuttgart";
  a.PostCode = "70173";
  Tel(c, ftWork, {}).PhoneNumber = "07111234567";
  Mail(c, "j.mueller@example.com");
}

void FillEverything(TvContact& c, TvCardVersion version) {
  c.vCardVersion = version;
  c.ID = "4711-0815";
  c.FirstName = "J\xF6rg";
  c.LastName = "M\xFCller";
  c.MiddleName = "Peter";
  c.NamePrefix = "Dr.";
  c.NameSuffix = "jun.";
  c.FullName = "Dr. J\xF6rg Peter M\xFCller, jun.";
  c.NickName = "J\xF6rgi";
  c.Company = "Beispiel GmbH, Stuttgart";
  c.JobTitle = "Leiter Vertrieb";
  c.BirthDay = At(1970, 1, 31);
  c.Profession = "Kaufmann";
  c.WebsiteURL = "https://example.com/~jm?a=1,2";
  Mail(c, "j.mueller@example.com", ftWork, true);
  Mail(c, "joerg@example.org", ftHome);
  Tel(c, ftWork, {ptVoice}, true).PhoneNumber = "07111234567";
  Tel(c, ftHome, {ptCell, ptText}).PhoneNumber = "01701234567";
  Tel(c, ftNone, {ptFax, ptMain}).PhoneNumber = "0711999888";
  TvAddress& a = Adr(c);
  a.POBox = "Postfach 10 20 30";
  a.Number = "Geb\xE4ude B";
  a.Street = "Hauptstr. 1";
  a.City = "Stuttgart";
  a.Region = "BW";
  a.PostCode = "70173";
  a.Country = "Deutschland";
  a.Preferred = true;
  a.MailingLabel.SetText("Hauptstr. 1\r\n70173 Stuttgart");
  Adr(c, ftHome).Street = "Gartenweg 5";
  c.Categories.SetText("Kunden\r\nLieferanten");
  Geo(c, 48.7758, 9.1829);
  c.Note.SetText(
      "Erster Kontakt 2019\r\nR\xFC"
      "ckruf = erw\xFCnscht");
  c.Updated = At(2026, 7, 12, 5, 30, 5);
  c.Source = "Parvela";
  c.ProdID = "not written";
  Social(c, "example", "jmueller", "https://social.example/jmueller");
  c.SortString = "Mueller";
  c.TimeZone = "Europe/Berlin";
}

class VCardTest : public testing::Test {
 protected:
  VCardTest() : tz_(test::kBerlinTz) {
    card.ProdID = "Parvela";
    card.Clock = FixedSaveTime;
    card.BeginStream();
  }

  test::TzScope tz_;
  TAdvvCard card;
};

TEST_F(VCardTest, TypicalContactsMatchTheGoldenFiles) {
  FillTypical(card.vContacts.Add());
  TvContact& bare = card.vContacts.Add();  // an e-mail and the empty work address
  bare.vCardVersion = vv40;
  bare.LastName = "Nord";
  Adr(bare);
  Mail(bare, "info@example.com");
  std::string stream;
  card.SaveToStream(stream, false);
  EXPECT_EQ(2, card.WrittenCount());
  ExpectGolden("typical_40_utf8.vcf", stream);
  card.SaveToStream(stream, true);
  ExpectGolden("typical_40_ansi.vcf", stream);
}

TEST_F(VCardTest, ContactWithEveryPropertyMatchesTheGoldenFiles) {
  for (const auto& [version, file] : {std::pair{vv21, "every_property_21.vcf"},
                                      {vv30, "every_property_30.vcf"},
                                      {vv40, "every_property_40.vcf"},
                                      {vvNone, "every_property_none.vcf"}}) {
    card.vContacts.Clear();
    FillEverything(card.vContacts.Add(), version);
    std::string stream;
    card.SaveToStream(stream, false);
    ExpectGolden(file, stream);
  }
}

// A line the card must hold, or "-NAME": the card has no NAME line.
struct LineRow {
  TvCardVersion version;
  std::function<void(TvContact&)> setup;
  std::string line;
};

TEST_F(VCardTest, LinesByVersion) {
  using C = TvContact&;
  const double inf = HUGE_VAL;
  // clang-format off
  const LineRow rows[] = {
      // Structured components escape their separators, from 3.0 on.
      {vv30, [](C c) { c.LastName = "a;b,c\\d\r\ne"; }, R"(N:a\;b\,c\\d\ne;;;;)"},
      {vv40, [](C c) { c.NameSuffix = "x\ry"; }, R"(N:;;;;x\ny)"},
      {vv21, [](C c) { c.LastName = "a;b,c\\"; }, R"(N:a;b,c\;;;;)"},
      {vv40, [](C c) { Adr(c).Street = "Hof 3; B, Nord\\\n"; }, R"(ADR;TYPE=WORK:;;Hof 3\; B\, Nord\\\n;;;;)"},
      {vv21, [](C c) { Adr(c, ftHome).Street = "Hof 3; B"; }, "ADR;HOME:;;Hof 3; B;;;;"},
      {vvNone, [](C c) { Adr(c, ftOther).City = "A"; }, "ADR;TYPE=OTHER:;;;A;;;"},
      {vv40, [](C c) { Adr(c, ftNone).City = "A"; }, "ADR:;;;A;;;"},
      // Single values: commas where the property asks for it, backslashes and breaks from 3.0 on.
      {vv21, [](C c) { c.FullName = "Meier, Anna"; }, R"(FN:Meier\, Anna)"},
      {vv40, [](C c) { c.FullName = "a\\b\r\nc, d"; }, R"(FN:a\\b\nc\, d)"},
      {vv30, [](C c) { c.FullName = "   "; }, "FN: "},
      {vv30, [](C c) { c.FullName = " Anna"; }, "FN: Anna"},
      {vv40, [](C c) { c.LastName = "Muster, Dr."; }, R"(FN: Muster\, Dr.)"},
      {vv40, [](C c) { c.Company = "A,B;C"; }, R"(ORG:A\,B\;C)"},
      {vv21, [](C c) { c.Company = "A,B;C"; }, R"(ORG:A\,B;C)"},
      {vv30, [](C c) { c.JobTitle = "x,y\\z"; }, R"(TITLE:x\,y\\z)"},
      {vvNone, [](C c) { c.Profession = "a,b\nc"; }, R"(ROLE:a\,b\nc)"},
      {vv40, [](C c) { c.Source = "a,b"; }, R"(SOURCE:a\,b)"},
      {vv40, [](C c) { c.ID = "a\nb;c,d"; }, R"(UID:a\nb;c,d)"},
      {vv30, [](C c) { c.NickName = "Bo\\b"; }, R"(NICKNAME:Bo\\b)"},
      {vv21, [](C c) { c.NickName = "Bo\\b"; }, R"(NICKNAME:Bo\b)"},
      {vv30, [](C c) { c.TimeZone = "a\nb"; }, R"(TZ:a\nb)"},
      {vv30, [](C c) { c.WebsiteURL = "http://x/a\\b,c\r\nd"; }, R"(URL;WORK:http://x/a\b,c%0D%0Ad)"},
      {vv30, [](C c) { Tel(c, ftHome, {}).PhoneNumber = "0711\n1"; }, R"(TEL;TYPE=HOME:0711\n1)"},
      {vv40, [](C c) { Mail(c, "a\\b@x", ftHome); }, R"(EMAIL;TYPE=INTERNET;TYPE=HOME:a\\b@x)"},
      {vv21, [](C c) { Mail(c, "a@x", ftOther, true); }, "EMAIL;INTERNET;PREF;OTHER:a@x"},
      // Lines of text.
      {vv30, [](C c) { c.Note.SetText("a\\b\r\nc"); }, R"(NOTE:a\\b\nc\n)"},
      {vv40, [](C c) { c.Note.Add("in\nline"); }, R"(NOTE:in\nline\n)"},
      {vv40, [](C c) { c.Note.Add(""); }, R"(NOTE:\n)"},
      {vv21, [](C c) { c.Note.SetText("a\r\nb=c"); }, "NOTE;ENCODING=QUOTED-PRINTABLE:a=0D=0Ab=3Dc=0D=0A"},
      {vv40, [](C c) { Adr(c).MailingLabel.Add("Hauptstr. 1"); }, R"(ADR;TYPE=WORK;LABEL="Hauptstr. 1\n":;;;;;;)"},
      {vv40, [](C c) { Adr(c).MailingLabel.SetText("Firma \"Nord\"\nC:\\P;F"); }, R"(ADR;TYPE=WORK;LABEL="Firma 'Nord'\nC:\\P;F\n":;;;;;;)"},
      {vv40, [](C c) { Adr(c).MailingLabel.Add("x\ny"); }, R"(ADR;TYPE=WORK;LABEL="x\ny\n":;;;;;;)"},
      {vv30, [](C c) { Adr(c).MailingLabel.SetText("H 1\n7 S"); }, "LABEL;ENCODING=QUOTED-PRINTABLE:H 1=0D=0A7 S=0D=0A"},
      {vv30, [](C c) { Adr(c); }, "-LABEL"},
      // Categories: a comma list with escaped entries, never quoted; empty entries left out.
      {vv40, [](C c) { c.Categories.SetText("a,b\r\n\r\nc\\d\r\n\"q\""); }, R"(CATEGORIES:a\,b,c\\d,"q")"},
      {vv21, [](C c) { c.Categories.SetText("a,b\nc"); }, R"(CATEGORIES:a\,b,c)"},
      {vv40, [](C c) { c.Categories.Add("a\nb"); }, R"(CATEGORIES:a\nb)"},
      {vv30, [](C c) { c.Categories.SetText("\r\n\r\n"); }, "-CATEGORIES"},
      // Control characters are dropped from 3.0, 4.0 and version-less values, kept in 2.1; the
      // line of a value left empty stays, a category left empty goes.
      {vv40, [](C c) { c.Categories.SetText("\x01\x02\r\nKunden\r\n\x1F"); }, "CATEGORIES:Kunden"},
      {vvNone, [](C c) { c.Categories.Add(std::string(1, '\0')); }, "-CATEGORIES"},
      {vv21, [](C c) { c.Categories.Add("\x01"); }, "CATEGORIES:\x01"},
      {vv40, [](C c) { c.NickName = "\x01"; }, "NICKNAME:"},
      {vv30, [](C c) { c.NickName = "a\r\x02\nb\tc"; }, "NICKNAME:a\\nb\tc"},
      {vv30, [](C c) { c.Note.Add("x\x1B[0m"); }, R"(NOTE:x[0m\n)"},
      {vv21, [](C c) { c.Note.Add("x\x1B"); }, "NOTE;ENCODING=QUOTED-PRINTABLE:x\x1B=0D=0A"},
      {vv30, [](C c) { Adr(c).MailingLabel.Add("H\x01 1="); }, "LABEL;ENCODING=QUOTED-PRINTABLE:H 1=3D=0D=0A"},
      {vv40, [](C c) { c.WebsiteURL = "http://x/\x7F\x01\r"; }, "URL;WORK:http://x/\x7F%0D"},
      // Sort string: a parameter of N in 4.0, its own line otherwise.
      {vv40, [](C c) { c.SortString = "Muster"; }, "N;SORT-STRING=Muster:;;;;"},
      {vv40, [](C c) { c.SortString = "a:b;c"; }, R"(N;SORT-STRING="a:b;c":;;;;)"},
      {vv40, [](C c) { c.SortString = "x\"y\nz"; }, R"(N;SORT-STRING=x'y\nz:;;;;)"},
      {vv40, [](C c) { c.SortString = "Muster"; }, "-SORT-STRING"},
      {vv40, [](C c) { c.FullName = "Erika"; }, "N:;;;;"},
      {vv30, [](C c) { c.SortString = "a;b\nc"; }, R"(SORT-STRING:a;b\nc)"},
      {vv30, [](C c) { c.FullName = "Erika Muster"; }, "SORT-STRING:Erika Muster"},
      {vv30, [](C) {}, "-SORT-STRING"},
      // Social profiles: parameters quoted where needed, the URI as it is.
      {vv30, [](C c) { Social(c, "a;b", "u\"v\r\nw", "https://x/\\y"); }, R"(X-SOCIALPROFILE;type="a;b";x-user=u'v\nw:https://x/\y)"},
      {vv21, [](C c) { Social(c, "a;b", "u\"v", "https://x/y"); }, R"(X-SOCIALPROFILE;type=a;b;x-user=u"v:https://x/y)"},
      // 2.1 writes values as stored, but one holding a line break quoted-printable.
      {vv21, [](C c) { c.LastName = "\nz"; }, "N;ENCODING=QUOTED-PRINTABLE:=0Az;;;;"},
      {vv21, [](C c) { c.LastName = "\nz"; }, "FN;ENCODING=QUOTED-PRINTABLE: =0Az"},
      {vv21, [](C c) { c.NameSuffix = "a=b\r"; }, "N;ENCODING=QUOTED-PRINTABLE:;;;;a=3Db=0D"},
      {vv21, [](C c) { c.LastName = "a=b"; }, "N:a=b;;;;"},
      {vv21, [](C c) { c.FullName = "Meier,\r\nAnna"; }, R"(FN;ENCODING=QUOTED-PRINTABLE:Meier\,=0D=0AAnna)"},
      {vv21, [](C c) { c.Company = "A,B;C\nD"; }, R"(ORG;ENCODING=QUOTED-PRINTABLE:A\,B;C=0AD)"},
      {vv21, [](C c) { c.ID = "a\rb"; }, "UID;ENCODING=QUOTED-PRINTABLE:a=0Db"},
      {vv21, [](C c) { c.WebsiteURL = "http://x/\n?a=1"; }, "URL;WORK;ENCODING=QUOTED-PRINTABLE:http://x/=0A?a=3D1"},
      {vv21, [](C c) { c.WebsiteURL = "http://x/?a=1"; }, "URL;WORK:http://x/?a=1"},
      {vv21, [](C c) { c.SortString = "s\nt"; }, "SORT-STRING;ENCODING=QUOTED-PRINTABLE:s=0At"},
      {vv21, [](C c) { Adr(c, ftHome).Street = "Hof\r\n3"; }, "ADR;HOME;ENCODING=QUOTED-PRINTABLE:;;Hof=0D=0A3;;;;"},
      {vv21, [](C c) { Tel(c, ftHome, {ptCell}, true).PhoneNumber = "07\n11"; }, "TEL;TYPE=HOME;CELL;PREF;ENCODING=QUOTED-PRINTABLE:07=0A11"},
      {vv21, [](C c) { Mail(c, "a\n@x", ftWork, true); }, "EMAIL;INTERNET;PREF;WORK;ENCODING=QUOTED-PRINTABLE:a=0A@x"},
      {vv21, [](C c) { Social(c, "a\nb", "u\\v\r\nw", "x\ny"); }, R"(X-SOCIALPROFILE;type=a\nb;x-user=u\\v\nw;ENCODING=QUOTED-PRINTABLE:x=0Ay)"},
      {vv21, [](C c) { Social(c, "a\\b", "u", "x=y"); }, R"(X-SOCIALPROFILE;type=a\b;x-user=u:x=y)"},
      // Telephone type lists in their fixed order.
      {vv30, [](C c) { Tel(c, ftWork, {ptVoice, ptCell}); }, "TEL;TYPE=WORK;TYPE=VOICE,CELL:0711"},
      {vv21, [](C c) { Tel(c, ftHome, {ptMain}); }, "TEL;TYPE=HOME;MAIN:0711"},
      {vv40, [](C c) { Tel(c, ftNone, {}); }, "TEL:0711"},
      {vv21, [](C c) { Tel(c, ftWork, {ptTextPhone, ptText}, true); }, "TEL;TYPE=WORK;TEXT,TEXTPHONE;PREF:0711"},
      {vvNone, [](C c) { Tel(c, ftHome, {ptFax}, true); }, "TEL;TYPE=HOME;TYPE=FAX;TYPE=PREF:0711"},
      {vv40, [](C c) { Tel(c, ftOther, {ptText, ptVoice, ptFax, ptCell, ptVideo, ptPager, ptTextPhone, ptiPhone, ptMain}); },
       "TEL;TYPE=OTHER;TYPE=TEXT,VOICE,FAX,CELL,IPHONE,MAIN,VIDEO,PAGER,TEXTPHONE:0711"},
      // Position: unset when a coordinate is 0 or not a number.
      {vv40, [](C c) { Geo(c, 52.52, 13.405); }, "GEO:geo:52.52,13.405"},
      {vv21, [](C c) { Geo(c, 52.52, 13.405); }, "GEO:52.52;13.405"},
      {vvNone, [](C c) { Geo(c, -1, 2); }, "GEO:-1;2"},
      {vv40, [](C c) { Geo(c, 0, 13.4); }, "-GEO"},
      {vv30, [](C c) { Geo(c, 52.5, -0.0); }, "-GEO"},
      {vv40, [=](C c) { Geo(c, std::nan(""), inf); }, "-GEO"},
      // Dates: REV in UTC, basic form in 4.0.
      {vv40, [](C) {}, "REV:20261207T043005Z"},
      {vv30, [](C) {}, "REV:2026-12-07T04:30:05Z"},
      {vvNone, [](C) {}, "REV:2026-12-07T04:30:05Z"},
      {vv40, [](C c) { c.Updated = At(2026, 7, 1, 12); }, "REV:20260701T100000Z"},
      {vv21, [](C c) { c.Updated = At(2026, 7, 1, 12); }, "REV:2026-07-01T10:00:00Z"},
      {vv40, [](C c) { c.Updated = At(2027, 1, 1, 0, 15); }, "REV:20261231T231500Z"},
      {vv40, [=](C c) { c.Updated = inf; }, "REV:20261207T043005Z"},
      {vv30, [](C c) { c.BirthDay = At(1970, 1, 31, 23, 59); }, "BDAY:19700131"},
      {vv40, [](C c) { c.BirthDay = At(1800, 5, 6); }, "BDAY:18000506"},
      {vv40, [](C c) { c.BirthDay = std::nan(""); }, "-BDAY"},
      {vv40, [](C c) { c.ProdID = "own"; }, "PRODID:Parvela"},
      {static_cast<TvCardVersion>(9), [](C c) { Mail(c, "", ftHome, true); }, "EMAIL;TYPE=INTERNET;TYPE=PREF;TYPE=HOME:"},
      {static_cast<TvCardVersion>(9), [](C) {}, "-VERSION"},
  };
  // clang-format on
  for (const LineRow& row : rows) {
    SCOPED_TRACE(row.line);
    TvContact c;
    c.vCardVersion = row.version;
    row.setup(c);
    const auto lines = SplitLines(card.BuildCardText(c));
    if (row.line[0] == '-') {
      const std::string name = row.line.substr(1);
      for (const std::string& line : lines)
        EXPECT_NE(name, line.substr(0, line.find_first_of(";:")));
    } else {
      EXPECT_NE(lines.end(), std::find(lines.begin(), lines.end(), row.line))
          << testing::PrintToString(lines);
    }
  }
}

TEST_F(VCardTest, AwkwardValuesNeverBreakTheCard) {
  const std::string awkward = "x\r\ny\rz\n\\;,:\"";
  const std::string names =
      " BEGIN VERSION N FN UID NICKNAME ORG TITLE ROLE URL SOURCE TZ REV PRODID CATEGORIES NOTE"
      " SORT-STRING ADR LABEL TEL EMAIL X-SOCIALPROFILE END ";
  card.ProdID = awkward;
  for (const TvCardVersion version : {vvNone, vv21, vv30, vv40}) {
    SCOPED_TRACE(static_cast<int>(version));
    TvContact c;
    c.vCardVersion = version;
    TvAddress& a = Adr(c);
    std::string& mail = Mail(c, "").EmailAddress;
    std::string& tel = Tel(c, ftHome, {}).PhoneNumber;
    for (std::string* s :
         {&c.ID,       &c.FirstName,  &c.LastName, &c.MiddleName, &c.NamePrefix, &c.NameSuffix,
          &c.FullName, &c.NickName,   &c.Company,  &c.JobTitle,   &c.Profession, &c.WebsiteURL,
          &c.Source,   &c.SortString, &c.TimeZone, &a.POBox,      &a.Number,     &a.Street,
          &a.City,     &a.Region,     &a.PostCode, &a.Country,    &mail,         &tel}) {
      *s = awkward;
    }
    a.MailingLabel.Add(awkward);
    c.Note.Add(awkward);
    c.Categories.Add(awkward);
    Social(c, awkward.c_str(), awkward.c_str(), awkward.c_str());
    for (const std::string& line : SplitLines(card.BuildCardText(c))) {
      EXPECT_EQ(std::string::npos, line.find_first_of("\r\n")) << line;
      const std::string name = " " + line.substr(0, line.find_first_of(";:")) + " ";
      EXPECT_NE(std::string::npos, names.find(name)) << line;
    }
  }
}

// The components of a structured value split at unescaped ";", each unescaped.
std::vector<std::string> Components(std::string_view value) {
  std::vector<std::string> parts(1);
  for (size_t i = 0; i < value.size(); ++i) {
    if (value[i] == ';') {
      parts.emplace_back();
    } else if (value[i] == '\\' && i + 1 < value.size()) {
      const char next = value[++i];
      parts.back() += next == 'n' || next == 'N' ? '\n' : next;
    } else {
      parts.back() += value[i];
    }
  }
  return parts;
}

TEST_F(VCardTest, DepartmentWithSemicolonStaysOneOrganisationName) {
  const char* const departments[] = {"Vertrieb; Nord", ";Leitung", "Einkauf;",
                                     "a\\;b",          "A,B;;C",   "Stab\r\nIT;Netz"};
  for (const TvCardVersion version : {vvNone, vv30, vv40}) {
    for (const char* department : departments) {
      SCOPED_TRACE(testing::Message() << int{version} << " " << department);
      TvContact c;
      c.vCardVersion = version;
      c.Company = department;
      std::vector<std::string> org;
      for (const std::string& line : SplitLines(card.BuildCardText(c))) {
        if (line.rfind("ORG:", 0) == 0) org.push_back(line.substr(4));
      }
      ASSERT_EQ(1u, org.size());
      std::string expected = department;
      if (const size_t crlf = expected.find("\r\n"); crlf != std::string::npos) {
        expected.replace(crlf, 2, "\n");
      }
      EXPECT_EQ(std::vector<std::string>{expected}, Components(org[0]));
    }
  }
}

TEST_F(VCardTest, EveryLineEndsWithCrLfInEveryDialect) {
  for (const TvCardVersion version : {vvNone, vv21, vv30, vv40}) {
    SCOPED_TRACE(int{version});
    card.vContacts.Clear();
    FillEverything(card.vContacts.Add(), version);
    FillTypical(card.vContacts.Add());
    card.vContacts[1].vCardVersion = version;
    const std::string first = card.BuildCardText(card.vContacts[0]);
    const std::string second = card.BuildCardText(card.vContacts[1]);
    for (const std::string* text : {&first, &second}) {
      EXPECT_EQ(0u, text->rfind("BEGIN:VCARD\r\n", 0));
      EXPECT_EQ(text->size() - 11, text->rfind("\r\nEND:VCARD"));  // no break after the end
    }
    std::string stream;
    card.SaveToStream(stream, true);
    std::string joined = first;
    joined.append("\r\n").append(second).append("\r\n");
    EXPECT_EQ(joined, stream);
    card.SaveToStream(stream, false);
    size_t lines = 0;
    for (size_t i = 0; i < stream.size(); ++i) {
      if (stream[i] == '\r' || stream[i] == '\n') {
        ASSERT_EQ("\r\n", stream.substr(i, 2)) << "at byte " << i;
        ++lines;
        ++i;
      }
    }
    EXPECT_EQ(SplitLines(stream).size() - 1, lines);
  }
}

// Where a test value goes in a contact (or, for PRODID, in the card).
struct ValueKind {
  const char* name;
  std::function<void(TvContact&, TAdvvCard&, const std::string&)> set;
};

std::vector<ValueKind> EveryValueKind() {
  using C = TvContact&;
  using K = TAdvvCard&;
  using V = const std::string&;
  return {
      {"UID", [](C c, K, V v) { c.ID = v; }},
      {"N family", [](C c, K, V v) { c.LastName = v; }},
      {"N given", [](C c, K, V v) { c.FirstName = v; }},
      {"N middle", [](C c, K, V v) { c.MiddleName = v; }},
      {"N prefix", [](C c, K, V v) { c.NamePrefix = v; }},
      {"N suffix", [](C c, K, V v) { c.NameSuffix = v; }},
      {"FN", [](C c, K, V v) { c.FullName = v; }},
      {"NICKNAME", [](C c, K, V v) { c.NickName = v; }},
      {"ORG", [](C c, K, V v) { c.Company = v; }},
      {"TITLE", [](C c, K, V v) { c.JobTitle = v; }},
      {"ROLE", [](C c, K, V v) { c.Profession = v; }},
      {"URL", [](C c, K, V v) { c.WebsiteURL = v; }},
      {"SOURCE", [](C c, K, V v) { c.Source = v; }},
      {"TZ", [](C c, K, V v) { c.TimeZone = v; }},
      {"SORT-STRING", [](C c, K, V v) { c.SortString = v; }},
      {"PRODID", [](C, K k, V v) { k.ProdID = v; }},
      {"CATEGORIES", [](C c, K, V v) { c.Categories.Add(v); }},
      {"NOTE", [](C c, K, V v) { c.Note.Add(v); }},
      {"ADR post box", [](C c, K, V v) { Adr(c).POBox = v; }},
      {"ADR extended", [](C c, K, V v) { Adr(c).Number = v; }},
      {"ADR street", [](C c, K, V v) { Adr(c).Street = v; }},
      {"ADR city", [](C c, K, V v) { Adr(c).City = v; }},
      {"ADR region", [](C c, K, V v) { Adr(c).Region = v; }},
      {"ADR post code", [](C c, K, V v) { Adr(c).PostCode = v; }},
      {"ADR country", [](C c, K, V v) { Adr(c).Country = v; }},
      {"LABEL", [](C c, K, V v) { Adr(c).MailingLabel.Add(v); }},
      {"TEL", [](C c, K, V v) { Tel(c, ftHome, {}).PhoneNumber = v; }},
      {"EMAIL", [](C c, K, V v) { Mail(c, v); }},
      {"X-SOCIALPROFILE type", [](C c, K, V v) { Social(c, v, "u", "x:y"); }},
      {"X-SOCIALPROFILE x-user", [](C c, K, V v) { Social(c, "s", v, "x:y"); }},
      {"X-SOCIALPROFILE URI", [](C c, K, V v) { Social(c, "s", "u", v); }},
  };
}

TEST_F(VCardTest, ControlCharactersAreDroppedFromEveryValue) {
  using std::string_literals::operator""s;
  // {stored value, value whose card it gives}: control characters go, tab and DEL stay, and a
  // CR and LF that only a control character parts make one line break.
  const std::pair<std::string, std::string> values[] = {
      {"A\0b\x01"s + "c\x1B\x1F\td\x7F", "Abc\td\x7F"},
      {"x\r\x02\ny,z", "x\r\ny,z"},
  };
  for (const ValueKind& kind : EveryValueKind()) {
    for (const TvCardVersion version : {vvNone, vv30, vv40}) {
      for (const auto& [stored, written] : values) {
        SCOPED_TRACE(testing::Message()
                     << kind.name << " " << int{version} << " " << testing::PrintToString(stored));
        TvContact dirty, expected;
        dirty.vCardVersion = expected.vCardVersion = version;
        kind.set(dirty, card, stored);
        const std::string text = card.BuildCardText(dirty);
        kind.set(expected, card, written);
        EXPECT_EQ(card.BuildCardText(expected), text);
        for (const char c : text) {
          if (c == '\t' || c == '\r' || c == '\n') continue;
          EXPECT_GE(static_cast<unsigned char>(c), 0x20) << testing::PrintToString(text);
        }
        card.ProdID = "Parvela";
      }
    }
    // 2.1 values are written as stored.
    TvContact old;
    old.vCardVersion = vv21;
    kind.set(old, card, values[0].first);
    EXPECT_NE(std::string::npos, card.BuildCardText(old).find("\x1B\x1F\td")) << kind.name;
    card.ProdID = "Parvela";
  }
}

// A line break in a 2.1 value, even one that spells out the end of the card, stays inside its
// line: the card keeps the lines it has without the break, and the decoded value is the stored one.
TEST_F(VCardTest, LineBreaksIn21ValuesStayInsideTheirLine) {
  const std::string values[] = {"\nz", "a\r\nEND:VCARD\r\nBEGIN:VCARD\r\nFN:x", "a\rb\n", "=\r"};
  for (const ValueKind& kind : EveryValueKind()) {
    for (const std::string& value : values) {
      SCOPED_TRACE(testing::Message() << kind.name << " " << testing::PrintToString(value));
      TvContact broken, plain;
      broken.vCardVersion = plain.vCardVersion = vv21;
      kind.set(broken, card, value);
      const auto lines = SplitLines(card.BuildCardText(broken));
      std::string flat = value;
      flat.erase(
          std::remove_if(flat.begin(), flat.end(), [](char c) { return c == '\r' || c == '\n'; }),
          flat.end());
      kind.set(plain, card, flat.empty() ? "-" : flat);
      EXPECT_EQ(SplitLines(card.BuildCardText(plain)).size(), lines.size());
      EXPECT_EQ(1, std::count(lines.begin(), lines.end(), "BEGIN:VCARD"));
      EXPECT_EQ(1, std::count(lines.begin(), lines.end(), "END:VCARD"));
      for (const std::string& line : lines) {
        EXPECT_EQ(std::string::npos, line.find_first_of("\r\n")) << line;
      }
      card.ProdID = "Parvela";
    }
  }
}

// Long lists cost time in proportion to their length; written whole, in the order added.
TEST_F(VCardTest, LongListsAreCopiedAndWrittenWholeInOrder) {
  constexpr int kEntries = 100000;
  TvContact source;
  source.vCardVersion = vv40;
  std::string categories;
  std::vector<std::string> mails, phones;
  std::string categoryLine = "CATEGORIES:";
  for (int i = 0; i < kEntries; ++i) {
    const std::string n = std::to_string(kEntries - i);  // not sorted, to catch any sorting
    categories += "k" + n + "\r\n";
    categoryLine += (i == 0 ? "k" : ",k") + n;
    Mail(source, "m" + n + "@x", i % 2 == 0 ? ftWork : ftHome);
    mails.push_back("EMAIL;TYPE=INTERNET;TYPE=" + std::string(i % 2 == 0 ? "WORK" : "HOME") + ":m" +
                    n + "@x");
    Tel(source, ftWork, {}).PhoneNumber = n;
    phones.push_back("TEL;TYPE=WORK:" + n);
    source.Note.Add(n);
  }
  source.Categories.SetText(categories);
  TvContact copy;
  copy.Assign(source);
  copy.PhoneNumbers.Resize(kEntries / 2);  // shrinking keeps the first half as it was
  phones.resize(kEntries / 2);
  copy.PhoneNumbers.Resize(kEntries / 2 + 1);
  phones.push_back("TEL;TYPE=HOME:");

  std::vector<std::string> gotMails, gotPhones;
  std::string gotCategories;
  for (std::string& line : SplitLines(card.BuildCardText(copy))) {
    if (line.rfind("EMAIL", 0) == 0)
      gotMails.push_back(std::move(line));
    else if (line.rfind("TEL", 0) == 0)
      gotPhones.push_back(std::move(line));
    else if (line.rfind("CATEGORIES", 0) == 0)
      gotCategories = std::move(line);
  }
  EXPECT_TRUE(mails == gotMails);
  EXPECT_TRUE(phones == gotPhones);
  EXPECT_EQ(categoryLine, gotCategories);
  ASSERT_EQ(kEntries, copy.Note.Count());
  EXPECT_EQ("1", copy.Note[kEntries - 1]);
  EXPECT_EQ(source.Categories.Text(), categories);
  EXPECT_EQ(kEntries, source.PhoneNumbers.Count());  // the source keeps its own lists
}

TEST(VCardFormatTest, ParameterTexts) {
  for (const TvCardVersion v : {vvNone, vv30, vv40, static_cast<TvCardVersion>(9)}) {
    EXPECT_EQ(";TYPE=PREF", PrefParamText(true, v));
    EXPECT_EQ(";TYPE=WORK", FieldTypeParamText(ftWork, v));
    EXPECT_EQ(";TYPE=HOME", FieldTypeParamText(ftHome, v));
    EXPECT_EQ(";TYPE=OTHER", FieldTypeParamText(ftOther, v));
  }
  EXPECT_EQ(";PREF", PrefParamText(true, vv21));
  EXPECT_EQ(";WORK", FieldTypeParamText(ftWork, vv21));
  EXPECT_EQ(";HOME", FieldTypeParamText(ftHome, vv21));
  EXPECT_EQ("", PrefParamText(false, vv21));
  EXPECT_EQ("", FieldTypeParamText(ftNone, vv40));
  EXPECT_EQ("", FieldTypeParamText(static_cast<TvFieldType>(7), vv21));
}

TEST(VCardFormatTest, Coordinates) {
  const std::pair<double, const char*> rows[] = {
      {52.52, "52.52"},
      {13.405, "13.405"},
      {-33.8688, "-33.8688"},
      {100, "100"},
      {0.1 + 0.2, "0.3"},
      {1.0 / 3, "0.333333333333333"},
      {123456789012345, "123456789012345"},
      {0.00001, "0.00001"},
      {-0.000001234, "-0.000001234"},  // a geo URI has no exponent
      {1e15, "1E15"},
      {-1.5e20, "-1.5E20"},
  };
  for (const auto& [value, text] : rows) EXPECT_EQ(text, FormatCoordinate(value));
}

// The writer converts with a byte table; it must give the bytes of the route through UTF-16.
TEST_F(VCardTest, Utf8OutputIsTheAnsiOutputThroughUtf16) {
  std::string all;
  for (int c = 255; c >= 0; --c) all += static_cast<char>(c);
  for (const TvCardVersion version : {vv21, vv40}) {
    TvContact& c = card.vContacts.Add();
    c.vCardVersion = version;
    c.LastName = all;
    c.Note.Add("plain ASCII run, longer than eight bytes, then \xFC" + all.substr(100));
  }
  std::string ansi, utf8;
  card.SaveToStream(ansi, true);
  card.SaveToStream(utf8, false);
  EXPECT_EQ(WideToUtf8Text(AnsiToUtf16(ansi)), utf8);
  EXPECT_NE(std::string::npos, utf8.find("then \xC3\xBC"));
}

// Cards with few and with many bytes from 0x80 on, at the start, the end and between ASCII runs:
// written after earlier text, the UTF-8 card is the ANSI card through UTF-16.
TEST_F(VCardTest, Utf8CardsOfEveryMixAreTheAnsiCardsThroughUtf16) {
  const struct {
    std::string lastName;
    int repeat;
  } cases[] = {
      {"Plain", 1},   {"\xFC", 1},   {"\x80\x81\x9F\xA0\xFF", 1},
      {"ab\xE4", 21}, {"\xE4", 63},  {"\x80", 64},
      {"x\x99y", 65}, {"\xDF", 200}, {"plain ASCII longer than eight bytes \xE9", 3},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << testing::PrintToString(c.lastName) << " x" << c.repeat);
    TvContact contact;
    contact.vCardVersion = vv40;
    for (int i = 0; i < c.repeat; ++i) contact.LastName += c.lastName;
    contact.FirstName = "\x80";
    std::string ansi = "earlier \xFC", utf8 = ansi;
    card.BeginStream();
    ASSERT_TRUE(card.WriteContact(contact, ansi, true));
    ASSERT_TRUE(card.WriteContact(contact, utf8, false));
    EXPECT_EQ(utf8.substr(0, 9), "earlier \xFC");
    EXPECT_EQ(utf8.substr(9), WideToUtf8Text(AnsiToUtf16(ansi.substr(9))));
  }
}

// A card whose handler is asked first gives the same bytes and counts the same as one built
// first.
TEST_F(VCardTest, CardsAskedFirstAreWrittenAsCardsBuiltFirst) {
  FillTypical(card.vContacts.Add());
  FillEverything(card.vContacts.Add(), vv30);
  FillEverything(card.vContacts.Add(), vv21);
  card.vContacts.Add().FirstName = "Bare";
  card.OnWriteContact = [](TvContact& c, bool& write) { write = c.FirstName != "Bare"; };
  for (const bool asAnsi : {true, false}) {
    SCOPED_TRACE(asAnsi);
    std::string atOnce = "head:";
    card.BeginStream();
    for (int i = 0; i < card.vContacts.Count(); ++i) {
      card.WriteContact(card.vContacts[i], atOnce, asAnsi);
    }
    const int written = card.WrittenCount();
    EXPECT_EQ(written, 3);
    std::string askedFirst = "head:";
    card.BeginStream();
    for (int i = 0; i < card.vContacts.Count(); ++i) {
      EXPECT_EQ(card.WriteContactAskedFirst(card.vContacts[i], askedFirst, asAnsi), i != 3);
    }
    EXPECT_EQ(askedFirst, atOnce);
    EXPECT_EQ(card.WrittenCount(), written);
  }
}

TEST_F(VCardTest, AskedFirstTheHandlerSeesTheContactBeforeItsCardIsBuilt) {
  TvContact contact;
  contact.LastName = "Alt";
  card.OnWriteContact = [](TvContact& c, bool& write) {
    write = c.ScoreItem.RecordID != 0;
    c.LastName = "Neu";
  };
  std::string out = "head:";
  EXPECT_FALSE(card.WriteContactAskedFirst(contact, out, false));
  EXPECT_EQ(out, "head:");
  contact.ScoreItem.RecordID = 1;
  EXPECT_TRUE(card.WriteContactAskedFirst(contact, out, false));
  EXPECT_NE(out.find("\r\nN:Neu;"), std::string::npos);
  EXPECT_EQ(card.WrittenCount(), 1);
  card.OnWriteContact = [](TvContact&, bool&) { throw std::runtime_error("ledger"); };
  EXPECT_THROW(card.WriteContactAskedFirst(contact, out, true), std::runtime_error);
  EXPECT_EQ(card.WrittenCount(), 1);
}

// A refused card, or one whose handler throws, leaves the output as it was.
TEST_F(VCardTest, ARefusedOrFailedCardLeavesTheOutputAsItWas) {
  TvContact contact;
  contact.LastName = "M\xFCller";
  for (const bool asAnsi : {true, false}) {
    std::string out = "head:";
    card.OnWriteContact = [](TvContact&, bool& write) { write = false; };
    EXPECT_FALSE(card.WriteContact(contact, out, asAnsi));
    EXPECT_EQ(out, "head:");
    card.OnWriteContact = [](TvContact&, bool&) { throw std::runtime_error("ledger"); };
    EXPECT_THROW(card.WriteContact(contact, out, asAnsi), std::runtime_error);
    EXPECT_EQ(out, "head:");
  }
}

TEST_F(VCardTest, HandlerDecidesPerContactAfterTheTextIsBuilt) {
  std::string stream = "old contents";
  card.SaveToStream(stream, false);
  EXPECT_EQ("", stream);
  for (int id = 1; id <= 4; ++id) card.vContacts.Add().ScoreItem.RecordID = id;
  std::vector<int> asked;
  card.OnWriteContact = [&](TvContact& c, bool& write) {
    asked.push_back(c.ScoreItem.RecordID);
    write = c.ScoreItem.RecordID % 2 == 0;
    c.LastName = "changed";  // too late for this card
  };
  card.SaveToStream(stream, true);
  EXPECT_EQ((std::vector<int>{1, 2, 3, 4}), asked);
  EXPECT_EQ(2, card.WrittenCount());
  EXPECT_EQ(std::string::npos, stream.find("changed"));
  EXPECT_EQ(2 * card.BuildCardText(TvContact()).size() + 4, stream.size());

  card.OnWriteContact = [](TvContact&, bool& write) { write = false; };
  card.SaveToStream(stream, false);
  EXPECT_EQ("", stream);
  EXPECT_EQ(0, card.WrittenCount());
  card.OnWriteContact = [](TvContact&, bool&) {};  // leaves the flag as it came
  card.SaveToStream(stream, false);
  EXPECT_EQ(4, card.WrittenCount());
  card.OnWriteContact = [](TvContact& c, bool&) {
    if (c.ScoreItem.RecordID == 3) throw std::runtime_error("ledger");
  };
  EXPECT_THROW(card.SaveToStream(stream, false), std::runtime_error);
  EXPECT_EQ("", stream);
}

TEST_F(VCardTest, StreamingGivesTheSameBytesAsSaveToStream) {
  FillTypical(card.vContacts.Add());
  FillEverything(card.vContacts.Add(), vv30);
  card.vContacts.Add().FirstName = "Bare";
  card.OnWriteContact = [](TvContact& c, bool& write) { write = c.FirstName != "Bare"; };
  for (const bool asAnsi : {true, false}) {
    std::string whole, streamed = "head:";
    card.SaveToStream(whole, asAnsi);
    card.BeginStream();
    EXPECT_EQ(0, card.WrittenCount());
    EXPECT_TRUE(card.WriteContact(card.vContacts[0], streamed, asAnsi));
    EXPECT_TRUE(card.WriteContact(card.vContacts[1], streamed, asAnsi));
    EXPECT_FALSE(card.WriteContact(card.vContacts[2], streamed, asAnsi));
    EXPECT_EQ(2, card.WrittenCount());
    EXPECT_EQ("head:" + whole, streamed);
  }
  // The save time is read once per output.
  card.Clock = [] { return At(2026, 8, 1, 9); };
  EXPECT_NE(std::string::npos, card.BuildCardText(TvContact()).find("REV:2026-12-07T04:30:05Z"));
  card.BeginStream();
  EXPECT_NE(std::string::npos, card.BuildCardText(TvContact()).find("REV:2026-08-01T07:00:00Z"));
}

}  // namespace
}  // namespace pv
