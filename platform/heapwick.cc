#include "platform/heapwick.h"

#include <atomic>

#include "kestle/platform/control.h"

namespace {
std::atomic<long long> held{0};
}

namespace Heapwick {
void incCount(long long bytes) {
  held.fetch_add(bytes, std::memory_order_relaxed);
}
void decCount(long long bytes) {
  held.fetch_sub(bytes, std::memory_order_relaxed);
}
long long bytesHeld() {
  return held.load(std::memory_order_relaxed);
}
}  // namespace Heapwick
