// The vCard writer over contacts built from fuzz bytes, in every dialect and both encodings.
// Every contact gives one card from "BEGIN:VCARD" to "END:VCARD"; every line of a card is one
// property (a value never breaks its line: no raw CR or LF inside a value), lines end in CR LF;
// UTF-8 output is valid UTF-8 and is exactly the Windows-1252 output converted.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "files/AnsiText.h"
#include "fuzz/FuzzUtil.h"
#include "vcard/VCard.h"

namespace {

constexpr double kCoordinates[] = {0, 52.52, -13.405, 1e20, -1e-7, 123456789012345678.0, 1};

constexpr std::string_view kProperties[] = {
    "VERSION", "N",           "FN",  "UID",   "NICKNAME", "ORG",    "TITLE",          "ROLE",
    "URL",     "SOURCE",      "TZ",  "BDAY",  "REV",      "PRODID", "CATEGORIES",     "NOTE",
    "GEO",     "SORT-STRING", "ADR", "LABEL", "TEL",      "EMAIL",  "X-SOCIALPROFILE"};

std::string Text(FuzzedDataProvider& in) { return in.ConsumeRandomLengthString(24); }

void FillLines(FuzzedDataProvider& in, pv::TvStrings& lines) {
  // Entries as they come, line breaks included: the writer must not pass them on raw.
  for (size_t n = in.ConsumeIntegralInRange<size_t>(0, 3); n > 0; --n) lines.Add(Text(in));
}

template <class E>
E Pick(FuzzedDataProvider& in, int last) {
  return static_cast<E>(in.ConsumeIntegralInRange<int>(0, last));
}

void FillLists(FuzzedDataProvider& in, pv::TvContact& c) {
  for (size_t n = in.ConsumeIntegralInRange<size_t>(0, 2); n > 0; --n) {
    pv::TvAddress& a = c.Addresses.Add();
    for (std::string* s :
         {&a.POBox, &a.Number, &a.Street, &a.City, &a.Region, &a.PostCode, &a.Country}) {
      *s = Text(in);
    }
    a.AddressType = Pick<pv::TvFieldType>(in, pv::ftNone);
    a.Preferred = in.ConsumeBool();
    FillLines(in, a.MailingLabel);
  }
  for (size_t n = in.ConsumeIntegralInRange<size_t>(0, 2); n > 0; --n) {
    pv::TvPhone& p = c.PhoneNumbers.Add();
    p.PhoneNumber = Text(in);
    for (int t = pv::ptText; t <= pv::ptMain; ++t) {
      if (in.ConsumeBool()) p.PhoneType.Include(static_cast<pv::TvPhoneType>(t));
    }
    p.FieldType = Pick<pv::TvFieldType>(in, pv::ftNone);
    p.Preferred = in.ConsumeBool();
  }
  for (size_t n = in.ConsumeIntegralInRange<size_t>(0, 2); n > 0; --n) {
    pv::TvEmail& e = c.Emails.Add();
    e.EmailAddress = Text(in);
    e.EmailType = Pick<pv::TvFieldType>(in, pv::ftNone);
    e.Preferred = in.ConsumeBool();
  }
  for (size_t n = in.ConsumeIntegralInRange<size_t>(0, 2); n > 0; --n) {
    pv::TvSocialItem& s = c.SocialProfile.Add();
    s.URI = Text(in);
    s.Service = Text(in);
    s.User = Text(in);
  }
}

void Fill(FuzzedDataProvider& in, pv::TvContact& c) {
  c.vCardVersion = Pick<pv::TvCardVersion>(in, pv::vv40);
  for (std::string* s : {&c.ID, &c.FirstName, &c.LastName, &c.MiddleName, &c.NamePrefix,
                         &c.NameSuffix, &c.FullName, &c.NickName, &c.Company, &c.JobTitle,
                         &c.Profession, &c.WebsiteURL, &c.Source, &c.SortString, &c.TimeZone}) {
    if (in.ConsumeBool()) *s = Text(in);
  }
  // Dates within the years the writer shows (0 is unset).
  if (in.ConsumeBool()) c.BirthDay = in.ConsumeIntegralInRange<int>(1, 80000);
  if (in.ConsumeBool()) c.Updated = in.ConsumeIntegralInRange<int>(1, 80000) + 0.5;
  c.GeoLocation.Latitude = kCoordinates[in.ConsumeIntegralInRange<size_t>(0, 6)];
  c.GeoLocation.Longitude = kCoordinates[in.ConsumeIntegralInRange<size_t>(0, 6)];
  FillLines(in, c.Categories);
  FillLines(in, c.Note);
  FillLists(in, c);
}

std::string Describe(const pv::TvContact& c) {
  std::string d = "version " + std::to_string(c.vCardVersion) + " FullName " +
                  pv::fuzz::Escaped(c.FullName) + " SortString " + pv::fuzz::Escaped(c.SortString);
  for (const pv::TvStrings* list : {&c.Categories, &c.Note}) {
    d += "\nlist:";
    for (const std::string& line : list->Lines()) d += " [" + pv::fuzz::Escaped(line) + "]";
  }
  return d;
}

// How many lines the contact's card has when no value breaks its line, CATEGORIES not counted.
size_t ExpectedLines(const pv::TvContact& c, const pv::TAdvvCard& card) {
  const bool v40 = c.vCardVersion == pv::vv40;
  size_t n = 5 + (c.vCardVersion != pv::vvNone);  // BEGIN, N, FN, REV, END
  for (const std::string* s : {&c.ID, &c.NickName, &c.Company, &c.JobTitle, &c.Profession,
                               &c.WebsiteURL, &c.Source, &c.TimeZone, &card.ProdID}) {
    n += !s->empty();
  }
  n += (c.BirthDay != 0) + !c.Note.Empty();
  n += c.GeoLocation.Latitude != 0 && c.GeoLocation.Longitude != 0;
  n += !v40 && (!c.SortString.empty() || !c.FullName.empty());
  for (int i = 0; i < c.Addresses.Count(); ++i) {
    n += 1 + (!v40 && !c.Addresses[i].MailingLabel.Empty());
  }
  return n + c.PhoneNumbers.Count() + c.Emails.Count() + c.SocialProfile.Count();
}

bool IsProperty(std::string_view line) {
  for (std::string_view p : kProperties) {
    if (line.size() > p.size() && line.substr(0, p.size()) == p &&
        (line[p.size()] == ':' || line[p.size()] == ';')) {
      return true;
    }
  }
  return false;
}

// The lines of the output. Lines end in CR LF; a CR or LF anywhere else fails. (A writer that ends
// the lines inside a card with LF alone is accepted while its first line says so.)
std::vector<std::string_view> Lines(std::string_view out) {
  const size_t firstBreak = out.find('\n');
  const bool lfInside = firstBreak != out.npos && (firstBreak == 0 || out[firstBreak - 1] != '\r');
  std::vector<std::string_view> lines;
  size_t start = 0;
  for (size_t i = 0; i < out.size(); ++i) {
    if (out[i] == '\r') FUZZ_CHECK(i + 1 < out.size() && out[i + 1] == '\n');
    if (out[i] != '\n') continue;
    const size_t end = i > start && out[i - 1] == '\r' ? i - 1 : i;
    const std::string_view line = out.substr(start, end - start);
    FUZZ_CHECK(lfInside ? (end != i) == (line == "END:VCARD") : end != i);
    lines.push_back(line);
    start = i + 1;
  }
  FUZZ_CHECK(start == out.size());  // the last card ends with a line break too
  return lines;
}

void CheckCards(std::string_view out, const pv::TAdvvCard& card) {
  const std::vector<std::string_view> lines = Lines(out);
  size_t at = 0;
  for (int i = 0; i < card.vContacts.Count(); ++i) {
    const pv::TvContact& c = card.vContacts[i];
    const size_t begin = at;
    size_t categories = 0;
    FUZZ_CHECK(at < lines.size() && lines[at] == "BEGIN:VCARD");
    for (++at; at < lines.size() && lines[at] != "END:VCARD"; ++at) {
      FUZZ_CHECK_MSG(IsProperty(lines[at]), pv::fuzz::Escaped(out));
      categories += lines[at].substr(0, 11) == "CATEGORIES:";
    }
    FUZZ_CHECK(at < lines.size());
    ++at;
    // A list of only empty categories may or may not give a line. Outside 2.1 control characters
    // but tab are dropped, so an entry of nothing else counts as empty there.
    const auto kept = [&c](char ch) {
      return c.vCardVersion == pv::vv21 || static_cast<unsigned char>(ch) >= 0x20 || ch == '\t';
    };
    bool anyCategory = false;
    for (const std::string& entry : c.Categories.Lines())
      anyCategory |= std::any_of(entry.begin(), entry.end(), kept);
    FUZZ_CHECK(categories == anyCategory || (categories == 1 && !c.Categories.Empty()));
    FUZZ_CHECK_MSG(at - begin - categories == ExpectedLines(c, card),
                   pv::fuzz::Escaped(out) + "\n" + Describe(c));
  }
  FUZZ_CHECK(at == lines.size());
}

bool ValidUtf8(std::string_view s) {
  for (size_t i = 0; i < s.size();) {
    const auto b = static_cast<unsigned char>(s[i]);
    const size_t n = b < 0x80 ? 1 : (b >> 5) == 6 ? 2 : (b >> 4) == 14 ? 3 : (b >> 3) == 30 ? 4 : 0;
    if (n == 0 || i + n > s.size()) return false;
    uint32_t cp = n == 1 ? b : b & (0x7F >> n);
    for (size_t k = 1; k < n; ++k) {
      const auto c = static_cast<unsigned char>(s[i + k]);
      if ((c >> 6) != 2) return false;
      cp = cp << 6 | (c & 0x3F);
    }
    constexpr uint32_t kMin[] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < kMin[n] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
    i += n;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  pv::TAdvvCard card;
  card.Clock = [] { return 46000.25; };
  if (in.ConsumeBool()) card.ProdID = Text(in);
  for (size_t n = in.ConsumeIntegralInRange<size_t>(1, 3); n > 0; --n)
    Fill(in, card.vContacts.Add());

  std::string ansi, utf8;
  card.SaveToStream(ansi, true);
  FUZZ_CHECK(card.WrittenCount() == card.vContacts.Count());
  CheckCards(ansi, card);
  card.SaveToStream(utf8, false);
  FUZZ_CHECK(card.WrittenCount() == card.vContacts.Count());
  FUZZ_CHECK(ValidUtf8(utf8));
  FUZZ_CHECK(utf8 == pv::AnsiToUtf8(ansi));
  return 0;
}
