#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <locale>
#include <stdexcept>
#include <string>
#include <vector>

#include "tests/support/TempDir.h"
#include "tests/vcard/TzScope.h"
#include "vcard/VCard.h"

namespace pv {
namespace {

TDateTime At(int y, int m, int d, int h, int n, int s) {
  TDateTime v = 0;
  EXPECT_TRUE(TryEncodeDateTime(y, m, d, h, n, s, 0, v));
  return v;
}

// Local save time of every test card: 05:30:05 in Berlin, 04:30:05 UTC.
TDateTime FixedSaveTime() { return At(2026, 12, 7, 5, 30, 5); }

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t i = 0; i <= text.size(); ++i) {
    if (i == text.size() || text[i] == '\n') {
      lines.push_back(text.substr(start, i - start));
      start = i + 1;
    }
  }
  return lines;
}

// The lines of a card whose property (the text before the first ";" or ":") is name.
std::vector<std::string> PropertyLines(const std::string& card, const std::string& name) {
  std::vector<std::string> found;
  for (const std::string& line : SplitLines(card)) {
    if (line.compare(0, name.size(), name) == 0 &&
        (line.size() == name.size() || line[name.size()] == ':' || line[name.size()] == ';')) {
      found.push_back(line);
    }
  }
  return found;
}

// Compares with a file under tests/vcard/data byte for byte; PV_UPDATE_GOLDEN=1 rewrites it.
void ExpectGolden(const std::string& name, const std::string& actual) {
  const std::string path = std::string(PV_SOURCE_DIR) + "/tests/vcard/data/" + name;
  if (std::getenv("PV_UPDATE_GOLDEN") != nullptr) test::WriteFile(path, actual);
  const std::string expected = test::ReadFile(path);
  ASSERT_FALSE(expected.empty()) << "missing golden file " << path;
  if (expected == actual) return;
  const auto want = SplitLines(expected);
  const auto got = SplitLines(actual);
  for (size_t i = 0; i < std::max(want.size(), got.size()); ++i) {
    const std::string w = i < want.size() ? want[i] : "<end of file>";
    const std::string g = i < got.size() ? got[i] : "<end of file>";
    if (w != g) {
      ADD_FAILURE() << name << ": line " << i + 1
                    << " differs\n  expected: " << testing::PrintToString(w)
                    << "\n    actual: " << testing::PrintToString(g);
      return;
    }
  }
}

// The contact as the export job fills it.
void FillTypical(TvContact& c) {
  c.vCardVersion = vv40;
  c.ScoreItem.RecordID = 17;
  c.ScoreItem.ChangeStamp = "2024.15.03.14.30.05";
  c.Categories.SetText("Kunden");
  c.FirstName = "J\xFCrgen";
  c.LastName = "M\xFCller";
  c.Company = "Beispiel GmbH";
  TvAddress& a = c.Addresses.Add();
  a.AddressType = ftWork;
  a.Street =
      "Hauptstra\xDF"
      "e 1";
  a.City = "Stuttgart";
  a.PostCode = "70173";
  TvPhone& p = c.PhoneNumbers.Add();
  p.PhoneNumber = "07111234567";
  p.FieldType = ftWork;
  TvEmail& e = c.Emails.Add();
  e.EmailAddress = "j.mueller@example.com";
  e.EmailType = ftWork;
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
  c.BirthDay = At(1970, 1, 31, 0, 0, 0);
  c.Profession = "Kaufmann";
  c.WebsiteURL = "https://example.com/~jm?a=1,2";
  TvEmail& e1 = c.Emails.Add();
  e1.EmailAddress = "j.mueller@example.com";
  e1.EmailType = ftWork;
  e1.Preferred = true;
  c.Emails.Add().EmailAddress = "joerg@example.org";
  TvPhone& p1 = c.PhoneNumbers.Add();
  p1.PhoneNumber = "07111234567";
  p1.FieldType = ftWork;
  p1.PhoneType = {ptVoice};
  p1.Preferred = true;
  TvPhone& p2 = c.PhoneNumbers.Add();
  p2.PhoneNumber = "01701234567";
  p2.PhoneType = {ptCell, ptText};
  TvPhone& p3 = c.PhoneNumbers.Add();
  p3.PhoneNumber = "0711999888";
  p3.FieldType = ftNone;
  p3.PhoneType = {ptFax, ptMain};
  TvAddress& a1 = c.Addresses.Add();
  a1.POBox = "Postfach 10 20 30";
  a1.Number = "Geb\xE4ude B";
  a1.Street = "Hauptstr. 1";
  a1.City = "Stuttgart";
  a1.Region = "BW";
  a1.PostCode = "70173";
  a1.Country = "Deutschland";
  a1.AddressType = ftWork;
  a1.Preferred = true;
  a1.MailingLabel.SetText("Hauptstr. 1\r\n70173 Stuttgart");
  TvAddress& a2 = c.Addresses.Add();
  a2.Street = "Gartenweg 5";
  a2.City = "Esslingen";
  a2.PostCode = "73728";
  c.Categories.SetText("Kunden\r\nLieferanten");
  c.GeoLocation.Latitude = 48.7758;
  c.GeoLocation.Longitude = 9.1829;
  c.Note.SetText(
      "Erster Kontakt 2019\r\nR\xFC"
      "ckruf = erw\xFCnscht");
  c.Updated = At(2026, 7, 12, 5, 30, 5);
  c.Source = "Parvela";
  c.ProdID = "not written";
  TvSocialItem& s = c.SocialProfile.Add();
  s.URI = "https://social.example/jmueller";
  s.Service = "example";
  s.User = "jmueller";
  c.SortString = "Mueller";
  c.TimeZone = "Europe/Berlin";
  c.ScoreItem.RecordID = 4711;
  c.ScoreItem.ChangeStamp = "2026.12.07.05.30.05";
}

