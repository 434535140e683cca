// pv-sampledb: writes a sample address database for the demo, the tests and the benchmarks, or
// changes the stamps of some of its records.
#include <charconv>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <string>
#include <string_view>

#include "tools/sampledb/SampleGen.h"

namespace {

constexpr const char* kUsage =
    "usage: pv-sampledb <folder> <N> [--seed S] [--awkward]\n"
    "       pv-sampledb <folder> --touch K [--seed S]\n"
    "\n"
    "The first form writes <folder>/Parvela.sqlite (replacing an existing one) with the table\n"
    "Adressen holding N sample records with the IDs 1..N, and creates <folder>/vCard.Export/.\n"
    "The second form gives K records of an existing database, picked by the seed, a new change\n"
    "stamp adr_47_ (later than any generated one), so that an export of changes writes them "
    "again.\n"
    "The same seed gives the same records; the default seed is 1. Both print the database path.\n"
    "--awkward adds, to about a third of the records, text in every column that a vCard must\n"
    "escape or convert: umlauts, the euro sign, \";\" \",\" \"\\\", line breaks, a character\n"
    "outside Windows-1252.\n";

template <typename T>
bool ParseNumber(std::string_view text, T& value) {
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  return ec == std::errc() && end == text.data() + text.size();
}

int Usage(const char* problem) {
  if (problem != nullptr) std::fprintf(stderr, "pv-sampledb: %s\n\n", problem);
  std::fputs(kUsage, problem != nullptr ? stderr : stdout);
  return problem != nullptr ? 2 : 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::string folder;
  std::string_view count;
  bool touch = false;
  bool awkward = false;
  uint64_t seed = pv::sampledb::DefaultSeed;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--help" || arg == "-h") return Usage(nullptr);
    if (arg == "--awkward") {
      awkward = true;
      continue;
    }
    if (arg == "--seed" || arg == "--touch") {
      if (i + 1 == argc) return Usage("an option needs a number");
      if (arg == "--seed") {
        if (!ParseNumber(argv[++i], seed)) return Usage("the seed is not a number");
      } else {
        if (!count.empty()) return Usage("give either N or --touch K");
        touch = true;
        count = argv[++i];
      }
    } else if (arg.starts_with("--")) {
      return Usage("unknown option");
    } else if (folder.empty()) {
      folder = arg;
    } else if (count.empty() && !touch) {
      count = arg;
    } else {
      return Usage("too many arguments");
    }
  }
  int64_t n = 0;
  if (folder.empty() || count.empty()) return Usage("a folder and a number are needed");
  if (!ParseNumber(count, n) || n < 0) return Usage("the number of records is not a number >= 0");

  try {
    std::string path;
    if (touch) {
      const auto ids = pv::sampledb::TouchDatabase(folder, n, seed);
      path = (std::filesystem::path(folder) / pv::sampledb::DatabaseFileName).string();
      std::fprintf(stderr, "%zu records changed\n", ids.size());
    } else {
      path = pv::sampledb::WriteSampleDatabase(folder, n, seed, awkward);
    }
    std::printf("%s\n", std::filesystem::absolute(path).lexically_normal().c_str());
  } catch (const std::exception& e) {
    std::fprintf(stderr, "pv-sampledb: %s\n", e.what());
    return 1;
  }
  return 0;
}
