// The pair-exchange pass of the record cipher in three tiers: plain bytes, SSE2 (every x86-64
// processor) and AVX2 (chosen at run time). All three produce the same bytes; cipher.cc picks
// the widest the processor has, and the tests hold each one against the plain reference loop.
//
// One pass handles the pairs t = t0 .. m/2 - 1 of a block of even length m:
//   dst[t]         = src[m - 1 - t] ^ front[t mod 128]
//   dst[m - 1 - t] = src[t]         ^ back[t mod 128]
// and returns the sum mod 256 of the bytes at positions t0 .. m - 1 - t0 of src (kSumSource) or
// of dst. Enciphering passes a key's (front, back) streams, deciphering the same two swapped.
// The vector tiers load both ends of a pair of chunks before storing either, so src == dst is
// allowed; other overlaps are not. Sums are kept as bytes that may wrap freely, since only the
// sum mod 256 is wanted, and reduced once at the end.
#pragma once

#include <emmintrin.h>
#include <immintrin.h>

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "coding/cipher_block.h"
#include "coding/cipher_format.h"

namespace kestle_detail::cipher {

template <bool kSumSource>
inline std::uint8_t ExchangeScalar(std::uint8_t const* src, std::uint8_t* dst, std::size_t m,
                                   std::size_t t0, std::uint8_t const* front,
                                   std::uint8_t const* back) {
  std::uint8_t sum = 0;
  for (std::size_t t = t0; t < m / 2; ++t) {
    std::size_t const j = m - 1 - t;
    std::uint8_t const a = src[t];
    std::uint8_t const b = src[j];
    std::uint8_t const newFront = b ^ front[t % kMaskPeriod];
    std::uint8_t const newBack = a ^ back[t % kMaskPeriod];
    dst[t] = newFront;
    dst[j] = newBack;
    sum += kSumSource ? a + b : newFront + newBack;
  }
  return sum;
}

// ---- SSE2 ------------------------------------------------------------------------------------

// The sum mod 256 of the 16 bytes of v.
inline std::uint8_t ByteSum(__m128i v) {
  __m128i const halves = _mm_sad_epu8(v, _mm_setzero_si128());
  return static_cast<std::uint8_t>(_mm_cvtsi128_si32(halves) +
                                   _mm_cvtsi128_si32(_mm_unpackhi_epi64(halves, halves)));
}

// Reverses the 16 bytes of v with SSE2 only (the byte shuffle instruction is not baseline).
inline __m128i Reverse16(__m128i v) {
  v = _mm_shuffle_epi32(v, _MM_SHUFFLE(0, 1, 2, 3));
  v = _mm_shufflelo_epi16(v, _MM_SHUFFLE(2, 3, 0, 1));
  v = _mm_shufflehi_epi16(v, _MM_SHUFFLE(2, 3, 0, 1));
  return _mm_or_si128(_mm_srli_epi16(v, 8), _mm_slli_epi16(v, 8));
}

template <bool kSumSource>
inline std::uint8_t ExchangeSse2(std::uint8_t const* src, std::uint8_t* dst, std::size_t m,
                                 std::size_t t0, std::uint8_t const* front,
                                 std::uint8_t const* back) {
  __m128i acc = _mm_setzero_si128();
  std::size_t t = t0;
  // A front chunk [t, t + 16) and its back chunk [m - 16 - t, m - t) stay apart while
  // 2t + 32 <= m; the pairs left in the middle go through the byte loop.
  for (; 2 * t + 32 <= m; t += 16) {
    std::size_t const j = m - 16 - t;
    __m128i const x = _mm_loadu_si128(reinterpret_cast<__m128i const*>(src + t));
    __m128i const y = _mm_loadu_si128(reinterpret_cast<__m128i const*>(src + j));
    __m128i const fm = _mm_loadu_si128(reinterpret_cast<__m128i const*>(front + t % kMaskPeriod));
    __m128i const bm = _mm_loadu_si128(reinterpret_cast<__m128i const*>(back + t % kMaskPeriod));
    __m128i const newFront = _mm_xor_si128(Reverse16(y), fm);
    __m128i const newBack = Reverse16(_mm_xor_si128(x, bm));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + t), newFront);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + j), newBack);
    acc = _mm_add_epi8(acc, kSumSource ? _mm_add_epi8(x, y) : _mm_add_epi8(newFront, newBack));
  }
  return static_cast<std::uint8_t>(ByteSum(acc) +
                                   ExchangeScalar<kSumSource>(src, dst, m, t, front, back));
}

