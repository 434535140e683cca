#include "carddav/CardUid.h"

#include <QCryptographicHash>
#include <array>
#include <cstdio>

namespace pv::carddav {
namespace {

// The namespace of the record UIDs; never change it, or every card on every server gets a new
// identity (and a duplicate).
constexpr std::array<unsigned char, 16> kNamespace = {
    0xc9, 0x99, 0x8b, 0xa0, 0x1a, 0xc3, 0x47, 0x22, 0x9b, 0xc8, 0xc6, 0x86, 0x6a, 0x3d, 0x13, 0xd1};

bool StartsWithNoCase(std::string_view line, std::string_view prefix) {
  if (line.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i) {
    char c = line[i];
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    if (c != prefix[i]) return false;
  }
  return true;
}

// The name of a content line ("UID" for "uid;VALUE=text:..."): up to ':' or ';'.
bool IsProperty(std::string_view line, std::string_view name) {
  return StartsWithNoCase(line, name) && line.size() > name.size() &&
         (line[name.size()] == ':' || line[name.size()] == ';');
}

}  // namespace

std::string RecordUid(int64_t recordId) {
  QCryptographicHash sha(QCryptographicHash::Sha1);
  sha.addData(QByteArrayView(reinterpret_cast<const char*>(kNamespace.data()), kNamespace.size()));
  sha.addData(QByteArray::number(static_cast<qlonglong>(recordId)));
  QByteArray d = sha.result().left(16);
  d[6] = static_cast<char>((d[6] & 0x0F) | 0x50);
  d[8] = static_cast<char>((d[8] & 0x3F) | 0x80);
  const QByteArray hex = d.toHex();
  std::string uid = hex.toStdString();
  for (size_t at : {20, 16, 12, 8}) uid.insert(at, 1, '-');
  return uid;
}

std::string ResourceName(const std::string& uid) { return uid + ".vcf"; }

std::string CardWithUid(std::string_view card, const std::string& uid) {
  std::string out;
  out.reserve(card.size() + uid.size() + 16);
  bool inserted = false;
  size_t afterBegin = std::string::npos;  // where the BEGIN line ends in out
  std::string_view beginEol;
  size_t pos = 0;
  while (pos < card.size()) {
    size_t end = card.find('\n', pos);
    end = end == std::string_view::npos ? card.size() : end + 1;
    const std::string_view line = card.substr(pos, end - pos);
    pos = end;
    // A folded continuation of a dropped UID line starts with a blank or tab: drop it too.
    if (IsProperty(line, "UID")) {
      while (pos < card.size() && (card[pos] == ' ' || card[pos] == '\t')) {
        const size_t next = card.find('\n', pos);
        pos = next == std::string_view::npos ? card.size() : next + 1;
      }
      continue;
    }
    out += line;
    const bool version = IsProperty(line, "VERSION");
    if (afterBegin == std::string::npos && StartsWithNoCase(line, "BEGIN:VCARD")) {
      afterBegin = out.size();
      beginEol = line.ends_with("\r\n") ? "\r\n" : "\n";
    }
    if (!inserted && version) {
      const std::string_view eol = line.ends_with("\r\n") ? "\r\n" : "\n";
      if (!line.ends_with('\n')) out += eol;
      out += "UID:urn:uuid:" + uid;
      out += eol;
      inserted = true;
    }
  }
  if (inserted || afterBegin == std::string::npos || out[afterBegin - 1] != '\n') return out;
  // No VERSION line: after BEGIN.
  out.insert(afterBegin, "UID:urn:uuid:" + uid + std::string(beginEol));
  return out;
}

}  // namespace pv::carddav
