// The text side of the mini-HTML markup: character entities, tag attributes, colour values and the
// plain-text form of a markup. Markup is 8-bit Windows-1252 text, as all text inside the system.
#pragma once

#include <QColor>
#include <QPalette>
#include <QString>
#include <optional>
#include <string>
#include <string_view>

namespace pv {

// Replaces the character entities that stand for one character ("&amp;", "&quot;", "&sect;",
// "&permil;", "&reg;", "&copy;", "&para;", "&trade;", "&euro;"), again and again until none is
// left. "&amp;" becomes "&&", the form in which a run shows one literal '&' (a lone '&' marks the
// next character as underlined).
std::string ReplaceHTMLEntities(std::string_view markup);

// The value of attribute name (upper case) in tag: the text between the first pair of double
// quotes after the name. The name is searched in the upper-cased tag and must stand on its own
// (not be the tail of a longer name such as "BGCOLOR" for "COLOR", nor followed by more letters);
// the value keeps the case of tag. Nothing when the name or a complete quoted value is missing.
std::optional<std::string> HTMLAttribute(std::string_view tag, std::string_view name);

// The first double-quoted value in tag, with its case (the anchor's target); empty when none.
std::string HTMLFirstQuoted(std::string_view tag);

// A colour value: "#RRGGBB" (hexadecimal, either case; a missing or bad digit counts as 0) or a
// colour name ("clRed", "clBtnFace", ... in any case; system colours come from palette). An
// unknown name gives black.
QColor HTMLColor(std::string_view value, const QPalette& palette);

// A text run as shown: "&nbsp;" is a blank, "&lt;" and "&gt;" are '<' and '>', "&&" is one '&',
// and a lone '&' is dropped and underlines the character after it. shown receives the plain text,
// the return value is the same text in Qt's mnemonic form (for drawing with Qt::TextShowMnemonic).
QString HTMLRunText(std::string_view raw, QString* shown);

// The plain text of a markup for a hint: "<BR>" and "<HR>" (any case) become CR LF, every other
// tag (from '<' to the next '>') is removed, and a run's entities are shown as in HTMLRunText.
std::string HTMLToPlainText(std::string_view markup);

}  // namespace pv
