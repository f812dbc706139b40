// The pair-exchange pass of the record cipher in three tiers: plain bytes, SSE2 (every x86-64
// processor) and AVX2 (chosen at run time). All three produce the same bytes; cipher.cc picks
// the widest the processor has, and the tests hold each one against the plain reference loop.
//
// One pass handles the pairs t = t0 .. m/2 - 1 of a block of even length m:
//   dst[t]         = src[m - 1 - t] ^ front[t mod 128]
//   dst[m - 1 - t] = src[t]         ^ back[t mod 128]
// and returns the byte sum (mod 2^32) of the positions t0 .. m - 1 - t0 of src (kSumSource) or
// of dst. Enciphering passes a key's (front, back) streams, deciphering the same two swapped.
// The vector tiers load both ends of a pair of chunks before storing either, so src == dst is
// allowed; other overlaps are not.
#pragma once

#include <emmintrin.h>
#include <immintrin.h>

#include <cstddef>
#include <cstdint>

#include "coding/cipher_format.h"

namespace kestle_detail::cipher {

template <bool kSumSource>
inline std::uint32_t ExchangeScalar(std::uint8_t const* src, std::uint8_t* dst, std::size_t m,
                                    std::size_t t0, std::uint8_t const* front,
                                    std::uint8_t const* back) {
  std::uint32_t sum = 0;
  for (std::size_t t = t0; t < m / 2; ++t) {
    std::size_t j = m - 1 - t;
    std::uint8_t a = src[t];
    std::uint8_t b = src[j];
    std::uint8_t newFront = b ^ front[t % kMaskPeriod];
    std::uint8_t newBack = a ^ back[t % kMaskPeriod];
    dst[t] = newFront;
    dst[j] = newBack;
    sum += kSumSource ? a + b : newFront + newBack;
  }
  return sum;
}

// Reverses the 16 bytes of v with SSE2 only (the byte shuffle instruction is not baseline).
inline __m128i Reverse16(__m128i v) {
  v = _mm_shuffle_epi32(v, _MM_SHUFFLE(0, 1, 2, 3));
  v = _mm_shufflelo_epi16(v, _MM_SHUFFLE(2, 3, 0, 1));
  v = _mm_shufflehi_epi16(v, _MM_SHUFFLE(2, 3, 0, 1));
  return _mm_or_si128(_mm_srli_epi16(v, 8), _mm_slli_epi16(v, 8));
}

inline std::uint64_t HorizontalSum(__m128i acc) {
  return static_cast<std::uint64_t>(_mm_cvtsi128_si64(acc)) +
         static_cast<std::uint64_t>(_mm_cvtsi128_si64(_mm_unpackhi_epi64(acc, acc)));
}

template <bool kSumSource>
inline std::uint32_t ExchangeSse2(std::uint8_t const* src, std::uint8_t* dst, std::size_t m,
                                  std::size_t t0, std::uint8_t const* front,
                                  std::uint8_t const* back) {
  __m128i const zero = _mm_setzero_si128();
  __m128i acc = zero;
  std::size_t t = t0;
  // A front chunk [t, t + 16) and its back chunk [m - 16 - t, m - t) stay apart while
  // 2t + 32 <= m; the pairs left in the middle go through the byte loop.
  for (; 2 * t + 32 <= m; t += 16) {
    std::size_t j = m - 16 - t;
    __m128i x = _mm_loadu_si128(reinterpret_cast<__m128i const*>(src + t));
    __m128i y = _mm_loadu_si128(reinterpret_cast<__m128i const*>(src + j));
    __m128i fm = _mm_loadu_si128(reinterpret_cast<__m128i const*>(front + t % kMaskPeriod));
    __m128i bm = _mm_loadu_si128(reinterpret_cast<__m128i const*>(back + t % kMaskPeriod));
    __m128i newFront = _mm_xor_si128(Reverse16(y), fm);
    __m128i newBack = Reverse16(_mm_xor_si128(x, bm));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + t), newFront);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + j), newBack);
    if constexpr (kSumSource) {
      acc = _mm_add_epi64(acc, _mm_add_epi64(_mm_sad_epu8(x, zero), _mm_sad_epu8(y, zero)));
    } else {
      acc = _mm_add_epi64(acc,
                          _mm_add_epi64(_mm_sad_epu8(newFront, zero), _mm_sad_epu8(newBack, zero)));
    }
  }
  auto sum = static_cast<std::uint32_t>(HorizontalSum(acc));
  return sum + ExchangeScalar<kSumSource>(src, dst, m, t, front, back);
}

#define KESTLE_CIPHER_AVX2 __attribute__((target("avx2")))

KESTLE_CIPHER_AVX2 inline __m256i Reverse32(__m256i v) {
  __m256i const byteOrder =
      _mm256_setr_epi8(15, 14, 13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0,  //
                       15, 14, 13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0);
  // Reverse within each 128-bit lane, then swap the lanes.
  return _mm256_permute4x64_epi64(_mm256_shuffle_epi8(v, byteOrder), 0x4E);
}

template <bool kSumSource>
KESTLE_CIPHER_AVX2 inline std::uint32_t ExchangeAvx2(std::uint8_t const* src, std::uint8_t* dst,
                                                     std::size_t m, std::size_t t0,
                                                     std::uint8_t const* front,
                                                     std::uint8_t const* back) {
  __m256i const zero = _mm256_setzero_si256();
  __m256i acc = zero;
  std::size_t t = t0;
  for (; 2 * t + 64 <= m; t += 32) {
    std::size_t j = m - 32 - t;
    __m256i x = _mm256_loadu_si256(reinterpret_cast<__m256i const*>(src + t));
    __m256i y = _mm256_loadu_si256(reinterpret_cast<__m256i const*>(src + j));
    __m256i fm = _mm256_loadu_si256(reinterpret_cast<__m256i const*>(front + t % kMaskPeriod));
    __m256i bm = _mm256_loadu_si256(reinterpret_cast<__m256i const*>(back + t % kMaskPeriod));
    __m256i newFront = _mm256_xor_si256(Reverse32(y), fm);
    __m256i newBack = Reverse32(_mm256_xor_si256(x, bm));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + t), newFront);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + j), newBack);
    if constexpr (kSumSource) {
      acc = _mm256_add_epi64(acc,
                             _mm256_add_epi64(_mm256_sad_epu8(x, zero), _mm256_sad_epu8(y, zero)));
    } else {
      acc = _mm256_add_epi64(
          acc, _mm256_add_epi64(_mm256_sad_epu8(newFront, zero), _mm256_sad_epu8(newBack, zero)));
    }
  }
  __m128i half = _mm_add_epi64(_mm256_castsi256_si128(acc), _mm256_extracti128_si256(acc, 1));
  auto sum = static_cast<std::uint32_t>(HorizontalSum(half));
  return sum + ExchangeSse2<kSumSource>(src, dst, m, t, front, back);
}

#undef KESTLE_CIPHER_AVX2

}  // namespace kestle_detail::cipher
