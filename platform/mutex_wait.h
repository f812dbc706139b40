// The waiting side of the library's mutexes and of the platform's semaphores: sleeping on a
// 32-bit word with the kernel's futex.
//
// Lock-word protocol shared with the mutexes' fast paths: 0 free, 1 held, 2 held and threads may
// be waiting. A waiter exchanges 2 into the word before every sleep and holds the mutex when that
// exchange answers 0, so a mark that a fast path lowered to 1 behind its back is put back before
// it sleeps again. A release that takes 2 out wakes one sleeper; the word alone says whether
// anyone may sleep. Every sleep is bounded (kSleepBoundMs), so even a lost wake-up only delays a
// waiter, it never strands it. A timed wait that gives up leaves the word at 2, never at 1.
#pragma once

#include <atomic>
#include <cstdint>

#include "kestle/stat.h"

namespace kestle_detail {

// How long one sleep lasts at most before the waiter looks at the word again, in milliseconds.
constexpr unsigned kSleepBoundMs = 1000;

// The wait object a MutexLazy makes on its first wait (and never before), kept until its
// destructor. Waiters sleep on the lock word itself, so the object carries no state of the wait.
struct LazyWaitObject {
  std::uint32_t reserved = 0;
};

// Returns when the caller holds the mutex of word (the word is then 2).
void waitAndObtainWord(std::atomic<std::uint32_t>& word);
// The same within timeoutMs milliseconds; tells whether the caller holds the mutex.
bool waitAndTryObtainWord(std::atomic<std::uint32_t>& word, unsigned timeoutMs);

// Sleeps while word holds expected, at most ms milliseconds. Spurious returns are possible:
// callers look at the word again.
void futexWaitFor(std::atomic<std::uint32_t>& word, std::uint32_t expected, unsigned ms);
// The same until the absolute deadline in nanoseconds of CLOCK_MONOTONIC (0: no deadline).
void futexWaitUntil(std::atomic<std::uint32_t>& word, std::uint32_t expected,
                    std::uint64_t deadlineNs);
// Wakes up to n threads sleeping on word.
void futexWake(std::atomic<std::uint32_t>& word, int n);
// CLOCK_MONOTONIC now, in nanoseconds (the unit of the statistics' time).
std::uint64_t monotonicNs();

// Adds count and ticks to a statistic, on the calling thread's shard of the counters.
void addStat(Stat::Id id, unsigned long long count, unsigned long long ticks);

// The statistics of one contended wait: adds 1 to the count of id when it begins (before the
// wait, so not inside the critical section that follows), and when it ends the time from the
// thread's first sleep inside the scope. A wait that never went to the kernel reads no clock.
class WaitStat {
 public:
  explicit WaitStat(Stat::Id id) : id_(id) { addStat(id, 1, 0); }
  ~WaitStat();
  WaitStat(WaitStat const&) = delete;
  WaitStat& operator=(WaitStat const&) = delete;

 private:
  Stat::Id id_;
};

}  // namespace kestle_detail
