// The settings file class: loads a file made of fuzz bytes, puts keys chosen by the input, saves,
// and reloads. What was put must read back (in memory at once, and from the saved file), and
// loading then saving a text must be a fixed point.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <utility>

#include "files/AnsiText.h"
#include "files/Errors.h"
#include "fuzz/FuzzUtil.h"
#include "settings/FastIniFile.h"

namespace {

const char* const kNames[] = {"MODE", "mode", "AsAnsi", "ASANSI", "a",
                              " a ",  "\xE4", "\xC4",   "x;y"};

bool IsBlank(char c) {
  return static_cast<unsigned char>(c) >= 1 && static_cast<unsigned char>(c) <= 32;
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

std::string Name(FuzzedDataProvider& in) {
  if (in.ConsumeBool()) return kNames[in.ConsumeIntegralInRange<size_t>(0, std::size(kNames) - 1)];
  return in.ConsumeRandomLengthString(24);
}

// A line of an INI file cannot hold these; PutString refuses them.
bool Unstorable(std::string_view section, std::string_view key, std::string_view value) {
  const auto breaks = [](std::string_view s) {
    return s.find_first_of(std::string_view("\r\n\0", 3)) != s.npos;
  };
  return breaks(section) || breaks(key) || breaks(value) || key.find('=') != key.npos;
}

// Loading a text and saving it again, twice, gives the same bytes the second time.
void CheckFixedPoint(std::string_view text) {
  pv::TIniItems first;
  first.LoadFromStream(text);
  const std::string once = first.SaveToStream();
  pv::TIniItems second;
  second.LoadFromStream(once);
  FUZZ_CHECK(second.SaveToStream() == once);
}

using Key = std::pair<std::string, std::string>;  // upper-cased section and trimmed key

struct Put {
  std::string section, key, value;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  const bool stripComments = in.ConsumeBool();
  const bool keyIndex = in.ConsumeBool();
  const std::string text = in.ConsumeRandomLengthString(8192);
  std::vector<Put> puts(in.ConsumeIntegralInRange<size_t>(0, 8));
  for (Put& p : puts) {
    p.section = Name(in);
    p.key = Name(in);
    p.value = in.ConsumeRandomLengthString(40);
  }
  CheckFixedPoint(text);

  const std::string file = pv::fuzz::ScratchFolder() + "UserMode.INI";
  FUZZ_CHECK(pv::fuzz::WriteFile(file, text));
  std::map<Key, std::string> expected;
  {
    pv::TFastIniFile ini(file);
    ini.StripInlineComments = stripComments;
    ini.IniItems().SetKeyIndexMode(keyIndex);
    for (const Put& p : puts) {
      const std::string_view key = Trim(p.key);
      try {
        ini.PutString(p.section, p.key, p.value);
      } catch (const pv::Exception&) {
        FUZZ_CHECK(Unstorable(p.section, key, p.value));
        continue;
      }
      FUZZ_CHECK(!Unstorable(p.section, key, p.value) || p.section.empty() || key.empty());
      if (p.section.empty() || key.empty()) continue;
      // A ";" in a value starts a comment for a reader that strips them.
      const bool exact = !stripComments || p.value.find(';') == std::string::npos;
      if (exact) {
        // Blanks around a value survive only until the line is read again.
        const std::string now = ini.GetString(p.section, p.key, "\x01missing");
        FUZZ_CHECK_MSG(now == p.value || now == Trim(p.value),
                       "put [" + pv::fuzz::Escaped(p.section) + "] " + pv::fuzz::Escaped(p.key) +
                           "=" + pv::fuzz::Escaped(p.value) + ", read " + pv::fuzz::Escaped(now) +
                           "\nfile before:\n" + pv::fuzz::Escaped(text));
      }
      const Key k{pv::AnsiUpperCase(p.section), pv::AnsiUpperCase(key)};
      if (exact) {
        expected[k] = std::string(Trim(p.value));
      } else {
        expected.erase(k);
      }
    }
    ini.UpdateFile();
  }

  const std::string saved = pv::fuzz::ReadFile(file);
  CheckFixedPoint(saved);
  pv::TFastIniFile reloaded(file);
  reloaded.StripInlineComments = stripComments;
  for (const auto& [k, value] : expected) {
    FUZZ_CHECK_MSG(reloaded.GetString(k.first, k.second, "\x01missing") == value,
                   "[" + pv::fuzz::Escaped(k.first) + "] " + pv::fuzz::Escaped(k.second) + "=" +
                       pv::fuzz::Escaped(value) + "\nfile:\n" + pv::fuzz::Escaped(saved));
  }
  return 0;
}
