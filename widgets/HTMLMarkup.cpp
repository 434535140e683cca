#include "widgets/HTMLMarkup.h"

#include <array>
#include <cctype>

#include "files/AnsiText.h"
#include "widgets/AnsiQt.h"

namespace pv {
namespace {

struct Entity {
  std::string_view name;
  std::string_view text;
};

// Entities replaced in the whole markup before layout.
constexpr std::array<Entity, 9> kEntities = {{
    {"&amp;", "&&"},
    {"&quot;", "\""},
    {"&sect;", "\xA7"},
    {"&permil;", "\x89"},
    {"&reg;", "\xAE"},
    {"&copy;", "\xA9"},
    {"&para;", "\xB6"},
    {"&trade;", "\x99"},
    {"&euro;", "\x80"},
}};

// Entities replaced inside a text run during layout.
constexpr std::array<Entity, 3> kRunEntities = {{
    {"&nbsp;", " "},
    {"&lt;", "<"},
    {"&gt;", ">"},
}};

struct NamedColor {
  std::string_view name;
  int r, g, b;
};

constexpr std::array<NamedColor, 16> kFixedColors = {{
    {"clred", 255, 0, 0},
    {"clblack", 0, 0, 0},
    {"clblue", 0, 0, 255},
    {"clgreen", 0, 128, 0},
    {"claqua", 0, 255, 255},
    {"clyellow", 255, 255, 0},
    {"clfuchsia", 255, 0, 255},
    {"clwhite", 255, 255, 255},
    {"cllime", 0, 255, 0},
    {"clsilver", 192, 192, 192},
    {"clgray", 128, 128, 128},
    {"clolive", 128, 128, 0},
    {"clnavy", 0, 0, 128},
    {"clpurple", 128, 0, 128},
    {"clteal", 0, 128, 128},
    {"clmaroon", 128, 0, 0},
}};

struct SystemColor {
  std::string_view name;
  QPalette::ColorGroup group;
  QPalette::ColorRole role;
};

// The display colours of the desktop, taken from the application's palette.
constexpr std::array<SystemColor, 24> kSystemColors = {{
    {"clbackground", QPalette::Active, QPalette::Window},
    {"clactivecaption", QPalette::Active, QPalette::Highlight},
    {"clinactivecaption", QPalette::Inactive, QPalette::Mid},
    {"clmenu", QPalette::Active, QPalette::Window},
    {"clwindow", QPalette::Active, QPalette::Base},
    {"clwindowframe", QPalette::Active, QPalette::Shadow},
    {"clmenutext", QPalette::Active, QPalette::WindowText},
    {"clwindowtext", QPalette::Active, QPalette::Text},
    {"clcaptiontext", QPalette::Active, QPalette::HighlightedText},
    {"clactiveborder", QPalette::Active, QPalette::Window},
    {"clinactiveborder", QPalette::Inactive, QPalette::Window},
    {"clappworkspace", QPalette::Active, QPalette::Dark},
    {"clhighlight", QPalette::Active, QPalette::Highlight},
    {"clhighlighttext", QPalette::Active, QPalette::HighlightedText},
    {"clbtnface", QPalette::Active, QPalette::Button},
    {"clbtnshadow", QPalette::Active, QPalette::Dark},
    {"clgraytext", QPalette::Disabled, QPalette::Text},
    {"clbtntext", QPalette::Active, QPalette::ButtonText},
    {"clinactivecaptiontext", QPalette::Disabled, QPalette::WindowText},
    {"clbtnhighlight", QPalette::Active, QPalette::Light},
    {"cl3ddkshadow", QPalette::Active, QPalette::Shadow},
    {"cl3dlight", QPalette::Active, QPalette::Midlight},
    {"clinfotext", QPalette::Active, QPalette::ToolTipText},
    {"clinfobk", QPalette::Active, QPalette::ToolTipBase},
}};

bool IsNameChar(unsigned char c) { return std::isalnum(c) || c == '_' || c == '-'; }

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return 0;
}

int HexByte(std::string_view v, std::size_t at) {
  const int hi = at < v.size() ? HexDigit(v[at]) : 0;
  const int lo = at + 1 < v.size() ? HexDigit(v[at + 1]) : 0;
  return hi * 16 + lo;
}

bool StartsWith(std::string_view s, std::size_t at, std::string_view prefix) {
  return s.size() - at >= prefix.size() && s.compare(at, prefix.size(), prefix) == 0;
}

// The entity that starts at text[at], or null.
const Entity* EntityAt(std::string_view text, std::size_t at) {
  if (text[at] != '&') return nullptr;
  for (const Entity& e : kEntities) {
    if (StartsWith(text, at, e.name)) return &e;
  }
  return nullptr;
}

// One pass over text: each entity found is replaced once. False when there was none.
bool ReplaceEntitiesOnce(std::string& text) {
  bool changed = false;
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    if (const Entity* e = EntityAt(text, i)) {
      out += e->text;
      i += e->name.size();
      changed = true;
    } else {
      out += text[i++];
    }
  }
  text = std::move(out);
  return changed;
}

}  // namespace

