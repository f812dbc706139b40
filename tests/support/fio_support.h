// Helpers for the file-layer tests: fault answers, a call recorder, operations parked in the hook.
#pragma once

#include <atomic>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "support/guards.h"

namespace kestle_test {

int openDescriptorCount();  // entries of /proc/self/fd now
void writeWholeFile(std::filesystem::path const& path, std::string const& bytes);
std::string readWholeFile(std::filesystem::path const& path);

inline Platform::FileFault failWith(unsigned long code) {
  return {code, -1, {}};
}
inline Platform::FileFault cutTo(long long count) {
  return {0, count, {}};
}

using Answer = std::function<std::optional<Platform::FileFault>(Platform::FileCall const&)>;
// Refuses the calls of `op` (on `handle` only, when it is not null) with `code`.
Answer failOn(Platform::FileOp op, unsigned long code, void* handle = nullptr);

// Records every file primitive call while it lives and answers each through `answer`.
class FileCalls {
 public:
  explicit FileCalls(Answer answer = {}) : answer_(std::move(answer)) {}
  void answerWith(Answer answer) { answer_ = std::move(answer); }  // while no operation runs
  std::vector<Platform::FileCall> of(Platform::FileOp op, void* handle = nullptr) const;
  size_t count(Platform::FileOp op, void* handle = nullptr) const { return of(op, handle).size(); }
  std::vector<Platform::FileCall> all() const;
  void clear();

 private:
  std::optional<Platform::FileFault> onCall(Platform::FileCall const& call);

  mutable std::mutex mu_;
  std::vector<Platform::FileCall> calls_;
  Answer answer_;
  FileFaultGuard guard_{[this](Platform::FileCall const& c) { return onCall(c); }};
};

// Runs one operation on its own thread. With `park`, its first `parkOn` primitive (Read also
// stands for Read2) parks in a FileCalls hook until finish().
class HeldOp {
 public:
  explicit HeldOp(std::function<unsigned long()> op, bool park = true,
                  Platform::FileOp parkOn = Platform::FileOp::Read);
  ~HeldOp() { finish(); }
  enum class Outcome { Parked, Done, BlockedBeforeHook };
  void* awaitParked();  // answers the handle the parked call went through
  // BlockedBeforeHook: asleep on a futex before it reached the hook (a read at the gate).
  Outcome awaitOutcome();
  unsigned long finish();  // lets the operation go on and answers its result

 private:
  friend class FileCalls;
  void park(void* handle);

  std::function<unsigned long()> op_;
  bool parkWanted_;
  Platform::FileOp parkOn_;
  std::mutex mu_;
  std::condition_variable cv_;
  bool parked_ = false, released_ = false;
  void* handle_ = nullptr;
  std::atomic<bool> done_{false}, reachedHook_{false};
  std::atomic<int> thread_{0};
  unsigned long result_ = 0;
  std::thread worker_;
};

// A sleep hook that adds up the milliseconds asked for and, while closed, parks every sleeper.
class SleepGate {
 public:
  SleepGate();
  ~SleepGate();
  void close();
  void open();
  void awaitSleeper();
  unsigned long long slept() const;

 private:
  mutable std::mutex mu_;
  std::condition_variable cv_;
  bool closed_ = false;
  int parked_ = 0;
  unsigned long long slept_ = 0;
  Platform::SleepHook previous_;
};

}  // namespace kestle_test
