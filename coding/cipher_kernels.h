// The pair-exchange pass of the record cipher in three tiers: plain bytes, SSE2 (every x86-64
// processor) and AVX2 (chosen at run time). All three produce the same bytes; cipher.cc picks
// the widest the processor has, and the tests hold each one against the plain reference loop.
//
// One pass handles the pairs t = t0 .. m/2 - 1 of a block of even length m:
//   dst[t]         = src[m - 1 - t] ^ front[t mod 128]
//   dst[m - 1 - t] = src[t]         ^ back[t mod 128]
// and returns the sum mod 256 of the bytes at positions t0 .. m - 1 - t0 of src (kSumSource) or
// of dst. Enciphering passes a key's (front, back) streams, deciphering the same two swapped.
// Sums are kept as bytes that may wrap freely, since only the sum mod 256 is wanted, and reduced
// once at the end.
//
// The vector tiers work on a pair of W-byte chunks at a time: the front chunk of pairs
// t .. t + W - 1 and its mirror at the back, each of which is the other's source. Chunks march in
// from both ends, and the pairs left over are covered by the middle chunk pair, the W pairs that
// end at the centre (front chunk [m/2 - W, m/2), back chunk [m/2, m/2 + W)), which may overlap
// the last chunks before it. So a block takes whole vectors only, with no byte loop (but for
// blocks of under 8 pairs), which is what keeps short records cheap. The middle is loaded before
// anything is stored, and every chunk pair reads exactly the bytes it writes, so src == dst is
// allowed; other overlaps are not. Bytes the middle writes a second time get the same value
// again. Its sum counts only the pairs no chunk before it covered: lane i of its front chunk
// and lane i of its reversed back chunk both belong to pair t + i, so their lane-wise sums are
// "pair sums", and one lane mask picks the pairs that count.
#pragma once

#include <emmintrin.h>
#include <immintrin.h>

#include <array>
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

// ---- Shared by both vector tiers (SSE2 only) --------------------------------------------------

// 32 zero bytes, then 32 0xFF bytes; see LastLanes.
inline constexpr std::array<std::uint8_t, 64> kLaneWindows = [] {
  std::array<std::uint8_t, 64> bytes{};
  for (std::size_t i = 32; i < 64; ++i)
    bytes[i] = 0xFF;
  return bytes;
}();

// 32 bytes (the xmm code reads 16) whose lanes [W - r, W) are 0xFF, 1 <= r <= W <= 32: the last
// r pairs of a W-pair chunk. Lanes from W on are 0xFF too; the chunks are zero there.
inline std::uint8_t const* LastLanes(std::size_t w, std::size_t r) {
  return kLaneWindows.data() + 32 - w + r;
}

// W = 16, 8 or 4 bytes in the low end of an xmm register, the rest zero.
template <int W>
inline __m128i LoadPart(std::uint8_t const* p) {
  if constexpr (W == 16) {
    return _mm_loadu_si128(reinterpret_cast<__m128i const*>(p));
  } else if constexpr (W == 8) {
    return _mm_loadl_epi64(reinterpret_cast<__m128i const*>(p));
  } else {
    static_assert(W == 4);
    std::int32_t v;
    std::memcpy(&v, p, sizeof v);
    return _mm_cvtsi32_si128(v);
  }
}

template <int W>
inline void StorePart(std::uint8_t* p, __m128i v) {
  if constexpr (W == 16) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v);
  } else if constexpr (W == 8) {
    _mm_storel_epi64(reinterpret_cast<__m128i*>(p), v);
  } else {
    static_assert(W == 4);
    std::int32_t const bits = _mm_cvtsi128_si32(v);
    std::memcpy(p, &bits, sizeof bits);
  }
}

// The sum mod 256 of the 16 bytes of v.
inline std::uint8_t ByteSum(__m128i v) {
  __m128i const halves = _mm_sad_epu8(v, _mm_setzero_si128());
  return static_cast<std::uint8_t>(_mm_cvtsi128_si32(halves) +
                                   _mm_cvtsi128_si32(_mm_unpackhi_epi64(halves, halves)));
}

// ---- SSE2 ------------------------------------------------------------------------------------