class VCardTest : public testing::Test {
 protected:
  VCardTest() : tz_(test::kBerlinTz) {
    card.ProdID = "Parvela";
    card.Clock = FixedSaveTime;
    card.BeginStream();
  }

  // The card text of a fresh contact of the given version after setup.
  std::string Build(TvCardVersion version, const std::function<void(TvContact&)>& setup) {
    TvContact c;
    c.vCardVersion = version;
    setup(c);
    return card.BuildCardText(c);
  }

  test::TzScope tz_;
  TAdvvCard card;
};

TEST_F(VCardTest, TypicalContactsMatchTheGoldenFiles) {
  FillTypical(card.vContacts.Add());
  TvContact& bare = card.vContacts.Add();  // only an e-mail, and the empty work address
  bare.vCardVersion = vv40;
  bare.LastName = "Nord";
  bare.Addresses.Add().AddressType = ftWork;
  bare.Emails.Add().EmailAddress = "info@example.com";
  bare.Emails[0].EmailType = ftWork;
  std::string stream;
  card.SaveToStream(stream, false);
  EXPECT_EQ(2, card.WrittenCount());
  ExpectGolden("typical_40_utf8.vcf", stream);
  card.SaveToStream(stream, true);
  ExpectGolden("typical_40_ansi.vcf", stream);
}

TEST_F(VCardTest, ContactWithEveryPropertyMatchesTheGoldenFiles) {
  const struct {
    TvCardVersion version;
    const char* file;
  } rows[] = {
      {vv21, "every_property_21.vcf"},
      {vv30, "every_property_30.vcf"},
      {vv40, "every_property_40.vcf"},
      {vvNone, "every_property_none.vcf"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.file);
    card.vContacts.Clear();
    FillEverything(card.vContacts.Add(), row.version);
    std::string stream;
    card.SaveToStream(stream, false);
    ExpectGolden(row.file, stream);
  }
}

struct LineRow {
  const char* name;
  TvCardVersion version;
  std::function<void(TvContact&)> setup;
  const char* property;
  std::vector<std::string> lines;  // every line of that property; empty: none
};

void CheckRows(VCardTest& test, const std::vector<LineRow>& rows,
               const std::function<std::string(TvCardVersion,
                                               const std::function<void(TvContact&)>&)>& build) {
  for (const LineRow& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(row.lines, PropertyLines(build(row.version, row.setup), row.property));
  }
  (void)test;
}

#define CHECK_ROWS(rows) \
  CheckRows(*this, rows, [this](TvCardVersion v, const auto& s) { return Build(v, s); })

