// The record cipher's two exported operations: the zero-length report, then one pass over the
// block with the widest exchange tier this processor runs.
#include <atomic>
#include <cstdint>

#include "coding/cipher_block.h"
#include "coding/cipher_kernels.h"
#include "kestle/coding.h"
#include "kestle/strings.h"
#include "platform/report.h"

namespace {
namespace cipher = kestle_detail::cipher;

// The tier is found on the first call rather than at load, so that loading the library builds
// nothing; after that each call costs one relaxed load and a compare. Racing first calls all
// find the same answer.
enum Tier : int { kUnknown = 0, kSse2, kAvx2 };
std::atomic<int> chosenTier{kUnknown};

void DetectTier() {
  __builtin_cpu_init();
  Tier const tier = __builtin_cpu_supports("avx2") ? kAvx2 : kSse2;
  chosenTier.store(tier, std::memory_order_relaxed);
}

[[gnu::noinline, gnu::cold]] void EncodeFirst(char const* in, char* out, unsigned int len,
                                              unsigned char key) {
  DetectTier();
  Coding::Encode(in, out, len, key);
}
[[gnu::noinline, gnu::cold]] bool DecodeFirst(char const* in, char* out, unsigned int len,
                                              unsigned char key) {
  DetectTier();
  return Coding::Decode(in, out, len, key);
}

// Every tier stays out of line, so that the exported functions are a test and a jump.
[[gnu::noinline]] void EncodeSse2(std::uint8_t const* src, std::uint8_t* dst, std::size_t n,
                                  std::uint8_t key) {
  cipher::EncodeBlock(src, dst, n, key, &cipher::ExchangeSse2<true>);
}
[[gnu::noinline]] bool DecodeSse2(std::uint8_t const* src, std::uint8_t* dst, std::size_t n,
                                  std::uint8_t key) {
  return cipher::DecodeBlock(src, dst, n, key, &cipher::ExchangeSse2<false>);
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

// Each exported function ends in a jump to its tier, so that it needs no stack frame of its own;
// the first call detects the tier and starts over.
void Coding::Encode(char const* in, char* out, unsigned int len, unsigned char key) {
  if (len == 0) [[unlikely]] {
    ReportZeroLength(L"Coding::Encode", 163);
    return;
  }
  auto const* src = reinterpret_cast<std::uint8_t const*>(in);
  auto* dst = reinterpret_cast<std::uint8_t*>(out);
  int const tier = chosenTier.load(std::memory_order_relaxed);
  if (tier == kAvx2) [[likely]]
    return cipher::EncodeBlockAvx2(src, dst, len, key);
  if (tier == kSse2)
    return EncodeSse2(src, dst, len, key);
  EncodeFirst(in, out, len, key);
}

bool Coding::Decode(char const* in, char* out, unsigned int len, unsigned char key) {
  if (len == 0) [[unlikely]]
    return ReportZeroLength(L"Coding::Decode", 226);
  auto const* src = reinterpret_cast<std::uint8_t const*>(in);
  auto* dst = reinterpret_cast<std::uint8_t*>(out);
  int const tier = chosenTier.load(std::memory_order_relaxed);
  if (tier == kAvx2) [[likely]]
    return cipher::DecodeBlockAvx2(src, dst, len, key);
  if (tier == kSse2)
    return DecodeSse2(src, dst, len, key);
  return DecodeFirst(in, out, len, key);
}