// ---- AVX2 ------------------------------------------------------------------------------------
//
// A 32-byte chunk is reversed by a byte shuffle within each 16-byte lane plus a swap of the
// lanes. The lane swap costs no instruction: the two lanes are stored to each other's place, and
// the front masks are kept lane-swapped to match. The masks repeat every 4 chunks, so the main
// loop holds the 4 chunks' masks in registers.

#define KESTLE_CIPHER_AVX2 __attribute__((target("avx2")))

KESTLE_CIPHER_AVX2 inline __m256i ReverseLanes(__m256i v) {
  __m256i const byteOrder =
      _mm256_setr_epi8(15, 14, 13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0,  //
                       15, 14, 13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0);
  return _mm256_shuffle_epi8(v, byteOrder);
}

KESTLE_CIPHER_AVX2 inline __m256i SwapLanes(__m256i v) {
  return _mm256_permute4x64_epi64(v, 0x4E);
}

// Stores v with its two 16-byte lanes exchanged.
KESTLE_CIPHER_AVX2 inline void StoreSwapped(std::uint8_t* p, __m256i v) {
  _mm_storeu_si128(reinterpret_cast<__m128i*>(p), _mm256_extracti128_si256(v, 1));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(p + 16), _mm256_castsi256_si128(v));
}

// The masks of the chunk starting at pair t: front lane-swapped, back as it is.
KESTLE_CIPHER_AVX2 inline __m256i FrontMasksAvx2(std::uint8_t const* front, std::size_t t) {
  return SwapLanes(_mm256_loadu_si256(reinterpret_cast<__m256i const*>(front + t % kMaskPeriod)));
}
KESTLE_CIPHER_AVX2 inline __m256i BackMasksAvx2(std::uint8_t const* back, std::size_t t) {
  return _mm256_loadu_si256(reinterpret_cast<__m256i const*>(back + t % kMaskPeriod));
}

// The 32 pairs t .. t + 31.
template <bool kSumSource>
KESTLE_CIPHER_AVX2 inline void ExchangeChunkAvx2(std::uint8_t const* src, std::uint8_t* dst,
                                                 std::size_t m, std::size_t t, __m256i frontSwapped,
                                                 __m256i backMask, __m256i& acc) {
  std::size_t const j = m - 32 - t;
  __m256i const x = _mm256_loadu_si256(reinterpret_cast<__m256i const*>(src + t));
  __m256i const y = _mm256_loadu_si256(reinterpret_cast<__m256i const*>(src + j));
  __m256i const newFront = _mm256_xor_si256(ReverseLanes(y), frontSwapped);  // lanes swapped
  __m256i const newBack = ReverseLanes(_mm256_xor_si256(x, backMask));       // lanes swapped
  if constexpr (kSumSource) {
    acc = _mm256_add_epi8(acc, _mm256_add_epi8(x, y));
  } else {
    acc = _mm256_add_epi8(acc, _mm256_add_epi8(newFront, newBack));
  }
  StoreSwapped(dst + t, newFront);
  StoreSwapped(dst + j, newBack);
}

// W = 16, 8 or 4 bytes in the low end of an xmm register, the rest zero.
template <int W>
KESTLE_CIPHER_AVX2 inline __m128i LoadPart(std::uint8_t const* p) {
  if constexpr (W == 16) {
    return _mm_loadu_si128(reinterpret_cast<__m128i const*>(p));
  } else if constexpr (W == 8) {
    return _mm_loadl_epi64(reinterpret_cast<__m128i const*>(p));
  } else {
    std::int32_t v;
    std::memcpy(&v, p, sizeof v);
    return _mm_cvtsi32_si128(v);
  }
}

template <int W>
KESTLE_CIPHER_AVX2 inline void StorePart(std::uint8_t* p, __m128i v) {
  if constexpr (W == 16) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v);
  } else if constexpr (W == 8) {
    _mm_storel_epi64(reinterpret_cast<__m128i*>(p), v);
  } else {
    std::int32_t const bits = _mm_cvtsi128_si32(v);
    std::memcpy(p, &bits, sizeof bits);
  }
}

// Reverses the low W bytes of v and clears the rest.
template <int W>
KESTLE_CIPHER_AVX2 inline __m128i ReversePart(__m128i v) {
  auto at = [](int i) { return static_cast<char>(i < W ? W - 1 - i : -128); };
  __m128i const order = _mm_setr_epi8(at(0), at(1), at(2), at(3), at(4), at(5), at(6), at(7), at(8),
                                      at(9), at(10), at(11), at(12), at(13), at(14), at(15));
  return _mm_shuffle_epi8(v, order);
}