TEST_F(VCardTest, ValuesAreEscapedSoThatTheyNeverBreakTheirLine) {
  const std::vector<LineRow> rows = {
      {"N components escape separators, backslashes and breaks",
       vv30,
       [](TvContact& c) {
         c.LastName = "a;b";
         c.FirstName = "c,d";
         c.MiddleName = R"(e\f)";
         c.NamePrefix = "g\r\nh";
         c.NameSuffix = "i\rj\nk";
       },
       "N",
       {R"(N:a\;b;c\,d;e\\f;g\nh;i\nj\nk)"}},
      {"N components in 2.1 stay raw",
       vv21,
       [](TvContact& c) {
         c.LastName = "a;b";
         c.FirstName = R"(c,d\)";
       },
       "N",
       {R"(N:a;b;c,d\;;;)"}},
      {"FN escapes commas in every version",
       vv21,
       [](TvContact& c) { c.FullName = "Meier, Anna"; },
       "FN",
       {R"(FN:Meier\, Anna)"}},
      {"FN escapes backslashes and breaks",
       vv40,
       [](TvContact& c) { c.FullName = "a\\b\r\nc, d"; },
       "FN",
       {R"(FN:a\\b\nc\, d)"}},
      {"FN of three blanks falls back to the names",
       vv30,
       [](TvContact& c) { c.FullName = "   "; },
       "FN",
       {"FN: "}},
      {"FN keeps a leading blank",
       vv30,
       [](TvContact& c) { c.FullName = " Anna"; },
       "FN",
       {"FN: Anna"}},
      {"FN fall-back escapes the names",
       vv40,
       [](TvContact& c) {
         c.FullName = "\t\x01";
         c.FirstName = "Erika";
         c.LastName = "Muster, Dr.";
       },
       "FN",
       {R"(FN:Erika Muster\, Dr.)"}},
      {"ORG escapes commas and semicolons",
       vv40,
       [](TvContact& c) { c.Company = "A,B;C"; },
       "ORG",
       {R"(ORG:A\,B\;C)"}},
      {"ORG in 2.1 escapes commas only",
       vv21,
       [](TvContact& c) { c.Company = "A,B;C"; },
       "ORG",
       {R"(ORG:A\,B;C)"}},
      {"TITLE", vv30, [](TvContact& c) { c.JobTitle = R"(x,y\z)"; }, "TITLE", {R"(TITLE:x\,y\\z)"}},
      {"ROLE", vvNone, [](TvContact& c) { c.Profession = "a,b\nc"; }, "ROLE", {R"(ROLE:a\,b\nc)"}},
      {"SOURCE", vv40, [](TvContact& c) { c.Source = "a,b"; }, "SOURCE", {R"(SOURCE:a\,b)"}},
      {"UID", vv40, [](TvContact& c) { c.ID = "a\nb;c,d"; }, "UID", {R"(UID:a\nb;c,d)"}},
      {"NICKNAME",
       vv30,
       [](TvContact& c) { c.NickName = R"(Bo\b)"; },
       "NICKNAME",
       {R"(NICKNAME:Bo\\b)"}},
      {"TZ", vv30, [](TvContact& c) { c.TimeZone = "+01:00"; }, "TZ", {"TZ:+01:00"}},
      {"URL keeps backslashes and percent-encodes breaks",
       vv30,
       [](TvContact& c) { c.WebsiteURL = "http://x/a\\b,c\r\nd"; },
       "URL",
       {R"(URL;WORK:http://x/a\b,c%0D%0Ad)"}},
      {"TEL number",
       vv30,
       [](TvContact& c) { c.PhoneNumbers.Add().PhoneNumber = "0711\n1"; },
       "TEL",
       {R"(TEL;TYPE=HOME:0711\n1)"}},
      {"EMAIL address",
       vv40,
       [](TvContact& c) { c.Emails.Add().EmailAddress = R"(a\b@example.com)"; },
       "EMAIL",
       {R"(EMAIL;TYPE=INTERNET;TYPE=HOME:a\\b@example.com)"}},
      {"NOTE lines",
       vv30,
       [](TvContact& c) {
         c.Note.Add(R"(back\slash)");
         c.Note.Add("in\nline");
       },
       "NOTE",
       {R"(NOTE:back\\slash\nin\nline\n)"}},
      {"NOTE in 2.1 is quoted-printable",
       vv21,
       [](TvContact& c) { c.Note.SetText("a\r\nb=c"); },
       "NOTE",
       {"NOTE;ENCODING=QUOTED-PRINTABLE:a=0D=0Ab=3Dc=0D=0A"}},
      {"NOTE of one empty line",
       vv40,
       [](TvContact& c) { c.Note.Add(""); },
       "NOTE",
       {R"(NOTE:\n)"}},
      {"SORT-STRING in the N line of 4.0",
       vv40,
       [](TvContact& c) {
         c.SortString = "Muster";
         c.FirstName = "Erika";
         c.LastName = "Muster";
       },
       "N",
       {"N;SORT-STRING=Muster:Muster;Erika;;;"}},
      {"SORT-STRING parameter quoted when it holds separators",
       vv40,
       [](TvContact& c) { c.SortString = "a:b;c"; },
       "N",
       {R"(N;SORT-STRING="a:b;c":;;;;)"}},
      {"SORT-STRING parameter loses its double quotes and breaks",
       vv40,
       [](TvContact& c) { c.SortString = "x\"y\nz"; },
       "N",
       {R"(N;SORT-STRING=x'y\nz:;;;;)"}},
      {"SORT-STRING line in 3.0",
       vv30,
       [](TvContact& c) { c.SortString = "a;b\nc"; },
       "SORT-STRING",
       {R"(SORT-STRING:a;b\nc)"}},
      {"X-SOCIALPROFILE parameters and URI",
       vv30,
       [](TvContact& c) {
         TvSocialItem& s = c.SocialProfile.Add();
         s.Service = "a;b";
         s.User = "u\"v\r\nw";
         s.URI = R"(https://x/\y)";
       },
       "X-SOCIALPROFILE",
       {R"(X-SOCIALPROFILE;type="a;b";x-user=u'v\nw:https://x/\y)"}},
      {"X-SOCIALPROFILE in 2.1 stays raw",
       vv21,
       [](TvContact& c) {
         TvSocialItem& s = c.SocialProfile.Add();
         s.Service = "a;b";
         s.User = "u\"v";
         s.URI = "https://x/y";
       },
       "X-SOCIALPROFILE",
       {R"(X-SOCIALPROFILE;type=a;b;x-user=u"v:https://x/y)"}},
  };
  CHECK_ROWS(rows);
}

TEST_F(VCardTest, AddressesAndMailingLabels) {
  const std::vector<LineRow> rows = {
      {"ADR components escape separators",
       vv40,
       [](TvContact& c) {
         TvAddress& a = c.Addresses.Add();
         a.AddressType = ftWork;
         a.Street = "Hof 3; Eingang B";
         a.City = "Halle (Saale), Nord";
         a.Country = "a\\b\nc";
       },
       "ADR",
       {R"(ADR;TYPE=WORK:;;Hof 3\; Eingang B;Halle (Saale)\, Nord;;;a\\b\nc)"}},
      {"ADR in 2.1 stays raw",
       vv21,
       [](TvContact& c) {
         TvAddress& a = c.Addresses.Add();
         a.Street = "Hof 3; B";
         a.Preferred = true;
       },
       "ADR",
       {"ADR;PREF;HOME:;;Hof 3; B;;;;"}},
      {"label as 4.0 parameter",
       vv40,
       [](TvContact& c) {
         TvAddress& a = c.Addresses.Add();
         a.AddressType = ftWork;
         a.MailingLabel.Add("Hauptstr. 1");
       },
       "ADR",
       {R"(ADR;TYPE=WORK;LABEL="Hauptstr. 1\n":;;;;;;)"}},
      {"4.0 label loses double quotes, escapes backslashes",
       vv40,
       [](TvContact& c) {
         TvAddress& a = c.Addresses.Add();
         a.AddressType = ftWork;
         a.MailingLabel.Add("Firma \"Nord\"");
         a.MailingLabel.Add(R"(C:\Post;Fach)");
         a.MailingLabel.Add("x\ny");
       },
       "ADR",
       {R"(ADR;TYPE=WORK;LABEL="Firma 'Nord'\nC:\\Post;Fach\nx\ny\n":;;;;;;)"}},
      {"label as quoted-printable line in 3.0",
       vv30,
       [](TvContact& c) {
         TvAddress& a = c.Addresses.Add();
         a.MailingLabel.SetText("Hauptstr. 1\n70173 Stuttgart");
       },
       "LABEL",
       {"LABEL;ENCODING=QUOTED-PRINTABLE:Hauptstr. 1=0D=0A70173 Stuttgart=0D=0A"}},
      {"no label without lines", vv30, [](TvContact& c) { c.Addresses.Add(); }, "LABEL", {}},
      {"one line per address in order",
       vvNone,
       [](TvContact& c) {
         c.Addresses.Add().City = "A";
         TvAddress& b = c.Addresses.Add();
         b.City = "B";
         b.AddressType = ftOther;
         c.Addresses.Add().AddressType = ftNone;
       },
       "ADR",
       {"ADR;TYPE=HOME:;;;A;;;", "ADR;TYPE=OTHER:;;;B;;;", "ADR:;;;;;;"}},
  };
  CHECK_ROWS(rows);
}

TEST_F(VCardTest, CategoriesAreACommaListWithoutQuotes) {
  const std::vector<LineRow> rows = {
      {"escaped entries, empty ones left out",
       vv40,
       [](TvContact& c) {
         for (const char* e : {"a,b", "", R"(c\d)", "\"q\"", "x y"}) c.Categories.Add(e);
       },
       "CATEGORIES",
       {R"(CATEGORIES:a\,b,c\\d,"q",x y)"}},
      {"same rule in 2.1",
       vv21,
       [](TvContact& c) { c.Categories.SetText("a,b\r\nc"); },
       "CATEGORIES",
       {R"(CATEGORIES:a\,b,c)"}},
      {"only empty entries give no line",
       vv30,
       [](TvContact& c) {
         c.Categories.Add("");
         c.Categories.Add("");
       },
       "CATEGORIES",
       {}},
      {"a line break put into an entry is escaped",
       vv30,
       [](TvContact& c) { c.Categories.Add("a\nb"); },
       "CATEGORIES",
       {R"(CATEGORIES:a\nb)"}},
  };
  CHECK_ROWS(rows);
}

TEST_F(VCardTest, AwkwardValuesNeverBreakTheCard) {
  const std::string awkward = "x\r\ny\rz\n\\;,:\"";
  for (const TvCardVersion version : {vvNone, vv30, vv40}) {
    SCOPED_TRACE(static_cast<int>(version));
    TvContact c;
    c.vCardVersion = version;
    for (std::string* s : {&c.ID, &c.FirstName, &c.LastName, &c.MiddleName, &c.NamePrefix,
                           &c.NameSuffix, &c.FullName, &c.NickName, &c.Company, &c.JobTitle,
                           &c.Profession, &c.WebsiteURL, &c.Source, &c.SortString, &c.TimeZone}) {
      *s = awkward;
    }
    c.Emails.Add().EmailAddress = awkward;
    c.PhoneNumbers.Add().PhoneNumber = awkward;
    TvAddress& a = c.Addresses.Add();
    for (std::string* s :
         {&a.POBox, &a.Number, &a.Street, &a.City, &a.Region, &a.PostCode, &a.Country}) {
      *s = awkward;
    }
    a.MailingLabel.Add(awkward);
    c.Note.Add(awkward);
    c.Categories.Add(awkward);
    TvSocialItem& s = c.SocialProfile.Add();
    s.URI = s.Service = s.User = awkward;
    card.ProdID = awkward;

    const auto lines = SplitLines(card.BuildCardText(c));
    const std::vector<std::string> names = {
        "BEGIN",           "VERSION", "N",           "FN",     "UID",   "NICKNAME", "ORG",
        "TITLE",           "ROLE",    "URL",         "SOURCE", "TZ",    "REV",      "PRODID",
        "CATEGORIES",      "NOTE",    "SORT-STRING", "ADR",    "LABEL", "TEL",      "EMAIL",
        "X-SOCIALPROFILE", "END"};
    for (const std::string& line : lines) {
      EXPECT_EQ(std::string::npos, line.find('\r')) << line;
      const std::string name = line.substr(0, line.find_first_of(";:"));
      EXPECT_NE(names.end(), std::find(names.begin(), names.end(), name)) << line;
    }
    EXPECT_EQ("END:VCARD", lines.back());
  }
}

TEST_F(VCardTest, TelephoneTypeLists) {
  const struct {
    TvFieldType field;
    TvPhoneTypes types;
    bool preferred;
    TvCardVersion version;
    const char* line;
  } rows[] = {
      {ftWork, {ptVoice, ptCell}, false, vv30, "TEL;TYPE=WORK;TYPE=VOICE,CELL:0711"},
      {ftHome, {ptMain}, false, vv21, "TEL;TYPE=HOME;MAIN:0711"},
      {ftNone, {}, false, vv40, "TEL:0711"},
      {ftWork, {ptTextPhone, ptText}, true, vv21, "TEL;TYPE=WORK;TEXT,TEXTPHONE;PREF:0711"},
      {ftHome, {ptFax}, true, vvNone, "TEL;TYPE=HOME;TYPE=FAX;TYPE=PREF:0711"},
      {ftOther,
       {ptText, ptVoice, ptFax, ptCell, ptVideo, ptPager, ptTextPhone, ptiPhone, ptMain},
       false,
       vv40,
       "TEL;TYPE=OTHER;TYPE=TEXT,VOICE,FAX,CELL,IPHONE,MAIN,VIDEO,PAGER,TEXTPHONE:0711"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.line);
    TvContact c;
    c.vCardVersion = row.version;
    TvPhone& p = c.PhoneNumbers.Add();
    p.PhoneNumber = "0711";
    p.FieldType = row.field;
    p.PhoneType = row.types;
    p.Preferred = row.preferred;
    EXPECT_EQ(std::vector<std::string>{row.line}, PropertyLines(card.BuildCardText(c), "TEL"));
  }
  EXPECT_EQ("", PhoneTypeListText({}, vv30));
  EXPECT_EQ(";TYPE=IPHONE,MAIN", PhoneTypeListText({ptMain, ptiPhone}, vv40));
}

TEST_F(VCardTest, ParameterTextsByVersion) {
  const auto bad = static_cast<TvCardVersion>(9);  // taken as no version
  const struct {
    TvCardVersion version;
    const char* pref;
    const char* home;
    const char* work;
    const char* other;
  } rows[] = {
      {vv21, ";PREF", ";HOME", ";WORK", ";OTHER"},
      {vv30, ";TYPE=PREF", ";TYPE=HOME", ";TYPE=WORK", ";TYPE=OTHER"},
      {vv40, ";TYPE=PREF", ";TYPE=HOME", ";TYPE=WORK", ";TYPE=OTHER"},
      {vvNone, ";TYPE=PREF", ";TYPE=HOME", ";TYPE=WORK", ";TYPE=OTHER"},
      {bad, ";TYPE=PREF", ";TYPE=HOME", ";TYPE=WORK", ";TYPE=OTHER"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(static_cast<int>(row.version));
    EXPECT_EQ(row.pref, PrefParamText(true, row.version));
    EXPECT_EQ("", PrefParamText(false, row.version));
    EXPECT_EQ(row.home, FieldTypeParamText(ftHome, row.version));
    EXPECT_EQ(row.work, FieldTypeParamText(ftWork, row.version));
    EXPECT_EQ(row.other, FieldTypeParamText(ftOther, row.version));
    EXPECT_EQ("", FieldTypeParamText(ftNone, row.version));
    EXPECT_EQ("", FieldTypeParamText(static_cast<TvFieldType>(7), row.version));
  }
  // A contact with a version outside the enumeration is written like one without.
  const std::string text = Build(bad, [](TvContact& c) { c.Emails.Add().Preferred = true; });
  EXPECT_EQ(std::vector<std::string>{}, PropertyLines(text, "VERSION"));
  EXPECT_EQ(std::vector<std::string>{"EMAIL;TYPE=INTERNET;TYPE=PREF;TYPE=HOME:"},
            PropertyLines(text, "EMAIL"));
}

TEST(VCardFormatTest, Coordinates) {
  const struct {
    double value;
    const char* text;
  } rows[] = {
      {52.52, "52.52"},
      {13.405, "13.405"},
      {-33.8688, "-33.8688"},
      {100, "100"},
      {0.1 + 0.2, "0.3"},  // 15 significant digits
      {1.0 / 3, "0.333333333333333"},
      {123456789012345, "123456789012345"},
      {0.00001, "0.00001"},
      {-0.000001234, "-0.000001234"},  // small values stay decimal: a geo URI has no exponent
      {1e15, "1E15"},
      {-1.5e20, "-1.5E20"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.text);
    EXPECT_EQ(row.text, FormatCoordinate(row.value));
  }
}

TEST_F(VCardTest, GeoLines) {
  const auto geo = [](double lat, double lon) {
    return [=](TvContact& c) {
      c.GeoLocation.Latitude = lat;
      c.GeoLocation.Longitude = lon;
    };
  };
  const double nan = std::nan("");
  const std::vector<LineRow> rows = {
      {"4.0 as geo URI", vv40, geo(52.52, 13.405), "GEO", {"GEO:geo:52.52,13.405"}},
      {"2.1 with semicolon", vv21, geo(52.52, 13.405), "GEO", {"GEO:52.52;13.405"}},
      {"no version like 3.0", vvNone, geo(-1, 2), "GEO", {"GEO:-1;2"}},
      {"latitude 0 is unset", vv40, geo(0, 13.4), "GEO", {}},
      {"longitude 0 is unset", vv30, geo(52.5, -0.0), "GEO", {}},
      {"not a number is unset", vv40, geo(nan, 13.4), "GEO", {}},
      {"infinity is unset", vv40, geo(52.5, HUGE_VAL), "GEO", {}},
  };
  CHECK_ROWS(rows);
}

TEST_F(VCardTest, GeoIgnoresTheLocaleDecimalSeparator) {
  struct Comma : std::numpunct<char> {
    char do_decimal_point() const override { return ','; }
  };
  const std::locale oldGlobal = std::locale::global(std::locale(std::locale(), new Comma));
  const std::string oldC = std::setlocale(LC_NUMERIC, nullptr);
  std::setlocale(LC_NUMERIC, "de_DE.UTF-8");  // where installed
  const std::string text = Build(vv40, [](TvContact& c) {
    c.GeoLocation.Latitude = 52.52;
    c.GeoLocation.Longitude = 13.405;
  });
  std::setlocale(LC_NUMERIC, oldC.c_str());
  std::locale::global(oldGlobal);
  EXPECT_EQ(std::vector<std::string>{"GEO:geo:52.52,13.405"}, PropertyLines(text, "GEO"));
}

TEST_F(VCardTest, RevIsUtcInTheFormOfTheVersion) {
  const auto updated = [](TDateTime t) { return [=](TvContact& c) { c.Updated = t; }; };
  const auto none = [](TvContact&) {};
  const std::vector<LineRow> rows = {
      {"save time in winter, 4.0", vv40, none, "REV", {"REV:20261207T043005Z"}},
      {"save time in winter, 3.0", vv30, none, "REV", {"REV:2026-12-07T04:30:05Z"}},
      {"save time, no version", vvNone, none, "REV", {"REV:2026-12-07T04:30:05Z"}},
      {"updated in summer, 4.0",
       vv40,
       updated(At(2026, 7, 1, 12, 0, 0)),
       "REV",
       {"REV:20260701T100000Z"}},
      {"updated in summer, 2.1",
       vv21,
       updated(At(2026, 7, 1, 12, 0, 0)),
       "REV",
       {"REV:2026-07-01T10:00:00Z"}},
      {"updated just after midnight goes back a day",
       vv40,
       updated(At(2027, 1, 1, 0, 15, 0)),
       "REV",
       {"REV:20261231T231500Z"}},
      {"an updated time without a date takes the save time",
       vv40,
       updated(std::numeric_limits<double>::infinity()),
       "REV",
       {"REV:20261207T043005Z"}},
  };
  CHECK_ROWS(rows);

  // The save time is taken once per output.
  card.Clock = [] { return At(2026, 8, 1, 9, 0, 0); };
  EXPECT_EQ(std::vector<std::string>{"REV:20261207T043005Z"},
            PropertyLines(Build(vv40, none), "REV"));
  card.BeginStream();
  EXPECT_EQ(std::vector<std::string>{"REV:20260801T070000Z"},
            PropertyLines(Build(vv40, none), "REV"));
  EXPECT_EQ(At(2026, 8, 1, 9, 0, 0), card.SaveTime());

  EXPECT_EQ("2026-12-07T04:30:05Z", RevStamp(At(2026, 12, 7, 4, 30, 5), false));
  EXPECT_EQ("20261207T043005Z", RevStamp(At(2026, 12, 7, 4, 30, 5), true));
  EXPECT_EQ("00050102T030405Z", RevStamp(At(5, 1, 2, 3, 4, 5), true));
  EXPECT_EQ("5-01-02T03:04:05Z", RevStamp(At(5, 1, 2, 3, 4, 5), false));
}

TEST_F(VCardTest, BirthDay) {
  const auto birthday = [](TDateTime t) { return [=](TvContact& c) { c.BirthDay = t; }; };
  const std::vector<LineRow> rows = {
      {"date", vv30, birthday(At(1970, 1, 31, 0, 0, 0)), "BDAY", {"BDAY:19700131"}},
      {"time of day ignored",
       vv40,
       birthday(At(1970, 1, 31, 23, 59, 0)),
       "BDAY",
       {"BDAY:19700131"}},
      {"before 1899", vv40, birthday(At(1800, 5, 6, 0, 0, 0)), "BDAY", {"BDAY:18000506"}},
      {"zero is unset", vv40, birthday(0), "BDAY", {}},
      {"not a date", vv40, birthday(std::nan("")), "BDAY", {}},
  };
  CHECK_ROWS(rows);
}

TEST_F(VCardTest, SortStringLineOutside40) {
  const std::vector<LineRow> rows = {
      {"3.0 writes SortString",
       vv30,
       [](TvContact& c) { c.SortString = "Muster"; },
       "SORT-STRING",
       {"SORT-STRING:Muster"}},
      {"3.0 falls back to FullName",
       vv30,
       [](TvContact& c) { c.FullName = "Erika Muster"; },
       "SORT-STRING",
       {"SORT-STRING:Erika Muster"}},
      {"nothing to sort by", vv30, [](TvContact&) {}, "SORT-STRING", {}},
      {"4.0 writes no line",
       vv40,
       [](TvContact& c) { c.SortString = "Muster"; },
       "SORT-STRING",
       {}},
      {"4.0 takes no FullName into N",
       vv40,
       [](TvContact& c) { c.FullName = "Erika"; },
       "N",
       {"N:;;;;"}},
  };
  CHECK_ROWS(rows);
}

TEST_F(VCardTest, ProdIdIsTheCardsOwn) {
  EXPECT_EQ(std::vector<std::string>{"PRODID:Parvela"},
            PropertyLines(Build(vv30, [](TvContact& c) { c.ProdID = "mine"; }), "PRODID"));
  card.ProdID = R"(a\b)";
  EXPECT_EQ(std::vector<std::string>{R"(PRODID:a\\b)"},
            PropertyLines(Build(vv30, [](TvContact&) {}), "PRODID"));
  card.ProdID.clear();
  EXPECT_EQ(std::vector<std::string>{}, PropertyLines(Build(vv30, [](TvContact&) {}), "PRODID"));
}

TEST_F(VCardTest, CardTextHasLfInsideAndNoFinalBreak) {
  const std::string text = Build(vv30, [](TvContact& c) { c.LastName = "Muster"; });
  EXPECT_EQ(
      "BEGIN:VCARD\nVERSION:3.0\nN:Muster;;;;\nFN: Muster\nREV:2026-12-07T04:30:05Z\n"
      "PRODID:Parvela\nEND:VCARD",
      text);
}

TEST_F(VCardTest, Utf8AndAnsiBytes) {
  const struct {
    const char* name;
    std::string utf8;
  } rows[] = {
      {"\xFC", "\xC3\xBC"},
      {"\x80", "\xE2\x82\xAC"},
      {"\x81", "\xC2\x81"},
      {"plain", "plain"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(testing::PrintToString(std::string(row.name)));
    card.vContacts.Clear();
    card.vContacts.Add().LastName = row.name;
    std::string ansi, utf8;
    card.SaveToStream(ansi, true);
    card.SaveToStream(utf8, false);
    EXPECT_NE(std::string::npos, ansi.find(std::string("\nN:") + row.name + ";;;;\n"));
    EXPECT_NE(std::string::npos, utf8.find("\nN:" + row.utf8 + ";;;;\n"));
    EXPECT_EQ(utf8.substr(0, 9), "BEGIN:VCA");  // no byte-order mark
    EXPECT_EQ("END:VCARD\r\n", utf8.substr(utf8.size() - 11));
  }
}

TEST_F(VCardTest, SaveToStreamOfNoContactsIsEmpty) {
  std::string stream = "old contents";
  card.SaveToStream(stream, false);
  EXPECT_EQ("", stream);
  EXPECT_EQ(0, card.WrittenCount());
}

TEST_F(VCardTest, HandlerDecidesPerContactAfterTheTextIsBuilt) {
  for (int id = 1; id <= 4; ++id) {
    TvContact& c = card.vContacts.Add();
    c.ScoreItem.RecordID = id;
    c.LastName = "Nr" + std::to_string(id);
  }
  std::vector<int> asked;
  card.OnWriteContact = [&](TvContact& c, bool& write) {
    asked.push_back(c.ScoreItem.RecordID);
    write = c.ScoreItem.RecordID % 2 == 0;
    c.LastName = "changed";  // too late for this card's text
  };
  std::string stream;
  card.SaveToStream(stream, true);
  EXPECT_EQ((std::vector<int>{1, 2, 3, 4}), asked);
  EXPECT_EQ(2, card.WrittenCount());
  EXPECT_EQ((std::vector<std::string>{"N:Nr2;;;;", "N:Nr4;;;;"}), PropertyLines(stream, "N"));

  card.OnWriteContact = [](TvContact&, bool& write) { write = false; };
  card.SaveToStream(stream, false);
  EXPECT_EQ("", stream);
  EXPECT_EQ(0, card.WrittenCount());

  card.OnWriteContact = [](TvContact&, bool&) {};  // a handler that leaves the flag alone
  card.SaveToStream(stream, false);
  EXPECT_EQ(4, card.WrittenCount());
}

TEST_F(VCardTest, FailureInTheHandlerLeavesTheStreamEmpty) {
  card.vContacts.Add();
  card.vContacts.Add();
  int calls = 0;
  card.OnWriteContact = [&](TvContact&, bool& write) {
    write = true;
    if (++calls == 2) throw std::runtime_error("ledger");
  };
  std::string stream;
  EXPECT_THROW(card.SaveToStream(stream, false), std::runtime_error);
  EXPECT_EQ("", stream);
}

TEST_F(VCardTest, StreamingGivesTheSameBytesAsSaveToStream) {
  FillTypical(card.vContacts.Add());
  FillEverything(card.vContacts.Add(), vv30);
  card.vContacts.Add().FirstName = "Bare";
  card.OnWriteContact = [](TvContact& c, bool& write) { write = c.FirstName != "Bare"; };
  for (const bool asAnsi : {true, false}) {
    SCOPED_TRACE(asAnsi);
    std::string whole;
    card.SaveToStream(whole, asAnsi);
    std::string streamed = "head:";
    card.BeginStream();
    EXPECT_EQ(0, card.WrittenCount());
    EXPECT_TRUE(card.WriteContact(card.vContacts[0], streamed, asAnsi));
    EXPECT_TRUE(card.WriteContact(card.vContacts[1], streamed, asAnsi));
    EXPECT_FALSE(card.WriteContact(card.vContacts[2], streamed, asAnsi));
    EXPECT_EQ(2, card.WrittenCount());
    EXPECT_EQ("head:" + whole, streamed);
  }
}

TEST_F(VCardTest, AssigningContactsCopiesThem) {
  TvContactsCollection other(nullptr);
  FillTypical(other.Add());
  card.vContacts = other;
  other.Clear();
  ASSERT_EQ(1, card.vContacts.Count());
  EXPECT_EQ("Beispiel GmbH", card.vContacts[0].Company);
  EXPECT_EQ(&card, card.vContacts.GetOwner());
}

}  // namespace
}  // namespace pv
