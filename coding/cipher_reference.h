// The record cipher written as the plain byte loop of its definition (cipher_format.h), one pair
// at a time, straight from the key table. It is slow and obviously right; the tests and the fuzz
// targets hold the fast passes against it byte for byte.
#pragma once

#include <cstddef>
#include <cstdint>

#include "coding/cipher_format.h"

namespace kestle_detail::cipher {

inline void ReferenceEncode(std::uint8_t const* in, std::uint8_t* out, std::size_t n,
                            std::uint8_t key) {
  std::uint8_t sum = 0;
  for (std::size_t i = 0; i < n; ++i)
    sum += in[i];
  std::uint8_t const checksum = static_cast<std::uint8_t>(0 - sum);
  std::size_t const m = n % 2 == 0 ? n : n + 1;
  auto logical = [&](std::size_t i) -> std::uint8_t { return i < n ? in[i] : checksum; };
  if (n % 2 == 0)
    out[n] = checksum;
  unsigned k = key;
  for (std::size_t t = 0; t < m / 2; ++t) {
    k = (k + 2) & 0xFF;
    std::size_t const i = t;
    std::size_t const j = m - 1 - t;
    std::uint8_t const front = logical(i);
    std::uint8_t const back = logical(j);
    out[i] = back ^ kKeyTable[k + 1] ^ kKeyTable[key + 1];
    out[j] = front ^ kKeyTable[k] ^ kKeyTable[key];
  }
}

inline bool ReferenceDecode(std::uint8_t const* in, std::uint8_t* out, std::size_t n,
                            std::uint8_t key) {
  std::size_t const m = n % 2 == 0 ? n : n + 1;
  std::uint8_t checksum = n % 2 == 0 ? in[n] : 0;
  unsigned k = key;
  for (std::size_t t = 0; t < m / 2; ++t) {
    k = (k + 2) & 0xFF;
    std::size_t const i = t;
    std::size_t const j = m - 1 - t;
    std::uint8_t const front = in[j] ^ kKeyTable[k] ^ kKeyTable[key];
    std::uint8_t const back = in[i] ^ kKeyTable[k + 1] ^ kKeyTable[key + 1];
    out[i] = front;
    if (j == n) {
      checksum = back;
    } else {
      out[j] = back;
    }
  }
  std::uint8_t sum = checksum;
  for (std::size_t i = 0; i < n; ++i)
    sum += out[i];
  return sum == 0;
}

}  // namespace kestle_detail::cipher
