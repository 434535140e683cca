// A deliberately simple INI reader for checking files the settings store wrote: lines end in CR LF,
// the later section of a name wins, the first key of a section wins, ";" outside quotes cuts.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "files/AnsiText.h"

namespace pv::test {

using PlainSections = std::map<std::string, std::map<std::string, std::string>>;

inline std::string PlainTrim(const std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && static_cast<unsigned char>(s[b]) <= 32) ++b;
  while (e > b && static_cast<unsigned char>(s[e - 1]) <= 32) --e;
  return s.substr(b, e - b);
}

// Section -> key -> value, names upper-cased. crlfOnly tells whether every line ended in CR LF.
inline PlainSections PlainRead(const std::string& bytes, bool* crlfOnly = nullptr) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t end; (end = bytes.find("\r\n", start)) != std::string::npos; start = end + 2)
    lines.push_back(bytes.substr(start, end - start));
  if (crlfOnly != nullptr) {
    std::string joined;
    for (const auto& l : lines) joined += l;
    *crlfOnly = start == bytes.size() && joined.find_first_of("\r\n") == std::string::npos;
  }
  PlainSections all;
  std::map<std::string, std::string>* current = nullptr;
  for (const auto& l : lines) {
    if (l.size() >= 2 && l[0] == '[' && l.back() == ']') {
      current = &all[AnsiUpperCase(l.substr(1, l.size() - 2))];
      current->clear();
      continue;
    }
    const size_t eq = l.find('=');
    if (current == nullptr || l.empty() || l[0] == ';' || eq == std::string::npos) continue;
    std::string value = l.substr(eq + 1);
    for (size_t i = 0, quoted = 0; i < value.size(); ++i) {
      if (value[i] == '"') quoted ^= 1;
      if (value[i] == ';' && !quoted) value.resize(i);
    }
    current->emplace(AnsiUpperCase(PlainTrim(l.substr(0, eq))), PlainTrim(value));
  }
  return all;
}

}  // namespace pv::test
