// Futex sleeping and waking, the waiting loops of the mutexes, and the platform's part of Mutex.
#include "platform/mutex_wait.h"

#include <linux/futex.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include "kestle/mutex.h"
#include "kestle/mutexlazy.h"
#include "kestle/mutexsimplex.h"

namespace kestle_detail {
namespace {

std::atomic<unsigned long long> futex_calls{0};

constexpr std::uint64_t kNsPerMs = 1000000;
constexpr std::uint64_t kSleepBoundNs = kSleepBoundMs * kNsPerMs;

std::uint32_t* address(std::atomic<std::uint32_t>& word) {
  static_assert(sizeof(std::atomic<std::uint32_t>) == sizeof(std::uint32_t));
  return reinterpret_cast<std::uint32_t*>(&word);
}

}  // namespace

std::uint64_t monotonicNs() {
  timespec ts;
  ::clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<std::uint64_t>(ts.tv_sec) * 1000000000u +
         static_cast<std::uint64_t>(ts.tv_nsec);
}

void futexWait(std::atomic<std::uint32_t>& word, std::uint32_t expected, std::uint64_t deadlineNs) {
  futex_calls.fetch_add(1, std::memory_order_relaxed);
  timespec ts;
  timespec* until = nullptr;
  if (deadlineNs != 0) {
    ts.tv_sec = static_cast<time_t>(deadlineNs / 1000000000u);
    ts.tv_nsec = static_cast<long>(deadlineNs % 1000000000u);
    until = &ts;
  }
  // FUTEX_WAIT_BITSET takes an absolute CLOCK_MONOTONIC deadline, so a wait that is interrupted
  // and repeated does not stretch its time bound. EINTR, EAGAIN and ETIMEDOUT all simply return:
  // the caller looks at the word again.
  ::syscall(SYS_futex, address(word), FUTEX_WAIT_BITSET | FUTEX_PRIVATE_FLAG, expected, until,
            nullptr, FUTEX_BITSET_MATCH_ANY);
}

void futexWake(std::atomic<std::uint32_t>& word, int n) {
  futex_calls.fetch_add(1, std::memory_order_relaxed);
  ::syscall(SYS_futex, address(word), FUTEX_WAKE | FUTEX_PRIVATE_FLAG, n, nullptr, nullptr, 0);
}

unsigned long long futexCalls() {
  return futex_calls.load(std::memory_order_relaxed);
}

void waitAndObtainWord(std::atomic<std::uint32_t>& word, std::atomic<std::uint32_t>& sleepers) {
  // Counting ourselves before the exchange lets a releaser that took our 2 out see the count.
  sleepers.fetch_add(1, std::memory_order_seq_cst);
  while (word.exchange(2, std::memory_order_seq_cst) != 0) {
    futexWait(word, 2, monotonicNs() + kSleepBoundNs);
  }
  sleepers.fetch_sub(1, std::memory_order_seq_cst);
}

bool waitAndTryObtainWord(std::atomic<std::uint32_t>& word, std::atomic<std::uint32_t>& sleepers,
                          unsigned timeoutMs) {
  std::uint64_t const deadline = monotonicNs() + timeoutMs * kNsPerMs;
  bool obtained = false;
  sleepers.fetch_add(1, std::memory_order_seq_cst);
  for (;;) {
    if (word.exchange(2, std::memory_order_seq_cst) == 0) {
      obtained = true;
      break;
    }
    std::uint64_t const now = monotonicNs();
    if (now >= deadline)
      break;  // the word stays 2: other waiters are not forgotten
    futexWait(word, 2, deadline - now < kSleepBoundNs ? deadline : now + kSleepBoundNs);
  }
  sleepers.fetch_sub(1, std::memory_order_seq_cst);
  return obtained;
}

void wakeOne(std::atomic<std::uint32_t>& word, std::atomic<std::uint32_t> const& sleepers) {
  if (sleepers.load(std::memory_order_seq_cst) != 0)
    futexWake(word, 1);
}

}  // namespace kestle_detail

Mutex::~Mutex() = default;

wchar_t const* Mutex::name() const {
  // The base holds no data; the platform knows its two named mutex classes.
  if (auto const* lazy = dynamic_cast<MutexLazy const*>(this))
    return lazy->mutexName_;
  if (auto const* simplex = dynamic_cast<MutexSimplex const*>(this))
    return simplex->mutexName_;
  return L"";
}
