#include "fuzz/FuzzUtil.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace pv::fuzz {

void Fail(const char* what, const char* file, int line, std::string_view detail) {
  std::fprintf(stderr, "\n==== invariant broken: %s (%s:%d)\n", what, file, line);
  if (!detail.empty()) std::fprintf(stderr, "%s\n", std::string(detail).c_str());
  std::fflush(stderr);
  std::abort();
}

std::string Escaped(std::string_view bytes) {
  std::string out;
  for (const char c : bytes) {
    const auto u = static_cast<unsigned char>(c);
    if (u >= 32 && u < 127 && c != '\\') {
      out += c;
    } else {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", u);
      out += hex;
      if (c == '\n') out += '\n';
    }
  }
  return out;
}

bool Tolerated(std::string_view finding) {
  static const std::string list = [] {
    const char* v = std::getenv("PV_FUZZ_TOLERATE");
    return "," + std::string(v != nullptr ? v : "") + ",";
  }();
  return list.find("," + std::string(finding) + ",") != std::string::npos;
}

namespace {

std::string MakeScratch() {
  // Memory-backed when possible: the targets write a file per input.
  std::string base = "/dev/shm";
  if (access(base.c_str(), W_OK) != 0) {
    const char* tmp = std::getenv("TMPDIR");
    base = tmp != nullptr && *tmp != '\0' ? tmp : "/tmp";
  }
  std::string pattern = base + "/pv-fuzz-XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) Fail("cannot make a scratch folder", __FILE__, __LINE__);
  return pattern + "/";
}

}  // namespace

const std::string& ScratchFolder() {
  // Never destroyed, so that the removal at exit still finds the name.
  static const std::string* folder = [] {
    auto* f = new std::string(MakeScratch());
    std::atexit([] {
      std::error_code ignored;
      std::filesystem::remove_all(ScratchFolder(), ignored);
    });
    return f;
  }();
  return *folder;
}

bool WriteFile(const std::string& name, std::string_view bytes) {
  std::ofstream out(name, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out.flush());
}

std::string ReadFile(const std::string& name) {
  std::ifstream in(name, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace pv::fuzz