// Reverses the 16 bytes of v with SSE2 only (the byte shuffle instruction is not baseline).
inline __m128i Reverse16(__m128i v) {
  v = _mm_shuffle_epi32(v, _MM_SHUFFLE(0, 1, 2, 3));
  v = _mm_shufflelo_epi16(v, _MM_SHUFFLE(2, 3, 0, 1));
  v = _mm_shufflehi_epi16(v, _MM_SHUFFLE(2, 3, 0, 1));
  return _mm_or_si128(_mm_srli_epi16(v, 8), _mm_slli_epi16(v, 8));
}

// Reverses the low W bytes of v (W = 16 or 8; the bytes above W are zero and stay zero).
template <int W>
inline __m128i ReverseSse2(__m128i v) {
  if constexpr (W == 16) {
    return Reverse16(v);
  } else {
    static_assert(W == 8);
    return _mm_srli_si128(Reverse16(v), 8);
  }
}

// The chunk pair of W pairs from pair t on, whose source chunks x (front) and y (back) the
// caller loaded. Returns its pair sums (see the top of this file).
template <bool kSumSource, int W>
inline __m128i ChunkSse2(std::uint8_t* dst, std::size_t m, std::size_t t, __m128i x, __m128i y,
                         std::uint8_t const* front, std::uint8_t const* back) {
  __m128i const reversedY = ReverseSse2<W>(y);
  __m128i const newFront = _mm_xor_si128(reversedY, LoadPart<W>(front + t % kMaskPeriod));
  __m128i const newBackUnreversed = _mm_xor_si128(x, LoadPart<W>(back + t % kMaskPeriod));
  StorePart<W>(dst + t, newFront);
  StorePart<W>(dst + m - W - t, ReverseSse2<W>(newBackUnreversed));
  return kSumSource ? _mm_add_epi8(x, reversedY) : _mm_add_epi8(newFront, newBackUnreversed);
}

// Pairs t .. m/2 - 1, at least W of them, in W-byte chunks and the middle; returns pair sums.
template <bool kSumSource, int W>
inline __m128i PassSse2(std::uint8_t const* src, std::uint8_t* dst, std::size_t m, std::size_t t,
                        std::uint8_t const* front, std::uint8_t const* back) {
  std::size_t const half = m / 2;
  std::size_t const mid = half - W;
  __m128i const midFront = LoadPart<W>(src + mid);
  __m128i const midBack = LoadPart<W>(src + half);
  __m128i acc = _mm_setzero_si128();
  for (; t < mid; t += W) {
    __m128i const x = LoadPart<W>(src + t);
    __m128i const y = LoadPart<W>(src + m - W - t);
    acc = _mm_add_epi8(acc, ChunkSse2<kSumSource, W>(dst, m, t, x, y, front, back));
  }
  __m128i const fresh = LoadPart<16>(LastLanes(W, half - t));
  __m128i const last = ChunkSse2<kSumSource, W>(dst, m, mid, midFront, midBack, front, back);
  return _mm_add_epi8(acc, _mm_and_si128(last, fresh));
}

template <bool kSumSource>
inline std::uint8_t ExchangeSse2(std::uint8_t const* src, std::uint8_t* dst, std::size_t m,
                                 std::size_t t0, std::uint8_t const* front,
                                 std::uint8_t const* back) {
  std::size_t const pairs = m / 2 - t0;
  if (pairs >= 16)
    return ByteSum(PassSse2<kSumSource, 16>(src, dst, m, t0, front, back));
  if (pairs >= 8)
    return ByteSum(PassSse2<kSumSource, 8>(src, dst, m, t0, front, back));
  return ExchangeScalar<kSumSource>(src, dst, m, t0, front, back);
}

// ---- AVX2 ------------------------------------------------------------------------------------
//
// A 32-byte chunk is reversed by a byte shuffle within each 16-byte lane, and its lanes are
// swapped by storing each to the other's place; the front masks are lane-swapped to match. Only
// the middle chunk pair swaps its lanes in a register, so that lane i holds pair t + i for the
// masked sum. Records of 64 to 257 bytes (32 to 128 pairs) take a pass with no call in it and no
// index wrapping; longer blocks add a loop of 4 chunk pairs that holds their masks in registers,
// since the masks repeat every 4 chunks.

#define KESTLE_CIPHER_AVX2 __attribute__((target("avx2")))

KESTLE_CIPHER_AVX2 inline __m256i Load32(std::uint8_t const* p) {
  return _mm256_loadu_si256(reinterpret_cast<__m256i const*>(p));
}

