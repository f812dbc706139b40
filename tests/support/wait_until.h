// Waiting for what other threads bring about, without sleeping for a fixed time. The bound only
// keeps a faulty build from hanging.
#pragma once

#include <gtest/gtest.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

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

// Whether the thread with kernel id tid is asleep in a futex call now, not still on its way there.
inline bool asleepInFutex(int tid) {
  std::ifstream in("/proc/self/task/" + std::to_string(tid) + "/syscall");
  long number = -1;
  return tid > 0 && (in >> number) && number == SYS_futex;
}

// Runs body(i) on n threads of its own and returns them (they join when destroyed) once every
// one sleeps in a futex call.
template <class Body>
std::vector<std::jthread> startSleepers(int n, Body body) {
  std::vector<std::atomic<int>> ids(n);
  std::vector<std::jthread> threads;
  for (int i = 0; i < n; ++i) {
    threads.emplace_back([&ids, body, i] {
      ids[i].store(static_cast<int>(::syscall(SYS_gettid)));
      body(i);
    });
  }
  EXPECT_TRUE(waitUntil([&] {
    for (auto const& id : ids)
      if (!asleepInFutex(id.load()))
        return false;
    return true;
  })) << "not every thread went to sleep";
  return threads;
}

}  // namespace kestle_test
