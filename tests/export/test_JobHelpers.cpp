// What the export job takes from one record: contact data from IX, the company, the change stamp.
#include <gtest/gtest.h>

#include <random>

#include "export/PVAdressJob.h"
#include "files/AnsiText.h"

namespace pv {
namespace {

using Texts = std::vector<std::string>;

TEST(JobHelpers, ContactDataFromIX) {
  struct Case {
    std::string ix;
    Texts emails, phones;
  } cases[] = {
      {"0711 123456 07111234567 erika@muster.de", {"erika@muster.de"}, {"07111234567"}},
      {"+49711123456 0711-123456 a@b.d", {}, {}},  // 5 characters with "@": too short
      {"012345 01234567", {}, {}},                 // 6 and 8 digits: candidates only
      {"Erika@Muster.de erika@muster.DE", {"Erika@Muster.de"}, {}},
      {"071112345678 071112345678", {}, {"071112345678"}},
      {"  071112345678  ", {}, {"071112345678"}},  // runs of blanks give empty pieces
      {"@@@@@@ Telefon 01711234567x", {"@@@@@@"}, {}},
      {"x10@a.de x9@a.de x100@a.de", {"x9@a.de", "x10@a.de", "x100@a.de"}, {}},
      {"0301234567 030123456 0201234567", {}, {"0201234567", "030123456", "0301234567"}},
      {"", {}, {}},
  };
  std::vector<std::string_view> emails, phones;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.ix);
    ExtractContactData(c.ix, emails, phones);
    EXPECT_EQ(Texts(emails.begin(), emails.end()), c.emails);
    EXPECT_EQ(Texts(phones.begin(), phones.end()), c.phones);
  }
}

// The lists as a sorted insert per piece made them: the order the export has always written.
void ExtractBySortedInsert(std::string_view ix, std::vector<std::string_view>& emails,
                           std::vector<std::string_view>& phones) {
  const auto add = [](std::vector<std::string_view>& list, std::string_view s) {
    auto it = list.begin();
    while (it != list.end() && AnsiCompareText(*it, s) < 0) ++it;
    if (it == list.end() || !AnsiSameText(*it, s)) list.insert(it, s);
  };
  emails.clear();
  phones.clear();
  std::vector<std::string_view> pieces;
  SplitText(" ", ix, pieces);
  for (const std::string_view piece : pieces) {
    if (piece.size() < 6) continue;
    if (piece.find('@') != std::string_view::npos) {
      add(emails, piece);
    } else if (piece[0] == '0' && piece.find_first_not_of("0123456789") == piece.npos) {
      add(phones, piece);
    }
  }
  std::erase_if(phones, [](std::string_view c) { return c.size() <= 8; });
  NaturalSort(emails);
  NaturalSort(phones);
}

// Pieces that collide often: case variants, digit runs of different lengths, short and long;
// with the bytes next to the digits, "@" and the blank, and their high-bit twins.
std::string RandomIX(std::mt19937& random) {
  static const std::string kLetters = "aAbB\xE4\xC4xX@.-/:?!\t\x1F\xB0\xC0\xA0";
  std::string ix;
  const int pieces = static_cast<int>(random() % 60);
  for (int p = 0; p < pieces; ++p) {
    ix.append(1 + random() % 2, ' ');
    const int kind = static_cast<int>(random() % 3);
    const int length = static_cast<int>(random() % 13);
    if (kind == 0) ix += '0';
    for (int i = 0; i < length; ++i) {
      const bool digit = kind == 0 ? random() % 16 != 0 : random() % 3 == 0;
      ix += digit ? static_cast<char>('0' + random() % 4) : kLetters[random() % kLetters.size()];
    }
    if (kind == 1) ix += "@x.de";
  }
  return ix;
}

TEST(JobHelpers, ContactDataMatchesTheSortedInsertOnRandomInput) {
  std::mt19937 random(20261208);
  std::vector<std::string_view> emails, phones, oldEmails, oldPhones;
  for (int round = 0; round < 3000; ++round) {
    const std::string ix = RandomIX(random);
    SCOPED_TRACE(ix);
    ExtractContactData(ix, emails, phones);
    ExtractBySortedInsert(ix, oldEmails, oldPhones);
    // Exactly the same pieces (not only equal ignoring case), in the same order.
    ASSERT_EQ(Texts(emails.begin(), emails.end()), Texts(oldEmails.begin(), oldEmails.end()));
    ASSERT_EQ(Texts(phones.begin(), phones.end()), Texts(oldPhones.begin(), oldPhones.end()));
  }
}

