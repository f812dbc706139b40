// Semaphore and EventSem: units are never handed out twice, waiters really sleep, and a raise or
// post reaches a sleeping waiter.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "kestle/kestle.h"
#include "platform/mutex_wait.h"
#include "support/wait_until.h"

namespace {

using kestle_test::waitUntil;

TEST(Semaphore, GateOfFourLetsAtMostFourThrough) {
  Semaphore gate(true, 4);
  std::atomic<int> inside{0}, most{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 2000; ++i) {
        gate.wait();
        int const now = inside.fetch_add(1) + 1;
        int seen = most.load();
        while (now > seen && !most.compare_exchange_weak(seen, now)) {
        }
        inside.fetch_sub(1);
        gate.raise();
      }
    });
  }
  for (auto& t : threads)
    t.join();
  EXPECT_LE(most.load(), 4);
  EXPECT_GE(most.load(), 1);
}

// Waits on s from another thread and checks that it sleeps in the kernel until raise().
void expectSleepsUntilRaised(Semaphore& s) {
  unsigned long long const calls = kestle_detail::futexCalls();
  std::atomic<bool> through{false};
  std::thread waiter([&] {
    s.wait();
    through.store(true);
  });
  ASSERT_TRUE(waitUntil([&] { return through.load() || kestle_detail::futexCalls() > calls; }));
  EXPECT_FALSE(through.load());
  s.raise();
  waiter.join();
  EXPECT_TRUE(through.load());
}

TEST(Semaphore, WaitSleepsWhileNoUnitIsFree) {
  Semaphore one(true, 1);
  one.wait();
  expectSleepsUntilRaised(one);

  Semaphore none;  // the default starts without a free unit
  expectSleepsUntilRaised(none);
  none.raise();
  none.raise();
  none.wait();
  none.wait();  // two raises, two units

  Semaphore closed(false, 3);
  expectSleepsUntilRaised(closed);
}

TEST(EventSem, PostWakesEveryWaiterAndStaysPostedUntilReset) {
  EventSem event;
  EXPECT_FALSE(event.posted());
  EXPECT_FALSE(event.wait(10));
  std::atomic<int> woken{0};
  std::vector<std::thread> threads;
  for (int i = 0; i < 3; ++i) {
    threads.emplace_back([&] {
      event.wait();
      woken.fetch_add(1);
    });
  }
  event.post();
  for (auto& t : threads)
    t.join();
  EXPECT_EQ(woken.load(), 3);
  EXPECT_TRUE(event.wait(0));
  event.reset();
  auto const start = std::chrono::steady_clock::now();
  EXPECT_FALSE(event.wait(20));
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(20));
}

}  // namespace
