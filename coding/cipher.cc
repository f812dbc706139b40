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

// The tier is found on first use rather than at load, so that loading the library builds
// nothing. Racing first calls all find the same answer.
enum Tier : int { kUnknown = 0, kSse2, kAvx2 };
std::atomic<int> chosenTier{kUnknown};

[[gnu::noinline, gnu::cold]] Tier DetectTier() {
  __builtin_cpu_init();
  Tier tier = __builtin_cpu_supports("avx2") ? kAvx2 : kSse2;
  chosenTier.store(tier, std::memory_order_relaxed);
  return tier;
}

inline bool UseAvx2() {
  int tier = chosenTier.load(std::memory_order_relaxed);
  if (tier == kUnknown)
    tier = DetectTier();
  return tier == kAvx2;
}

// Both tiers stay out of line, so that the exported functions are a test and a jump.
[[gnu::noinline]] void EncodeSse2(std::uint8_t const* src, std::uint8_t* dst, std::size_t n,
                                  std::uint8_t key) {
  cipher::EncodeBlock(src, dst, n, key, &cipher::ExchangeSse2<true>);
}
[[gnu::noinline]] bool DecodeSse2(std::uint8_t const* src, std::uint8_t* dst, std::size_t n,
                                  std::uint8_t key) {
  return cipher::DecodeBlock(src, dst, n, key, &cipher::ExchangeSse2<false>);
}

// A zero length breaks the caller's contract: the block would have no pairs and no room for a
// checksum. It is reported like a one-value assure, whose value reads as unsigned decimal.
[[gnu::noinline, gnu::cold]] void ReportZeroLength(wchar_t const* function, unsigned line) {
  WString length = FString::numstr(0, 10, 0, L' ');
  kestle_detail::Reporter::PanicMe(false, L"coding", function, line, length, nullptr, 0);
}
}  // namespace

void Coding::Encode(char const* in, char* out, unsigned int len, unsigned char key) {
  if (len == 0) {
    ReportZeroLength(L"Coding::Encode", 163);
    return;
  }
  auto const* src = reinterpret_cast<std::uint8_t const*>(in);
  auto* dst = reinterpret_cast<std::uint8_t*>(out);
  if (UseAvx2()) {
    cipher::EncodeBlockAvx2(src, dst, len, key);
  } else {
    EncodeSse2(src, dst, len, key);
  }
}

bool Coding::Decode(char const* in, char* out, unsigned int len, unsigned char key) {
  if (len == 0) {
    ReportZeroLength(L"Coding::Decode", 226);
    return true;
  }
  auto const* src = reinterpret_cast<std::uint8_t const*>(in);
  auto* dst = reinterpret_cast<std::uint8_t*>(out);
  return UseAvx2() ? cipher::DecodeBlockAvx2(src, dst, len, key) : DecodeSse2(src, dst, len, key);
}
