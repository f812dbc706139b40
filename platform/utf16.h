// Wide text stored as UTF-16LE (backup headers, serialised buffers) read back into the platform's
// 32-bit wchar_t: a surrogate pair becomes one character; an unpaired surrogate is kept as its
// unit value, so damaged text still reads as something rather than nothing.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kestle_detail::utf16 {

// Decodes the `units` little-endian units at p into out, ending before the first zero unit.
// out has room for `units` characters; returns how many it received (no terminator is written).
inline std::size_t decode(char const* p, std::size_t units, wchar_t* out) {
  auto unitAt = [p](std::size_t k) {
    return static_cast<std::uint32_t>(static_cast<unsigned char>(p[2 * k])) |
           static_cast<std::uint32_t>(static_cast<unsigned char>(p[2 * k + 1])) << 8;
  };
  std::size_t n = 0;
  for (std::size_t k = 0; k < units; ++k) {
    std::uint32_t u = unitAt(k);
    if (u == 0)
      break;
    if (u >= 0xD800 && u <= 0xDBFF && k + 1 < units) {
      std::uint32_t const low = unitAt(k + 1);
      if (low >= 0xDC00 && low <= 0xDFFF) {
        u = 0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00);
        ++k;
      }
    }
    out[n++] = static_cast<wchar_t>(u);
  }
  return n;
}

}  // namespace kestle_detail::utf16
