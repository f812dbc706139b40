// The platform's waiting primitives: Semaphore (a counting semaphore) and EventSem (an event).
//
// Both sleep in the kernel while they cannot go on; neither spins. Waking a semaphore or event
// that nobody sleeps on makes no system call. Any thread may use them at any time; destroy them
// only when no thread waits on them. Neither is copied.
#pragma once

#include <atomic>
#include <cstdint>

#include "kestle/export.h"

// A counting semaphore. wait() takes one unit, blocking while none is free; raise() returns one
// (and wakes one waiter).
class KESTLE_API Semaphore {
 public:
  // No units available at first; each raise() adds one.
  Semaphore() : Semaphore(false, 1) {}
  // count units, all available at creation when available is true, none when it is false (then
  // raise() makes them available one by one).
  Semaphore(bool available, unsigned int count);
  Semaphore(Semaphore const&) = delete;
  Semaphore& operator=(Semaphore const&) = delete;
  ~Semaphore();

  // Takes one unit, sleeping while none is free.
  void wait();
  // Returns one unit and wakes one sleeping waiter, if any.
  void raise();

 private:
  std::atomic<std::uint32_t> units_;
  std::atomic<std::uint32_t> sleepers_;
};

// An event semaphore: posted or reset. wait() sleeps until the event is posted; post() wakes
// every sleeper and leaves the event posted until reset().
class KESTLE_API EventSem {
 public:
  EventSem();  // reset
  EventSem(EventSem const&) = delete;
  EventSem& operator=(EventSem const&) = delete;
  ~EventSem();

  void post();
  void reset();
  bool posted() const;
  // Sleeps until the event is posted.
  void wait();
  // Sleeps until the event is posted or timeout milliseconds have passed; tells whether it was
  // posted.
  bool wait(unsigned int timeout);

 private:
  std::atomic<std::uint32_t> word_;
  std::atomic<std::uint32_t> sleepers_;
};
