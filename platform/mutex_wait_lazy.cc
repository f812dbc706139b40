// The platform's part of MutexLazy: the waiting side, its lazily made wait object and the
// destructor.
#include "kestle/alloc.h"
#include "kestle/mutexlazy.h"
#include "platform/mutex_wait.h"

using kestle_detail::LazyWaitObject;

MutexLazy::~MutexLazy() {
  kestle::destroy(waitObject_.load(std::memory_order_acquire));
}

LazyWaitObject* MutexLazy::waitObject() {
  LazyWaitObject* object = waitObject_.load(std::memory_order_acquire);
  if (object != nullptr)
    return object;
  // Two first waiters may arrive together: each makes one, one publishes it, the other throws
  // its own away and uses the published one.
  LazyWaitObject* mine = kestle::make<LazyWaitObject>();
  if (waitObject_.compare_exchange_strong(object, mine, std::memory_order_acq_rel,
                                          std::memory_order_acquire)) {
    return mine;
  }
  kestle::destroy(mine);
  return object;
}

void MutexLazy::waitAndObtain() {
  waitObject();
  kestle_detail::waitAndObtainWord(lockWord_);
}

bool MutexLazy::waitAndTryObtain(unsigned int timeout) {
  waitObject();
  return kestle_detail::waitAndTryObtainWord(lockWord_, timeout);
}

void MutexLazy::wakeup() {
  kestle_detail::futexWake(lockWord_, 1);
}
