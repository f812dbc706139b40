// Platform statistics: fixed tables of atomic counters, so counting never allocates or locks.
#include <atomic>
#include <chrono>

#include "kestle/platform/control.h"
#include "kestle/stat.h"

namespace {
constexpr unsigned kIds = 256;
std::atomic<unsigned long long> counts[kIds];
std::atomic<unsigned long long> ticks[kIds];

std::uint64_t now() {
  return static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
}
}  // namespace

namespace Stat {
void incCount(Id id, unsigned long long count) {
  if (id < kIds)
    counts[id].fetch_add(count, std::memory_order_relaxed);
}

Call::Call(Id id, unsigned long long) : id_(id), start_(now()) {}

Call::~Call() {
  if (id_ < kIds) {
    counts[id_].fetch_add(1, std::memory_order_relaxed);
    ticks[id_].fetch_add(now() - start_, std::memory_order_relaxed);
  }
}
}  // namespace Stat

namespace Platform {
unsigned long long statCount(Stat::Id id) {
  return id < kIds ? counts[id].load(std::memory_order_relaxed) : 0;
}
unsigned long long statTicks(Stat::Id id) {
  return id < kIds ? ticks[id].load(std::memory_order_relaxed) : 0;
}
}  // namespace Platform
