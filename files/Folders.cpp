#include "files/Folders.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>

#include "files/FileUtil.h"

namespace pv {
namespace {

std::string Env(const char* name) {
  const char* v = std::getenv(name);
  return v != nullptr ? std::string(v) : std::string();
}

// XDG_DESKTOP_DIR from user-dirs.dirs ("$HOME/..." or an absolute path), or empty.
std::string DesktopFromUserDirs() {
  std::string config = Env("XDG_CONFIG_HOME");
  if (config.empty()) config = Env("HOME") + "/.config";
  std::ifstream in(config + "/user-dirs.dirs");
  std::string line;
  const std::string key = "XDG_DESKTOP_DIR=";
  while (std::getline(in, line)) {
    if (line.rfind(key, 0) != 0) continue;
    std::string value = line.substr(key.size());
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
      value = value.substr(1, value.size() - 2);
    if (value.rfind("$HOME", 0) == 0) value = Env("HOME") + value.substr(5);
    return value;
  }
  return {};
}

}  // namespace

std::string GetTempFolder() {
  std::string dir = Env("TMPDIR");
  if (dir.empty()) {
    dir = Env("XDG_CACHE_HOME");
    if (dir.empty() && !Env("HOME").empty()) dir = Env("HOME") + "/.cache";
  }
  return AddBackslash(dir);
}

std::string GetWorkFolder(const std::string& name) {
  std::string path = GetTempFolder();
  const std::string work = path + WorkFolderName + PathDelim;
  std::string result = name.empty() ? work : work + name + PathDelim;
  try {
    if (!path.empty() && ForceFolders(path)) ForcePrivateFolders(result);
  } catch (const std::exception&) {
    // The folder stays missing; whoever reads from it finds nothing.
  }
  return result;
}

namespace {

// A real folder (no link) of this user that nobody else may enter or change.
bool IsPrivateEntry(const std::string& dir) {
  struct stat st;
  if (dir.empty() || lstat(dir.c_str(), &st) != 0) return false;
  return S_ISDIR(st.st_mode) && st.st_uid == geteuid() && (st.st_mode & 077) == 0;
}

// Length of the part of dir up to and including its last "PVTempDir" component; 0 when none.
size_t WorkFolderEnd(const std::string& dir) {
  const std::string component = std::string(1, PathDelim) + WorkFolderName;
  for (size_t at = dir.rfind(component); at != std::string::npos;
       at = at == 0 ? std::string::npos : dir.rfind(component, at - 1)) {
    const size_t end = at + component.size();
    if (end == dir.size() || dir[end] == PathDelim) return end;
  }
  return 0;
}

}  // namespace

bool IsPrivateFolder(const std::string& dir) {
  std::string d = RemoveBackslash(dir);
  if (!IsPrivateEntry(d)) return false;
  // Someone who could change a folder above it, up to the working folder, could swap it.
  const size_t root = WorkFolderEnd(d);
  while (d.size() > root && root > 0) {
    d = RemoveBackslash(ExtractFilePath(d));
    if (d.size() < root) break;
    if (!IsPrivateEntry(d)) return false;
  }
  return true;
}

std::string GetSpecialFolder(int csidl) {
  if (csidl != CSIDL_DESKTOP) return {};
  std::string dir = Env("XDG_DESKTOP_DIR");
  if (dir.empty()) dir = DesktopFromUserDirs();
  if (dir.empty() && !Env("HOME").empty()) dir = Env("HOME") + "/Desktop";
  if (dir.empty() || !DirectoryExistsSafe(dir, true)) return {};
  return AddBackslash(dir);
}

int AddShareConnection(const std::u16string& path) {
  return path.size() >= 2 && path[0] == u'/' && path[1] == u'/' ? 50 : 0;
}

int ConnectUNCPath(const std::u16string& path) { return AddShareConnection(path); }

}  // namespace pv
