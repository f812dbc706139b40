// MutexLazy: a Mutex that makes no wait object until a thread first has to wait.
//
// Uncontended obtain and release are one atomic operation each on a 32-bit lock word (0 free,
// 1 held, 2 held with threads possibly waiting) plus a cached thread-id read; they make no
// system call, allocate nothing and count no statistic. Only contention reaches the waiting
// side, which sleeps on the lock word and creates the wait object (from the accounted
// allocation) on the first wait; a mutex that is never contended never holds one. A release
// makes the wake-up system call only when the word says a thread may be waiting.
//
// Reports:
//  - obtain by the thread that already holds the mutex, when constructed with checkRecursion:
//    "MutexLazy::obtain" line 62 with the name and the owner id. The thread then goes on waiting
//    for the mutex like any other thread (it never becomes a second owner), so it stays blocked
//    until some thread releases the mutex. Without checkRecursion it waits the same way, silently.
//  - tryObtain with a non-zero timeout by the holder, strategy ReportDeadlock (or an unknown
//    value): "MutexLazy::tryObtain" line 93 with the name and the owner id, then false. This test
//    is made whatever checkRecursion says.
//  - a lock word that is not 4-aligned at construction: "MutexLazy::MutexLazy" line 122.
// Each contended obtain or timed try counts 1 under the statistic given at construction, and
// the time it spent asleep, if it slept, as that statistic's time.
//
// Any thread may call obtain, tryObtain, state and lockedbyThread at any time; release is for the
// holder. The name is fixed at construction.
#pragma once

#include <atomic>
#include <cstdint>

#include "kestle/export.h"
#include "kestle/mutex.h"
#include "kestle/stat.h"

namespace kestle_detail {
struct LazyWaitObject;
}

class KESTLE_API MutexLazy : public Mutex {
 public:
  // checkRecursion: whether obtain reports a holder that asks again. name: at most 30 characters
  // are kept (null is taken as ""). id: the statistic under which waits are timed, used as is.
  // The mutex is free after construction, having made one obtain-and-release cycle.
  MutexLazy(bool checkRecursion, wchar_t const* name, Stat::Id id);
  // Recursion checking on, name "", statistic 6.
  MutexLazy();
  // Releases the wait object, if one was made. The mutex must be free and nobody waiting.
  ~MutexLazy() override;

  void obtain() override;
  void release() override;
  // Timeout in milliseconds. A timeout of 0 never waits, reports nothing and opens no statistics
  // scope; it also never lowers the "waiters" mark of the lock word.
  bool tryObtain(unsigned int timeout, DeadlockStrategy strategy) override;
  unsigned int state() const override { return lockWord_.load(std::memory_order_relaxed); }
  int lockedbyThread() const override { return ownerThread_.load(std::memory_order_relaxed); }
  wchar_t const* name() const override;

 private:
  // The waiting side, called only after a fast path found the lock word not 0.
  void waitAndObtain();
  bool waitAndTryObtain(unsigned int timeout);
  void wakeup();
  kestle_detail::LazyWaitObject* waitObject();  // created on first need

  // The fields keep their documented order, which callers may rely on. ownerThread_ shares the
  // lock word's cache line, so the holder's owner-id stores touch no second line.
  std::atomic<std::uint32_t> lockWord_;
  std::atomic<kestle_detail::LazyWaitObject*> waitObject_;
  bool checkRecursion_;
  std::atomic<int> ownerThread_;
  wchar_t mutexName_[31];
  Stat::Id statId_;
};