// Stores the 32 bytes of v as two 16-byte halves, low half first, or (Swapped) high half first.
// Record positions lie at any offset, and in a stream of records a 32-byte store that crosses a
// cache line costs more than two 16-byte stores of which at most one does.
KESTLE_CIPHER_AVX2 inline void Store32(std::uint8_t* p, __m256i v) {
  _mm_storeu_si128(reinterpret_cast<__m128i*>(p), _mm256_castsi256_si128(v));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(p + 16), _mm256_extracti128_si256(v, 1));
}
KESTLE_CIPHER_AVX2 inline void StoreSwapped(std::uint8_t* p, __m256i v) {
  _mm_storeu_si128(reinterpret_cast<__m128i*>(p), _mm256_extracti128_si256(v, 1));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(p + 16), _mm256_castsi256_si128(v));
}

// Reverses the bytes of each 16-byte lane; stored swapped, that reverses all 32.
KESTLE_CIPHER_AVX2 inline __m256i ReverseLanes(__m256i v) {
  __m256i const byteOrder =
      _mm256_setr_epi8(15, 14, 13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0,  //
                       15, 14, 13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0);
  return _mm256_shuffle_epi8(v, byteOrder);
}
KESTLE_CIPHER_AVX2 inline __m256i SwapLanes(__m256i v) {
  return _mm256_permute4x64_epi64(v, 0x4E);
}

// The masks of the 32 pairs from pair t on: back ones as they are, front ones lane-swapped to
// match a lane-reversed chunk. Without kWrap, t must be at most 128, so that the load stays
// within the stream and its repeated start.
template <bool kWrap>
KESTLE_CIPHER_AVX2 inline __m256i BackMasksAvx2(std::uint8_t const* back, std::size_t t) {
  return Load32(back + (kWrap ? t % kMaskPeriod : t));
}
template <bool kWrap>
KESTLE_CIPHER_AVX2 inline __m256i FrontMasksAvx2(std::uint8_t const* front, std::size_t t) {
  return SwapLanes(BackMasksAvx2<kWrap>(front, t));
}

// The 32-pair chunk pair from pair t on, with its front masks lane-swapped. Returns the sum of
// its 64 bytes, lane by lane.
template <bool kSumSource>
KESTLE_CIPHER_AVX2 inline __m256i ChunkAvx2(std::uint8_t const* src, std::uint8_t* dst,
                                            std::size_t m, std::size_t t, __m256i frontSwapped,
                                            __m256i backMask) {
  std::size_t const j = m - 32 - t;
  __m256i const x = Load32(src + t);
  __m256i const y = Load32(src + j);
  __m256i const newFront = _mm256_xor_si256(ReverseLanes(y), frontSwapped);  // lanes swapped
  __m256i const newBackUnreversed = _mm256_xor_si256(x, backMask);
  StoreSwapped(dst + t, newFront);
  StoreSwapped(dst + j, ReverseLanes(newBackUnreversed));
  return kSumSource ? _mm256_add_epi8(x, y) : _mm256_add_epi8(newFront, newBackUnreversed);
}

// The middle chunk pair: pair t + i in lane i throughout, so that its pair sums can be masked.
template <bool kSumSource, bool kWrap>
KESTLE_CIPHER_AVX2 inline __m256i MiddleChunkAvx2(std::uint8_t* dst, std::size_t m, std::size_t t,
                                                  __m256i x, __m256i y, std::uint8_t const* front,
                                                  std::uint8_t const* back) {
  __m256i const reversedY = SwapLanes(ReverseLanes(y));
  __m256i const newFront = _mm256_xor_si256(reversedY, BackMasksAvx2<kWrap>(front, t));
  __m256i const newBackUnreversed = _mm256_xor_si256(x, BackMasksAvx2<kWrap>(back, t));
  Store32(dst + t, newFront);
  StoreSwapped(dst + m - 32 - t, ReverseLanes(newBackUnreversed));
  return kSumSource ? _mm256_add_epi8(x, reversedY) : _mm256_add_epi8(newFront, newBackUnreversed);
}

