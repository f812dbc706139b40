#include "platform/cpu_tier.h"

#include "kestle/platform/control.h"

namespace kestle_detail::cpu {

std::atomic<int> activeTier{kUnknown};

namespace {
std::atomic<Platform::CpuTier> requested{Platform::CpuTier::Auto};

int widestTier() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2") ? kAvx2 : kSse2;
}
}  // namespace

int chooseTier() {
  int const widest = widestTier();
  int wanted = widest;
  switch (requested.load(std::memory_order_relaxed)) {
    case Platform::CpuTier::Bytes:
      wanted = kBytes;
      break;
    case Platform::CpuTier::Sse2:
      wanted = kSse2;
      break;
    case Platform::CpuTier::Avx2:
    case Platform::CpuTier::Auto:
      break;
  }
  int const chosen = wanted < widest ? wanted : widest;
  activeTier.store(chosen, std::memory_order_relaxed);
  return chosen;
}

}  // namespace kestle_detail::cpu

namespace Platform {

CpuTier setCpuTier(CpuTier tier) {
  using namespace kestle_detail::cpu;
  CpuTier const old = requested.exchange(tier, std::memory_order_relaxed);
  activeTier.store(kUnknown, std::memory_order_relaxed);  // chosen again on the next use
  return old;
}

CpuTier cpuTier() {
  switch (kestle_detail::cpu::tier()) {
    case kestle_detail::cpu::kBytes:
      return CpuTier::Bytes;
    case kestle_detail::cpu::kSse2:
      return CpuTier::Sse2;
    default:
      return CpuTier::Avx2;
  }
}

}  // namespace Platform
