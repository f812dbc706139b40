// The record cipher's two exported operations: the zero-length report, then one pass over the
// block with the widest exchange tier this processor runs.
#include <cstdint>

#include "coding/cipher_block.h"
#include "coding/cipher_kernels.h"
#include "kestle/coding.h"
#include "kestle/strings.h"
#include "platform/report.h"

namespace {
namespace cipher = kestle_detail::cipher;

struct Tier {
  cipher::ExchangeFn sumSource;  // enciphering: the checksum covers the plain input
  cipher::ExchangeFn sumDest;    // deciphering: the checksum covers the plain output
};

// Chosen on first use rather than at load, so that loading the library builds nothing.
Tier const& ChooseTier() {
  static Tier const chosen = [] {
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx2")) {
      return Tier{&cipher::ExchangeAvx2<true>, &cipher::ExchangeAvx2<false>};
    }
    return Tier{&cipher::ExchangeSse2<true>, &cipher::ExchangeSse2<false>};
  }();
  return chosen;
}

// A zero length breaks the caller's contract: the block would have no pairs and no room for a
// checksum. It is reported like a one-value assure, whose value reads as unsigned decimal.
void ReportZeroLength(wchar_t const* function, unsigned line) {
  WString length = FString::numstr(0, 10, 0, L' ');
  kestle_detail::Reporter::PanicMe(false, L"coding", function, line, length, nullptr, 0);
}
}  // namespace

void Coding::Encode(char const* in, char* out, unsigned int len, unsigned char key) {
  if (len == 0) {
    ReportZeroLength(L"Coding::Encode", 163);
    return;
  }
  cipher::EncodeBlock(reinterpret_cast<std::uint8_t const*>(in),
                      reinterpret_cast<std::uint8_t*>(out), len, key, ChooseTier().sumSource);
}

bool Coding::Decode(char const* in, char* out, unsigned int len, unsigned char key) {
  if (len == 0) {
    ReportZeroLength(L"Coding::Decode", 226);
    return true;
  }
  return cipher::DecodeBlock(reinterpret_cast<std::uint8_t const*>(in),
                             reinterpret_cast<std::uint8_t*>(out), len, key, ChooseTier().sumDest);
}
