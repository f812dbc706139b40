// Mutex::Lock and Mutex::ShiftLock: which mutex calls they make, in which order, and what they
// release when they end.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "kestle/kestle.h"
#include "support/guards.h"

namespace {

using Log = std::vector<std::string>;

// A mutex that only writes down the calls made on it, into a log shared by several of them.
class RecordingMutex : public Mutex {
 public:
  RecordingMutex(Log& log, std::string name) : log_(log), name_(name) {}
  void obtain() override {
    log_.push_back("obtain " + name_);
    auto const start = std::chrono::steady_clock::now();  // let the lock's timer see time pass
    while (std::chrono::steady_clock::now() == start) {
    }
  }
  void release() override { log_.push_back("release " + name_); }
  bool tryObtain(unsigned int timeout, DeadlockStrategy strategy) override {
    log_.push_back("try " + name_ + " " + std::to_string(timeout) + " " + std::to_string(strategy));
    return tryResult;
  }
  unsigned int state() const override { return 0; }
  int lockedbyThread() const override { return owner; }

  bool tryResult = true;
  int owner = 0;

 private:
  Log& log_;
  std::string name_;
};

TEST(MutexLock, ReleasesOnlyWhatItHolds) {
  Log log;
  RecordingMutex m(log, "m");
  {
    Mutex::Lock idle(m, false);
    EXPECT_FALSE(idle.isLocked());
  }
  {
    Mutex::Lock lock(m, true);
    EXPECT_TRUE(lock.isLocked());
    lock.unlock();
    EXPECT_FALSE(lock.isLocked());
    lock.lock();
  }
  m.tryResult = false;
  {
    Mutex::Lock lock(m, false);
    EXPECT_FALSE(lock.tryLock(25, Mutex::FailQuietly));  // a failed try releases nothing
    EXPECT_FALSE(lock.isLocked());
  }
  m.tryResult = true;
  {
    Mutex::Lock lock(m, false);
    EXPECT_TRUE(lock.tryLock(0, Mutex::ReportDeadlock));
  }
  EXPECT_EQ(log, (Log{"obtain m", "release m", "obtain m", "release m", "try m 25 2", "try m 0 0",
                      "release m"}));
}

TEST(ShiftLock, GivesUpTheOldMutexBeforeAskingForTheNextAndTimesTheObtains) {
  Log log;
  RecordingMutex a(log, "a"), b(log, "b");
  {
    Mutex::ShiftLock lock;
    EXPECT_FALSE(lock.isLocked());
    EXPECT_EQ(lock.blocked(), 0u);
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
  }
  EXPECT_EQ(log, (Log{"obtain a", "release a", "obtain b", "release b", "try a 5 1", "release a",
                      "obtain b", "release b"}));

  // Copy assignment shares the held mutex; only one of the two may release it, and the other
  // forgets it by moving on.
  log.clear();
  Mutex::ShiftLock first, second;
  first.lock(a);
  second = first;
  EXPECT_TRUE(second.isLocked());
  first.unlock();
  second = first;
  EXPECT_FALSE(second.isLocked());
  EXPECT_EQ(log, (Log{"obtain a", "release a"}));
}

TEST(ShiftLock, FailedTryHoldsNothingAndAQuietTryLeavesTheThreadsOwnHoldAlone) {
  Log log;
  RecordingMutex m(log, "m");
  m.tryResult = false;
  Mutex::ShiftLock lock;
  m.owner = Mutex::currentThreadId() + 1;  // another thread holds it
  EXPECT_FALSE(lock.tryLock(m, 10, Mutex::FailQuietly));
  EXPECT_FALSE(lock.tryLock(m, 10, Mutex::WaitAnyway));

  m.owner = Mutex::currentThreadId();  // held by this thread through another owner
  EXPECT_TRUE(lock.tryLock(m, 10, Mutex::FailQuietly));
  EXPECT_FALSE(lock.isLocked());
  EXPECT_TRUE(lock.tryLock(m, 10, Mutex::WaitAnyway));
  EXPECT_FALSE(lock.isLocked());
  EXPECT_FALSE(lock.tryLock(m, 10, Mutex::ReportDeadlock));
  EXPECT_FALSE(lock.tryLock(m, 10, static_cast<Mutex::DeadlockStrategy>(9)));  // as ReportDeadlock
  lock.unlock();
  for (auto const& entry : log)
    EXPECT_EQ(entry.rfind("try", 0), 0u) << entry;
}

}  // namespace
