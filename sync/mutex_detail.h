// Helpers shared by the two mutex classes: the name copy, the self-test reports, the fast path
// on the lock word and tryObtain.
#pragma once

#include <atomic>
#include <cstdint>
#include <cwchar>

#include "kestle/failure.h"
#include "kestle/mutex.h"
#include "kestle/stat.h"
#include "platform/mutex_wait.h"
#include "platform/thread_id.h"

namespace kestle_detail {

// Keeps at most 30 characters of name in a 31-character field, zero-filling the rest (a null
// name is taken as ""), so the field is always terminated.
inline void copyMutexName(wchar_t (&field)[31], wchar_t const* name) {
  std::size_t n = 0;
  if (name != nullptr) {
    while (n < 30 && name[n] != L'\0') {
      field[n] = name[n];
      ++n;
    }
  }
  for (; n < 31; ++n)
    field[n] = L'\0';
}

// The report of an obtain by the thread that already holds the mutex: the name and the owner id
// in signed decimal.
void reportRecursiveObtain(wchar_t const* file, wchar_t const* function, unsigned line,
                           wchar_t const* name, int owner);

// Takes the lock word from 0 to 1, and only from 0: a word at 2 keeps its mark, so a failing
// fast path never makes the next release skip the wake-up (nor a waiter exchange once more).
inline bool takeFreeWord(std::atomic<std::uint32_t>& word) {
  std::uint32_t expected = 0;
  return word.compare_exchange_strong(expected, 1, std::memory_order_seq_cst,
                                      std::memory_order_relaxed);
}

// The contended part of obtain, out of line so that the fast path needs no stack frame: counts
// the wait under `stat`, reports a holder that asks again when `checkRecursion` says so (PanicMe
// with the class's file, function and line, the name and its id), then waits through the
// class's `waitAndObtain`. A holder that asks again waits like any other thread: it never
// becomes a second owner, and it goes on once some thread releases the mutex.
template <class Wait>
[[gnu::noinline]] void obtainContended(std::atomic<int> const& owner, bool checkRecursion, int self,
                                       Stat::Id stat, wchar_t const* file, wchar_t const* function,
                                       unsigned line, wchar_t const* name, Wait waitAndObtain) {
  WaitStat timed(stat);
  if (checkRecursion && owner.load(std::memory_order_relaxed) == self)
    reportRecursiveObtain(file, function, line, name, self);
  waitAndObtain();
}

// tryObtain of both mutex classes, on their lock word and owner id. A timeout of 0 never waits,
// reports nothing and opens no statistics scope. A holder that tries again with a timeout is
// reported (panic2 with the class's file, function and line, the name and its id) unless the
// strategy says otherwise; `waitAndTryObtain(timeout)` is the class's timed waiting side,
// counted under `stat`.
template <class Wait>
bool tryObtainWord(std::atomic<std::uint32_t>& word, std::atomic<int>& owner, unsigned timeout,
                   Mutex::DeadlockStrategy strategy, Stat::Id stat, wchar_t const* file,
                   wchar_t const* function, unsigned line, wchar_t const* name,
                   Wait waitAndTryObtain) {
  // The id is read before the lock is taken, so the hold is not lengthened by it.
  int const self = threadId();
  if (takeFreeWord(word)) [[likely]] {
    owner.store(self, std::memory_order_relaxed);
    return true;
  }
  if (timeout == 0)
    return false;
  if (owner.load(std::memory_order_relaxed) == self) {
    if (strategy == Mutex::FailQuietly)
      return false;
    if (strategy != Mutex::WaitAnyway) {
      SysFailure::panic2(false, file, function, line, name, self);
      return false;
    }
  }
  WaitStat timed(stat);
  if (!waitAndTryObtain(timeout))
    return false;
  owner.store(self, std::memory_order_relaxed);
  return true;
}

}  // namespace kestle_detail
