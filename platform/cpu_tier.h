// The one place that chooses the processor code path (tier) of the library's vector loops: the
// record cipher and the backup chunk checksum both dispatch on tier(). Platform::setCpuTier
// forces a tier.
#pragma once

#include <atomic>

namespace kestle_detail::cpu {

enum Tier : int { kUnknown = 0, kBytes, kSse2, kAvx2 };

// kUnknown until the first use, so that loading the library runs nothing; then the tier in force.
extern std::atomic<int> activeTier;

// Finds the tier (the forced one, capped at what the processor runs), stores it and returns it.
[[gnu::cold]] int chooseTier();

// One relaxed load and a compare once chosen. Racing first calls all choose the same.
inline int tier() {
  int const t = activeTier.load(std::memory_order_relaxed);
  return t != kUnknown ? t : chooseTier();
}

}  // namespace kestle_detail::cpu