// Pairs t .. m/2 - 1, at least 32 of them. kLong adds the loop of 4 chunk pairs and the index
// wrapping that blocks of more than 128 pairs need.
template <bool kSumSource, bool kLong>
KESTLE_CIPHER_AVX2 inline std::uint8_t WidePassAvx2(std::uint8_t const* src, std::uint8_t* dst,
                                                    std::size_t m, std::size_t t,
                                                    std::uint8_t const* front,
                                                    std::uint8_t const* back) {
  std::size_t const half = m / 2;
  std::size_t const mid = half - 32;
  __m256i const midFront = Load32(src + mid);
  __m256i const midBack = Load32(src + half);
  __m256i acc = _mm256_setzero_si256();
  if (kLong && t + 96 < mid) {
    __m256i const f0 = FrontMasksAvx2<true>(front, t), f1 = FrontMasksAvx2<true>(front, t + 32),
                  f2 = FrontMasksAvx2<true>(front, t + 64),
                  f3 = FrontMasksAvx2<true>(front, t + 96);
    __m256i const b0 = BackMasksAvx2<true>(back, t), b1 = BackMasksAvx2<true>(back, t + 32),
                  b2 = BackMasksAvx2<true>(back, t + 64), b3 = BackMasksAvx2<true>(back, t + 96);
    for (; t + 96 < mid; t += 128) {
      __m256i const s0 = ChunkAvx2<kSumSource>(src, dst, m, t, f0, b0);
      __m256i const s1 = ChunkAvx2<kSumSource>(src, dst, m, t + 32, f1, b1);
      __m256i const s2 = ChunkAvx2<kSumSource>(src, dst, m, t + 64, f2, b2);
      __m256i const s3 = ChunkAvx2<kSumSource>(src, dst, m, t + 96, f3, b3);
      acc = _mm256_add_epi8(acc, _mm256_add_epi8(_mm256_add_epi8(s0, s1), _mm256_add_epi8(s2, s3)));
    }
  }
  for (; t < mid; t += 32) {
    acc =
        _mm256_add_epi8(acc, ChunkAvx2<kSumSource>(src, dst, m, t, FrontMasksAvx2<kLong>(front, t),
                                                   BackMasksAvx2<kLong>(back, t)));
  }
  __m256i const fresh = Load32(LastLanes(32, half - t));
  __m256i const last =
      MiddleChunkAvx2<kSumSource, kLong>(dst, m, mid, midFront, midBack, front, back);
  acc = _mm256_add_epi8(acc, _mm256_and_si256(last, fresh));
  return ByteSum(_mm_add_epi8(_mm256_castsi256_si128(acc), _mm256_extracti128_si256(acc, 1)));
}

// Reverses the low W bytes of v and clears the rest.
template <int W>
KESTLE_CIPHER_AVX2 inline __m128i ReversePart(__m128i v) {
  auto at = [](int i) { return static_cast<char>(i < W ? W - 1 - i : -128); };
  __m128i const order = _mm_setr_epi8(at(0), at(1), at(2), at(3), at(4), at(5), at(6), at(7), at(8),
                                      at(9), at(10), at(11), at(12), at(13), at(14), at(15));
  return _mm_shuffle_epi8(v, order);
}

// ChunkSse2 with the byte shuffle.
template <bool kSumSource, int W>
KESTLE_CIPHER_AVX2 inline __m128i ChunkPartAvx2(std::uint8_t* dst, std::size_t m, std::size_t t,
                                                __m128i x, __m128i y, std::uint8_t const* front,
                                                std::uint8_t const* back) {
  __m128i const reversedY = ReversePart<W>(y);
  __m128i const newFront = _mm_xor_si128(reversedY, LoadPart<W>(front + t % kMaskPeriod));
  __m128i const newBackUnreversed = _mm_xor_si128(x, LoadPart<W>(back + t % kMaskPeriod));
  StorePart<W>(dst + t, newFront);
  StorePart<W>(dst + m - W - t, ReversePart<W>(newBackUnreversed));
  return kSumSource ? _mm_add_epi8(x, reversedY) : _mm_add_epi8(newFront, newBackUnreversed);
}

