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
  kestle_detail::waitAndObtainWord(lockWord_, waitObject()->sleepers);
}

bool MutexLazy::waitAndTryObtain(unsigned int timeout) {
  return kestle_detail::waitAndTryObtainWord(lockWord_, waitObject()->sleepers, timeout);
}

void MutexLazy::wakeup() {
  // Only a waiter writes 2, and it publishes the wait object before that, so the object exists
  // whenever release found 2. Without one, wake anyway rather than risk a sleeper.
  LazyWaitObject* object = waitObject_.load(std::memory_order_acquire);
  if (object == nullptr) {
    kestle_detail::futexWake(lockWord_, 1);
  } else {
    kestle_detail::wakeOne(lockWord_, object->sleepers);
  }
}
