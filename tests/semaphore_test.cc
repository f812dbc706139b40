// Semaphore and EventSem: units are never handed out twice, waiters really sleep, and a raise or
// post reaches sleeping waiters.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "kestle/kestle.h"
#include "support/wait_until.h"

namespace {
using kestle_test::startSleepers;

TEST(Semaphore, GateOfFourLetsAtMostFourThrough) {
  Semaphore gate(true, 4);
  std::atomic<int> inside{0}, over{0};
  std::vector<std::jthread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 2000; ++i) {
        gate.wait();
        over += inside.fetch_add(1) >= 4;
        inside.fetch_sub(1);
        gate.raise();
      }
    });
  }
  threads.clear();
  EXPECT_EQ(over.load(), 0);
}

// No unit is free: the only one is taken, the semaphore was made without units, or it is the
// default. Waiters sleep until raise() gives each of them one.
TEST(Semaphore, WaitSleepsWhileNoUnitIsFreeAndEachRaiseWakesOne) {
  Semaphore one(true, 1), closed(false, 3), none;
  one.wait();
  for (Semaphore* s : {&one, &closed, &none}) {
    auto waiters = startSleepers(2, [s](int) { s->wait(); });
    s->raise();
    s->raise();
  }
}

TEST(EventSem, PostWakesEveryWaiterAndStaysPostedUntilReset) {
  EventSem event;
  EXPECT_FALSE(event.posted() || event.wait(10));
  auto waiters = startSleepers(3, [&](int i) {
    if (i == 0)
      event.wait();
    else
      EXPECT_TRUE(event.wait(20000));  // a waiter the post missed gives up
  });
  event.post();
  waiters.clear();
  EXPECT_TRUE(event.posted() && event.wait(0));
  event.reset();
  auto const start = std::chrono::steady_clock::now();
  EXPECT_FALSE(event.wait(20));
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(20));
}

}  // namespace
