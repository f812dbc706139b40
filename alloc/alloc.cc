// The accounted allocation and Heapwick's count of the bytes it holds. Both live here, under
// every other part of the library: the platform's own objects and strings are accounted blocks
// too, so the count must not depend on the platform, and nothing outside this file can change it.
#include "kestle/alloc.h"

#include <atomic>
#include <cstdint>
#include <cstdlib>

#include "kestle/platform/control.h"

namespace {
// The header in front of every block: the block's total size, requested size included.
constexpr std::size_t kHeader = 8;

// Relaxed: the count is a statistic that publishes no memory; each change is still exact.
std::atomic<long long> held{0};
}  // namespace

namespace kestle {

void* allocate(std::size_t n) {
  if (n > SIZE_MAX - kHeader)
    throw std::bad_alloc();
  std::size_t total = n + kHeader;
  // Count first, so that the counter never lags behind memory that is really in use.
  held.fetch_add(static_cast<long long>(total), std::memory_order_relaxed);
  void* raw = std::malloc(total);
  if (raw == nullptr) {
    held.fetch_sub(static_cast<long long>(total), std::memory_order_relaxed);
    throw std::bad_alloc();
  }
  *static_cast<std::uint64_t*>(raw) = total;
  return static_cast<char*>(raw) + kHeader;
}

void release(void* p) noexcept {
  if (p == nullptr)
    return;
  void* raw = static_cast<char*>(p) - kHeader;
  std::uint64_t total = *static_cast<std::uint64_t*>(raw);
  held.fetch_sub(static_cast<long long>(total), std::memory_order_relaxed);
  std::free(raw);
}

}  // namespace kestle

namespace Heapwick {
long long bytesHeld() {
  return held.load(std::memory_order_relaxed);
}
}  // namespace Heapwick
