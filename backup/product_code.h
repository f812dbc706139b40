// The product code of a backup header: 40 UTF-16LE units on disk, ending at the first zero unit.
#pragma once

#include "backup/chunk_format.h"
#include "kestle/strings.h"
#include "platform/utf16.h"

namespace kestle_detail::backup {

// The text of the 40 units at p, cut at the first zero unit. A surrogate pair becomes one
// character; an unpaired surrogate is kept as its unit value.
inline WString productCode(char const* p) {
  wchar_t text[kProductUnits + 1] = {};
  utf16::decode(p, kProductUnits, text);
  return WString(text);
}

}  // namespace kestle_detail::backup
