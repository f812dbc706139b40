// The product code of a backup header: 40 UTF-16LE units on disk, ending at the first zero unit.
#pragma once

#include <cstdint>

#include "backup/chunk_format.h"
#include "kestle/strings.h"

namespace kestle_detail::backup {

// The text of the 40 units at p, cut at the first zero unit. A surrogate pair becomes one
// character; an unpaired surrogate is kept as its unit value.
inline WString productCode(char const* p) {
  auto unitAt = [p](unsigned k) {
    return static_cast<std::uint32_t>(static_cast<unsigned char>(p[2 * k])) |
           static_cast<std::uint32_t>(static_cast<unsigned char>(p[2 * k + 1])) << 8;
  };
  wchar_t text[kProductUnits + 1] = {};
  unsigned n = 0;
  for (unsigned k = 0; k < kProductUnits; ++k) {
    std::uint32_t u = unitAt(k);
    if (u == 0)
      break;
    if (u >= 0xD800 && u <= 0xDBFF && k + 1 < kProductUnits) {
      std::uint32_t const low = unitAt(k + 1);
      if (low >= 0xDC00 && low <= 0xDFFF) {
        u = 0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00);
        ++k;
      }
    }
    text[n++] = static_cast<wchar_t>(u);
  }
  return WString(text);
}

}  // namespace kestle_detail::backup
