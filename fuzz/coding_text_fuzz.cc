// Fuzz target for the integer codes. Each input byte becomes one character of the text (a zero
// byte ends it early); the text lies in a block of exactly its size so that a read past its end
// is seen by the address sanitizer. Checks that letter case does not matter, that a text decoding
// to a value of the text's own length is exactly that value's code, and that the first four
// bytes, taken as a value, survive a round trip. Any violation traps.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <cwchar>
#include <cwctype>
#include <memory>

#include "kestle/coding.h"

namespace {
void Require(bool condition) {
  if (!condition)
    __builtin_trap();
}

std::unique_ptr<wchar_t[]> TextOf(uint8_t const* data, size_t size, bool upper) {
  auto text = std::make_unique<wchar_t[]>(size + 1);
  for (size_t i = 0; i < size; ++i) {
    auto c = static_cast<wchar_t>(data[i]);
    text[i] = upper ? static_cast<wchar_t>(std::towupper(c)) : c;
  }
  text[size] = L'\0';
  return text;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size) {
  auto text = TextOf(data, size, false);
  int const value = Coding::Decode(text.get());
  Require(Coding::Decode(TextOf(data, size, true).get()) == value);

  size_t const length = std::wcslen(text.get());
  if (value != 0) {
    size_t const used = length / 2 - 1 < 4 ? length : 10;  // characters read: 2 * (n + 1)
    WString code = Coding::Encode(value);
    wchar_t const* canonical = code;
    if (std::wcslen(canonical) == used) {
      for (size_t i = 0; i < used; ++i) {
        Require(canonical[i] == static_cast<wchar_t>(std::towupper(text[i])));
      }
    }
  }

  if (size >= 4) {
    std::uint32_t u;
    std::memcpy(&u, data, 4);
    auto const v = static_cast<int>(u);
    Require(Coding::Decode(Coding::Encode(v)) == v);
  }
  return 0;
}
