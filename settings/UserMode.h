// The program's settings in UserMode.INI, section MODE: where the file lives, and accessors that
// read or write one value each. The accessors never raise: a failed read yields the default, a
// failed write is dropped and leaves the previous file whole. Each call opens the file anew, so
// other processes' changes are seen; every write reads, changes and replaces the file under the
// lock of TSettingsLock, so writers in several processes lose none of each other's keys.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "settings/FastIniFile.h"

namespace pv {

inline constexpr const char* SettingsFileName = "UserMode.INI";
inline constexpr const char* ModeSection = "MODE";

// Holds the exclusive lock on "<settings file>.lock" (created beside it, never removed) for one
// read-change-write of the settings file. Every process of the program takes it before changing
// the file. Raises EFCreateError when the lock file cannot be opened or another process holds the
// lock for longer than 10 s.
class TSettingsLock {
 public:
  explicit TSettingsLock(const std::string& settingsFile);
  ~TSettingsLock();
  TSettingsLock(const TSettingsLock&) = delete;
  TSettingsLock& operator=(const TSettingsLock&) = delete;

  // Test hook: how long to wait for the lock, in milliseconds (10000 unless changed); returns the
  // previous limit.
  static int SetWaitLimitForTests(int milliseconds);

 private:
  int fd_ = -1;
};

// Remembers the folder (with its trailing '/') for all later accessors. When it changes and the
// folder has no UserMode.INI yet, one found in the program's folder is copied there first
// (failures of that copy are ignored). An empty folder forgets the remembered one.
void SetSettingsFolder(const std::string& folder);

// A new settings file object on <folder>/UserMode.INI; an empty folder means the remembered
// settings folder, or while none is set, the folder of the program file. No file access yet.
std::unique_ptr<TFastIniFile> OpenSettingsFile(const std::string& folder = "");

// Read accessors: the value of key in MODE, or def when it is missing, unreadable or the key is
// empty. With writeBack, the result is then written back through the matching write accessor.
bool ReadModeBool(const std::string& key, bool def, const std::string& folder = "",
                  bool writeBack = false);
std::int32_t ReadModeInteger(const std::string& key, std::int32_t def,
                             const std::string& folder = "", bool writeBack = false);
// A stored value in double quotes comes back without them (doubled quotes made single). An empty
// key gives an empty string.
std::string ReadModeString(const std::string& key, const std::string& def,
                           const std::string& folder = "", bool writeBack = false);

// Write accessors: store value under key in MODE; the file is rewritten only when the value
// changes. An empty key does nothing.
void WriteModeBool(const std::string& key, bool value, const std::string& folder = "");
void WriteModeInteger(const std::string& key, std::int32_t value, const std::string& folder = "");
// Stored in double quotes with inner double quotes doubled, so ";" and outer blanks survive.
void WriteModeString(const std::string& key, const std::string& value,
                     const std::string& folder = "");

// Test hook: the folder taken as the program's folder (with trailing '/'); empty for the real one.
// Returns the previous one.
std::string SetProgramFolderForTests(std::string folder);

}  // namespace pv
