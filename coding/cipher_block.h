// Whole-block enciphering and deciphering on top of one exchange pass (cipher_kernels.h). The
// pass handles every pair but, for odd lengths, the first one, which holds the checksum: that
// pair is done here by hand, so the pass only ever touches real input bytes.
//
// cipher.cc runs these with the widest pass the processor has; the tests run them with each.
#pragma once

#include <cstddef>
#include <cstdint>

#include "coding/cipher_format.h"

namespace kestle_detail::cipher {

// One exchange pass (see cipher_kernels.h): src, dst, m, t0, front masks, back masks.
using ExchangeFn = std::uint8_t (*)(std::uint8_t const*, std::uint8_t*, std::size_t, std::size_t,
                                    std::uint8_t const*, std::uint8_t const*);

// Enciphers n >= 1 bytes into n + 1; sumSource must sum the pass's source bytes. src == dst is
// allowed. n is a size_t so that n + 1 cannot wrap for any 32-bit length.
inline void EncodeBlock(std::uint8_t const* src, std::uint8_t* dst, std::size_t n, std::uint8_t key,
                        ExchangeFn sumSource) {
  KeyMasks const& masks = kKeyMasks[key];
  if (n % 2 == 0) {
    // The checksum stays outside the pairs, unmasked, at dst[n], where no input byte lies.
    std::uint8_t const sum = sumSource(src, dst, n, 0, masks.front, masks.back);
    dst[n] = static_cast<std::uint8_t>(0u - sum);
    return;
  }
  // Odd n: the checksum is the last logical byte and pairs with src[0]. The pass leaves
  // positions 0 and n alone; src[0] is read before it, so the block may be enciphered in place.
  std::uint8_t const first = src[0];
  std::uint32_t const sum = sumSource(src, dst, n + 1, 1, masks.front, masks.back) + first;
  auto const checksum = static_cast<std::uint8_t>(0u - sum);
  dst[0] = checksum ^ masks.front[0];
  dst[n] = first ^ masks.back[0];
}

// Deciphers n + 1 bytes into n and answers whether the checksum holds; sumDest must sum the
// pass's output bytes. src == dst is allowed.
inline bool DecodeBlock(std::uint8_t const* src, std::uint8_t* dst, std::size_t n, std::uint8_t key,
                        ExchangeFn sumDest) {
  KeyMasks const& masks = kKeyMasks[key];
  // Each position takes its own masks again: the byte that lands at the front was enciphered at
  // the back, so it takes the back stream, and the other way round.
  if (n % 2 == 0) {
    std::uint8_t const checksum = src[n];
    std::uint32_t const sum = sumDest(src, dst, n, 0, masks.back, masks.front);
    return static_cast<std::uint8_t>(sum + checksum) == 0;
  }
  std::uint8_t const e0 = src[0];
  std::uint8_t const en = src[n];
  std::uint32_t const sum = sumDest(src, dst, n + 1, 1, masks.back, masks.front);
  std::uint8_t const plain0 = en ^ masks.back[0];
  std::uint8_t const checksum = e0 ^ masks.front[0];  // checked, never written out
  dst[0] = plain0;
  return static_cast<std::uint8_t>(sum + plain0 + checksum) == 0;
}

}  // namespace kestle_detail::cipher
