// MutexLazy: construction and the fast paths. The waiting side is the platform's.
#include "kestle/mutexlazy.h"

#include <cstdint>

#include "kestle/failure.h"
#include "kestle/strings.h"
#include "platform/report.h"
#include "sync/mutex_detail.h"

MutexLazy::MutexLazy(bool checkRecursion, wchar_t const* name, Stat::Id id)
    : lockWord_(0),
      waitObject_(nullptr),
      checkRecursion_(checkRecursion),
      ownerThread_(0),
      statId_(id) {
  auto const address = reinterpret_cast<std::uintptr_t>(&lockWord_);
  if (address % 4 != 0) {
    WString const text = FString::numstr(address, 10, 0, L' ');
    kestle_detail::Reporter::PanicMe(false, L"mutexlazy", L"MutexLazy::MutexLazy", 122, text,
                                     nullptr, 0);
  }
  kestle_detail::copyMutexName(mutexName_, name);
  // One uncontended cycle, so a constructed mutex has been through obtain and release once.
  MutexLazy::obtain();
  MutexLazy::release();
}

MutexLazy::MutexLazy() : MutexLazy(true, L"", 6) {}

void MutexLazy::obtain() {
  // The id is read before the lock is taken, so the hold is not lengthened by it.
  int const self = kestle_detail::threadId();
  if (!kestle_detail::takeFreeWord(lockWord_)) [[unlikely]] {
    kestle_detail::obtainContended(ownerThread_, checkRecursion_, self, statId_, L"mutexlazy",
                                   L"MutexLazy::obtain", 62, mutexName_,
                                   [this] { waitAndObtain(); });
  }
  ownerThread_.store(self, std::memory_order_relaxed);
}

bool MutexLazy::tryObtain(unsigned int timeout, DeadlockStrategy strategy) {
  return kestle_detail::tryObtainWord(lockWord_, ownerThread_, timeout, strategy, statId_,
                                      L"mutexlazy", L"MutexLazy::tryObtain", 93, mutexName_,
                                      [this](unsigned t) { return waitAndTryObtain(t); });
}

void MutexLazy::release() {
  ownerThread_.store(0, std::memory_order_relaxed);
  if (lockWord_.exchange(0, std::memory_order_seq_cst) == 2) [[unlikely]]
    wakeup();
}

wchar_t const* MutexLazy::name() const {
  return mutexName_;
}
