// MutexSimplex: the fast paths, setName and the destructors. The constructor and the waiting
// side are the platform's.
#include "kestle/mutexsimplex.h"

#include "kestle/failure.h"
#include "kestle/thread.h"
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
  if (lockWord_.exchange(1, std::memory_order_seq_cst) != 0) {
    Stat::Call timed(statId_ != 0 ? statId_ : kObtainStat, 0);
    int const self = Thread::currentThreadId();
    if (ownerThread_.load(std::memory_order_relaxed) == self) {
      kestle_detail::reportRecursiveObtain(L"mutex", L"MutexSimplex::obtain", 263, mutexName_,
                                           self);
    }
    // A holder that asks again waits here like any other thread: it never becomes a second
    // owner, and it goes on once some thread releases the mutex.
    waitAndObtain();
  }
  ownerThread_.store(Thread::currentThreadId(), std::memory_order_relaxed);
}

void MutexSimplex::obtainSeq() {
  if (lockWord_.exchange(1, std::memory_order_seq_cst) != 0) {
    Stat::Call timed(statId_ != 0 ? statId_ : kObtainStat, 0);
    waitAndObtain();
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
  if (lockWord_.exchange(0, std::memory_order_seq_cst) == 2)
    wakeup();
}

void MutexSimplex::setName(wchar_t const* name) {
  kestle_detail::copyMutexName(mutexName_, name);
}
