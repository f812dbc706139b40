#include "kestle/alloc.h"

#include <cstdint>
#include <cstdlib>

#include "platform/heapwick.h"

namespace kestle {
namespace {
// The header in front of every block: the block's total size, requested size included.
constexpr std::size_t kHeader = 8;
}  // namespace

void* allocate(std::size_t n) {
  if (n > SIZE_MAX - kHeader)
    throw std::bad_alloc();
  std::size_t total = n + kHeader;
  // Count first, so that the counter never lags behind memory that is really in use.
  Heapwick::incCount(static_cast<long long>(total));
  void* raw = std::malloc(total);
  if (raw == nullptr) {
    Heapwick::decCount(static_cast<long long>(total));
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
  Heapwick::decCount(static_cast<long long>(total));
  std::free(raw);
}

}  // namespace kestle
