// MutexSimplex: the fast paths, setName and the destructors. The constructor and the waiting
// side are the platform's.
#include "kestle/mutexsimplex.h"

#include "kestle/failure.h"
#include "sync/mutex_detail.h"

namespace {
// The statistics of waits when the mutex was given id 0.
constexpr Stat::Id kObtainStat = 5;
constexpr Stat::Id kTryObtainStat = 8;
}  // namespace

MutexSimplex::MutexSimplex() : MutexSimplex(L"", 0) {}

MutexSimplex::~MutexSimplex() = default;

GlobalMutex::~GlobalMutex() = default;

void MutexSimplex::obtain() {
  // The id is read before the lock is taken, so the hold is not lengthened by it.
  int const self = kestle_detail::threadId();
  if (!kestle_detail::takeFreeWord(lockWord_)) [[unlikely]] {
    kestle_detail::obtainContended(ownerThread_, true, self, statId_ != 0 ? statId_ : kObtainStat,
                                   L"mutex", L"MutexSimplex::obtain", 263, mutexName_,
                                   [this] { waitAndObtain(); });
  }
  ownerThread_.store(self, std::memory_order_relaxed);
}

void MutexSimplex::obtainSeq() {
  if (!kestle_detail::takeFreeWord(lockWord_)) [[unlikely]] {
    kestle_detail::obtainContended(ownerThread_, false, 0, statId_ != 0 ? statId_ : kObtainStat,
                                   L"mutex", L"MutexSimplex::obtainSeq", 0, mutexName_,
                                   [this] { waitAndObtain(); });
  }
}

bool MutexSimplex::tryObtain(unsigned int timeout, DeadlockStrategy strategy) {
  return kestle_detail::tryObtainWord(lockWord_, ownerThread_, timeout, strategy,
                                      statId_ != 0 ? statId_ : kTryObtainStat, L"mutex",
                                      L"MutexSimplex::tryObtain", 297, mutexName_,
                                      [this](unsigned t) { return waitAndTryObtain(t); });
}

void MutexSimplex::release() {
  ownerThread_.store(0, std::memory_order_relaxed);
  if (lockWord_.exchange(0, std::memory_order_seq_cst) == 2) [[unlikely]]
    wakeup();
}

void MutexSimplex::setName(wchar_t const* name) {
  kestle_detail::copyMutexName(mutexName_, name);
}

wchar_t const* MutexSimplex::name() const {
  return mutexName_;
}
