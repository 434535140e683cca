#include "vcard/VCard.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <initializer_list>

#include "files/AnsiText.h"
#include "vcard/TextEncoding.h"
#include "vcard/TextSink.h"

namespace pv {
namespace {

using namespace std::string_view_literals;

// Every line of a card ends with CR LF (two single appends cost less than one of two bytes).
void EndLine(std::string& out) {
  out += '\r';
  out += '\n';
}

void EndLine(TTextSink& out) { out += "\r\n"sv; }

// Escapes applied to a value before it is written (bit flags).
constexpr unsigned kBreaks = 1;      // "\" -> "\\", CR LF, CR or LF -> "\n"
constexpr unsigned kComma = 2;       // "," -> "\,"
constexpr unsigned kSemicolon = 4;   // ";" -> "\;"
constexpr unsigned kQuote = 8;       // '"' -> "'" (parameter values cannot carry a double quote)
constexpr unsigned kUriBreaks = 16;  // CR -> "%0D", LF -> "%0A"; backslashes stay
constexpr unsigned kControl = 32;    // bytes below 0x20 but tab, CR and LF are dropped

// How each kind of value is escaped in one dialect.
struct TValueEscapes {
  unsigned text;       // UID, NICKNAME, TZ, PRODID, SORT-STRING, TEL, EMAIL, NOTE lines
  unsigned commaText;  // FN, TITLE, ROLE, SOURCE
  unsigned org;        // ORG: an unescaped ";" would start an organisational unit
  unsigned component;  // the components of N and ADR
  unsigned category;   // each entry of CATEGORIES
  unsigned label;      // mailing label lines (a quoted parameter in 4.0, quoted-printable else)
  unsigned param;      // SORT-STRING in N, the social profile's type and x-user; 0: as stored
  unsigned uri;        // URL and the social profile's URI
};

// Escape sets of 3.0, 4.0 and version-less cards, where no value breaks its line or carries a
// control character.
constexpr unsigned kClean = kBreaks | kControl;
constexpr unsigned kCleanComma = kClean | kComma;
constexpr unsigned kCleanList = kClean | kComma | kSemicolon;
constexpr unsigned kCleanParam = kClean | kQuote;
constexpr unsigned kCleanUri = kUriBreaks | kControl;
constexpr unsigned kBreaksComma = kBreaks | kComma;  // 2.1 categories

// By version: vvNone, vv21, vv30, vv40. 2.1 cards keep their values as stored, but for the
// commas of the comma-escaped properties and the category list; a 2.1 value that holds a line
// break is written quoted-printable instead (see TCardWriter::EndValue).
// clang-format off
constexpr TValueEscapes kEscapes[4] = {
  // text  commaText    org         component   category      label        param        uri
  {kClean, kCleanComma, kCleanList, kCleanList, kCleanComma,  kControl,    kCleanParam, kCleanUri},
  {0,      kComma,      kComma,     0,          kBreaksComma, 0,           0,           0},
  {kClean, kCleanComma, kCleanList, kCleanList, kCleanComma,  kControl,    kCleanParam, kCleanUri},
  {kClean, kCleanComma, kCleanList, kCleanList, kCleanComma,  kCleanParam, kCleanParam, kCleanUri},
};
// clang-format on

// The forms of lines and parameters that differ between the dialects.
struct TLineForms {
  std::string_view typeList;   // before the first word of a phone's type list
  std::string_view email;      // the start of an EMAIL line
  std::string_view geo;        // the start of a GEO line
  char geoSeparator;           // between latitude and longitude
  bool basicRev;               // REV as 20261207T043005Z rather than 2026-12-07T04:30:05Z
  bool sortStringInN;          // the sort string as a parameter of N, not a line of its own
  bool labelInAdr;             // the mailing label as a parameter of ADR, not a LABEL line
  bool quotedPrintableNote;    // NOTE quoted-printable rather than lines joined by "\n"
  bool quotedPrintableBreaks;  // a value holding CR or LF is written quoted-printable
};

// By version (vvNone, vv21, vv30, vv40).
constexpr TLineForms kForms[4] = {
    {";TYPE=", "EMAIL;TYPE=INTERNET", "GEO:", ';', false, false, false, false, false},
    {";", "EMAIL;INTERNET", "GEO:", ';', false, false, false, true, true},
    {";TYPE=", "EMAIL;TYPE=INTERNET", "GEO:", ';', false, false, false, false, false},
    {";TYPE=", "EMAIL;TYPE=INTERNET", "GEO:geo:", ',', true, true, true, false, false},
};

// The lines that open a card, by version: BEGIN, and VERSION but in version-less cards.
constexpr std::string_view kCardStart[4] = {
    "BEGIN:VCARD\r\n",
    "BEGIN:VCARD\r\nVERSION:2.1\r\n",
    "BEGIN:VCARD\r\nVERSION:3.0\r\n",
    "BEGIN:VCARD\r\nVERSION:4.0\r\n",
};

// ";PREF" in 2.1, ";TYPE=PREF" otherwise, by version.
constexpr std::string_view kPrefParam[4] = {";TYPE=PREF", ";PREF", ";TYPE=PREF", ";TYPE=PREF"};

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
  std::array<unsigned char, 256> table{};
  for (size_t c = 0; c < 0x20; ++c) table[c] = kControl;
  table['\t'] = 0;
  table['\\'] = kBreaks;
  table['\r'] = table['\n'] = kBreaks | kUriBreaks;
  table[','] = kComma;
  table[';'] = kSemicolon;
  table['"'] = kQuote;
  return table;
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

// The index of the LF that pairs with the CR at s[i] into one line break, or i. Control
// characters between them do not count when they are dropped.
size_t SkipToPairedLf(std::string_view s, size_t i, unsigned esc) {
  size_t next = i + 1;
  while (next < s.size() && (kSpecial[static_cast<unsigned char>(s[next])] & esc & kControl) != 0) {
    ++next;
  }
  return next < s.size() && s[next] == '\n' ? next : i;
}

// Appends what stands for the special byte s[i] under esc; returns the index of the last byte
// consumed (CR LF is one line break).
size_t AppendEscape(TTextSink& out, std::string_view s, size_t i, unsigned esc) {
  switch (const char c = s[i]; c) {
    case '\\':
      out += "\\\\"sv;
      break;
    case '\r':
    case '\n':
      if ((esc & kBreaks) == 0) {
        out += c == '\r' ? "%0D"sv : "%0A"sv;
      } else {
        out += "\\n"sv;
        if (c == '\r') i = SkipToPairedLf(s, i, esc);
      }
      break;
    case '"':
      out += '\'';
      break;
    case ',':
    case ';':
      out += '\\';
      out += c;
      break;
    default:  // a control character, dropped
      break;
  }
  return i;
}

void AppendEscaped(TTextSink& out, std::string_view s, unsigned esc) {
  if (s.empty()) return;  // most components of a card are empty
  if (esc == 0) {
    out += s;
    return;
  }
  size_t start = 0;
  for (size_t i = NextSpecial(s, 0, esc); i < s.size(); i = NextSpecial(s, i + 1, esc)) {
    out += s.substr(start, i - start);
    i = AppendEscape(out, s, i, esc);
    start = i + 1;
  }
  out += s.substr(start);
}

// Whether anything of s is left once esc has dropped the control characters.
bool KeepsContent(std::string_view s, unsigned esc) {
  if ((esc & kControl) == 0) return !s.empty();
  return std::any_of(s.begin(), s.end(), [](char c) {
    return (kSpecial[static_cast<unsigned char>(c)] & kControl) == 0;
  });
}

// Each line escaped with esc and followed by the two characters backslash and "n".
void AppendEscapedLines(TTextSink& out, const TvStrings& lines, unsigned esc) {
  for (const std::string& line : lines.Lines()) {
    AppendEscaped(out, line, esc);
    out += "\\n"sv;
  }
}

// Each line quoted-printable and followed by an encoded CR LF; control characters are dropped
// first when esc holds kControl.
void AppendQuotedLines(TTextSink& out, const TvStrings& lines, unsigned esc) {
  std::string encoded;
  for (const std::string& line : lines.Lines()) {
    std::string_view rest = line;
    while (!rest.empty()) {
      const size_t stop = NextSpecial(rest, 0, esc & kControl);
      AppendQuotedBreaks(encoded, rest.substr(0, stop));
      rest.remove_prefix(std::min(stop + 1, rest.size()));
    }
    encoded += "=0D=0A";
  }
  out += encoded;
}

bool HasLineBreak(std::string_view s) { return s.find_first_of("\r\n") != s.npos; }

// A parameter value that cannot end its parameter or line early: in double quotes when it holds
// ";", ":" or ",", escaped with esc; as stored when esc is 0, but for line breaks, which become
// "\n" (a parameter cannot be quoted-printable).
void AppendParamValue(TTextSink& out, std::string_view s, unsigned esc) {
  if (esc == 0) {
    AppendEscaped(out, s, HasLineBreak(s) ? kBreaks : 0);
    return;
  }
  const bool quote = s.find_first_of(";:,") != std::string_view::npos;
  if (quote) out += '"';
  AppendEscaped(out, s, esc);
  if (quote) out += '"';
}

// Converts the Windows-1252 text of out from start on to UTF-8 where it stands. Each byte from
// 0x80 on grows to two or three; the text is moved back from the end, run by run, so nothing is
// overwritten before it is read, and the text before the first such byte stays where it is.
void ConvertTailToUtf8(std::string& out, size_t start) {
  constexpr size_t kMost = 64;  // bytes remembered; a card with more takes a second pass
  size_t at[kMost];
  size_t count = 0, grow = 0;
  const size_t size = out.size();
  for (size_t i = NextNonAscii(out, start); i < size; i = NextNonAscii(out, i + 1)) {
    if (count < kMost) at[count] = i;
    ++count;
    grow += AnsiCharAsUtf8(static_cast<unsigned char>(out[i])).size() - 1;
  }
  if (count == 0) return;
  if (count > kMost) {
    const std::string tail = out.substr(start);
    out.resize(start);
    AppendAnsiAsUtf8(out, tail);
    return;
  }
  out.resize(size + grow);
  char* const text = out.data();
  size_t end = size, to = size + grow;
  while (count > 0) {
    const size_t high = at[--count];
    const size_t run = end - high - 1;  // the bytes after it that need no change
    to -= run;
    std::memmove(text + to, text + high + 1, run);
    const std::string_view utf8 = AnsiCharAsUtf8(static_cast<unsigned char>(text[high]));
    to -= utf8.size();
    std::memcpy(text + to, utf8.data(), utf8.size());
    end = high;
  }
}

void AppendPadded(TTextSink& out, int value, int width) {
  char buf[16];
  const auto r = std::to_chars(buf, buf + sizeof buf, value < 0 ? -value : value);
  if (value < 0) out += '-';
  const auto digits = static_cast<int>(r.ptr - buf);
  if (digits < width) out.Append(static_cast<size_t>(width - digits), '0');
  out += std::string_view(buf, static_cast<size_t>(digits));
}

void AppendRevStamp(TTextSink& out, TDateTime utc, bool basic) {
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

void AppendCoordinate(TTextSink& out, double x) {
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
      out += std::string_view(digits + 1, nd - 1);
    }
    out += 'E';
    AppendPadded(out, exp, 0);
  } else if (exp >= 0) {
    const auto intDigits = static_cast<size_t>(exp) + 1;
    if (nd <= intDigits) {
      out += std::string_view(digits, nd);
      out.Append(intDigits - nd, '0');
    } else {
      out += std::string_view(digits, intDigits);
      out += '.';
      out += std::string_view(digits + intDigits, nd - intDigits);
    }
  } else {
    out += "0."sv;
    out.Append(static_cast<size_t>(-exp - 1), '0');
    out += std::string_view(digits, nd);
  }
}

void AppendPhoneTypeList(TTextSink& out, TvPhoneTypes types, std::string_view listStart) {
  bool first = true;
  for (const auto& [type, word] : kPhoneTypeWords) {
    if (!types.Contains(type)) continue;
    out += first ? listStart : ","sv;
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

// The text one of the functions above appends, on its own.
template <typename Append>
std::string TextOf(const Append& append) {
  std::string out;
  {
    TTextSink sink(out);
    append(sink);
  }
  return out;
}

// Writes the lines of one card into out, one function per group of properties; the card's
// dialect picks the escapes and forms from the tables above.
class TCardWriter {
 public:
  TCardWriter(TTextSink& out, const TvContact& contact)
      : out_(out),
        contact_(contact),
        version_(Normal(contact.vCardVersion)),
        esc_(kEscapes[version_]),
        form_(kForms[version_]) {}

  void Begin();                                                         // BEGIN, VERSION
  void Names();                                                         // N, FN, UID, NICKNAME
  void Organisation();                                                  // ORG, TITLE, ROLE
  void WebAndSource();                                                  // URL, SOURCE, TZ
  void Dates(std::string_view basicRev, std::string_view extendedRev);  // BDAY, REV
  void ProductId(std::string_view prodId);                              // PRODID
  void Categories();                                                    // CATEGORIES
  void Note();                                                          // NOTE
  void PositionAndSortString();                                         // GEO, SORT-STRING
  void Addresses();                                                     // ADR and LABEL
  void Phones();                                                        // TEL
  void Emails();                                                        // EMAIL
  void SocialProfiles();                                                // X-SOCIALPROFILE
  void End();                                                           // END, without a line end

 private:
  // "NAME:" and the escaped value on a line of its own, when the value is set.
  void Line(std::string_view name, std::string_view value, unsigned esc);
  // Ends the parameters with ":"; returns where the value starts.
  size_t BeginValue();
  // Ends the line of the value written since start. Where values are written as stored, one that
  // holds a line break is made quoted-printable so it stays on its line.
  void EndValue(size_t start);
  // The components of N or ADR, separated by ";".
  void Components(std::initializer_list<const std::string*> components);
  void Address(const TvAddress& address);

  TTextSink& out_;
  const TvContact& contact_;
  const TvCardVersion version_;
  const TValueEscapes& esc_;
  const TLineForms& form_;
};

void TCardWriter::Line(std::string_view name, std::string_view value, unsigned esc) {
  if (value.empty()) return;
  out_ += name.substr(0, name.size() - 1);  // the name ends in ':'
  const size_t start = BeginValue();
  AppendEscaped(out_, value, esc);
  EndValue(start);
}

size_t TCardWriter::BeginValue() {
  out_ += ':';
  return out_.size();
}

void TCardWriter::EndValue(size_t start) {
  if (form_.quotedPrintableBreaks && HasLineBreak(out_.Since(start))) {
    std::string value(out_.Since(start));
    out_.CutTo(start - 1);  // drop the ':' too
    out_ += ";ENCODING=QUOTED-PRINTABLE:"sv;
    std::string encoded;
    AppendQuotedBreaks(encoded, value);
    out_ += encoded;
  }
  EndLine(out_);
}

void TCardWriter::Components(std::initializer_list<const std::string*> components) {
  bool first = true;
  for (const std::string* component : components) {
    if (!first) out_ += ';';
    AppendEscaped(out_, *component, esc_.component);
    first = false;
  }
}

void TCardWriter::Begin() { out_ += kCardStart[version_]; }

void TCardWriter::Names() {
  const TvContact& c = contact_;
  out_ += 'N';
  if (form_.sortStringInN && !c.SortString.empty()) {
    out_ += ";SORT-STRING="sv;
    AppendParamValue(out_, c.SortString, esc_.param);
  }
  size_t start = BeginValue();
  Components({&c.LastName, &c.FirstName, &c.MiddleName, &c.NamePrefix, &c.NameSuffix});
  EndValue(start);

  out_ += "FN"sv;
  start = BeginValue();
  if (IsBlank(c.FullName)) {
    AppendEscaped(out_, c.FirstName, esc_.commaText);
    out_ += ' ';
    AppendEscaped(out_, c.LastName, esc_.commaText);
  } else {
    AppendEscaped(out_, c.FullName, esc_.commaText);
  }
  EndValue(start);

  Line("UID:", c.ID, esc_.text);
  Line("NICKNAME:", c.NickName, esc_.text);
}

void TCardWriter::Organisation() {
  Line("ORG:", contact_.Company, esc_.org);
  Line("TITLE:", contact_.JobTitle, esc_.commaText);
  Line("ROLE:", contact_.Profession, esc_.commaText);
}

void TCardWriter::WebAndSource() {
  Line("URL;WORK:", contact_.WebsiteURL, esc_.uri);
  Line("SOURCE:", contact_.Source, esc_.commaText);
  Line("TZ:", contact_.TimeZone, esc_.text);
}

void TCardWriter::Dates(std::string_view basicRev, std::string_view extendedRev) {
  const TDateTime birthDay = contact_.BirthDay;
  if (birthDay != 0 && InYearRange(birthDay)) {
    int year, month, day, hour, minute, second, millisecond;
    DecodeDateTime(birthDay, year, month, day, hour, minute, second, millisecond);
    out_ += "BDAY:"sv;
    AppendPadded(out_, year, 4);
    AppendPadded(out_, month, 2);
    AppendPadded(out_, day, 2);
    EndLine(out_);
  }

  // An unset or unusable change time stands for the time of the save.
  const TDateTime updated = contact_.Updated;
  out_ += "REV:"sv;
  if (updated != 0 && InYearRange(updated)) {
    AppendRevStamp(out_, LocalToUtc(updated), form_.basicRev);
  } else {
    out_ += form_.basicRev ? basicRev : extendedRev;
  }
  EndLine(out_);
}

void TCardWriter::ProductId(std::string_view prodId) { Line("PRODID:", prodId, esc_.text); }

void TCardWriter::Categories() {
  bool any = false;
  for (const std::string& entry : contact_.Categories.Lines()) {
    if (!KeepsContent(entry, esc_.category)) continue;  // an empty entry is no category
    out_ += any ? ","sv : "CATEGORIES:"sv;
    AppendEscaped(out_, entry, esc_.category);
    any = true;
  }
  if (any) EndLine(out_);
}

void TCardWriter::Note() {
  const TvStrings& note = contact_.Note;
  if (note.Empty()) return;
  if (form_.quotedPrintableNote) {
    out_ += "NOTE;ENCODING=QUOTED-PRINTABLE:"sv;
    AppendQuotedLines(out_, note, esc_.text);
  } else {
    out_ += "NOTE:"sv;
    AppendEscapedLines(out_, note, esc_.text);
  }
  EndLine(out_);
}

void TCardWriter::PositionAndSortString() {
  const TvGeoLocation& geo = contact_.GeoLocation;
  if (geo.Latitude != 0 && geo.Longitude != 0 && std::isfinite(geo.Latitude) &&
      std::isfinite(geo.Longitude)) {
    out_ += form_.geo;
    AppendCoordinate(out_, geo.Latitude);
    out_ += form_.geoSeparator;
    AppendCoordinate(out_, geo.Longitude);
    EndLine(out_);
  }
  if (!form_.sortStringInN) {
    const std::string& sortText =
        contact_.SortString.empty() ? contact_.FullName : contact_.SortString;
    Line("SORT-STRING:", sortText, esc_.text);
  }
}

void TCardWriter::Address(const TvAddress& address) {
  const bool labelled = !address.MailingLabel.Empty();
  out_ += "ADR"sv;
  out_ += PrefParamText(address.Preferred, version_);
  out_ += FieldTypeParamText(address.AddressType, version_);
  if (labelled && form_.labelInAdr) {
    out_ += ";LABEL=\""sv;
    AppendEscapedLines(out_, address.MailingLabel, esc_.label);
    out_ += '"';
  }
  const size_t start = BeginValue();
  Components({&address.POBox, &address.Number, &address.Street, &address.City, &address.Region,
              &address.PostCode, &address.Country});
  EndValue(start);
  if (labelled && !form_.labelInAdr) {
    out_ += "LABEL;ENCODING=QUOTED-PRINTABLE:"sv;
    AppendQuotedLines(out_, address.MailingLabel, esc_.label);
    EndLine(out_);
  }
}

void TCardWriter::Addresses() {
  for (int i = 0; i < contact_.Addresses.Count(); ++i) Address(contact_.Addresses.Items(i));
}

void TCardWriter::Phones() {
  for (int i = 0; i < contact_.PhoneNumbers.Count(); ++i) {
    const TvPhone& phone = contact_.PhoneNumbers.Items(i);
    out_ += "TEL"sv;
    if (phone.FieldType <= ftNone) out_ += kTelFieldType[phone.FieldType];
    AppendPhoneTypeList(out_, phone.PhoneType, form_.typeList);
    out_ += PrefParamText(phone.Preferred, version_);
    const size_t start = BeginValue();
    AppendEscaped(out_, phone.PhoneNumber, esc_.text);
    EndValue(start);
  }
}

void TCardWriter::Emails() {
  for (int i = 0; i < contact_.Emails.Count(); ++i) {
    const TvEmail& email = contact_.Emails.Items(i);
    out_ += form_.email;
    out_ += PrefParamText(email.Preferred, version_);
    out_ += FieldTypeParamText(email.EmailType, version_);
    const size_t start = BeginValue();
    AppendEscaped(out_, email.EmailAddress, esc_.text);
    EndValue(start);
  }
}

void TCardWriter::SocialProfiles() {
  for (int i = 0; i < contact_.SocialProfile.Count(); ++i) {
    const TvSocialItem& profile = contact_.SocialProfile.Items(i);
    out_ += "X-SOCIALPROFILE;type="sv;
    AppendParamValue(out_, profile.Service, esc_.param);
    out_ += ";x-user="sv;
    AppendParamValue(out_, profile.User, esc_.param);
    const size_t start = BeginValue();
    AppendEscaped(out_, profile.URI, esc_.uri);
    EndValue(start);
  }
}

void TCardWriter::End() { out_ += "END:VCARD"sv; }

}  // namespace

TAdvvCard::TAdvvCard() { SetSaveTime(Clock()); }

void TAdvvCard::SetSaveTime(TDateTime local) {
  FSaveTime = local;
  const TDateTime utc = LocalToUtc(local);
  FRevBasic = RevStamp(utc, true);
  FRevExtended = RevStamp(utc, false);
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

bool TAdvvCard::Accepted(TvContact& contact) {
  bool write = true;
  if (OnWriteContact) OnWriteContact(contact, write);
  return write;
}

bool TAdvvCard::WriteContact(TvContact& contact, std::string& out, bool asAnsi) {
  // The card is built where it goes, and taken back when it is refused.
  const size_t start = out.size();
  bool write;
  try {
    AppendCard(out, contact);
    write = Accepted(contact);
  } catch (...) {
    out.resize(start);
    throw;
  }
  if (!write) {
    out.resize(start);
    return false;
  }
  if (!asAnsi) ConvertTailToUtf8(out, start);
  EndLine(out);
  ++FWrittenCount;
  return true;
}

void TAdvvCard::AppendCardText(const TvContact& contact, std::string& out, bool asAnsi) const {
  const size_t start = out.size();
  try {
    AppendCard(out, contact);
    if (!asAnsi) ConvertTailToUtf8(out, start);
    EndLine(out);
  } catch (...) {
    out.resize(start);
    throw;
  }
}

bool TAdvvCard::WriteContactAskedFirst(TvContact& contact, std::string& out, bool asAnsi) {
  if (!Accepted(contact)) return false;
  AppendCardText(contact, out, asAnsi);
  ++FWrittenCount;
  return true;
}

std::string TAdvvCard::BuildCardText(const TvContact& contact) const {
  std::string text;
  AppendCard(text, contact);
  return text;
}

void TAdvvCard::AppendCard(std::string& out, const TvContact& contact) const {
  TTextSink sink(out);
  TCardWriter card(sink, contact);
  card.Begin();
  card.Names();
  card.Organisation();
  card.WebAndSource();
  card.Dates(FRevBasic, FRevExtended);
  card.ProductId(ProdID);
  card.Categories();
  card.Note();
  card.PositionAndSortString();
  card.Addresses();
  card.Phones();
  card.Emails();
  card.SocialProfiles();
  card.End();
}

std::string_view PrefParamText(bool preferred, TvCardVersion version) {
  if (!preferred) return {};
  return kPrefParam[Normal(version)];
}

std::string_view FieldTypeParamText(TvFieldType type, TvCardVersion version) {
  if (type > ftNone) return {};
  return kFieldTypeParam[Normal(version)][type];
}

std::string PhoneTypeListText(TvPhoneTypes types, TvCardVersion version) {
  return TextOf(
      [&](TTextSink& out) { AppendPhoneTypeList(out, types, kForms[Normal(version)].typeList); });
}

std::string RevStamp(TDateTime utc, bool basic) {
  return TextOf([&](TTextSink& out) { AppendRevStamp(out, utc, basic); });
}

std::string FormatCoordinate(double value) {
  return TextOf([&](TTextSink& out) { AppendCoordinate(out, value); });
}

std::string EscapeCommas(std::string_view text) {
  return TextOf([&](TTextSink& out) { AppendEscaped(out, text, kComma); });
}

}  // namespace pv
