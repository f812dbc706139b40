// Mutex: the abstract interface of the library's mutexes, and the two scoped lock objects over it.
//
// Every Mutex is non-recursive and records the thread id of its holder, so that a thread that
// asks again for a mutex it already holds can be caught and reported by the implementation
// (MutexLazy, MutexSimplex). Mutexes are neither copied nor assigned; objects made on the heap go
// through the accounted allocation.
//
// Mutex::Lock serves one mutex for its whole life; Mutex::ShiftLock holds at most one mutex at a
// time, can move from one to another, and adds up the time it spent obtaining. A lock object
// belongs to the thread that uses it: the thread that obtained through it also releases through
// it. The lock objects report nothing of their own and keep no shared state.
#pragma once

#include <cstdint>

#include "kestle/alloc.h"
#include "kestle/export.h"
#include "kestle/system.h"
#include "kestle/timer.h"

class KESTLE_API Mutex : private uncopyable, public kestle::Accounted {
 public:
  // What tryObtain does when the calling thread already holds the mutex and the timeout is not 0.
  // Any other value behaves like ReportDeadlock.
  enum DeadlockStrategy {
    ReportDeadlock = 0,  // report the failure and return false
    WaitAnyway = 1,      // wait up to the timeout as if another thread held the mutex
    FailQuietly = 2,     // return false at once, without a report
  };

  class Lock;
  class ShiftLock;

  Mutex() = default;
  Mutex(Mutex const&) = delete;
  Mutex& operator=(Mutex const&) = delete;
  virtual ~Mutex();

  // Returns when the calling thread holds the mutex.
  virtual void obtain() = 0;
  // The holder gives the mutex up. The caller must hold it.
  virtual void release() = 0;
  // Obtains the mutex if that is possible within timeout milliseconds and tells whether it did.
  // A timeout of 0 takes the mutex only if it is free at once, and never waits or reports.
  virtual bool tryObtain(unsigned int timeout, DeadlockStrategy strategy) = 0;
  // The implementation's lock word: 0 free, 1 held, 2 held with threads possibly waiting.
  virtual unsigned int state() const = 0;
  // The holder's thread id, or 0 when free (or held without a recorded owner).
  virtual int lockedbyThread() const = 0;
  // The mutex's name as given at construction ("" when it has none). Never null. The base has
  // no name and answers ""; the named mutex classes override it.
  virtual wchar_t const* name() const;

  // The calling thread's id; never 0. Answered from a per-thread cache, without a system call.
  static int currentThreadId();
};

// Scoped ownership of one mutex. Not copyable.
class KESTLE_API Mutex::Lock {
 public:
  // Binds the lock to m; obtains m at once when lockNow is true.
  Lock(Mutex& m, bool lockNow);
  Lock(Lock const&) = delete;
  Lock& operator=(Lock const&) = delete;
  // Releases the mutex if this lock holds it.
  ~Lock();

  // tryObtain on the mutex with the same arguments; the lock holds the mutex exactly when this
  // answers true.
  bool tryLock(unsigned int timeout, DeadlockStrategy strategy);
  // Obtains the mutex.
  void lock();
  // Releases the mutex without looking whether this lock holds it: call it only while it does.
  void unlock();
  bool isLocked() const { return locked_; }

 private:
  Mutex* const mutex_;
  bool locked_;
};

// Ownership of at most one mutex at a time. Moving to another mutex always gives up the old one
// before the new one is asked for, so the lock never holds two. The time spent in obtain and
// tryObtain adds up until blocked() reads and resets it.
class KESTLE_API Mutex::ShiftLock {
 public:
  ShiftLock();
  ShiftLock(ShiftLock const&) = delete;
  // Copies both fields as they are. Afterwards both locks refer to the same mutex, and only one
  // of them may go on to release it; a mutex this lock held before is not released.
  ShiftLock& operator=(ShiftLock const& other);
  // Releases the held mutex, if any.
  ~ShiftLock();

  // Releases the held mutex (if any), then obtains m and holds it.
  void lock(Mutex& m);
  // Releases the held mutex (if any), then tries m with the timeout and the strategy. Answers true
  // and holds m when that succeeds. Also answers true, holding nothing, when the strategy is not
  // ReportDeadlock and the calling thread already holds m through another owner (which keeps
  // that hold). Otherwise answers false.
  bool tryLock(Mutex& m, unsigned int timeout, DeadlockStrategy strategy);
  // Releases the held mutex, if any.
  void unlock();
  bool isLocked() const { return mutex_ != nullptr; }
  // The time spent obtaining since the last call, in ticks of SystemTimer::frequency; then
  // starts counting from zero again.
  unsigned long long blocked();

 private:
  Mutex* mutex_;
  SystemTimer::timer timer_;
};