std::string ReplaceHTMLEntities(std::string_view markup) {
  std::string text(markup);
  // Every replacement is shorter than its entity, so the loop ends.
  while (text.find('&') != std::string::npos && ReplaceEntitiesOnce(text)) {
  }
  return text;
}

std::optional<std::string> HTMLAttribute(std::string_view tag, std::string_view name) {
  const std::string upper = AnsiUpperCase(tag);
  for (std::size_t at = upper.find(name); at != std::string::npos; at = upper.find(name, at + 1)) {
    const std::size_t end = at + name.size();
    const bool startsAlone = at == 0 || !IsNameChar(static_cast<unsigned char>(upper[at - 1]));
    const bool endsAlone =
        end >= upper.size() || !IsNameChar(static_cast<unsigned char>(upper[end]));
    if (!startsAlone || !endsAlone) continue;
    const std::size_t open = tag.find('"', end);
    if (open == std::string::npos) return std::nullopt;
    const std::size_t close = tag.find('"', open + 1);
    if (close == std::string::npos) return std::nullopt;
    return std::string(tag.substr(open + 1, close - open - 1));
  }
  return std::nullopt;
}

std::string HTMLFirstQuoted(std::string_view tag) {
  const std::size_t open = tag.find('"');
  if (open == std::string::npos) return {};
  const std::size_t close = tag.find('"', open + 1);
  if (close == std::string::npos) return {};
  return std::string(tag.substr(open + 1, close - open - 1));
}

QColor HTMLColor(std::string_view value, const QPalette& palette) {
  if (!value.empty() && value[0] == '#') {
    return QColor(HexByte(value, 1), HexByte(value, 3), HexByte(value, 5));
  }
  std::string name;
  for (char c : value) name += static_cast<char>(AnsiLower(static_cast<unsigned char>(c)));
  for (const auto& c : kFixedColors) {
    if (c.name == name) return QColor(c.r, c.g, c.b);
  }
  for (const auto& c : kSystemColors) {
    if (c.name == name) return palette.color(c.group, c.role);
  }
  return QColor(0, 0, 0);
}

QString HTMLRunText(std::string_view raw, QString* shown) {
  QString plain;
  QString mnemonic;
  plain.reserve(static_cast<qsizetype>(raw.size()));
  mnemonic.reserve(static_cast<qsizetype>(raw.size()));
  auto put = [&](char c, bool underlined) {
    const QChar ch(AnsiCharToWide(static_cast<unsigned char>(c)));
    plain += ch;
    if (ch == u'&') {
      mnemonic += QStringLiteral("&&");
    } else {
      if (underlined) mnemonic += u'&';
      mnemonic += ch;
    }
  };
  for (std::size_t i = 0; i < raw.size();) {
    if (raw[i] != '&') {
      put(raw[i++], false);
      continue;
    }
    bool hit = false;
    for (const auto& e : kRunEntities) {
      if (StartsWith(raw, i, e.name)) {
        put(e.text[0], false);
        i += e.name.size();
        hit = true;
        break;
      }
    }
    if (hit) continue;
    if (StartsWith(raw, i, "&&")) {
      put('&', false);
      i += 2;
    } else if (i + 1 < raw.size()) {
      put(raw[i + 1], true);
      i += 2;
    } else {
      ++i;  // a trailing lone '&' has no character to mark
    }
  }
  if (shown) *shown = plain;
  return mnemonic;
}

std::string HTMLToPlainText(std::string_view markup) {
  std::string out;
  std::size_t i = 0;
  while (i < markup.size()) {
    const std::size_t lt = markup.find('<', i);
    const std::size_t gt = lt == std::string::npos ? lt : markup.find('>', lt);
    const std::size_t textEnd = gt == std::string::npos ? markup.size() : lt;
    QString shown;
    HTMLRunText(markup.substr(i, textEnd - i), &shown);
    out += QStringToAnsi(shown);
    if (gt == std::string::npos) break;
    const std::string tag = AnsiUpperCase(markup.substr(lt, gt - lt + 1));
    if (tag == "<BR>" || tag == "<HR>") out += "\r\n";
    i = gt + 1;
  }
  return out;
}

}  // namespace pv
