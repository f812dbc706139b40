#include <gtest/gtest.h>

#include <chrono>

#include "kestle/kestle.h"
#include "support/wait_until.h"

namespace {
using kestle_test::startSleepers;

// No unit is free: the only one is taken, none were made, or the semaphore is the default.
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
  auto const posted = std::chrono::steady_clock::now();
  event.post();
  waiters.clear();
  EXPECT_LT(std::chrono::steady_clock::now() - posted, std::chrono::seconds(10));  // none timed out
  EXPECT_TRUE(event.posted() && event.wait(0));
  event.reset();
  auto const start = std::chrono::steady_clock::now();
  EXPECT_FALSE(event.wait(20));
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(20));
}

}  // namespace
