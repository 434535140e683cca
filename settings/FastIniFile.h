// The settings-file class: an INI file read whole into a list of lines, sections found through a
// hash table, untouched lines written back byte for byte, and the file replaced only on a change.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "files/Errors.h"
#include "files/FileStream.h"

namespace pv {

// A line index outside the list: "Der Index der Liste überschreitet das Maximum (<index>)".
class EStringListError : public Exception {
 public:
  using Exception::Exception;
};

enum class TIniLineKind : std::uint8_t {
  Empty,    // ""
  Comment,  // first character ";"
  Section,  // "[" ... "]"
  RawKey,   // any other line, not parsed yet
  Key,      // parsed: Text is the key, Value the value
  Plain,    // parsed, without "=" (or with an empty key): never matches a key
};

struct TIniLine {
  TIniLineKind Kind = TIniLineKind::Empty;
  std::uint32_t KeyHash = 0;  // Key lines only
  std::string Text;           // the raw line; for Key the key, for Plain the text to write
  std::string Value;          // Key lines only
};

// Counts of the line kinds seen while loading (KeyLines: every line that may hold a key).
struct TStatistics {
  int EmptyLines = 0;
  int Comments = 0;
  int KeyLines = 0;
  int Sections = 0;
};

// Per-section lists of key lines chosen by the low 8 bits of the key hash. Entries are offsets
// from the section's FirstLine in file order, so inserting lines in front of the section or
// growing the line array never invalidates them.
struct TKeyIndex {
  std::array<std::vector<int>, 256> Buckets;
};

struct TSectionItem {
  std::string Name;
  std::uint32_t Hash = 0;
  int FirstLine = 0;  // the line right after the header
  std::unique_ptr<TKeyIndex> KeyIndex;
  TSectionItem* Next = nullptr;  // chain of the bucket, most recently registered first
};

// The lines of one INI file with the section table. Section names and keys match ignoring case
// (Windows-1252); an empty name matches nothing.
class TIniItems {
 public:
  TIniItems();
  virtual ~TIniItems();
  TIniItems(const TIniItems&) = delete;
  TIniItems& operator=(const TIniItems&) = delete;

  // Replaces the line at index with text and classifies it again. Raises EStringListError for an
  // index outside the list, Exception for text holding CR, LF or NUL.
  virtual void SetText(int index, std::string_view text);
  // Replaces all lines with those of the file (read through TFileStreamEx, which may raise).
  virtual void LoadFromFile(const std::string& fileName);
  // Replaces all lines with those of text (CR, LF or CR LF end a line; text ends at a NUL).
  virtual void LoadFromStream(std::string_view text);
  // Replaces the file atomically with SaveToStream(); raises EFCreateError.
  virtual void SaveToFile(const std::string& fileName) const;
  // All lines, each ending in CR LF: key lines as key "=" value, the others as stored.
  virtual std::string SaveToStream() const;

  void Clear();
  int Count() const { return static_cast<int>(FLines.size()); }
  int Capacity() const { return static_cast<int>(FLines.capacity()); }
  // Raises EStringListError for an index outside the list.
  const TIniLine& Line(int index) const;
  const TStatistics& Statistics() const { return FStats; }

  bool KeyIndexMode() const { return FKeyIndexMode; }
  // Switches the per-section key indexes on or off (they are built on each section's next lookup).
  void SetKeyIndexMode(bool on);

  // The section of that name (the later one of two equal names), or nullptr. With create, a missing
  // section is appended (after an empty line unless the list is empty or already ends in one).
  // Never finds or creates an empty name.
  TSectionItem* FindSection(std::string_view name, bool create);
  // The line index of the first key line of the section with that key, or -1.
  int FindKey(TSectionItem* section, std::string_view key);
  // Inserts the key line key "=" (empty value) after the last key or plain line of the section,
  // or right after its header; returns its index. -1 for an empty key.
  int AddKey(TSectionItem* section, std::string_view key);
  // Sets the value of the key line at index (which must be a parsed key line).
  void SetValue(int index, std::string value);

