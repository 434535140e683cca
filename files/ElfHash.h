// The PJW hash that ELF symbol tables use: the one string hash of the program, for the message
// fields' buckets and the job's random number alike.
#pragma once

#include <cstdint>
#include <string_view>

namespace pv {

// The hash over the bytes of text; the result lies in 0 .. 2^28 - 1.
constexpr std::uint32_t ElfHash(std::string_view text) {
  std::uint32_t h = 0;
  for (const char c : text) {
    h = (h << 4) + static_cast<unsigned char>(c);
    h ^= (h & 0xF0000000u) >> 24;
    h &= 0x0FFFFFFFu;
  }
  return h;
}

}  // namespace pv
