// The constants of the backup file format and the unmask-and-sum pass over a chunk's words.
#pragma once

#include <emmintrin.h>
#include <immintrin.h>

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "platform/cpu_tier.h"

namespace kestle_detail::backup {

constexpr unsigned long long kLeadingBytes = 128;  // never read
constexpr unsigned kHeaderBytes = 128;             // header 1 on disk: 127 plain + checksum byte
constexpr unsigned kHeaderPlainBytes = 127;
constexpr unsigned char kHeaderKey = 1;
constexpr unsigned char kHeaderType = 13;
constexpr unsigned kStampOffset = 4;     // date, time, zone words
constexpr unsigned kProductOffset = 16;  // 40 UTF-16 units
constexpr unsigned kProductUnits = 40;
constexpr std::uint32_t kMaxLength = 0x8000000;  // a chunk's data length stays below this
constexpr unsigned kWordBytes = 4;

inline std::uint32_t loadWord(void const* p) {
  std::uint32_t w;
  std::memcpy(&w, p, sizeof w);
  return w;
}

// The data length rounded up to whole words.
inline std::uint32_t paddedLength(std::uint32_t length) {
  return (length + 3u) & ~3u;
}

// XORs each of `words` 32-bit words at p with mask in place and returns sum plus the unmasked
// words, modulo 2^32. The order of addition does not change the sum, so the vector tiers keep
// lane sums and fold them at the end.
inline std::uint32_t UnmaskAndSumScalar(char* p, std::size_t words, std::uint32_t mask,
                                        std::uint32_t sum) {
  for (std::size_t i = 0; i < words; ++i) {
    std::uint32_t w = loadWord(p + i * kWordBytes) ^ mask;
    std::memcpy(p + i * kWordBytes, &w, sizeof w);
    sum += w;
  }
  return sum;
}

// Eight words per step in two SSE2 registers, then the rest one by one.
inline std::uint32_t UnmaskAndSumSse2(char* p, std::size_t words, std::uint32_t mask,
                                      std::uint32_t sum) {
  __m128i const m = _mm_set1_epi32(static_cast<int>(mask));
  __m128i acc0 = _mm_setzero_si128();
  __m128i acc1 = _mm_setzero_si128();
  std::size_t i = 0;
  for (; i + 8 <= words; i += 8) {
    auto* q = reinterpret_cast<__m128i*>(p + i * kWordBytes);
    __m128i a = _mm_xor_si128(_mm_loadu_si128(q), m);
    __m128i b = _mm_xor_si128(_mm_loadu_si128(q + 1), m);
    _mm_storeu_si128(q, a);
    _mm_storeu_si128(q + 1, b);
    acc0 = _mm_add_epi32(acc0, a);
    acc1 = _mm_add_epi32(acc1, b);
  }
  alignas(16) std::uint32_t lanes[4];
  _mm_store_si128(reinterpret_cast<__m128i*>(lanes), _mm_add_epi32(acc0, acc1));
  sum += lanes[0] + lanes[1] + lanes[2] + lanes[3];
  return UnmaskAndSumScalar(p + i * kWordBytes, words - i, mask, sum);
}

// Eight words per step in one AVX2 register (two independent sums to hide the add latency),
// then the rest one by one. Only for processors that have AVX2.
__attribute__((target("avx2"))) inline std::uint32_t UnmaskAndSumAvx2(char* p, std::size_t words,
                                                                      std::uint32_t mask,
                                                                      std::uint32_t sum) {
  __m256i const m = _mm256_set1_epi32(static_cast<int>(mask));
  __m256i acc0 = _mm256_setzero_si256();
  __m256i acc1 = _mm256_setzero_si256();
  std::size_t i = 0;
  for (; i + 16 <= words; i += 16) {
    auto* q = reinterpret_cast<__m256i*>(p + i * kWordBytes);
    __m256i a = _mm256_xor_si256(_mm256_loadu_si256(q), m);
    __m256i b = _mm256_xor_si256(_mm256_loadu_si256(q + 1), m);
    _mm256_storeu_si256(q, a);
    _mm256_storeu_si256(q + 1, b);
    acc0 = _mm256_add_epi32(acc0, a);
    acc1 = _mm256_add_epi32(acc1, b);
  }
  if (i + 8 <= words) {
    auto* q = reinterpret_cast<__m256i*>(p + i * kWordBytes);
    __m256i a = _mm256_xor_si256(_mm256_loadu_si256(q), m);
    _mm256_storeu_si256(q, a);
    acc0 = _mm256_add_epi32(acc0, a);
    i += 8;
  }
  __m256i acc = _mm256_add_epi32(acc0, acc1);
  __m128i half = _mm_add_epi32(_mm256_castsi256_si128(acc), _mm256_extracti128_si256(acc, 1));
  alignas(16) std::uint32_t lanes[4];
  _mm_store_si128(reinterpret_cast<__m128i*>(lanes), half);
  sum += lanes[0] + lanes[1] + lanes[2] + lanes[3];
  return UnmaskAndSumScalar(p + i * kWordBytes, words - i, mask, sum);
}

// The tier that platform/cpu_tier.h chooses.
inline std::uint32_t UnmaskAndSum(char* p, std::size_t words, std::uint32_t mask,
                                  std::uint32_t sum) {
  switch (kestle_detail::cpu::tier()) {
    case kestle_detail::cpu::kAvx2:
      return UnmaskAndSumAvx2(p, words, mask, sum);
    case kestle_detail::cpu::kSse2:
      return UnmaskAndSumSse2(p, words, mask, sum);
    default:
      return UnmaskAndSumScalar(p, words, mask, sum);
  }
}

}  // namespace kestle_detail::backup
