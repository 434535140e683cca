#include "vcard/VCard.h"

#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "files/AnsiText.h"
#include "vcard/TextEncoding.h"

namespace pv {
namespace {

// Escapes applied to a value before it is written (bit flags).
constexpr unsigned kBreaks = 1;     // "\" -> "\\", CR LF, CR or LF -> "\n"
constexpr unsigned kComma = 2;      // "," -> "\,"
constexpr unsigned kSemicolon = 4;  // ";" -> "\;"
constexpr unsigned kQuote = 8;      // '"' -> "'" (parameter values cannot carry a double quote)

constexpr std::string_view kVersionLine[] = {"", "VERSION:2.1\n", "VERSION:3.0\n", "VERSION:4.0\n"};

// Field-type parameter of addresses and e-mails, by version and field type.
constexpr std::string_view kFieldTypeParam[4][4] = {
    {";TYPE=HOME", ";TYPE=WORK", ";TYPE=OTHER", ""},  // vvNone
    {";HOME", ";WORK", ";OTHER", ""},                 // vv21
    {";TYPE=HOME", ";TYPE=WORK", ";TYPE=OTHER", ""},  // vv30
    {";TYPE=HOME", ";TYPE=WORK", ";TYPE=OTHER", ""},  // vv40
};

// Field-type parameter of phones, the same in every version.
constexpr std::string_view kTelFieldType[4] = {";TYPE=HOME", ";TYPE=WORK", ";TYPE=OTHER", ""};

// Phone type words in output order (not the enumeration order).
constexpr struct {
  TvPhoneType type;
  std::string_view word;
} kPhoneTypeWords[] = {
    {ptText, "TEXT"},   {ptVoice, "VOICE"},   {ptFax, "FAX"},
    {ptCell, "CELL"},   {ptiPhone, "IPHONE"}, {ptMain, "MAIN"},
    {ptVideo, "VIDEO"}, {ptPager, "PAGER"},   {ptTextPhone, "TEXTPHONE"},
};

TvCardVersion Normal(TvCardVersion v) { return v <= vv40 ? v : vvNone; }

// Which escapes each byte is subject to.
constexpr auto kSpecial = [] {
  std::array<unsigned char, 256> t{};
  t['\\'] = t['\r'] = t['\n'] = kBreaks;
  t[','] = kComma;
  t[';'] = kSemicolon;
  t['"'] = kQuote;
  return t;
}();

// The first byte at or after i that needs an escape, or the size.
size_t NextSpecial(std::string_view s, size_t i, unsigned esc) {
  const auto at = [&](size_t k) { return kSpecial[static_cast<unsigned char>(s[k])]; };
  // Eight bytes per test: values are short and nearly always need nothing.
  for (; i + 8 <= s.size(); i += 8) {
    if (((at(i) | at(i + 1) | at(i + 2) | at(i + 3) | at(i + 4) | at(i + 5) | at(i + 6) |
          at(i + 7)) &
         esc) != 0) {
      break;
    }
  }
  while (i < s.size() && (at(i) & esc) == 0) ++i;
  return i;
}

void AppendEscaped(std::string& out, std::string_view s, unsigned esc) {
  if (esc == 0) {
    out.append(s);
    return;
  }
  size_t start = 0;
  for (size_t i = NextSpecial(s, 0, esc); i < s.size(); i = NextSpecial(s, i + 1, esc)) {
    const char c = s[i];
    out.append(s.data() + start, i - start);
    switch (c) {
      case '\\':
        out += "\\\\";
        break;
      case '\r':
        out += "\\n";
        if (i + 1 < s.size() && s[i + 1] == '\n') ++i;
        break;
      case '\n':
        out += "\\n";
        break;
      case '"':
        out += '\'';
        break;
      default:  // "," or ";"
        out += '\\';
        out += c;
    }
    start = i + 1;
  }
  out.append(s.data() + start, s.size() - start);
}

// Windows-1252 to UTF-8 through the code page's byte table; runs of ASCII are copied as they are.
void AppendUtf8(std::string& out, std::string_view s) {
  const char* p = s.data();
  const char* const end = p + s.size();
  while (p < end) {
    const char* q = p;
    for (uint64_t word; end - q >= 8; q += 8) {
      std::memcpy(&word, q, 8);
      if (word & 0x8080808080808080u) break;
    }
    while (q < end && static_cast<unsigned char>(*q) < 0x80) ++q;
    out.append(p, static_cast<size_t>(q - p));
    p = q;
    while (q < end && static_cast<unsigned char>(*q) >= 0x80) ++q;
    if (q > p) AppendAnsiAsUtf8(out, std::string_view(p, static_cast<size_t>(q - p)));
    p = q;
  }
}

// A parameter value that cannot end its parameter or line early.
void AppendParamValue(std::string& out, std::string_view s, bool escape) {
  if (!escape) {
    out += s;
    return;
  }
  const bool quote = s.find_first_of(";:,") != std::string_view::npos;
  if (quote) out += '"';
  AppendEscaped(out, s, kBreaks | kQuote);
  if (quote) out += '"';
}

// A URI keeps its backslashes and commas; line breaks are percent-encoded.
void AppendUri(std::string& out, std::string_view s, bool escape) {
  if (!escape || s.find_first_of("\r\n") == std::string_view::npos) {
    out += s;
    return;
  }
  for (const char c : s) {
    if (c == '\r') {
      out += "%0D";
    } else if (c == '\n') {
      out += "%0A";
    } else {
      out += c;
    }
  }
}

void AppendPadded(std::string& out, int value, int width) {
  char buf[16];
  const auto r = std::to_chars(buf, buf + sizeof buf, value < 0 ? -value : value);
  if (value < 0) out += '-';
  for (int n = static_cast<int>(r.ptr - buf); n < width; ++n) out += '0';
  out.append(buf, r.ptr);
}

void AppendRevStamp(std::string& out, TDateTime utc, bool basic) {
  int y, m, d, h, n, s, ms;
  DecodeDateTime(utc, y, m, d, h, n, s, ms);
  AppendPadded(out, y, basic ? 4 : 0);
  if (!basic) out += '-';
  AppendPadded(out, m, 2);
  if (!basic) out += '-';
  AppendPadded(out, d, 2);
  out += 'T';
  AppendPadded(out, h, 2);
  if (!basic) out += ':';
  AppendPadded(out, n, 2);
  if (!basic) out += ':';
  AppendPadded(out, s, 2);
  out += 'Z';
}

bool InYearRange(TDateTime value) {
  int y, m, d, h, n, s, ms;
  DecodeDateTime(value, y, m, d, h, n, s, ms);
  return y >= 1 && y <= 9999;
}

void AppendCoordinate(std::string& out, double x) {
  // Round to 15 significant digits: "-d.dddddddddddddde+XX".
  char buf[40];
  const auto r = std::to_chars(buf, buf + sizeof buf, x, std::chars_format::scientific, 14);
  const std::string_view sci(buf, static_cast<size_t>(r.ptr - buf));
  const size_t epos = sci.find('e');
  if (epos == std::string_view::npos) {  // inf or nan: never reaches a card
    out += sci;
    return;
  }
  size_t p = 0;
  if (sci[0] == '-') {
    out += '-';
    p = 1;
  }
  std::string_view mantissa = sci.substr(p, epos - p);
  char digits[20];
  size_t nd = 0;
  for (const char c : mantissa) {
    if (c != '.') digits[nd++] = c;
  }
  while (nd > 1 && digits[nd - 1] == '0') --nd;
  int exp = 0;
  std::from_chars(sci.data() + epos + (sci[epos + 1] == '+' ? 2 : 1), sci.data() + sci.size(), exp);
  if (exp >= 15) {
    out += digits[0];
    if (nd > 1) {
      out += '.';
      out.append(digits + 1, nd - 1);
    }
    out += 'E';
    AppendPadded(out, exp, 0);
  } else if (exp >= 0) {
    const auto intDigits = static_cast<size_t>(exp) + 1;
    if (nd <= intDigits) {
      out.append(digits, nd);
      out.append(intDigits - nd, '0');
    } else {
      out.append(digits, intDigits);
      out += '.';
      out.append(digits + intDigits, nd - intDigits);
    }
  } else {
    out += "0.";
    out.append(static_cast<size_t>(-exp - 1), '0');
    out.append(digits, nd);
  }
}

void AppendPhoneTypeList(std::string& out, TvPhoneTypes types, TvCardVersion v) {
  bool first = true;
  for (const auto& [type, word] : kPhoneTypeWords) {
    if (!types.Contains(type)) continue;
    out += first ? (v == vv21 ? ";" : ";TYPE=") : ",";
    out += word;
    first = false;
  }
}

bool IsBlank(std::string_view s) {
  for (const char c : s) {
    if (static_cast<unsigned char>(c) > ' ') return false;
  }
  return true;
}

// "NAME:" and the escaped value on a line of its own, when the value is set.
void AppendLine(std::string& out, std::string_view name, std::string_view value, unsigned esc) {
  if (value.empty()) return;
  out += name;
  AppendEscaped(out, value, esc);
  out += '\n';
}

}  // namespace

TAdvvCard::TAdvvCard() { SetSaveTime(Clock()); }

void TAdvvCard::SetSaveTime(TDateTime local) {
  FSaveTime = local;
  const TDateTime utc = LocalToUtc(local);
  FRevBasic.clear();
  AppendRevStamp(FRevBasic, utc, true);
  FRevExtended.clear();
  AppendRevStamp(FRevExtended, utc, false);
}

void TAdvvCard::BeginStream() {
  FWrittenCount = 0;
  SetSaveTime(Clock());
}

void TAdvvCard::SaveToStream(std::string& stream, bool asAnsi) {
  stream.clear();
  BeginStream();
  try {
    for (int i = 0; i < vContacts.Count(); ++i) WriteContact(vContacts.Items(i), stream, asAnsi);
  } catch (...) {
    stream.clear();
    throw;
  }
}

bool TAdvvCard::WriteContact(TvContact& contact, std::string& out, bool asAnsi) {
  FCard.clear();
  AppendCard(FCard, contact);
  bool write = true;
  if (OnWriteContact) OnWriteContact(contact, write);
  if (!write) return false;
  if (asAnsi) {
    out += FCard;
  } else {
    AppendUtf8(out, FCard);
  }
  out += "\r\n";
  ++FWrittenCount;
  return true;
}

std::string TAdvvCard::BuildCardText(const TvContact& contact) const {
  std::string text;
  AppendCard(text, contact);
  return text;
}

void TAdvvCard::AppendCard(std::string& b, const TvContact& c) const {
  const TvCardVersion v = Normal(c.vCardVersion);
  const bool v21 = v == vv21;
  const bool v40 = v == vv40;
  const bool escape = !v21;  // 2.1 cards keep their values as stored
  const unsigned text = escape ? kBreaks : 0;
  const unsigned commas = text | kComma;
  const unsigned component = escape ? kBreaks | kComma | kSemicolon : 0;

  b += "BEGIN:VCARD\n";
  b += kVersionLine[v];

  b += 'N';
  if (v40 && !c.SortString.empty()) {
    b += ";SORT-STRING=";
    AppendParamValue(b, c.SortString, escape);
  }
  b += ':';
  for (const std::string* part :
       {&c.LastName, &c.FirstName, &c.MiddleName, &c.NamePrefix, &c.NameSuffix}) {
    if (part != &c.LastName) b += ';';
    AppendEscaped(b, *part, component);
  }
  b += '\n';

  b += "FN:";
  if (IsBlank(c.FullName)) {
    AppendEscaped(b, c.FirstName, commas);
    b += ' ';
    AppendEscaped(b, c.LastName, commas);
  } else {
    AppendEscaped(b, c.FullName, commas);
  }
  b += '\n';

  AppendLine(b, "UID:", c.ID, text);
  AppendLine(b, "NICKNAME:", c.NickName, text);
  // ORG is structured: an unescaped ";" would start an organisational unit.
  AppendLine(b, "ORG:", c.Company, escape ? commas | kSemicolon : commas);
  AppendLine(b, "TITLE:", c.JobTitle, commas);
  AppendLine(b, "ROLE:", c.Profession, commas);
  if (!c.WebsiteURL.empty()) {
    b += "URL;WORK:";
    AppendUri(b, c.WebsiteURL, escape);
    b += '\n';
  }
  AppendLine(b, "SOURCE:", c.Source, commas);
  AppendLine(b, "TZ:", c.TimeZone, text);

  if (c.BirthDay != 0 && InYearRange(c.BirthDay)) {
    int y, m, d, h, n, s, ms;
    DecodeDateTime(c.BirthDay, y, m, d, h, n, s, ms);
    b += "BDAY:";
    AppendPadded(b, y, 4);
    AppendPadded(b, m, 2);
    AppendPadded(b, d, 2);
    b += '\n';
  }

  b += "REV:";
  if (c.Updated != 0 && InYearRange(c.Updated)) {
    AppendRevStamp(b, LocalToUtc(c.Updated), v40);
  } else {
    b += v40 ? FRevBasic : FRevExtended;
  }
  b += '\n';

  AppendLine(b, "PRODID:", ProdID, text);

  bool anyCategory = false;
  for (const std::string& entry : c.Categories.Lines()) {
    if (entry.empty()) continue;
    b += anyCategory ? "," : "CATEGORIES:";
    AppendEscaped(b, entry, kBreaks | kComma);
    anyCategory = true;
  }
  if (anyCategory) b += '\n';

  if (!c.Note.Empty()) {
    if (v21) {
      b += "NOTE;ENCODING=QUOTED-PRINTABLE:";
      for (const std::string& line : c.Note.Lines()) {
        AppendQuotedBreaks(b, line);
        b += "=0D=0A";
      }
    } else {
      b += "NOTE:";
      for (const std::string& line : c.Note.Lines()) {
        AppendEscaped(b, line, kBreaks);
        b += "\\n";
      }
    }
    b += '\n';
  }

  const TvGeoLocation& geo = c.GeoLocation;
  if (geo.Latitude != 0 && geo.Longitude != 0 && std::isfinite(geo.Latitude) &&
      std::isfinite(geo.Longitude)) {
    b += v40 ? "GEO:geo:" : "GEO:";
    AppendCoordinate(b, geo.Latitude);
    b += v40 ? ',' : ';';
    AppendCoordinate(b, geo.Longitude);
    b += '\n';
  }

  if (!v40) {
    AppendLine(b, "SORT-STRING:", c.SortString.empty() ? c.FullName : c.SortString, text);
  }

  for (int i = 0; i < c.Addresses.Count(); ++i) {
    const TvAddress& a = c.Addresses.Items(i);
    b += "ADR";
    b += PrefParamText(a.Preferred, v);
    b += FieldTypeParamText(a.AddressType, v);
    if (v40 && !a.MailingLabel.Empty()) {
      b += ";LABEL=\"";
      for (const std::string& line : a.MailingLabel.Lines()) {
        AppendEscaped(b, line, kBreaks | kQuote);
        b += "\\n";
      }
      b += '"';
    }
    b += ':';
    for (const std::string* part :
         {&a.POBox, &a.Number, &a.Street, &a.City, &a.Region, &a.PostCode, &a.Country}) {
      if (part != &a.POBox) b += ';';
      AppendEscaped(b, *part, component);
    }
    b += '\n';
    if (!v40 && !a.MailingLabel.Empty()) {
      b += "LABEL;ENCODING=QUOTED-PRINTABLE:";
      for (const std::string& line : a.MailingLabel.Lines()) {
        AppendQuotedBreaks(b, line);
        b += "=0D=0A";
      }
      b += '\n';
    }
  }

  for (int i = 0; i < c.PhoneNumbers.Count(); ++i) {
    const TvPhone& p = c.PhoneNumbers.Items(i);
    b += "TEL";
    b += p.FieldType <= ftNone ? kTelFieldType[p.FieldType] : std::string_view();
    AppendPhoneTypeList(b, p.PhoneType, v);
    b += PrefParamText(p.Preferred, v);
    b += ':';
    AppendEscaped(b, p.PhoneNumber, text);
    b += '\n';
  }

  for (int i = 0; i < c.Emails.Count(); ++i) {
    const TvEmail& e = c.Emails.Items(i);
    b += v21 ? "EMAIL;INTERNET" : "EMAIL;TYPE=INTERNET";
    b += PrefParamText(e.Preferred, v);
    b += FieldTypeParamText(e.EmailType, v);
    b += ':';
    AppendEscaped(b, e.EmailAddress, text);
    b += '\n';
  }

  for (int i = 0; i < c.SocialProfile.Count(); ++i) {
    const TvSocialItem& s = c.SocialProfile.Items(i);
    b += "X-SOCIALPROFILE;type=";
    AppendParamValue(b, s.Service, escape);
    b += ";x-user=";
    AppendParamValue(b, s.User, escape);
    b += ':';
    AppendUri(b, s.URI, escape);
    b += '\n';
  }

  b += "END:VCARD";
}

std::string_view PrefParamText(bool preferred, TvCardVersion version) {
  if (!preferred) return {};
  return Normal(version) == vv21 ? ";PREF" : ";TYPE=PREF";
}

std::string_view FieldTypeParamText(TvFieldType type, TvCardVersion version) {
  if (type > ftNone) return {};
  return kFieldTypeParam[Normal(version)][type];
}

std::string PhoneTypeListText(TvPhoneTypes types, TvCardVersion version) {
  std::string out;
  AppendPhoneTypeList(out, types, Normal(version));
  return out;
}

std::string RevStamp(TDateTime utc, bool basic) {
  std::string out;
  AppendRevStamp(out, utc, basic);
  return out;
}

std::string FormatCoordinate(double value) {
  std::string out;
  AppendCoordinate(out, value);
  return out;
}

std::string EscapeCommas(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  AppendEscaped(out, text, kComma);
  return out;
}

}  // namespace pv
