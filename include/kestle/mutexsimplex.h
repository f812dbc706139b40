// MutexSimplex: a Mutex with an event made at construction, and GlobalMutex.
//
// Uncontended obtain and release are one atomic operation each on a 32-bit lock word (0 free,
// 1 held, 2 held with threads possibly waiting) plus a cached thread-id read; they make no
// system call and count no statistic. Contended waits sleep on the lock word; each counts 1, and
// the time it spent asleep, under the statistic given at construction, or under 5 (obtain,
// obtainSeq) and 8 (tryObtain) when that is 0.
//
// Reports:
//  - obtain by the thread that already holds the mutex: "MutexSimplex::obtain" line 263 with the
//    name and the owner id. The thread then goes on waiting for the mutex like any other thread
//    (it never becomes a second owner), so it stays blocked until some thread releases it.
//  - tryObtain with a non-zero timeout by the holder, strategy ReportDeadlock (or an unknown
//    value): "MutexSimplex::tryObtain" line 297 with the name and the owner id, then false.
//
// Any thread may call obtain, obtainSeq, tryObtain, state and lockedbyThread at any time; release
// is for the holder. setName is not synchronised with reports that read the name.
#pragma once

#include <atomic>
#include <cstdint>

#include "kestle/export.h"
#include "kestle/mutex.h"
#include "kestle/semaphore.h"
#include "kestle/stat.h"

class KESTLE_API MutexSimplex : public Mutex {
 public:
  // name: at most 30 characters are kept (null is taken as ""). id: the statistic under which
  // waits are timed; 0 selects 5 for obtain and obtainSeq and 8 for tryObtain.
  MutexSimplex(wchar_t const* name, Stat::Id id);
  // Name "" and statistic 0.
  MutexSimplex();
  // The mutex must be free and nobody waiting.
  ~MutexSimplex() override;

  void obtain() override;
  // Obtains without recording the owner: lockedbyThread() stays 0 and no self test is made.
  void obtainSeq();
  // Timeout in milliseconds. A timeout of 0 never waits, reports nothing and opens no statistics
  // scope; it also never lowers the "waiters" mark of the lock word.
  bool tryObtain(unsigned int timeout, DeadlockStrategy strategy) override;
  void release() override;
  unsigned int state() const override { return lockWord_.load(std::memory_order_relaxed); }
  int lockedbyThread() const override { return ownerThread_.load(std::memory_order_relaxed); }
  wchar_t const* name() const override;
  // Keeps the first 30 characters of name (null is taken as "").
  void setName(wchar_t const* name);

 private:
  // The waiting side, called only after a fast path found the lock word not 0.
  void waitAndObtain();
  bool waitAndTryObtain(unsigned int timeout);
  void wakeup();

  // The fields keep their documented order, which callers may rely on. Unlike MutexLazy's, the
  // owner id lies past the name, on another cache line than the lock word.
  std::atomic<std::uint32_t> lockWord_;
  EventSem event_;  // kept for the layout; waiters sleep on the lock word
  wchar_t mutexName_[31];
  Stat::Id statId_;
  std::atomic<int> ownerThread_;
};

// A MutexSimplex meant to be shared by the whole process. On this platform it behaves exactly as
// a MutexSimplex.
class KESTLE_API GlobalMutex : public MutexSimplex {
 public:
  GlobalMutex(wchar_t const* name, Stat::Id id) : MutexSimplex(name, id) {}
  ~GlobalMutex() override;
};
