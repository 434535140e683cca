// Has an independent vCard parser (python3 with vobject) read awkward values back; skipped where
// that parser is not installed.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "files/AnsiText.h"
#include "tests/support/TempDir.h"
#include "tests/vcard/TzScope.h"
#include "vcard/VCard.h"

namespace pv {
namespace {

// A JSON string of Windows-1252 text.
std::string Json(const std::string& ansi) {
  std::string out = "\"";
  for (const char c : AnsiToUtf8(ansi)) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (static_cast<unsigned char>(c) < 0x20) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04x", c);
      out += buf;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

std::string Json(const std::vector<std::string>& list) {
  std::string out = "[";
  for (const std::string& s : list) out += (out.size() > 1 ? "," : "") + Json(s);
  return out + "]";
}

TEST(VobjectTest, IndependentParserReadsAwkwardValuesBack) {
  if (std::system("python3 -c 'import vobject' >/dev/null 2>&1") != 0) {
    GTEST_SKIP() << "python3 with the vobject module is not installed";
  }
  test::TzScope tz(test::kBerlinTz);
  TAdvvCard card;
  card.ProdID = "Parvela";
  card.Clock = [] {
    TDateTime t = 0;
    TryEncodeDateTime(2026, 12, 7, 5, 30, 5, 0, t);
    return t;
  };
  std::string expected = "[";
  for (const TvCardVersion version : {vv30, vv40, vvNone}) {
    TvContact& c = card.vContacts.Add();
    c.vCardVersion = version;
    c.LastName = "M\xFCller; Sohn";
    c.FirstName = "Anna, Maria";
    c.MiddleName = "a\\b";
    c.NamePrefix = "Dr.\r\nmed.";
    c.NameSuffix = "\"jun.\"";
    TvAddress& a = c.Addresses.Add();
    a.POBox = "Fach\\1";
    a.Number = "Zeile 1\nZeile 2";
    a.Street = "Hof 3; Eingang B";
    a.City = "Halle (Saale), Nord";
    a.PostCode = "06108";
    a.Country = "\xC4gypten";
    a.MailingLabel.SetText("Hof 3\r\n\"Eingang\" B");
    c.Categories.SetText("Kunden, gro\xDF\r\n\"VIP\"\r\na\\b\r\n\r\nLieferanten");
    c.Note.SetText("Zeile 1\r\nZeile 2 \\ ; ,");
    std::string rev = version == vv40 ? "20261207T043005Z" : "2026-12-07T04:30:05Z";
    if (version == vvNone) {
      TryEncodeDateTime(2026, 7, 1, 12, 0, 0, 0, c.Updated);
      rev = "2026-07-01T10:00:00Z";
    }
    expected +=
        std::string(expected.size() > 1 ? "," : "") +
        "{\"n\":" + Json({"M\xFCller; Sohn", "Anna, Maria", "a\\b", "Dr.\nmed.", "\"jun.\""}) +
        ",\"adr\":" +
        Json({"Fach\\1", "Zeile 1\nZeile 2", "Hof 3; Eingang B", "Halle (Saale), Nord", "", "06108",
              "\xC4gypten"}) +
        ",\"categories\":" + Json({"Kunden, gro\xDF", "\"VIP\"", "a\\b", "Lieferanten"}) +
        ",\"rev\":" + Json(rev) + "}";
  }
  expected += "]";

  std::string stream;
  card.SaveToStream(stream, false);
  test::TempDir dir;
  test::WriteFile(dir / "awkward.vcf", stream);
  test::WriteFile(dir / "expected.json", expected);
  const std::string command = "python3 '" PV_SOURCE_DIR "/tests/vcard/check_vobject.py' '" +
                              (dir / "awkward.vcf") + "' '" + (dir / "expected.json") + "' > '" +
                              (dir / "out.txt") + "' 2>&1";
  const int status = std::system(command.c_str());
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
      << test::ReadFile(dir / "out.txt") << "\n"
      << stream;
}

}  // namespace
}  // namespace pv
