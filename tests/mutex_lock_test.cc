// Mutex::Lock and Mutex::ShiftLock: which mutex calls they make, in which order, and what they
// release when they end.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "kestle/kestle.h"
#include "support/guards.h"
#include "support/wait_until.h"

namespace {

using kestle_test::ReportCapture;
using kestle_test::waitUntil;

// A mutex that only writes down the calls made on it, into a log shared by several of them.
class RecordingMutex : public Mutex {
 public:
  RecordingMutex(std::vector<std::string>& log, std::string name) : log_(log), name_(name) {}
  void obtain() override {
    log_.push_back("obtain " + name_);
    // Let the lock's timer see time pass without sleeping.
    auto const start = std::chrono::steady_clock::now();
    while (std::chrono::steady_clock::now() == start) {
    }
  }
  void release() override { log_.push_back("release " + name_); }
  bool tryObtain(unsigned int timeout, DeadlockStrategy strategy) override {
    log_.push_back("try " + name_ + " " + std::to_string(timeout) + " " +
                   std::to_string(static_cast<int>(strategy)));
    return tryResult;
  }
  unsigned int state() const override { return 0; }
  int lockedbyThread() const override { return owner; }

  bool tryResult = true;
  int owner = 0;

 private:
  std::vector<std::string>& log_;
  std::string name_;
};

using Log = std::vector<std::string>;

TEST(MutexLock, ReleasesOnlyWhatItHolds) {
  Log log;
  RecordingMutex m(log, "m");
  {
    Mutex::Lock idle(m, false);
    EXPECT_FALSE(idle.isLocked());
  }
  EXPECT_EQ(log, Log{});

  {
    Mutex::Lock lock(m, true);
    EXPECT_TRUE(lock.isLocked());
    lock.unlock();
    EXPECT_FALSE(lock.isLocked());
    lock.lock();
  }
  EXPECT_EQ(log, (Log{"obtain m", "release m", "obtain m", "release m"}));

  log.clear();
  m.tryResult = false;
  {
    Mutex::Lock lock(m, false);
    EXPECT_FALSE(lock.tryLock(25, Mutex::FailQuietly));
    EXPECT_FALSE(lock.isLocked());
  }
  EXPECT_EQ(log, Log{"try m 25 2"});  // a failed try releases nothing at the end

  log.clear();
  m.tryResult = true;
  {
    Mutex::Lock lock(m, false);
    EXPECT_TRUE(lock.tryLock(0, Mutex::ReportDeadlock));
  }
  EXPECT_EQ(log, (Log{"try m 0 0", "release m"}));
}

TEST(ShiftLock, GivesUpTheOldMutexBeforeAskingForTheNext) {
  Log log;
  RecordingMutex a(log, "a"), b(log, "b");
  {
    Mutex::ShiftLock lock;
    EXPECT_FALSE(lock.isLocked());
    lock.lock(a);
    lock.lock(b);
    EXPECT_TRUE(lock.isLocked());
    EXPECT_TRUE(lock.tryLock(a, 5, Mutex::WaitAnyway));
    lock.unlock();
    EXPECT_FALSE(lock.isLocked());
    lock.unlock();  // holding nothing, it releases nothing
    lock.lock(b);
  }
  EXPECT_EQ(log, (Log{"obtain a", "release a", "obtain b", "release b", "try a 5 1", "release a",
                      "obtain b", "release b"}));
}

TEST(ShiftLock, AddsUpTheTimeSpentObtainingUntilRead) {
  Log log;
  RecordingMutex a(log, "a");
  Mutex::ShiftLock lock;
  EXPECT_EQ(lock.blocked(), 0u);
  lock.lock(a);
  lock.lock(a);
  EXPECT_GT(lock.blocked(), 0u);
  EXPECT_EQ(lock.blocked(), 0u);  // reading resets
}

TEST(ShiftLock, FailedTryHoldsNothingUnlessTheThreadAlreadyOwnsTheMutex) {
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

TEST(ShiftLock, QuietTryOnAMutexHeldThroughAnotherLockLeavesThatHoldAlone) {
  MutexLazy m(true, L"slot", 240);
  ReportCapture reports;
  Mutex::Lock outer(m, true);
  {
    Mutex::ShiftLock lock;
    EXPECT_TRUE(lock.tryLock(m, 50, Mutex::FailQuietly));
    EXPECT_FALSE(lock.isLocked());
  }
  EXPECT_EQ(m.lockedbyThread(), Mutex::currentThreadId());
  EXPECT_EQ(m.state(), 1u);
  EXPECT_EQ(reports.count(), 0u);
  EXPECT_TRUE(outer.isLocked());
}

TEST(ShiftLock, ZeroTimeoutTryOnABusyMutexFailsOnceWithoutReport) {
  MutexLazy m(true, L"busy", 241);
  ReportCapture reports;
  std::atomic<bool> held{false}, finish{false};
  std::thread holder([&] {
    m.obtain();
    held.store(true);
    waitUntil([&] { return finish.load(); });
    m.release();
  });
  ASSERT_TRUE(waitUntil([&] { return held.load(); }));
  {
    Mutex::ShiftLock lock;
    EXPECT_FALSE(lock.tryLock(m, 0, Mutex::ReportDeadlock));
    EXPECT_FALSE(lock.isLocked());
  }
  EXPECT_EQ(m.state(), 1u);
  EXPECT_EQ(reports.count(), 0u);
  EXPECT_EQ(Platform::statCount(241), 0u);
  finish.store(true);
  holder.join();
}

TEST(ShiftLock, CopyAssignmentSharesTheHeldMutex) {
  Log log;
  RecordingMutex a(log, "a");
  Mutex::ShiftLock first, second;
  first.lock(a);
  second = first;
  EXPECT_TRUE(second.isLocked());
  first.unlock();
  EXPECT_EQ(log, (Log{"obtain a", "release a"}));
  // Only one of the two may release; the other forgets the mutex by moving on.
  second = first;
  EXPECT_FALSE(second.isLocked());
}

}  // namespace
