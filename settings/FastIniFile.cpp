#include "settings/FastIniFile.h"

#include <algorithm>
#include <bit>
#include <cassert>

#include "files/AnsiText.h"
#include "files/FileUtil.h"

namespace pv {
namespace {

// Failure texts; "%s" is the inserted text.
constexpr const char* kIndexFailure =
    "Der Index der Liste \xFC"
    "berschreitet das Maximum (%d)";
constexpr const char* kUnstorableFailure = "Der Eintrag %s kann nicht gespeichert werden";

std::string Format(const char* pattern, std::string_view insert) {
  std::string text(pattern);
  const size_t at = text.find('%');
  text.replace(at, 2, insert);
  return text;
}

bool IsBlank(char c) {
  const auto u = static_cast<unsigned char>(c);
  return u >= 1 && u <= 32;
}

std::string_view TrimLeft(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  return s;
}

std::string_view Trim(std::string_view s) {
  s = TrimLeft(s);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

const std::array<unsigned char, 256>& UpperTable() {
  static const std::array<unsigned char, 256> table = [] {
    std::array<unsigned char, 256> t{};
    for (int c = 0; c < 256; ++c) t[c] = AnsiUpper(static_cast<unsigned char>(c));
    return t;
  }();
  return table;
}

std::uint32_t NameHash(std::string_view name) {
  const auto& upper = UpperTable();
  std::uint32_t hash = 0;
  for (char c : name) hash = std::rotl(hash, 2) ^ upper[static_cast<unsigned char>(c)];
  return hash;
}

// Same length and the same bytes after upper-casing; an empty name equals nothing.
bool SameName(std::string_view a, std::string_view b) {
  if (a.empty() || a.size() != b.size()) return false;
  const auto& upper = UpperTable();
  for (size_t i = 0; i < a.size(); ++i) {
    if (upper[static_cast<unsigned char>(a[i])] != upper[static_cast<unsigned char>(b[i])])
      return false;
  }
  return true;
}

bool HasLineBreakOrNul(std::string_view s) {
  return s.find_first_of(std::string_view("\r\n\0", 3)) != s.npos;
}

// Position of the first ";" outside double quotes, or npos.
size_t CommentPos(std::string_view value) {
  bool quoted = false;
  for (size_t i = 0; i < value.size(); ++i) {
    if (value[i] == '"')
      quoted = !quoted;
    else if (value[i] == ';' && !quoted)
      return i;
  }
  return value.npos;
}

// Whether a double quote in the text is left open at its end: text after it then reads as quoted.
bool EndsInsideQuotes(std::string_view text) {
  return std::count(text.begin(), text.end(), '"') % 2 != 0;
}

bool IsEmptyLine(const TIniLine& line) {
  return line.Kind == TIniLineKind::Empty ||
         (line.Kind == TIniLineKind::Plain && line.Text.empty());
}

// Whether a line with this text would be read back as a comment or a section header.
bool LooksLikeCommentOrHeader(std::string_view text) {
  return !text.empty() && (text.front() == ';' || text.front() == '[');
}

TIniLine ClassifyLine(std::string_view raw) {
  TIniLine line;
  line.Text = raw;
  if (raw.empty())
    line.Kind = TIniLineKind::Empty;
  else if (raw.front() == ';')
    line.Kind = TIniLineKind::Comment;
  else if (raw.front() == '[' && raw.back() == ']' && raw.size() >= 2)
    line.Kind = TIniLineKind::Section;
  else
    line.Kind = TIniLineKind::RawKey;
  return line;
}

bool IsStorableKey(std::string_view key) {
  return !key.empty() && !HasLineBreakOrNul(key) && key.find('=') == key.npos;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// TIniItems

TIniItems::TIniItems() = default;
TIniItems::~TIniItems() = default;

void TIniItems::Clear() {
  FLines = {};
  FStats = {};
  FSections.clear();
  FBuckets.fill(nullptr);
  FLastSection = nullptr;
  FKeyIndexMode = false;
}

const TIniLine& TIniItems::Line(int index) const {
  if (index < 0 || index >= Count())
    throw EStringListError(Format(kIndexFailure, std::to_string(index)));
  return FLines[static_cast<size_t>(index)];
}

// Growth: 128 lines while the capacity is at most 256, 512 up to 1024, a quarter beyond.
void TIniItems::Grow() {
  const size_t capacity = FLines.capacity();
  const size_t delta = capacity <= 256 ? 128 : capacity <= 1024 ? 512 : capacity / 4;
  FLines.reserve(capacity + delta);
}

void TIniItems::Append(TIniLine line) {
  if (FLines.size() == FLines.capacity()) Grow();
  FLines.push_back(std::move(line));
}

void TIniItems::LoadFromStream(std::string_view text) {
  Clear();
  const size_t nul = text.find('\0');
  if (nul != text.npos) text = text.substr(0, nul);
  // About one line per 16 bytes, but never more than there can be lines (one long line stays
  // cheap).
  const size_t breaks = static_cast<size_t>(std::count(text.begin(), text.end(), '\n') +
                                            std::count(text.begin(), text.end(), '\r'));
  FLines.reserve(std::min(text.size() / 16, breaks + 1));

  auto add = [this](std::string_view raw) {
    TIniLine line = ClassifyLine(raw);
    switch (line.Kind) {
      case TIniLineKind::Empty:
        ++FStats.EmptyLines;
        break;
      case TIniLineKind::Comment:
        ++FStats.Comments;
        break;
      case TIniLineKind::Section:
        ++FStats.Sections;
        break;
      default:
        ++FStats.KeyLines;
        break;
    }
    const bool header = line.Kind == TIniLineKind::Section;
    Append(std::move(line));
    if (header) RegisterSection(Count() - 1);
  };
  size_t start = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\r' && text[i] != '\n') continue;
    add(text.substr(start, i - start));
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
    start = i + 1;
  }
  if (start < text.size()) add(text.substr(start));
  FLines.shrink_to_fit();

  if (FStats.Sections > 0 && FStats.KeyLines / FStats.Sections >= 250) FKeyIndexMode = true;
}

void TIniItems::LoadFromFile(const std::string& fileName) {
  TFileStreamEx stream(fileName, TFileStreamEx::fmOpenRead);
  LoadFromStream(stream.ReadAll());
}

std::string TIniItems::SaveToStream() const {
  size_t size = 0;
  for (const TIniLine& line : FLines) size += line.Text.size() + line.Value.size() + 4;
  std::string out;
  out.reserve(size);
  for (const TIniLine& line : FLines) {
    if (line.Kind == TIniLineKind::Key) {
      // A key that begins like a comment or a header keeps a blank in front so it reads back as a
      // key.
      if (LooksLikeCommentOrHeader(line.Text)) out += ' ';
      out += line.Text;
      out += '=';
      out += line.Value;
    } else {
      out += line.Text;
    }
    out += "\r\n";
  }
  return out;
}

void TIniItems::SaveToFile(const std::string& fileName) const {
  TFileStreamEx stream(fileName, TFileStreamEx::fmCreate);
  stream.WriteAll(SaveToStream());
}

void TIniItems::SetText(int index, std::string_view text) {
  Line(index);  // range check
  if (HasLineBreakOrNul(text)) throw Exception(Format(kUnstorableFailure, "?"));
  FLines[static_cast<size_t>(index)] = ClassifyLine(text);
  RebuildSections();
}

// Splits a raw key line at its first "=". Without "=", or with an empty key, it becomes a plain
// line; a plain line loses its leading blanks unless it would then read back as another kind.
void TIniItems::ParseLine(TIniLine& line) {
  assert(line.Kind == TIniLineKind::RawKey);
  const std::string_view raw = line.Text;
  const size_t eq = raw.find('=');
  const std::string_view key = eq == raw.npos ? std::string_view() : Trim(raw.substr(0, eq));
  if (key.empty()) {
    line.Kind = TIniLineKind::Plain;
    const std::string_view text = TrimLeft(raw);
    if (eq == raw.npos && !LooksLikeCommentOrHeader(text)) line.Text = std::string(text);
    return;
  }
  line.Kind = TIniLineKind::Key;
  line.KeyHash = NameHash(key);
  line.Value = Trim(raw.substr(eq + 1));
  line.Text = std::string(key);
}

void TIniItems::RegisterSection(int headerLine) {
  const std::string& header = FLines[static_cast<size_t>(headerLine)].Text;
  auto section = std::make_unique<TSectionItem>();
  section->Name = header.substr(1, header.size() - 2);
  section->Hash = NameHash(section->Name);
  section->FirstLine = headerLine + 1;
  TSectionItem*& head = FBuckets[section->Hash & 0xFF];
  section->Next = head;
  head = section.get();
  FSections.push_back(std::move(section));
}

void TIniItems::RebuildSections() {
  FSections.clear();
  FBuckets.fill(nullptr);
  FLastSection = nullptr;
  for (int i = 0; i < Count(); ++i) {
    if (FLines[static_cast<size_t>(i)].Kind == TIniLineKind::Section) RegisterSection(i);
  }
}

int TIniItems::SectionEnd(const TSectionItem* section) const {
  int i = section->FirstLine;
  while (i < Count() && FLines[static_cast<size_t>(i)].Kind != TIniLineKind::Section) ++i;
  return i;
}

TSectionItem* TIniItems::FindSection(std::string_view name, bool create) {
  if (name.empty()) return nullptr;
  if (FLastSection != nullptr && SameName(FLastSection->Name, name)) return FLastSection;
  const std::uint32_t hash = NameHash(name);
  for (TSectionItem* s = FBuckets[hash & 0xFF]; s != nullptr; s = s->Next) {
    if (s->Hash == hash && SameName(s->Name, name)) return FLastSection = s;
  }
  if (!create || HasLineBreakOrNul(name)) return nullptr;
  if (!FLines.empty() && !IsEmptyLine(FLines.back())) Append(TIniLine{});
  TIniLine header;
  header.Kind = TIniLineKind::Section;
  header.Text.append(1, '[').append(name).append(1, ']');
  Append(std::move(header));
  RegisterSection(Count() - 1);
  return FLastSection = FSections.back().get();
}

void TIniItems::AddToIndex(TKeyIndex& index, std::uint32_t hash, int offset) {
  std::vector<int>& bucket = index.Buckets[hash & 0xFF];
  if (bucket.size() == bucket.capacity()) bucket.reserve(bucket.capacity() + 2);
  bucket.push_back(offset);
}

void TIniItems::BuildKeyIndex(TSectionItem* section) {
  section->KeyIndex = std::make_unique<TKeyIndex>();
  const int end = SectionEnd(section);
  for (int i = section->FirstLine; i < end; ++i) {
    TIniLine& line = FLines[static_cast<size_t>(i)];
    if (line.Kind == TIniLineKind::RawKey) ParseLine(line);
    if (line.Kind == TIniLineKind::Key)
      AddToIndex(*section->KeyIndex, line.KeyHash, i - section->FirstLine);
  }
}

int TIniItems::FindKey(TSectionItem* section, std::string_view key) {
  key = Trim(key);
  if (section == nullptr || key.empty()) return -1;
  const std::uint32_t hash = NameHash(key);
  if (FKeyIndexMode) {
    if (!section->KeyIndex) BuildKeyIndex(section);
    // The bucket lists its lines in file order, so the first match is the linear search's.
    for (int offset : section->KeyIndex->Buckets[hash & 0xFF]) {
      const int i = section->FirstLine + offset;
      assert(i < Count());
      const TIniLine& line = FLines[static_cast<size_t>(i)];
      if (line.KeyHash == hash && SameName(line.Text, key)) return i;
    }
    return -1;
  }
  for (int i = section->FirstLine; i < Count(); ++i) {
    TIniLine& line = FLines[static_cast<size_t>(i)];
    if (line.Kind == TIniLineKind::Section) break;
    if (line.Kind == TIniLineKind::RawKey) ParseLine(line);
    if (line.Kind == TIniLineKind::Key && line.KeyHash == hash && SameName(line.Text, key))
      return i;
  }
  return -1;
}

int TIniItems::AddKey(TSectionItem* section, std::string_view key) {
  key = Trim(key);
  if (section == nullptr || !IsStorableKey(key)) return -1;
  const int end = SectionEnd(section);
  int at = section->FirstLine;
  for (int i = section->FirstLine; i < end; ++i) {
    const TIniLineKind kind = FLines[static_cast<size_t>(i)].Kind;
    if (kind == TIniLineKind::RawKey || kind == TIniLineKind::Key || kind == TIniLineKind::Plain)
      at = i + 1;
  }
  TIniLine line;
  line.Kind = TIniLineKind::Key;
  line.KeyHash = NameHash(key);
  line.Text = std::string(key);
  if (FLines.size() == FLines.capacity()) Grow();
  FLines.insert(FLines.begin() + at, std::move(line));
  // Later sections move down; their key indexes are relative to FirstLine and stay right. The new
  // key is the last key line of its own section, so it goes to the end of its bucket.
  for (auto& s : FSections) {
    if (s->FirstLine > at) ++s->FirstLine;
  }
  if (FKeyIndexMode && section->KeyIndex)
    AddToIndex(*section->KeyIndex, FLines[static_cast<size_t>(at)].KeyHash,
               at - section->FirstLine);
  return at;
}

void TIniItems::SetValue(int index, std::string value) {
  Line(index);  // range check
  TIniLine& line = FLines[static_cast<size_t>(index)];
  assert(line.Kind == TIniLineKind::Key);
  line.Value = std::move(value);
}

void TIniItems::SetKeyIndexMode(bool on) {
  FKeyIndexMode = on;
  for (auto& s : FSections) s->KeyIndex.reset();
}

// ---------------------------------------------------------------------------------------------
// TCustomIniFile

bool TryParseIniInteger(std::string_view text, std::int32_t& value) {
  size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
  unsigned base = 10;
  if (i < text.size() && text[i] == '$') {
    base = 16;
    i += 1;
  } else if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
    base = 16;
    i += 2;
  }
  if (i == text.size()) return false;
  const std::uint64_t limit = base == 16 ? 0xFFFFFFFFull : negative ? 0x80000000ull : 0x7FFFFFFFull;
  std::uint64_t magnitude = 0;
  for (; i < text.size(); ++i) {
    const char c = text[i];
    unsigned digit;
    if (c >= '0' && c <= '9')
      digit = static_cast<unsigned>(c - '0');
    else if (base == 16 && c >= 'a' && c <= 'f')
      digit = static_cast<unsigned>(c - 'a' + 10);
    else if (base == 16 && c >= 'A' && c <= 'F')
      digit = static_cast<unsigned>(c - 'A' + 10);
    else
      return false;
    magnitude = magnitude * base + digit;
    if (magnitude > limit) return false;
  }
  // Hexadecimal gives the 32-bit pattern ($FFFFFFFF is -1); the sign then negates it.
  const auto bits = static_cast<std::uint32_t>(magnitude);
  value = static_cast<std::int32_t>(negative ? 0u - bits : bits);
  return true;
}

std::int32_t TCustomIniFile::GetInteger(std::string_view section, std::string_view key,
                                        std::int32_t def) {
  std::int32_t value;
  return TryParseIniInteger(GetString(section, key, ""), value) ? value : def;
}

void TCustomIniFile::PutInteger(std::string_view section, std::string_view key,
                                std::int32_t value) {
  PutString(section, key, std::to_string(value));
}

bool TCustomIniFile::GetBool(std::string_view section, std::string_view key, bool def) {
  return GetInteger(section, key, def ? 1 : 0) != 0;
}

void TCustomIniFile::PutBool(std::string_view section, std::string_view key, bool value) {
  PutString(section, key, value ? "1" : "0");
}

// ---------------------------------------------------------------------------------------------
// TFastIniFile

TFastIniFile::TFastIniFile(std::string fileName) : TCustomIniFile(std::move(fileName)) {}

TFastIniFile::~TFastIniFile() {
  if (!FModified || FSaveFailed) return;
  try {
    SaveIfModified();
  } catch (const std::exception&) {
    // Nobody is left to tell; the previous file stays whole.
  }
}

void TFastIniFile::Clear() {
  FIniItems.Clear();
  FLoaded = false;
  FModified = false;
  FSaveFailed = false;
}

void TFastIniFile::LoadFile() {
  Clear();
  if (!FileName().empty() && FileExistsSafe(FileName())) FIniItems.LoadFromFile(FileName());
  FLoaded = true;
}

void TFastIniFile::EnsureLoaded() {
  if (!FLoaded) LoadFile();
}

std::string TFastIniFile::GetString(std::string_view section, std::string_view key,
                                    std::string_view def) {
  EnsureLoaded();
  TSectionItem* found = FIniItems.FindSection(section, false);
  const int index = FIniItems.FindKey(found, key);
  if (index < 0) return std::string(def);
  std::string_view value = FIniItems.Line(index).Value;
  if (StripInlineComments) {
    const size_t cut = CommentPos(value);
    if (cut != value.npos) value = Trim(value.substr(0, cut));
  }
  if (StripQuotes && value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
      value.back() == value.front()) {
    value = value.substr(1, value.size() - 2);
  }
  return std::string(value);
}

void TFastIniFile::PutString(std::string_view section, std::string_view key,
                             std::string_view value) {
  key = Trim(key);
  if (section.empty() || key.empty()) return;
  if (HasLineBreakOrNul(section) || !IsStorableKey(key) || HasLineBreakOrNul(value))
    throw Exception(Format(kUnstorableFailure, key));
  EnsureLoaded();
  TSectionItem* found = FIniItems.FindSection(section, true);
  int index = FIniItems.FindKey(found, key);
  const bool added = index < 0;
  if (added) index = FIniItems.AddKey(found, key);
  assert(index >= 0);

  const std::string_view stored = FIniItems.Line(index).Value;
  const size_t semicolon = StripInlineComments ? CommentPos(stored) : stored.npos;
  std::string_view current = stored;
  std::string comment;
  if (semicolon != stored.npos) {
    comment = stored.substr(semicolon, 255);
    current = Trim(stored.substr(0, semicolon));
  }
  // A new key is a change even when its value is empty: the line must reach the file.
  if (current == value && !added) return;

  std::string updated(value);
  // A comment after a value with an open quote would read as part of the value; it is dropped.
  if (semicolon != stored.npos && !EndsInsideQuotes(value)) {
    // Keep the comment in its column, or one blank after a value that reaches it.
    if (updated.size() <= semicolon)
      updated.resize(semicolon, ' ');
    else
      updated += ' ';
    updated += comment;
  }
  FIniItems.SetValue(index, std::move(updated));
  FModified = true;
  FSaveFailed = false;
}

void TFastIniFile::SaveIfModified() {
  if (!FModified) return;
  try {
    const std::string folder = ExtractFilePath(FileName());
    if (!folder.empty()) ForceFolders(folder);
    FIniItems.SaveToFile(FileName());
  } catch (...) {
    FSaveFailed = true;
    throw;
  }
  FModified = false;
}

}  // namespace pv