// Pairs t .. m/2 - 1, W to 2W - 1 of them (W = 16, 8, 4): at most one chunk pair and the middle.
template <bool kSumSource, int W>
KESTLE_CIPHER_AVX2 inline std::uint8_t ShortPassAvx2(std::uint8_t const* src, std::uint8_t* dst,
                                                     std::size_t m, std::size_t t,
                                                     std::uint8_t const* front,
                                                     std::uint8_t const* back) {
  std::size_t const half = m / 2;
  std::size_t const mid = half - W;
  __m128i const midFront = LoadPart<W>(src + mid);
  __m128i const midBack = LoadPart<W>(src + half);
  __m128i acc = _mm_setzero_si128();
  if (t < mid) {
    __m128i const x = LoadPart<W>(src + t);
    __m128i const y = LoadPart<W>(src + m - W - t);
    acc = ChunkPartAvx2<kSumSource, W>(dst, m, t, x, y, front, back);
    t += W;
  }
  __m128i const fresh = LoadPart<16>(LastLanes(W, half - t));
  __m128i const last = ChunkPartAvx2<kSumSource, W>(dst, m, mid, midFront, midBack, front, back);
  return ByteSum(_mm_add_epi8(acc, _mm_and_si128(last, fresh)));
}

// Fewer than 32 pairs.
template <bool kSumSource>
[[gnu::noinline]] KESTLE_CIPHER_AVX2 inline std::uint8_t NarrowPassAvx2(
    std::uint8_t const* src, std::uint8_t* dst, std::size_t m, std::size_t t0,
    std::uint8_t const* front, std::uint8_t const* back) {
  std::size_t const pairs = m / 2 - t0;
  if (pairs >= 16)
    return ShortPassAvx2<kSumSource, 16>(src, dst, m, t0, front, back);
  if (pairs >= 8)
    return ShortPassAvx2<kSumSource, 8>(src, dst, m, t0, front, back);
  if (pairs >= 4)
    return ShortPassAvx2<kSumSource, 4>(src, dst, m, t0, front, back);
  return ExchangeScalar<kSumSource>(src, dst, m, t0, front, back);
}

// More than 128 pairs.
template <bool kSumSource>
[[gnu::noinline]] KESTLE_CIPHER_AVX2 inline std::uint8_t LongPassAvx2(std::uint8_t const* src,
                                                                      std::uint8_t* dst,
                                                                      std::size_t m, std::size_t t0,
                                                                      std::uint8_t const* front,
                                                                      std::uint8_t const* back) {
  return WidePassAvx2<kSumSource, true>(src, dst, m, t0, front, back);
}

template <bool kSumSource>
KESTLE_CIPHER_AVX2 inline std::uint8_t ExchangeAvx2(std::uint8_t const* src, std::uint8_t* dst,
                                                    std::size_t m, std::size_t t0,
                                                    std::uint8_t const* front,
                                                    std::uint8_t const* back) {
  std::size_t const pairs = m / 2 - t0;
  if (pairs < 32)
    return NarrowPassAvx2<kSumSource>(src, dst, m, t0, front, back);
  if (pairs > 128)
    return LongPassAvx2<kSumSource>(src, dst, m, t0, front, back);
  return WidePassAvx2<kSumSource, false>(src, dst, m, t0, front, back);
}

// Whole blocks through the AVX2 tier, each compiled as one AVX2 function so that the pass is
// inlined into it. Even blocks of 64 to 256 bytes, what record files mostly hold, run inline and
// need no saved registers; odd ones of 65 to 257 bytes and every other length go to functions of
// their own.
template <bool kEncode>
[[gnu::noinline]] KESTLE_CIPHER_AVX2 inline bool AnyBlockAvx2(std::uint8_t const* src,
                                                              std::uint8_t* dst, std::size_t n,
                                                              std::uint8_t key) {
  if constexpr (kEncode) {
    EncodeBlock(src, dst, n, key, &ExchangeAvx2<true>);
    return true;
  } else {
    return DecodeBlock(src, dst, n, key, &ExchangeAvx2<false>);
  }
}

// Whether n plain bytes make 32 to 128 pairs, odd or even.
inline bool IsRecordLength(std::size_t n) {
  return n - 64 <= 257 - 64;
}

// Odd records, kept apart so that the even path, the common one, saves no registers.
[[gnu::noinline]] KESTLE_CIPHER_AVX2 inline void EncodeOddRecordAvx2(std::uint8_t const* src,
                                                                     std::uint8_t* dst,
                                                                     std::size_t n,
                                                                     std::uint8_t key) {
  EncodeOddBlock(src, dst, n, kKeyMasks[key], &WidePassAvx2<true, false>);
}
[[gnu::noinline]] KESTLE_CIPHER_AVX2 inline bool DecodeOddRecordAvx2(std::uint8_t const* src,
                                                                     std::uint8_t* dst,
                                                                     std::size_t n,
                                                                     std::uint8_t key) {
  return DecodeOddBlock(src, dst, n, kKeyMasks[key], &WidePassAvx2<false, false>);
}

