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
// allowed. n is a size_t so that n + 1 cannot wrap for any 32-bit length. The halves for even
// and odd n serve tiers that treat the two apart.
inline void EncodeEvenBlock(std::uint8_t const* src, std::uint8_t* dst, std::size_t n,
                            KeyMasks const& masks, ExchangeFn sumSource) {
  // The checksum stays outside the pairs, unmasked, at dst[n], where no input byte lies.
  std::uint8_t const sum = sumSource(src, dst, n, 0, masks.front, masks.back);
  dst[n] = static_cast<std::uint8_t>(0u - sum);
}

inline void EncodeOddBlock(std::uint8_t const* src, std::uint8_t* dst, std::size_t n,
                           KeyMasks const& masks, ExchangeFn sumSource) {
  // The checksum is the last logical byte and pairs with src[0]. The pass leaves positions 0 and
  // n alone, so src[0] can move to dst[n] before it; only dst[0] waits for the sum.
  std::uint8_t const first = src[0];
  dst[n] = first ^ masks.back[0];
  std::uint32_t const sum = sumSource(src, dst, n + 1, 1, masks.front, masks.back) + first;
  dst[0] = static_cast<std::uint8_t>(0u - sum) ^ masks.front[0];
}

inline void EncodeBlock(std::uint8_t const* src, std::uint8_t* dst, std::size_t n, std::uint8_t key,
                        ExchangeFn sumSource) {
  if (n % 2 == 0) {
    EncodeEvenBlock(src, dst, n, kKeyMasks[key], sumSource);
  } else {
    EncodeOddBlock(src, dst, n, kKeyMasks[key], sumSource);
  }
}

// Deciphers n + 1 bytes into n and answers whether the checksum holds; sumDest must sum the
// pass's output bytes. src == dst is allowed. Each position takes its own masks again: the byte
// that lands at the front was enciphered at the back, so it takes the back stream, and the other
// way round.
inline bool DecodeEvenBlock(std::uint8_t const* src, std::uint8_t* dst, std::size_t n,
                            KeyMasks const& masks, ExchangeFn sumDest) {
  std::uint8_t const checksum = src[n];
  std::uint32_t const sum = sumDest(src, dst, n, 0, masks.back, masks.front);
  return static_cast<std::uint8_t>(sum + checksum) == 0;
}

inline bool DecodeOddBlock(std::uint8_t const* src, std::uint8_t* dst, std::size_t n,
                           KeyMasks const& masks, ExchangeFn sumDest) {
  // The first pair, outside the pass, is done first: its front byte is plain, its back byte the
  // checksum, which is checked and never written out.
  std::uint8_t const checksum = src[0] ^ masks.front[0];
  std::uint8_t const plain0 = src[n] ^ masks.back[0];
  dst[0] = plain0;
  std::uint32_t const sum = sumDest(src, dst, n + 1, 1, masks.back, masks.front);
  return static_cast<std::uint8_t>(sum + plain0 + checksum) == 0;
}

inline bool DecodeBlock(std::uint8_t const* src, std::uint8_t* dst, std::size_t n, std::uint8_t key,
                        ExchangeFn sumDest) {
  return n % 2 == 0 ? DecodeEvenBlock(src, dst, n, kKeyMasks[key], sumDest)
                    : DecodeOddBlock(src, dst, n, kKeyMasks[key], sumDest);
}

}  // namespace kestle_detail::cipher
