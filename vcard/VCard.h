// The card component: owns the contacts and writes them as vCard text (2.1, 3.0 or 4.0 per
// contact), as Windows-1252 bytes or UTF-8, either all at once or one contact at a time.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "vcard/Contact.h"
#include "vcard/DateTime.h"

namespace pv {

// asAnsi of the writing calls when the contact's texts are already in the output's encoding
// (Windows-1252, or the UTF-8 form of Windows-1252 texts): the card is written as they are held.
inline constexpr bool kAsHeld = true;

// Every line of a card ends with CR LF, "END:VCARD" included once the card is written. No
// byte-order mark, no line folding. In 3.0, 4.0 and version-less cards no value can break its line
// or carry a control character: bytes below 0x20 other than tab, CR and LF are dropped,
// backslashes are doubled and line breaks written as "\n" (URL and the social profile's URI keep
// backslashes and get CR/LF as "%0D"/"%0A"); N and ADR components also escape ";" and ",", FN,
// ORG, TITLE, ROLE and SOURCE escape ",", ORG escapes ";". SORT-STRING and the social profile's
// type and x-user are put in double quotes when they hold ";", ":" or ","; in them and in the
// (always quoted) 4.0 LABEL a double quote, which no escape can carry, becomes an apostrophe. 2.1
// cards write values as stored, escaping only commas in FN, ORG, TITLE, ROLE and SOURCE. In every
// version CATEGORIES joins its non-empty entries with ",", escaping "," and "\" inside them. REV
// is UTC.
class TAdvvCard {
 public:
  TAdvvCard();
  TAdvvCard(const TAdvvCard&) = delete;
  TAdvvCard& operator=(const TAdvvCard&) = delete;

  TvContactsCollection vContacts{this};  // output order; assignment copies the contacts
  std::string ProdID;                    // PRODID value; empty writes no PRODID line
  // Asked once per contact, after its text is built, whether it goes into the output. The flag
  // comes in true; the contact is written exactly when it is true after the call.
  std::function<void(TvContact& contact, bool& write)> OnWriteContact;
  // Source of SaveTime (local time); replaceable so that output can be made reproducible.
  std::function<TDateTime()> Clock = NowLocal;

  // Contacts written since the last SaveToStream or BeginStream.
  int32_t WrittenCount() const { return FWrittenCount; }
  // Local time taken by the last BeginStream (at construction before that); the REV of contacts
  // whose Updated is unset.
  TDateTime SaveTime() const { return FSaveTime; }

  // Replaces stream by the whole output of vContacts: BeginStream, then WriteContact for each
  // contact in order. When an exception (from OnWriteContact or allocation) passes through, the
  // stream is left empty.
  void SaveToStream(std::string& stream, bool asAnsi);

  // Starts an output: WrittenCount 0, SaveTime from Clock.
  void BeginStream();
  // Builds the contact's card, asks OnWriteContact, and when accepted appends the card and CR LF
  // to out (Windows-1252 unchanged when asAnsi, else UTF-8) and counts it. True when written;
  // out is as it was when the card is refused or an exception passes. Every escape and form works
  // on ASCII bytes alone, so a contact whose texts are the UTF-8 form of Windows-1252 texts,
  // written with asAnsi, gives the same UTF-8 card as its Windows-1252 twin written without.
  bool WriteContact(TvContact& contact, std::string& out, bool asAnsi);

  // As WriteContact, but asks OnWriteContact before the card is built and builds only an
  // accepted one: for a handler that decides by the contact's record alone (a change ledger), so
  // that a refused card costs nothing. Changes the handler makes to the contact show in its card.
  bool WriteContactAskedFirst(TvContact& contact, std::string& out, bool asAnsi);

  // The text of one card, "BEGIN:VCARD" to "END:VCARD", every line but the last ended by CR LF,
  // in Windows-1252.
  std::string BuildCardText(const TvContact& contact) const;

 private:
  void SetSaveTime(TDateTime local);
  void AppendCard(std::string& out, const TvContact& contact) const;
  // Appends the text WriteContact writes for an accepted contact: the card and CR LF,
  // Windows-1252 when asAnsi, else UTF-8; out is as it was when an exception passes.
  void AppendCardText(const TvContact& contact, std::string& out, bool asAnsi) const;
  // Whether OnWriteContact (when set) lets the contact's card be written.
  bool Accepted(TvContact& contact);

  int32_t FWrittenCount = 0;
  TDateTime FSaveTime = 0;
  std::string FRevBasic;     // REV value of SaveTime in UTC, 4.0 form
  std::string FRevExtended;  // the same for 2.1, 3.0 and version-less cards
};

// ";PREF" (2.1) or ";TYPE=PREF" (other versions) when preferred, else empty.
std::string_view PrefParamText(bool preferred, TvCardVersion version);

// Field type of addresses and e-mails: ";HOME", ";WORK", ";OTHER" in 2.1, ";TYPE=HOME" and so on
// otherwise; ftNone (or a value outside the enumeration) gives nothing.
std::string_view FieldTypeParamText(TvFieldType type, TvCardVersion version);

// Type list of a phone in the fixed order TEXT, VOICE, FAX, CELL, IPHONE, MAIN, VIDEO, PAGER,
// TEXTPHONE joined by ",", after ";" (2.1) or ";TYPE=" (other versions); empty for an empty set.
std::string PhoneTypeListText(TvPhoneTypes types, TvCardVersion version);

// A UTC time as REV value: basic "20261207T043005Z" or extended "2026-12-07T04:30:05Z".
std::string RevStamp(TDateTime utc, bool basic);

// A coordinate with up to 15 significant digits, "." as decimal point, no trailing zeros, no
// point for whole numbers ("52.52", "13", "-0.00001"). Magnitudes from 10^15 up are written as
// mantissa, "E" and exponent ("1.5E20"); small ones stay decimal ("0.000001").
std::string FormatCoordinate(double value);

// Every "," preceded by a backslash.
std::string EscapeCommas(std::string_view text);

}  // namespace pv
