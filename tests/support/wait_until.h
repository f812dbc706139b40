// Waiting for a condition that another thread brings about, without sleeping for a fixed time:
// the caller polls, yielding between looks. The bound only keeps a faulty build from hanging.
#pragma once

#include <chrono>
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

}  // namespace kestle_test
