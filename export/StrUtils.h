// Text helpers of the export job: splitting the IX field, the natural order of e-mail addresses and
// phone numbers, replacing parts of a text, numbers in and out, the markup escape, and the hash
// that names each job's connection.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "files/ElfHash.h"

namespace pv {

// Cuts text at every occurrence of sep, left to right. Empty text gives no pieces; neighbouring
// separators give empty pieces; a leading separator gives an empty first piece; a trailing one
// gives no empty last piece. An empty sep gives the whole text as one piece.
std::vector<std::string> SplitText(std::string_view sep, std::string_view text);

// As SplitText, but fills pieces (cleared first) with views into text, so a caller that keeps the
// vector across calls allocates nothing once it has grown. The views live as long as text.
void SplitText(std::string_view sep, std::string_view text, std::vector<std::string_view>& pieces);

// Natural order of two texts: 0 when they are equal ignoring case. Otherwise both are walked in
// runs of digits or of non-digits, taken pairwise; two digit runs compare by value when both whole
// texts are shorter than 10 characters, any other pair as text ignoring case (Windows-1252 upper
// case). The first pair that differs decides (-1 or 1); when either text runs out of runs first,
// the last pair compared decides, so "a01" equals "a1" and a text equals its prefixes.
int NaturalCompare(std::string_view a, std::string_view b);

// Sorts list ascending with NaturalCompare (entries that compare equal end in no defined order).
void NaturalSort(std::vector<std::string>& list);
void NaturalSort(std::vector<std::string_view>& list);

// Quick sort around the middle element with compare(a, b) returning <0, 0 or >0. Every index stays
// in range and the sort ends even when compare is not a consistent order; recursion depth is
// logarithmic (the larger part is handled by the loop).
template <class Text, class Compare>
void QuickSortTexts(std::vector<Text>& list, Compare compare);

// text with every occurrence of oldPart replaced by newPart, scanning left to right without
// overlaps; inserted text is not scanned again. An empty oldPart changes nothing.
std::string ReplaceAll(std::string_view text, std::string_view oldPart, std::string_view newPart);

// The decimal integer in s (leading blanks and a sign allowed), or def when s is not one or does
// not fit 32 bits.
int StrToIntDef(std::string_view s, int def);

// n with the thousands separator of the user's locale (ThousandsSeparator of its LC_NUMERIC).
std::string FormatCount(long long n);
// n with sep between groups of three digits.
std::string FormatCount(long long n, std::string_view sep);
// The locale's separator (UTF-8, or the bytes of a locale in another encoding; may be null) as
// Windows-1252 text: "." when there is none, or when it is not exactly one Windows-1252
// character.
std::string ThousandsSeparator(const char* localeSep);

// text made safe inside the mini-HTML markup of the result and message texts: "&" becomes
// "&amp;" and "<" becomes "&lt;", so that the text shows as written.
std::string EscapeMarkup(std::string_view text);

// A new version-4 GUID from the system's random source, in the standard upper-case text form
// without braces: "XXXXXXXX-XXXX-4XXX-YXXX-XXXXXXXXXXXX" (36 characters).
std::string NewGuidText();

// ElfHash of a new GUID's text: a number that differs from job to job.
std::uint32_t GuidNumber();

namespace detail {

// Exchanges entries i and j; p, the pivot's index, follows its entry.
template <class Text>
void SwapFollowingPivot(std::vector<Text>& list, std::ptrdiff_t i, std::ptrdiff_t j,
                        std::ptrdiff_t& p) {
  list[i].swap(list[j]);
  if (p == i) {
    p = j;
  } else if (p == j) {
    p = i;
  }
}

// Sorts list[l..r]; recurses into the smaller part and loops over the larger one.
template <class Text, class Compare>
void QuickSortRange(std::vector<Text>& list, std::ptrdiff_t l, std::ptrdiff_t r, Compare& compare) {
  while (l < r) {
    std::ptrdiff_t i = l;
    std::ptrdiff_t j = r;
    std::ptrdiff_t p = l + (r - l) / 2;  // follows the pivot's entry through the exchanges
    do {
      // The bounds keep both scans inside l..r even when compare contradicts itself.
      while (i < r && compare(list[i], list[p]) < 0) ++i;
      while (j > l && compare(list[j], list[p]) > 0) --j;
      if (i <= j) {
        if (i != j) SwapFollowingPivot(list, i, j, p);
        ++i;
        --j;
      }
    } while (i <= j);
    // Left part l..j, right part i..r.
    if (j - l < r - i) {
      QuickSortRange(list, l, j, compare);
      l = i;
    } else {
      QuickSortRange(list, i, r, compare);
      r = j;
    }
  }
}

}  // namespace detail

template <class Text, class Compare>
void QuickSortTexts(std::vector<Text>& list, Compare compare) {
  if (list.size() < 2) return;
  detail::QuickSortRange(list, 0, static_cast<std::ptrdiff_t>(list.size()) - 1, compare);
}

}  // namespace pv