TEST(JobHelpers, CompanyFromAbt) {
  struct Case {
    std::string abt, company;
  } cases[] = {
      {"  Vertrieb\xACNord  ", "Vertrieb Nord"},
      {"Vertrieb \xAC Nord", "Vertrieb  Nord"},  // three blanks: one pass leaves two
      {"Vertrieb \xACNord", "Vertrieb Nord"},
      {"\t\r\nA\x01", "A"},
      {"", ""},
      {"    ", ""},
      {"a    b", "a  b"},  // four blanks: two pairs
      {"x\xAC\xACy", "x y"},
      {"\xAC A", " A"},  // the sign is no blank for the trimming
      {"A \xAC", "A "},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.abt);
    EXPECT_EQ(CompanyName(c.abt), c.company);
  }
}

// A record as read: the columns in TRowColumn order, then adr_47_ and IX, all as stored.
struct RawRecord {
  int64_t id;
  std::vector<std::string> fields;
};

TEST(JobHelpers, PickerKeepsUsableRecordsConvertedAndInTheirOrder) {
  const RawRecord raw[] = {
      {1,
       {"M\xC3\xBCller", "J\xC3\xBCrgen", " Vertrieb\xC2\xAC Nord ", "70173", "Stuttgart",
        "K\xC3\xB6nigstra\xC3\x9F"
        "e 1",
        "Kunden\r\nPresse", "20240315 143005123", "r\xC3\xBC@x.de 0711 07111234567 b@mail.de"}},
      {2, {"Leer", "", "", "", "", "", "", "20240315 143005123", "kein Kontakt 0711"}},
      {4294967297LL,
       {"M\xFCller", "", "  Lager  Nord\t", "", "", "", "",
        "20240315\xC3\xA9"
        "143005123",
        "07111234567"}},
  };
  TRowBatch in, out;
  for (const RawRecord& r : raw) {
    in.BeginRow(r.id, {0, 0});
    for (const std::string& f : r.fields) in.AddText(f);
  }
  TAddressRowPicker picker;
  std::vector<bool> kept;
  for (size_t r = 0; r < in.Rows(); ++r) kept.push_back(picker.Add(TRowView(in, r), out));
  EXPECT_EQ(kept, (std::vector<bool>{true, false, true}));
  ASSERT_EQ(out.Rows(), 2u);

  const TRowView first(out, 0);
  EXPECT_EQ(first.Id(), 1);
  EXPECT_EQ(first.Column(kNName), "M\xFCller");
  EXPECT_EQ(first.Column(kVName), "J\xFCrgen");
  EXPECT_EQ(first.Column(kAbt), "Vertrieb Nord");
  EXPECT_EQ(first.Column(kPostCode), "70173");
  EXPECT_EQ(first.Column(kCity), "Stuttgart");
  EXPECT_EQ(first.Column(kStreet),
            "K\xF6nigstra\xDF"
            "e 1");
  EXPECT_EQ(first.Column(kGroups), "Kunden\r\nPresse");
  EXPECT_EQ(first.Stamp(), "2024.15.03.14.30.05");
  ASSERT_EQ(first.Emails(), 2u);
  EXPECT_EQ(first.Email(0), "b@mail.de");
  EXPECT_EQ(first.Email(1), "r\xFC@x.de");
  ASSERT_EQ(first.Phones(), 1u);
  EXPECT_EQ(first.Phone(0), "07111234567");

  const TRowView second(out, 1);  // text that is not UTF-8 is taken as it is
  EXPECT_EQ(second.Id(), 4294967297LL);
  EXPECT_EQ(second.Column(kNName), "M\xFCller");
  EXPECT_EQ(second.Column(kAbt), "Lager Nord");
  EXPECT_EQ(second.Stamp(), "2024.15.03.14.30.05");  // the positions of the 1252 form
  EXPECT_EQ(second.Emails(), 0u);
  EXPECT_EQ(second.Phones(), 1u);
}

// Picked in UTF-8, every text of every kept record is the UTF-8 form of the Windows-1252 pick:
// the same records, lists and order, whatever the bytes.
TEST(JobHelpers, PickerInUtf8GivesTheUtf8FormOfTheAnsiPick) {
  const RawRecord raw[] = {
      {1,
       {"M\xC3\xBCller\xF0\x9F\x98\x80", "\xC2\x80Ren\xC3\xA9",
        "\xC2\xAC\xC2\xAC Vertrieb \xC2\xAC\xC2\xAC", "70173", "K\xF6ln",
        "Stra\xC3\x9F"
        "e",
        "A\r\nB", "20240315 143005123",
        "J\xC3\x9CRGEN@x.de j\xC3\xBCrgen@X.DE 07111234567 \xE2\x82\xAC@x.de"}},
      {2, {"", "", "", "", "", "", "", "", "kein Kontakt"}},
      {3, {"M\xFCller", "", "\xFC", "", "", "", "", "kaputt", "b@x.de a@x.de"}},
  };
  TRowBatch in, ansi, utf8;
  for (const RawRecord& r : raw) {
    in.BeginRow(r.id, {0, 0});
    for (const std::string& f : r.fields) in.AddText(f);
  }
  TAddressRowPicker ansiPicker(TPickedText::Ansi), utf8Picker(TPickedText::Utf8);
  for (size_t r = 0; r < in.Rows(); ++r) {
    EXPECT_EQ(ansiPicker.Add(TRowView(in, r), ansi), utf8Picker.Add(TRowView(in, r), utf8));
  }
  ASSERT_EQ(utf8.Rows(), 2u);
  for (size_t r = 0; r < ansi.Rows(); ++r) {
    const TRowView a(ansi, r), u(utf8, r);
    ASSERT_EQ(u.Id(), a.Id());
    ASSERT_EQ(u.Emails(), a.Emails());
    ASSERT_EQ(u.Phones(), a.Phones());
    for (size_t i = 0; i < kRowColumns + 1 + a.Emails() + a.Phones(); ++i) {
      SCOPED_TRACE(::testing::Message() << "record " << r << " text " << i);
      EXPECT_EQ(u.Field(i), AnsiToUtf8(a.Field(i)));
    }
  }
}

