// Semaphore and EventSem: units are never handed out twice, waiters really sleep, and a raise or
// post reaches a sleeping waiter.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "kestle/kestle.h"
#include "support/wait_until.h"

namespace {

using kestle_test::asleepInFutex;
using kestle_test::waitUntil;

TEST(Semaphore, GateOfFourLetsAtMostFourThrough) {
  Semaphore gate(true, 4);
  std::atomic<int> inside{0}, over{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 2000; ++i) {
        gate.wait();
        if (inside.fetch_add(1) >= 4)
          over.fetch_add(1);
        inside.fetch_sub(1);
        gate.raise();
      }
    });
  }
  for (auto& t : threads)
    t.join();
  EXPECT_EQ(over.load(), 0);
}

// Waits on s from another thread and checks that it sleeps in the kernel until raise().
void expectSleepsUntilRaised(Semaphore& s) {
  std::atomic<int> id{0};
  std::thread waiter([&] {
    id.store(Thread::currentThreadId());
    s.wait();
    id.store(-1);
  });
  ASSERT_TRUE(waitUntil([&] { return id.load() == -1 || (id.load() > 0 && asleepInFutex(id)); }));
  EXPECT_NE(id.load(), -1);
  s.raise();
  waiter.join();
}

TEST(Semaphore, WaitSleepsWhileNoUnitIsFree) {
  Semaphore one(true, 1), none, closed(false, 3);  // the default starts without a free unit
  one.wait();
  for (Semaphore* s : {&one, &none, &closed})
    expectSleepsUntilRaised(*s);
  none.raise();
  none.raise();
  none.wait();
  none.wait();  // two raises, two units
}

TEST(EventSem, PostWakesEveryWaiterAndStaysPostedUntilReset) {
  EventSem event;
  EXPECT_FALSE(event.posted());
  EXPECT_FALSE(event.wait(10));
  std::atomic<int> ids[3] = {};
  std::vector<std::thread> threads;
  for (int i = 0; i < 3; ++i)
    threads.emplace_back([&, i] {
      ids[i].store(Thread::currentThreadId());
      if (i == 0)
        event.wait();
      else
        EXPECT_TRUE(event.wait(20000));  // a waiter the post missed gives up
    });
  ASSERT_TRUE(waitUntil([&] { return kestle_test::allAsleepInFutex(ids); }));
  event.post();
  for (auto& t : threads)
    t.join();
  EXPECT_TRUE(event.wait(0));
  event.reset();
  auto const start = std::chrono::steady_clock::now();
  EXPECT_FALSE(event.wait(20));
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(20));
}

}  // namespace
