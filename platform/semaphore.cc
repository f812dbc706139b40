// The platform's counting semaphore and event, both sleeping on a futex word.
#include "kestle/semaphore.h"

#include <climits>

#include "platform/mutex_wait.h"

using kestle_detail::futexWaitUntil;
using kestle_detail::futexWake;

Semaphore::Semaphore(bool available, unsigned int count)
    : units_(available ? count : 0), sleepers_(0) {}

Semaphore::~Semaphore() = default;

void Semaphore::wait() {
  for (;;) {
    std::uint32_t units = units_.load(std::memory_order_relaxed);
    while (units != 0) {
      if (units_.compare_exchange_weak(units, units - 1, std::memory_order_acquire,
                                       std::memory_order_relaxed)) {
        return;
      }
    }
    // Count ourselves before the kernel looks at the word: a raise that comes in between either
    // sees the count and wakes us, or its unit makes the kernel refuse to sleep.
    sleepers_.fetch_add(1, std::memory_order_seq_cst);
    futexWaitUntil(units_, 0, 0);
    sleepers_.fetch_sub(1, std::memory_order_seq_cst);
  }
}

void Semaphore::raise() {
  units_.fetch_add(1, std::memory_order_seq_cst);
  if (sleepers_.load(std::memory_order_seq_cst) != 0)
    futexWake(units_, 1);
}

EventSem::EventSem() : word_(0), sleepers_(0) {}

EventSem::~EventSem() = default;

void EventSem::post() {
  word_.store(1, std::memory_order_seq_cst);
  if (sleepers_.load(std::memory_order_seq_cst) != 0)
    futexWake(word_, INT_MAX);
}

void EventSem::reset() {
  word_.store(0, std::memory_order_release);
}

bool EventSem::posted() const {
  return word_.load(std::memory_order_acquire) != 0;
}

void EventSem::wait() {
  while (word_.load(std::memory_order_acquire) == 0) {
    sleepers_.fetch_add(1, std::memory_order_seq_cst);
    futexWaitUntil(word_, 0, 0);
    sleepers_.fetch_sub(1, std::memory_order_seq_cst);
  }
}

bool EventSem::wait(unsigned int timeout) {
  std::uint64_t const deadline = kestle_detail::monotonicNs() + timeout * 1000000ull;
  while (word_.load(std::memory_order_acquire) == 0) {
    if (kestle_detail::monotonicNs() >= deadline)
      return false;
    sleepers_.fetch_add(1, std::memory_order_seq_cst);
    futexWaitUntil(word_, 0, deadline);
    sleepers_.fetch_sub(1, std::memory_order_seq_cst);
  }
  return true;
}
