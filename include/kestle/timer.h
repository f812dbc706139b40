// Interval timers over the system's monotonic counter (std::chrono::steady_clock).
//
// A timer adds up the ticks between each start and the following stop; elapsed() answers that sum
// plus, while the timer runs, the ticks since the last start. A timer is a plain value used by one
// thread at a time; the free functions may be called from any thread.
#pragma once

#include <cstdint>

#include "kestle/export.h"

namespace SystemTimer {

// Ticks of the counter per second (fixed for the life of the process, never 0).
KESTLE_API unsigned long long frequency();
// The counter now, in ticks.
KESTLE_API unsigned long long counter();
// A number of ticks in whole microseconds and in whole milliseconds (rounded down; no overflow
// for any tick count).
KESTLE_API unsigned long long ctrUs(unsigned long long ticks);
KESTLE_API unsigned long long ctrMs64(unsigned long long ticks);

class KESTLE_API baseTimer {
 public:
  baseTimer();  // not running, nothing elapsed
  baseTimer(baseTimer const&) = default;
  baseTimer& operator=(baseTimer const& other);  // copies the three fields
  baseTimer& operator=(baseTimer&& other);

  // Starts measuring. Starting a running timer changes nothing.
  void start();
  // Adds the ticks since start to the sum and stops. Stopping a stopped timer changes nothing.
  void stop();
  // Sets the sum to zero and counts again from now; a running timer keeps running, a stopped one
  // stays stopped.
  void reset();
  // The ticks counted so far.
  unsigned long long elapsed() const;

  bool running() const;
  unsigned long long elapsedUs() const;  // elapsed() in microseconds
  unsigned long long elapsedMs() const;  // elapsed() in milliseconds

 private:
  std::uint64_t started_;  // counter at the last start or reset while running
  std::uint64_t total_;    // ticks added up by earlier stops
  std::uint32_t running_;  // nonzero while running
};

class KESTLE_API timer : public baseTimer {
 public:
  // A timer that runs from construction when start is true.
  explicit timer(bool start);
  timer(timer const&) = default;
  timer& operator=(timer const& other);  // copies the three fields
  timer& operator=(timer&& other);
};

}  // namespace SystemTimer