TEST(JobHelpers, ChangeStampByFixedPositions) {
  struct Case {
    std::string text, stamp;
  } cases[] = {
      {"20240315 143005120", "2024.15.03.14.30.05"},
      {"20240315", "2024.15.03.00.00.00"},
      {"20240229 235959999", "2024.29.02.23.59.59"},
      {"20230229 000000000", "1899.30.12.00.00.00"},  // no 29 February in 2023
      {"20241301 000000000", "1899.30.12.00.00.00"},
      {"20240315 250000000", "1899.30.12.00.00.00"},
      {"", "1899.30.12.00.00.00"},
      {"abcdefgh ijklmnopq", "1899.30.12.00.00.00"},
      {"00010101X000000000", "0001.01.01.00.00.00"},
      {"20240315\xE9"
       "143005120",
       "2024.15.03.14.30.05"},
      {"20240315 14300512", "2024.15.03.14.30.05"},      // one digit short
      {"20240315 14300512\xE9", "2024.15.03.14.30.05"},  // no number: 0 ms
      {"00000315 143005120", "1899.30.12.00.00.00"},
      // The bytes next to the digits are no digits, in either half.
      {"2024031/ 143005120", "1899.30.12.00.00.00"},
      {"20240315 14:005120", "2024.15.03.14.00.05"},
      {"20240315 14300512:", "2024.15.03.14.30.05"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(FormatChangeStamp(c.text), c.stamp);
  }
}

TEST(JobHelpers, CountsAndNumbers) {
  EXPECT_EQ(FormatCount(0), "0");
  EXPECT_EQ(FormatCount(999), "999");
  EXPECT_EQ(FormatCount(1234), "1.234");  // the C locale defines no separator: "."
  EXPECT_EQ(FormatCount(1234567), "1.234.567");
  EXPECT_EQ(FormatCount(-1234567, "."), "-1.234.567");
  EXPECT_EQ(FormatCount(INT64_MIN, "."), "-9.223.372.036.854.775.808");
  EXPECT_EQ(StrToIntDef("4711", 0), 4711);
  EXPECT_EQ(StrToIntDef(" -12", 0), -12);
  EXPECT_EQ(StrToIntDef("12a", 7), 7);
  EXPECT_EQ(StrToIntDef("2147483648", 7), 7);
  EXPECT_EQ(StrToIntDef("-2147483648", 7), -2147483647 - 1);
}

// The locale's separator must become one Windows-1252 byte, or "." (as on a German system).
TEST(JobHelpers, ThousandsSeparatorOfTheLocale) {
  struct Case {
    const char* name;
    const char* localeSep;
    std::string sep;
  } cases[] = {
      {"none", nullptr, "."},
      {"empty", "", "."},
      {"dot", ".", "."},
      {"comma", ",", ","},
      {"apostrophe", "'", "'"},
      {"no-break space", "\xC2\xA0", "\xA0"},
      {"narrow no-break space (not in 1252)", "\xE2\x80\xAF", "."},
      {"two characters", "..", "."},
      {"a question mark itself", "?", "?"},
      {"a single byte of another encoding", "\xA0", "\xA0"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(ThousandsSeparator(c.localeSep), c.sep);
    EXPECT_EQ(FormatCount(1234, ThousandsSeparator(c.localeSep)), "1" + c.sep + "234");
  }
}

TEST(JobHelpers, MarkupEscapeShowsTextAsWritten) {
  struct Case {
    std::string text, escaped;
  } cases[] = {
      {"GmbH & Co. KG", "GmbH &amp; Co. KG"}, {"<Partner>", "&lt;Partner>"}, {"&amp;", "&amp;amp;"},
      {"<b>fett</b>", "&lt;b>fett&lt;/b>"},   {"M\xFCller", "M\xFCller"},    {"", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(EscapeMarkup(c.text), c.escaped);
  }
}

}  // namespace
}  // namespace pv
