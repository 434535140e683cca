#include "export/StrUtils.h"

#include <errno.h>
#include <sys/random.h>

#include <clocale>
#include <cstddef>
#include <random>

#include "files/AnsiText.h"

namespace pv {

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// The run that starts at pos: a maximal stretch of digits or of non-digits.
std::string_view NextRun(std::string_view text, std::size_t& pos) {
  const std::size_t start = pos;
  const bool digits = IsDigit(text[pos]);
  while (pos < text.size() && IsDigit(text[pos]) == digits) ++pos;
  return text.substr(start, pos - start);
}

// Value of a digit run of at most 9 digits (the caller checks the length of the whole text).
long RunValue(std::string_view run) {
  long value = 0;
  for (char c : run) value = value * 10 + (c - '0');
  return value;
}

int Sign(long v) { return (v > 0) - (v < 0); }

// The runs that start at pa and pb compared as text ignoring case (-1, 0 or 1), walked together
// and only as far as they agree; past both runs when they are equal.
int CompareRunsAsText(std::string_view a, std::size_t& pa, std::string_view b, std::size_t& pb) {
  const bool digitsA = IsDigit(a[pa]);
  const bool digitsB = IsDigit(b[pb]);
  for (;; ++pa, ++pb) {
    const bool inA = pa < a.size() && IsDigit(a[pa]) == digitsA;
    const bool inB = pb < b.size() && IsDigit(b[pb]) == digitsB;
    if (!inA || !inB) return inA ? 1 : (inB ? -1 : 0);  // the shorter run orders first
    if (a[pa] == b[pb]) continue;
    const int x = AnsiUpper(static_cast<unsigned char>(a[pa]));
    const int y = AnsiUpper(static_cast<unsigned char>(b[pb]));
    if (x != y) return x < y ? -1 : 1;
  }
}

// Fills bytes from the system's random source; std::random_device when that is not available.
void RandomBytes(unsigned char* bytes, std::size_t count) {
  std::size_t done = 0;
  while (done < count) {
    const ssize_t got = getrandom(bytes + done, count - done, 0);
    if (got > 0) {
      done += static_cast<std::size_t>(got);
    } else if (got < 0 && errno != EINTR) {
      std::random_device device;
      for (; done < count; ++done) bytes[done] = static_cast<unsigned char>(device());
    }
  }
}

}  // namespace

void SplitText(std::string_view sep, std::string_view text, std::vector<std::string_view>& pieces) {
  pieces.clear();
  if (text.empty()) return;
  if (sep.empty()) {
    pieces.push_back(text);
    return;
  }
  std::size_t start = 0;
  for (std::size_t found = text.find(sep); found != std::string_view::npos;
       found = text.find(sep, start)) {
    pieces.push_back(text.substr(start, found - start));
    start = found + sep.size();
  }
  if (start < text.size()) pieces.push_back(text.substr(start));
}

std::vector<std::string> SplitText(std::string_view sep, std::string_view text) {
  std::vector<std::string_view> views;
  SplitText(sep, text, views);
  return std::vector<std::string>(views.begin(), views.end());
}

int NaturalCompare(std::string_view a, std::string_view b) {
  if (AnsiSameText(a, b)) return 0;
  const bool numeric = a.size() < 10 && b.size() < 10;
  std::size_t pa = 0;
  std::size_t pb = 0;
  int result = 0;
  while (pa < a.size() && pb < b.size()) {
    if (numeric && IsDigit(a[pa]) && IsDigit(b[pb])) {
      const std::string_view runA = NextRun(a, pa);
      const std::string_view runB = NextRun(b, pb);
      result = Sign(RunValue(runA) - RunValue(runB));
    } else {
      result = CompareRunsAsText(a, pa, b, pb);
    }
    if (result != 0) break;
  }
  return result;
}

void NaturalSort(std::vector<std::string>& list) {
  QuickSortTexts(list,
                 [](const std::string& a, const std::string& b) { return NaturalCompare(a, b); });
}

void NaturalSort(std::vector<std::string_view>& list) {
  QuickSortTexts(list, [](std::string_view a, std::string_view b) { return NaturalCompare(a, b); });
}

std::string ReplaceAll(std::string_view text, std::string_view oldPart, std::string_view newPart) {
  if (oldPart.empty()) return std::string(text);
  std::string out;
  out.reserve(text.size());
  std::size_t start = 0;
  for (std::size_t found = text.find(oldPart); found != std::string_view::npos;
       found = text.find(oldPart, start)) {
    out.append(text.substr(start, found - start));
    out.append(newPart);
    start = found + oldPart.size();
  }
  out.append(text.substr(start));
  return out;
}

int StrToIntDef(std::string_view s, int def) {
  std::size_t i = 0;
  while (i < s.size() && static_cast<unsigned char>(s[i]) <= ' ') ++i;
  bool negative = false;
  if (i < s.size() && (s[i] == '-' || s[i] == '+')) negative = s[i++] == '-';
  if (i == s.size()) return def;
  long long v = 0;
  for (; i < s.size(); ++i) {
    if (!IsDigit(s[i])) return def;
    v = v * 10 + (s[i] - '0');
    if (v > 0x80000000LL) return def;
  }
  if (negative) v = -v;
  return v > 0x7FFFFFFFLL ? def : static_cast<int>(v);
}

std::string ThousandsSeparator(const char* localeSep) {
  if (localeSep == nullptr || localeSep[0] == '\0') return ".";
  // A character outside Windows-1252 comes back as '?', a multi-byte one as several bytes.
  std::string converted = Utf8ToAnsi(localeSep);
  if (converted.size() != 1 || (converted == "?" && std::string_view(localeSep) != "?")) return ".";
  return converted;
}

std::string FormatCount(long long n) {
  const lconv* lc = std::localeconv();
  return FormatCount(n, ThousandsSeparator(lc != nullptr ? lc->thousands_sep : nullptr));
}

std::string FormatCount(long long n, std::string_view sep) {
  // The digits of the magnitude, taken as unsigned so that the smallest value has one too.
  const unsigned long long magnitude =
      n < 0 ? 0ULL - static_cast<unsigned long long>(n) : static_cast<unsigned long long>(n);
  const std::string digits = std::to_string(magnitude);
  std::string out = n < 0 ? "-" : "";
  for (std::size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) out += sep;
    out += digits[i];
  }
  return out;
}

std::string EscapeMarkup(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    if (c == '&') {
      out += "&amp;";
    } else if (c == '<') {
      out += "&lt;";
    } else {
      out += c;
    }
  }
  return out;
}

std::string NewGuidText() {
  unsigned char bytes[16];
  RandomBytes(bytes, sizeof bytes);
  bytes[6] = static_cast<unsigned char>((bytes[6] & 0x0F) | 0x40);  // version 4
  bytes[8] = static_cast<unsigned char>((bytes[8] & 0x3F) | 0x80);  // variant 10xx
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string text;
  text.reserve(36);
  for (std::size_t i = 0; i < sizeof bytes; ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) text.push_back('-');
    text.push_back(kHex[bytes[i] >> 4]);
    text.push_back(kHex[bytes[i] & 0x0F]);
  }
  return text;
}

std::uint32_t GuidNumber() { return ElfHash(NewGuidText()); }

}  // namespace pv
