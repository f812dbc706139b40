// The platform's block store: the shared header of a store of fixed-size blocks with its link
// count. The blocks themselves are handed out by element operations outside this library, so a
// store here holds no blocks; releasing the store releases only its header.
#include "platform/blockstore.h"

#include <atomic>
#include <cstdint>

#include "kestle/alloc.h"

struct MEMBLOCKS {
  explicit MEMBLOCKS(unsigned shift) : blockShift(shift) {}
  std::atomic<std::uint32_t> links{1};
  unsigned blockShift;
};

MEMBLOCKS* MbInit(unsigned blockShift) {
  return kestle::make<MEMBLOCKS>(blockShift);
}

void MbAddLink(MEMBLOCKS* store) {
  // The caller already holds a link, so the store cannot go away meanwhile: relaxed suffices.
  if (store != nullptr)
    store->links.fetch_add(1, std::memory_order_relaxed);
}

void MbFree(MEMBLOCKS*& store) {
  MEMBLOCKS* dropped = store;
  store = nullptr;
  if (dropped == nullptr)
    return;
  // Release ordering publishes this holder's writes; the last holder acquires them all before
  // it destroys the store.
  if (dropped->links.fetch_sub(1, std::memory_order_acq_rel) == 1)
    kestle::destroy(dropped);
}

unsigned MbLinks(MEMBLOCKS const* store) {
  return store != nullptr ? store->links.load(std::memory_order_acquire) : 0;
}
