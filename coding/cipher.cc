// The record cipher's two exported operations and its run pass: the zero-length report, then one
// pass over the block (or the records) with the tier that platform/cpu_tier.h chooses.
#include <cstdint>

#include "coding/cipher_block.h"
#include "coding/cipher_kernels.h"
#include "coding/cipher_run.h"
#include "kestle/coding.h"
#include "kestle/strings.h"
#include "platform/cpu_tier.h"
#include "platform/report.h"

namespace {
namespace cipher = kestle_detail::cipher;
namespace cpu = kestle_detail::cpu;

// The exchange pass of a tier below AVX2.
cipher::ExchangeFn sumSourceOf(int tier) {
  return tier == cpu::kSse2 ? &cipher::ExchangeSse2<true> : &cipher::ExchangeScalar<true>;
}
cipher::ExchangeFn sumDestOf(int tier) {
  return tier == cpu::kSse2 ? &cipher::ExchangeSse2<false> : &cipher::ExchangeScalar<false>;
}

// The tiers below AVX2, and the first call, which chooses the tier. Out of line, so that the
// exported functions are a test and a jump.
[[gnu::noinline]] void EncodeNarrow(std::uint8_t const* src, std::uint8_t* dst, std::size_t n,
                                    std::uint8_t key) {
  int const tier = cpu::tier();
  if (tier == cpu::kAvx2)
    return cipher::EncodeBlockAvx2(src, dst, n, key);
  cipher::EncodeBlock(src, dst, n, key, sumSourceOf(tier));
}
[[gnu::noinline]] bool DecodeNarrow(std::uint8_t const* src, std::uint8_t* dst, std::size_t n,
                                    std::uint8_t key) {
  int const tier = cpu::tier();
  if (tier == cpu::kAvx2)
    return cipher::DecodeBlockAvx2(src, dst, n, key);
  return cipher::DecodeBlock(src, dst, n, key, sumDestOf(tier));
}

// A zero length breaks the caller's contract: the block would have no pairs and no room for a
// checksum. It is reported like a one-value assure, whose value reads as unsigned decimal. The
// answer is Decode's for that case.
[[gnu::noinline, gnu::cold]] bool ReportZeroLength(wchar_t const* function, unsigned line) {
  WString length = FString::numstr(0, 10, 0, L' ');
  kestle_detail::Reporter::PanicMe(false, L"coding", function, line, length, nullptr, 0);
  return true;
}
}  // namespace

void Coding::Encode(char const* in, char* out, unsigned int len, unsigned char key) {
  if (len == 0) [[unlikely]] {
    ReportZeroLength(L"Coding::Encode", 163);
    return;
  }
  auto const* src = reinterpret_cast<std::uint8_t const*>(in);
  auto* dst = reinterpret_cast<std::uint8_t*>(out);
  if (cpu::activeTier.load(std::memory_order_relaxed) == cpu::kAvx2) [[likely]]
    return cipher::EncodeBlockAvx2(src, dst, len, key);
  EncodeNarrow(src, dst, len, key);
}

bool Coding::Decode(char const* in, char* out, unsigned int len, unsigned char key) {
  if (len == 0) [[unlikely]]
    return ReportZeroLength(L"Coding::Decode", 226);
  auto const* src = reinterpret_cast<std::uint8_t const*>(in);
  auto* dst = reinterpret_cast<std::uint8_t*>(out);
  if (cpu::activeTier.load(std::memory_order_relaxed) == cpu::kAvx2) [[likely]]
    return cipher::DecodeBlockAvx2(src, dst, len, key);
  return DecodeNarrow(src, dst, len, key);
}

namespace kestle_detail::cipher {

void EncodeRun(char const* in, char* out, unsigned len, unsigned count, unsigned char firstKey) {
  auto const* src = reinterpret_cast<std::uint8_t const*>(in);
  auto* dst = reinterpret_cast<std::uint8_t*>(out);
  int const tier = cpu::tier();
  if (tier == cpu::kAvx2)
    return EncodeRunAvx2(src, dst, len, count, firstKey);
  ExchangeFn const pass = sumSourceOf(tier);
  for (unsigned r = 0; r < count; ++r, src += len, dst += len + 1)
    EncodeBlock(src, dst, len, static_cast<std::uint8_t>(firstKey + r), pass);
}

unsigned DecodeRun(char const* in, char* out, unsigned len, unsigned count,
                   unsigned char firstKey) {
  auto const* src = reinterpret_cast<std::uint8_t const*>(in);
  auto* dst = reinterpret_cast<std::uint8_t*>(out);
  int const tier = cpu::tier();
  if (tier == cpu::kAvx2)
    return static_cast<unsigned>(DecodeRunAvx2(src, dst, len, count, firstKey));
  ExchangeFn const pass = sumDestOf(tier);
  for (unsigned r = 0; r < count; ++r, src += len + 1, dst += len) {
    if (!DecodeBlock(src, dst, len, static_cast<std::uint8_t>(firstKey + r), pass))
      return r;
  }
  return count;
}

}  // namespace kestle_detail::cipher