KESTLE_CIPHER_AVX2 inline void EncodeBlockAvx2(std::uint8_t const* src, std::uint8_t* dst,
                                               std::size_t n, std::uint8_t key) {
  if (!IsRecordLength(n)) {
    AnyBlockAvx2<true>(src, dst, n, key);
  } else if (n % 2 != 0) {
    EncodeOddRecordAvx2(src, dst, n, key);
  } else {
    EncodeEvenBlock(src, dst, n, kKeyMasks[key], &WidePassAvx2<true, false>);
  }
}
KESTLE_CIPHER_AVX2 inline bool DecodeBlockAvx2(std::uint8_t const* src, std::uint8_t* dst,
                                               std::size_t n, std::uint8_t key) {
  if (!IsRecordLength(n))
    return AnyBlockAvx2<false>(src, dst, n, key);
  if (n % 2 != 0)
    return DecodeOddRecordAvx2(src, dst, n, key);
  return DecodeEvenBlock(src, dst, n, kKeyMasks[key], &WidePassAvx2<false, false>);
}

// Runs of records (cipher_run.h) through the AVX2 tier. The length is the same for every record
// of a run, so the choice of pass is made once and each record is inline in its loop.
template <class Block>
KESTLE_CIPHER_AVX2 inline void EncodeEach(std::uint8_t const* in, std::uint8_t* out, std::size_t n,
                                          std::size_t count, std::uint8_t key, Block block) {
  for (std::size_t r = 0; r < count; ++r, in += n, out += n + 1)
    block(in, out, kKeyMasks[static_cast<std::uint8_t>(key + r)]);
}
template <class Block>
KESTLE_CIPHER_AVX2 inline std::size_t DecodeEach(std::uint8_t const* in, std::uint8_t* out,
                                                 std::size_t n, std::size_t count, std::uint8_t key,
                                                 Block block) {
  for (std::size_t r = 0; r < count; ++r, in += n + 1, out += n) {
    if (!block(in, out, kKeyMasks[static_cast<std::uint8_t>(key + r)]))
      return r;
  }
  return count;
}

[[gnu::noinline]] KESTLE_CIPHER_AVX2 inline void EncodeRunAvx2(std::uint8_t const* in,
                                                               std::uint8_t* out, std::size_t n,
                                                               std::size_t count,
                                                               std::uint8_t key) {
  auto const pass = &WidePassAvx2<true, false>;
  if (!IsRecordLength(n)) {
    for (std::size_t r = 0; r < count; ++r, in += n, out += n + 1)
      AnyBlockAvx2<true>(in, out, n, static_cast<std::uint8_t>(key + r));
  } else if (n % 2 != 0) {
    EncodeEach(in, out, n, count, key, [n, pass](auto src, auto dst, KeyMasks const& masks) {
      EncodeOddBlock(src, dst, n, masks, pass);
    });
  } else {
    EncodeEach(in, out, n, count, key, [n, pass](auto src, auto dst, KeyMasks const& masks) {
      EncodeEvenBlock(src, dst, n, masks, pass);
    });
  }
}
[[gnu::noinline]] KESTLE_CIPHER_AVX2 inline std::size_t DecodeRunAvx2(
    std::uint8_t const* in, std::uint8_t* out, std::size_t n, std::size_t count, std::uint8_t key) {
  auto const pass = &WidePassAvx2<false, false>;
  if (!IsRecordLength(n)) {
    for (std::size_t r = 0; r < count; ++r, in += n + 1, out += n) {
      if (!AnyBlockAvx2<false>(in, out, n, static_cast<std::uint8_t>(key + r)))
        return r;
    }
    return count;
  }
  if (n % 2 != 0) {
    return DecodeEach(in, out, n, count, key, [n, pass](auto src, auto dst, KeyMasks const& m) {
      return DecodeOddBlock(src, dst, n, m, pass);
    });
  }
  return DecodeEach(in, out, n, count, key, [n, pass](auto src, auto dst, KeyMasks const& m) {
    return DecodeEvenBlock(src, dst, n, m, pass);
  });
}

#undef KESTLE_CIPHER_AVX2

}  // namespace kestle_detail::cipher