// The W pairs t .. t + W - 1 when they fit apart (2t + 2W <= m); advances t past them.
template <bool kSumSource, int W>
KESTLE_CIPHER_AVX2 inline void ExchangePartAvx2(std::uint8_t const* src, std::uint8_t* dst,
                                                std::size_t m, std::size_t& t,
                                                std::uint8_t const* front, std::uint8_t const* back,
                                                __m128i& acc) {
  if (2 * t + 2 * W > m)
    return;
  std::size_t const j = m - W - t;
  __m128i const x = LoadPart<W>(src + t);
  __m128i const y = LoadPart<W>(src + j);
  __m128i const newFront = _mm_xor_si128(ReversePart<W>(y), LoadPart<W>(front + t % kMaskPeriod));
  __m128i const newBack = ReversePart<W>(_mm_xor_si128(x, LoadPart<W>(back + t % kMaskPeriod)));
  acc = _mm_add_epi8(acc, kSumSource ? _mm_add_epi8(x, y) : _mm_add_epi8(newFront, newBack));
  StorePart<W>(dst + t, newFront);
  StorePart<W>(dst + j, newBack);
  t += W;
}

template <bool kSumSource>
KESTLE_CIPHER_AVX2 inline std::uint8_t ExchangeAvx2(std::uint8_t const* src, std::uint8_t* dst,
                                                    std::size_t m, std::size_t t0,
                                                    std::uint8_t const* front,
                                                    std::uint8_t const* back) {
  __m256i acc = _mm256_setzero_si256();
  std::size_t t = t0;
  // A front chunk [t, t + 32) and its back chunk [m - 32 - t, m - t) stay apart while
  // 2t + 64 <= m.
  if (2 * t + 256 <= m) {
    __m256i const f0 = FrontMasksAvx2(front, t), f1 = FrontMasksAvx2(front, t + 32),
                  f2 = FrontMasksAvx2(front, t + 64), f3 = FrontMasksAvx2(front, t + 96);
    __m256i const b0 = BackMasksAvx2(back, t), b1 = BackMasksAvx2(back, t + 32),
                  b2 = BackMasksAvx2(back, t + 64), b3 = BackMasksAvx2(back, t + 96);
    for (; 2 * t + 256 <= m; t += 128) {
      ExchangeChunkAvx2<kSumSource>(src, dst, m, t, f0, b0, acc);
      ExchangeChunkAvx2<kSumSource>(src, dst, m, t + 32, f1, b1, acc);
      ExchangeChunkAvx2<kSumSource>(src, dst, m, t + 64, f2, b2, acc);
      ExchangeChunkAvx2<kSumSource>(src, dst, m, t + 96, f3, b3, acc);
    }
  }
  for (; 2 * t + 64 <= m; t += 32) {
    ExchangeChunkAvx2<kSumSource>(src, dst, m, t, FrontMasksAvx2(front, t), BackMasksAvx2(back, t),
                                  acc);
  }
  // What is left in the middle is under 32 pairs: at most one step each of 16, 8 and 4 pairs,
  // then at most 3 single pairs.
  __m128i acc128 = _mm_add_epi8(_mm256_castsi256_si128(acc), _mm256_extracti128_si256(acc, 1));
  ExchangePartAvx2<kSumSource, 16>(src, dst, m, t, front, back, acc128);
  ExchangePartAvx2<kSumSource, 8>(src, dst, m, t, front, back, acc128);
  ExchangePartAvx2<kSumSource, 4>(src, dst, m, t, front, back, acc128);
  return static_cast<std::uint8_t>(ByteSum(acc128) +
                                   ExchangeScalar<kSumSource>(src, dst, m, t, front, back));
}

// A whole block through the AVX2 tier, compiled as one AVX2 function so that the pass is
// inlined into it.
KESTLE_CIPHER_AVX2 inline void EncodeBlockAvx2(std::uint8_t const* src, std::uint8_t* dst,
                                               std::size_t n, std::uint8_t key) {
  EncodeBlock(src, dst, n, key, &ExchangeAvx2<true>);
}
KESTLE_CIPHER_AVX2 inline bool DecodeBlockAvx2(std::uint8_t const* src, std::uint8_t* dst,
                                               std::size_t n, std::uint8_t key) {
  return DecodeBlock(src, dst, n, key, &ExchangeAvx2<false>);
}

#undef KESTLE_CIPHER_AVX2

}  // namespace kestle_detail::cipher
