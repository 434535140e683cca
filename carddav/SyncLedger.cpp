#include "carddav/SyncLedger.h"

#include <QCryptographicHash>
#include <charconv>
#include <string_view>
#include <utility>
#include <vector>

#include "files/FileUtil.h"

namespace pv::carddav {
namespace {

constexpr std::string_view kMagic = "# vcard-parvela CardDAV ledger 1";
constexpr std::string_view kUrlKey = "# url=";
constexpr std::string_view kUserKey = "# user=";
constexpr std::string_view kFormatKey = "# vcard=";

// Fields are separated by tabs; a tab or line break inside a value would break the line, so they
// become blanks (none of them is legal in a stamp, a resource name or an ETag anyway).
std::string Clean(std::string_view value) {
  std::string out(value);
  for (char& c : out) {
    if (c == '\t' || c == '\r' || c == '\n') c = ' ';
  }
  return out;
}

std::vector<std::string_view> SplitTabs(std::string_view line) {
  std::vector<std::string_view> fields;
  size_t start = 0;
  for (size_t i = 0; i <= line.size(); ++i) {
    if (i == line.size() || line[i] == '\t') {
      fields.push_back(line.substr(start, i - start));
      start = i + 1;
    }
  }
  return fields;
}

}  // namespace

std::string TSyncLedger::FileName(const std::string& dbFolder, const std::string& url,
                                  const std::string& user) {
  const QByteArray key = QByteArray::fromStdString(url + "\n" + user);
  const QByteArray hex = QCryptographicHash::hash(key, QCryptographicHash::Sha1).toHex().left(16);
  return AddBackslash(dbFolder) + "vCard.Export" + PathDelim + "carddav-" + hex.toStdString() +
         ".txt";
}

TSyncLedger::TSyncLedger(std::string path, std::string url, std::string user, std::string format)
    : path_(std::move(path)),
      url_(std::move(url)),
      user_(std::move(user)),
      format_(std::move(format)) {}

void TSyncLedger::Load() {
  entries_.clear();
  formatChanged_ = false;
  if (!FileExistsSafe(path_)) return;
  Parse(ReadWholeFile(path_));
}

void TSyncLedger::Parse(const std::string& text) {
  entries_.clear();
  formatChanged_ = false;
  bool magic = false;
  bool sameBook = true;
  std::string format;
  ForEachLine(text, [&](std::string_view line) {
    if (line == kMagic) {
      magic = true;
    } else if (line.starts_with(kUrlKey)) {
      sameBook = sameBook && line.substr(kUrlKey.size()) == url_;
    } else if (line.starts_with(kUserKey)) {
      sameBook = sameBook && line.substr(kUserKey.size()) == user_;
    } else if (line.starts_with(kFormatKey)) {
      format = line.substr(kFormatKey.size());
    } else if (!line.starts_with('#')) {
      const auto f = SplitTabs(line);
      int64_t id = 0;
      if (f.size() != 4 || f[2].empty()) return;
      const auto [end, ec] = std::from_chars(f[0].data(), f[0].data() + f[0].size(), id);
      if (ec != std::errc() || end != f[0].data() + f[0].size()) return;
      entries_[id] = TLedgerEntry{std::string(f[1]), std::string(f[2]), std::string(f[3])};
    }
  });
  if (!magic || !sameBook) {
    entries_.clear();
    return;
  }
  formatChanged_ = !entries_.empty() && format != format_;
}

std::string TSyncLedger::Text() const {
  std::string out;
  out.reserve(128 + entries_.size() * 96);
  out.append(kMagic).append("\n");
  out.append(kUrlKey).append(Clean(url_)).append("\n");
  out.append(kUserKey).append(Clean(user_)).append("\n");
  out.append(kFormatKey).append(Clean(format_)).append("\n");
  for (const auto& [id, e] : entries_) {
    out.append(std::to_string(id)).append("\t").append(Clean(e.Stamp)).append("\t");
    out.append(Clean(e.Resource)).append("\t").append(Clean(e.ETag)).append("\n");
  }
  return out;
}

void TSyncLedger::Save() const {
  ForceFolders(ExtractFilePath(path_));
  SaveFileAtomic(path_, Text());
}

}  // namespace pv::carddav
