// Platform statistics: fixed tables of atomic counters, so counting never allocates or locks.
// The tables are sharded by thread id: threads that count under the same id (every slot mutex of
// the raw layer waits under one) mostly add on cache lines of their own instead of serialising
// on one; a reader sums the shards.
#include <atomic>
#include <chrono>

#include "kestle/platform/control.h"
#include "kestle/stat.h"
#include "platform/mutex_wait.h"
#include "platform/thread_id.h"

namespace {
constexpr unsigned kIds = 256;
constexpr unsigned kShards = 16;

struct alignas(64) Shard {
  std::atomic<unsigned long long> counts[kIds];
  std::atomic<unsigned long long> ticks[kIds];
};
Shard shards[kShards];

Shard& myShard() {
  return shards[static_cast<unsigned>(kestle_detail::threadId()) % kShards];
}

std::uint64_t now() {
  return static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
}

unsigned long long sum(bool ticks, Stat::Id id) {
  unsigned long long total = 0;
  for (auto const& shard : shards)
    total += (ticks ? shard.ticks : shard.counts)[id].load(std::memory_order_relaxed);
  return total;
}
}  // namespace

namespace kestle_detail {
void addStat(Stat::Id id, unsigned long long count, unsigned long long ticks) {
  if (id >= kIds)
    return;
  Shard& shard = myShard();
  if (count != 0)
    shard.counts[id].fetch_add(count, std::memory_order_relaxed);
  if (ticks != 0)
    shard.ticks[id].fetch_add(ticks, std::memory_order_relaxed);
}
}  // namespace kestle_detail

namespace Stat {
void incCount(Id id, unsigned long long count) {
  kestle_detail::addStat(id, count, 0);
}

Call::Call(Id id, unsigned long long) : id_(id), start_(now()) {}

Call::~Call() {
  kestle_detail::addStat(id_, 1, now() - start_);
}
}  // namespace Stat

namespace Platform {
unsigned long long statCount(Stat::Id id) {
  return id < kIds ? sum(false, id) : 0;
}
unsigned long long statTicks(Stat::Id id) {
  return id < kIds ? sum(true, id) : 0;
}
}  // namespace Platform