 private:
  void Grow();
  void Append(TIniLine line);
  static void ParseLine(TIniLine& line);
  int SectionEnd(const TSectionItem* section) const;
  void RegisterSection(int headerLine);
  void RebuildSections();
  void BuildKeyIndex(TSectionItem* section);
  static void AddToIndex(TKeyIndex& index, std::uint32_t hash, int offset);

  std::vector<TIniLine> FLines;
  TStatistics FStats;
  std::vector<std::unique_ptr<TSectionItem>> FSections;  // owner, in registration order
  std::array<TSectionItem*, 256> FBuckets{};
  TSectionItem* FLastSection = nullptr;
  bool FKeyIndexMode = false;
};

// Abstract INI file: holds the file name and builds the typed reads and writes on the two string
// operations.
class TCustomIniFile {
 public:
  explicit TCustomIniFile(std::string fileName) : FFileName(std::move(fileName)) {}
  virtual ~TCustomIniFile() = default;
  TCustomIniFile(const TCustomIniFile&) = delete;
  TCustomIniFile& operator=(const TCustomIniFile&) = delete;

  const std::string& FileName() const { return FFileName; }

  // The value of the key, or def when the section or key is missing.
  virtual std::string GetString(std::string_view section, std::string_view key,
                                std::string_view def) = 0;
  // Stores the value under the key, creating section and key when missing.
  virtual void PutString(std::string_view section, std::string_view key,
                         std::string_view value) = 0;
  // A signed decimal, or hexadecimal after "0x", "0X" or "$" (32-bit pattern); anything else,
  // and a missing key, gives def.
  virtual std::int32_t GetInteger(std::string_view section, std::string_view key, std::int32_t def);
  // Stored in decimal.
  virtual void PutInteger(std::string_view section, std::string_view key, std::int32_t value);
  // Read as an integer with the default 1 or 0; any other value than 0 is true.
  virtual bool GetBool(std::string_view section, std::string_view key, bool def);
  // Stored as "1" or "0".
  virtual void PutBool(std::string_view section, std::string_view key, bool value);
  // Writes pending changes to the file; raises what the write raises.
  virtual void UpdateFile() = 0;

 private:
  std::string FFileName;
};

// Parses an integer the way GetInteger reads it; false when text is none.
bool TryParseIniInteger(std::string_view text, std::int32_t& value);

// The INI file of the settings store. Loaded at its first operation; destroying it saves when
// modified (a failure there is dropped: call SaveIfModified to learn of it).
class TFastIniFile : public TCustomIniFile {
 public:
  explicit TFastIniFile(std::string fileName);  // no file access yet
  ~TFastIniFile() override;

  std::string GetString(std::string_view section, std::string_view key,
                        std::string_view def) override;
  // Raises Exception for a section, key or value that a line cannot hold (CR, LF, NUL, or "=" in
  // the key); an empty section or key does nothing. A ";" comment after the old value is kept in
  // its column, unless the new value leaves a double quote open (the comment would then read as
  // part of it). Sets Modified when the value really changes or the key is new.
  void PutString(std::string_view section, std::string_view key, std::string_view value) override;
  void UpdateFile() override { SaveIfModified(); }

  // Drops all lines (the file is read again at the next operation).
  void Clear();
  // Reads the file when it exists (else starts empty). Raises EFCreateError when it cannot be read.
  void LoadFile();
  // When Modified: creates the folder if missing and replaces the file atomically (the old one
  // stays whole on failure); raises EFCreateError then.
  void SaveIfModified();

  TIniItems& IniItems() { return FIniItems; }
  bool Loaded() const { return FLoaded; }
  bool Modified() const { return FModified; }

  bool StripInlineComments = true;  // cut a value before a ";" outside double quotes
  bool StripQuotes = false;         // drop matching outer quotes (" or ') of a value

 private:
  void EnsureLoaded();

  TIniItems FIniItems;
  bool FLoaded = false;
  bool FModified = false;
  bool FSaveFailed = false;  // the last save of the current changes failed (reported then)
};

}  // namespace pv
