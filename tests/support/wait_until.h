// Waiting on other threads without fixed sleeps; the bound only keeps a faulty build from hanging.
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
bool waitUntil(Condition condition) {
  auto const end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (!condition()) {
    if (std::chrono::steady_clock::now() > end)
      return false;
    std::this_thread::yield();
  }
  return true;
}

// Runs body(i) on n threads; returns them (joined when destroyed) once each sleeps in futex.
template <class Body>
std::vector<std::jthread> startSleepers(int n, Body body) {
  std::vector<std::atomic<long>> ids(n);
  std::vector<std::jthread> threads;
  for (int i = 0; i < n; ++i) {
    threads.emplace_back([&ids, body, i] {
      ids[i].store(::syscall(SYS_gettid));
      body(i);
    });
  }
  EXPECT_TRUE(waitUntil([&] {
    for (auto const& id : ids) {
      std::ifstream in("/proc/self/task/" + std::to_string(id.load()) + "/syscall");
      long number = -1;
      if (id.load() == 0 || !(in >> number) || number != SYS_futex)
        return false;
    }
    return true;
  })) << "not every thread went to sleep";
  return threads;
}

}  // namespace kestle_test
