// Waiting for a condition that another thread brings about, without sleeping for a fixed time:
// the caller polls, yielding between looks. The bound only keeps a faulty build from hanging.
#pragma once

#include <sys/syscall.h>

#include <chrono>
#include <fstream>
#include <string>
#include <thread>

namespace kestle_test {

template <class Condition>
bool waitUntil(Condition condition, std::chrono::milliseconds bound = std::chrono::seconds(20)) {
  auto const end = std::chrono::steady_clock::now() + bound;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > end)
      return false;
    std::this_thread::yield();
  }
  return true;
}

// Whether the thread with kernel id tid is blocked in a futex system call now, as the kernel
// shows it: a waiter really asleep, not one still on its way to the kernel.
inline bool asleepInFutex(int tid) {
  std::ifstream in("/proc/self/task/" + std::to_string(tid) + "/syscall");
  long number = -1;
  return (in >> number) && number == SYS_futex;
}

// Whether every thread whose id is in ids (0 while it has not started) is asleep in a futex call.
template <class Ids>
bool allAsleepInFutex(Ids const& ids) {
  for (auto const& id : ids)
    if (id.load() <= 0 || !asleepInFutex(id.load()))
      return false;
  return true;
}

}  // namespace kestle_test
