// Futex sleeping and waking, the waiting loops of the mutexes, and the platform's part of Mutex.
#include "platform/mutex_wait.h"

#include <linux/futex.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include "kestle/mutex.h"

namespace kestle_detail {
namespace {

constexpr std::uint64_t kNsPerMs = 1000000;
constexpr std::uint64_t kSleepBoundNs = kSleepBoundMs * kNsPerMs;

// When the calling thread first slept inside the current WaitStat scope; 0 when it has not.
constinit thread_local std::uint64_t firstSleepNs [[gnu::tls_model("initial-exec")]] = 0;

std::uint32_t* address(std::atomic<std::uint32_t>& word) {
  static_assert(sizeof(std::atomic<std::uint32_t>) == sizeof(std::uint32_t));
  return reinterpret_cast<std::uint32_t*>(&word);
}

void noteSleep() {
  if (firstSleepNs == 0)
    firstSleepNs = monotonicNs();
}

}  // namespace

std::uint64_t monotonicNs() {
  timespec ts;
  ::clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<std::uint64_t>(ts.tv_sec) * 1000000000u +
         static_cast<std::uint64_t>(ts.tv_nsec);
}

void futexWaitFor(std::atomic<std::uint32_t>& word, std::uint32_t expected, unsigned ms) {
  // A relative timeout: the kernel measures it, so no clock read of ours comes first. EINTR,
  // EAGAIN and ETIMEDOUT all simply return: the caller looks at the word again.
  timespec const bound{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000};
  ::syscall(SYS_futex, address(word), FUTEX_WAIT | FUTEX_PRIVATE_FLAG, expected, &bound, nullptr,
            0);
}

void futexWaitUntil(std::atomic<std::uint32_t>& word, std::uint32_t expected,
                    std::uint64_t deadlineNs) {
  timespec ts;
  timespec* until = nullptr;
  if (deadlineNs != 0) {
    ts.tv_sec = static_cast<time_t>(deadlineNs / 1000000000u);
    ts.tv_nsec = static_cast<long>(deadlineNs % 1000000000u);
    until = &ts;
  }
  // FUTEX_WAIT_BITSET takes an absolute CLOCK_MONOTONIC deadline, so a wait that is interrupted
  // and repeated does not stretch its time bound.
  ::syscall(SYS_futex, address(word), FUTEX_WAIT_BITSET | FUTEX_PRIVATE_FLAG, expected, until,
            nullptr, FUTEX_BITSET_MATCH_ANY);
}

void futexWake(std::atomic<std::uint32_t>& word, int n) {
  ::syscall(SYS_futex, address(word), FUTEX_WAKE | FUTEX_PRIVATE_FLAG, n, nullptr, nullptr, 0);
}

void waitAndObtainWord(std::atomic<std::uint32_t>& word) {
  // A word already at 2 goes straight to sleep: exchanging 2 into it would change nothing.
  if (word.load(std::memory_order_relaxed) == 2) {
    noteSleep();
    futexWaitFor(word, 2, kSleepBoundMs);
  }
  while (word.exchange(2, std::memory_order_seq_cst) != 0) {
    noteSleep();
    futexWaitFor(word, 2, kSleepBoundMs);
  }
}

bool waitAndTryObtainWord(std::atomic<std::uint32_t>& word, unsigned timeoutMs) {
  std::uint64_t const deadline = monotonicNs() + timeoutMs * kNsPerMs;
  for (;;) {
    if (word.exchange(2, std::memory_order_seq_cst) == 0)
      return true;
    std::uint64_t const now = monotonicNs();
    if (now >= deadline)
      return false;  // the word stays 2: other waiters are not forgotten
    if (firstSleepNs == 0)
      firstSleepNs = now;
    futexWaitUntil(word, 2, deadline - now < kSleepBoundNs ? deadline : now + kSleepBoundNs);
  }
}

WaitStat::~WaitStat() {
  std::uint64_t const slept = firstSleepNs;
  if (slept != 0) {
    firstSleepNs = 0;
    addStat(id_, 0, monotonicNs() - slept);
  }
}

}  // namespace kestle_detail

Mutex::~Mutex() = default;

wchar_t const* Mutex::name() const {
  return L"";
}
