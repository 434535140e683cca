// What the export job takes from one record: contact data from IX, the company, the change stamp.
#include <gtest/gtest.h>

#include "export/PVAdressJob.h"

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
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.abt);
    EXPECT_EQ(CompanyName(c.abt), c.company);
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
  EXPECT_EQ(StrToIntDef("4711", 0), 4711);
  EXPECT_EQ(StrToIntDef(" -12", 0), -12);
  EXPECT_EQ(StrToIntDef("12a", 7), 7);
  EXPECT_EQ(StrToIntDef("2147483648", 7), 7);
  EXPECT_EQ(StrToIntDef("-2147483648", 7), -2147483647 - 1);
}

}  // namespace
}  // namespace pv
