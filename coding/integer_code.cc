// Integer codes: the significant bytes of a 32-bit value, bit-rotated by their own bit count and
// enciphered under key 0, written as two hexadecimal digits per enciphered byte.
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cwchar>

#include "kestle/coding.h"
#include "kestle/strings.h"

namespace {

constexpr unsigned char kCodeKey = 0;
constexpr unsigned kMaxBytes = 4;

// Number of bytes of u, least significant first, up to and including the last nonzero one; at
// least 1, so the value 0 has one byte.
unsigned SignificantBytes(std::uint32_t u) {
  unsigned n = kMaxBytes;
  while (n > 1 && ((u >> (8 * (n - 1))) & 0xFF) == 0)
    --n;
  return n;
}

// Rotates the bit string of b[0..n-1] (b[0] first, each byte most significant bit first) left by
// `left` bits. Read that way the string is the big-endian number of the n bytes, so the rotation
// is an ordinary rotation of a (8 * n)-bit integer.
void RotateLeft(std::uint8_t* b, unsigned n, unsigned left) {
  unsigned const bits = 8 * n;
  left %= bits;
  if (left == 0)
    return;
  std::uint64_t word = 0;
  for (unsigned i = 0; i < n; ++i)
    word = (word << 8) | b[i];
  std::uint64_t const mask = (std::uint64_t{1} << bits) - 1;
  word = ((word << left) | (word >> (bits - left))) & mask;
  for (unsigned i = n; i-- > 0;) {
    b[i] = static_cast<std::uint8_t>(word);
    word >>= 8;
  }
}

void RotateRight(std::uint8_t* b, unsigned n, unsigned right) {
  unsigned const bits = 8 * n;
  RotateLeft(b, n, bits - right % bits);
}

unsigned BitCount(std::uint8_t const* b, unsigned n) {
  unsigned count = 0;
  for (unsigned i = 0; i < n; ++i)
    count += static_cast<unsigned>(std::popcount(b[i]));
  return count;
}

// The value of one hexadecimal digit, or -1.
int HexDigit(wchar_t c) {
  if (c >= L'0' && c <= L'9')
    return c - L'0';
  if (c >= L'A' && c <= L'F')
    return c - L'A' + 10;
  if (c >= L'a' && c <= L'f')
    return c - L'a' + 10;
  return -1;
}

}  // namespace

WString Coding::Encode(int value) {
  auto const u = static_cast<std::uint32_t>(value);
  std::uint8_t bytes[kMaxBytes];
  for (unsigned i = 0; i < kMaxBytes; ++i)
    bytes[i] = static_cast<std::uint8_t>(u >> (8 * i));
  unsigned const n = SignificantBytes(u);
  // Rotating p times by one bit is one rotation by p; the bit count does not change on the way.
  RotateLeft(bytes, n, BitCount(bytes, n));

  char enciphered[kMaxBytes + 1];
  Coding::Encode(reinterpret_cast<char const*>(bytes), enciphered, n, kCodeKey);

  WString code;
  for (unsigned i = 0; i <= n; ++i) {
    code += FString::numstr(static_cast<std::uint8_t>(enciphered[i]), 16, 2, L'0');
  }
  return code;
}

int Coding::Decode(wchar_t const* text) {
  if (text == nullptr)
    return 0;
  // The whole length decides validity (an odd length is never a code), but only the first
  // 2 * (n + 1) <= 10 characters are interpreted.
  std::size_t const length = std::wcslen(text);
  if (length % 2 != 0 || length <= 2)
    return 0;
  unsigned const n = length / 2 - 1 < kMaxBytes ? static_cast<unsigned>(length / 2 - 1) : kMaxBytes;

  char enciphered[kMaxBytes + 1];
  for (unsigned i = 0; i <= n; ++i) {
    int high = HexDigit(text[2 * i]);
    int low = HexDigit(text[2 * i + 1]);
    if (high < 0 || low < 0)
      return 0;
    enciphered[i] = static_cast<char>(high * 16 + low);
  }

  std::uint8_t bytes[kMaxBytes] = {};  // bytes n..3 stay 0
  if (!Coding::Decode(enciphered, reinterpret_cast<char*>(bytes), n, kCodeKey))
    return 0;
  RotateRight(bytes, n, BitCount(bytes, n));

  std::uint32_t u = 0;
  for (unsigned i = 0; i < kMaxBytes; ++i)
    u |= std::uint32_t{bytes[i]} << (8 * i);
  return static_cast<int>(u);
}
