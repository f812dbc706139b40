#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "kestle/kestle.h"

namespace {

using Log = std::vector<std::string>;

struct RecordingMutex : Mutex {
  RecordingMutex(Log& log, std::string name) : log(log), name(std::move(name)) {}
  void obtain() override {
    log.push_back("obtain " + name);
    auto const start = std::chrono::steady_clock::now();  // let the lock's timer see time pass
    while (std::chrono::steady_clock::now() == start) {
    }
  }
  void release() override { log.push_back("release " + name); }
  bool tryObtain(unsigned timeout, DeadlockStrategy strategy) override {
    log.push_back("try " + name + " " + std::to_string(timeout) + " " + std::to_string(strategy));
    return tryResult;
  }
  unsigned state() const override { return 0; }
  int lockedbyThread() const override { return owner; }

  Log& log;
  std::string name;
  bool tryResult = true;
  int owner = 0;
};

TEST(MutexLock, ReleasesOnlyWhatItHolds) {
  Log log;
  RecordingMutex m(log, "m");
  {
    Mutex::Lock idle(m, false), held(m, true), tried(m, false), failed(m, false);
    EXPECT_TRUE(tried.tryLock(0, Mutex::ReportDeadlock));
    m.tryResult = false;
    EXPECT_FALSE(failed.tryLock(25, Mutex::FailQuietly));
    held.unlock();
    EXPECT_FALSE(held.isLocked());
    held.lock();
    EXPECT_EQ(
        (std::vector<bool>{idle.isLocked(), held.isLocked(), tried.isLocked(), failed.isLocked()}),
        (std::vector<bool>{false, true, true, false}));
  }
  EXPECT_EQ(log, (Log{"obtain m", "try m 0 0", "try m 25 2", "release m", "obtain m", "release m",
                      "release m"}));
}

TEST(ShiftLock, GivesUpTheOldMutexBeforeAskingForTheNextAndTimesTheObtains) {
  Log log;
  RecordingMutex a(log, "a"), b(log, "b");
  {
    Mutex::ShiftLock lock;
    EXPECT_EQ(std::pair(lock.isLocked(), lock.blocked()), std::pair(false, 0ull));
    lock.lock(a);
    lock.lock(b);
    EXPECT_TRUE(lock.isLocked());
    EXPECT_GT(lock.blocked(), 0u);
    EXPECT_EQ(lock.blocked(), 0u);  // reading resets
    EXPECT_TRUE(lock.tryLock(a, 5, Mutex::WaitAnyway));
    lock.unlock();
    EXPECT_FALSE(lock.isLocked());
    lock.unlock();  // holding nothing, it releases nothing
    lock.lock(b);
    Mutex::ShiftLock copy;  // shares the held mutex, then forgets it by taking an empty one
    copy = lock;
    EXPECT_TRUE(copy.isLocked());
    copy = Mutex::ShiftLock();
  }
  EXPECT_EQ(log, (Log{"obtain a", "release a", "obtain b", "release b", "try a 5 1", "release a",
                      "obtain b", "release b"}));
}

TEST(ShiftLock, FailedTryHoldsNothingAndATolerantTryLeavesTheThreadsOwnHoldAlone) {
  Log log;
  RecordingMutex m(log, "m");
  m.tryResult = false;
  Mutex::ShiftLock lock;
  std::vector<bool> got;
  for (int owner : {Mutex::currentThreadId() + 1, Mutex::currentThreadId()}) {
    m.owner = owner;
    for (int strategy : {2, 1, 0, 9})  // FailQuietly, WaitAnyway, ReportDeadlock, unknown
      got.push_back(lock.tryLock(m, 10, static_cast<Mutex::DeadlockStrategy>(strategy)));
  }
  EXPECT_EQ(got, (std::vector<bool>{false, false, false, false, true, true, false, false}));
  EXPECT_FALSE(lock.isLocked());
  lock.unlock();
  EXPECT_EQ(log.size(), 8u);  // tries only
}

}  // namespace
