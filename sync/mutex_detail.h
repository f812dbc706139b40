// Helpers shared by the two mutex classes: the name copy and the self-test reports.
#pragma once

#include <atomic>
#include <cstdint>
#include <cwchar>

#include "kestle/failure.h"
#include "kestle/mutex.h"
#include "kestle/stat.h"
#include "kestle/thread.h"

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

// tryObtain of both mutex classes, on their lock word and owner id. The fast path is a
// compare-exchange rather than an exchange: a failing try must not lower a 2 to 1, or the next
// release would wake nobody while a waiter sleeps. A timeout of 0 never waits, reports nothing
// and opens no statistics scope. A holder that tries again with a timeout is reported (panic2
// with the class's file, function and line, the name and its id) unless the strategy says
// otherwise; `waitAndTryObtain(timeout)` is the class's timed waiting side, timed under `stat`.
template <class Wait>
bool tryObtainWord(std::atomic<std::uint32_t>& word, std::atomic<int>& owner, unsigned timeout,
                   Mutex::DeadlockStrategy strategy, Stat::Id stat, wchar_t const* file,
                   wchar_t const* function, unsigned line, wchar_t const* name,
                   Wait waitAndTryObtain) {
  std::uint32_t expected = 0;
  if (word.compare_exchange_strong(expected, 1, std::memory_order_seq_cst)) {
    owner.store(Thread::currentThreadId(), std::memory_order_relaxed);
    return true;
  }
  if (timeout == 0)
    return false;
  int const self = Thread::currentThreadId();
  if (owner.load(std::memory_order_relaxed) == self) {
    if (strategy == Mutex::FailQuietly)
      return false;
    if (strategy != Mutex::WaitAnyway) {
      SysFailure::panic2(false, file, function, line, name, self);
      return false;
    }
  }
  Stat::Call timed(stat, 0);
  if (!waitAndTryObtain(timeout))
    return false;
  owner.store(self, std::memory_order_relaxed);
  return true;
}

}  // namespace kestle_detail
