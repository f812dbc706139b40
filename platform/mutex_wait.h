// The waiting side of the library's mutexes and of the platform's semaphores: sleeping on a
// 32-bit word with the kernel's futex.
//
// Lock-word protocol shared with the mutexes' fast paths: 0 free, 1 held, 2 held and threads may
// be waiting. A waiter exchanges 2 into the word before every sleep and holds the mutex when that
// exchange answers 0, so a mark that a fast path lowered to 1 behind its back is put back before
// it sleeps again. Every sleep is bounded (kSleepBound), so even a lost wake-up only delays a
// waiter, it never strands it. A timed wait that gives up leaves the word at 2, never at 1.
//
// Each waiter counts itself in a sleepers word while it waits; wakeOne makes the wake-up system
// call only when that count is not 0.
#pragma once

#include <atomic>
#include <cstdint>

#include "kestle/export.h"

namespace kestle_detail {

// How long one sleep lasts at most before the waiter looks at the word again, in milliseconds.
constexpr unsigned kSleepBoundMs = 1000;

// The wait object a MutexLazy creates on its first wait.
struct LazyWaitObject {
  std::atomic<std::uint32_t> sleepers{0};
};

// Returns when the caller holds the mutex of word (the word is then 2).
void waitAndObtainWord(std::atomic<std::uint32_t>& word, std::atomic<std::uint32_t>& sleepers);
// The same within timeoutMs milliseconds; tells whether the caller holds the mutex.
bool waitAndTryObtainWord(std::atomic<std::uint32_t>& word, std::atomic<std::uint32_t>& sleepers,
                          unsigned timeoutMs);
// Wakes one thread sleeping on word, if sleepers says there is one.
void wakeOne(std::atomic<std::uint32_t>& word, std::atomic<std::uint32_t> const& sleepers);

// Sleeps while word holds expected, until woken, interrupted or past the absolute monotonic
// deadline (nanoseconds of CLOCK_MONOTONIC; 0 means no deadline). Spurious returns are possible:
// callers look at the word again.
void futexWait(std::atomic<std::uint32_t>& word, std::uint32_t expected, std::uint64_t deadlineNs);
// Wakes up to n threads sleeping on word.
void futexWake(std::atomic<std::uint32_t>& word, int n);
// CLOCK_MONOTONIC now, in nanoseconds.
std::uint64_t monotonicNs();

// The number of futex system calls made so far by the whole process, for tests that prove a
// path makes none.
KESTLE_API unsigned long long futexCalls();

}  // namespace kestle_detail
