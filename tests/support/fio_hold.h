// Deterministic concurrency for the raw file layer's tests: a file-fault hook that records every
// primitive call and parks chosen reads inside the platform until the test lets them go.
#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "kestle/platform/control.h"

namespace kestle_test {

class HeldOp;

// One primitive call as the hook saw it, with the kernel id of the calling thread.
struct SeenCall {
  Platform::FileCall call;
  int thread;
};

// Installs the hook for its life. A HeldOp's thread parks at its first Read or Read2 (when the
// HeldOp asks for parking); every call is recorded, then answered by `answer` when one is set.
class CallRecorder {
 public:
  using Answer = std::function<std::optional<Platform::FileFault>(Platform::FileCall const&)>;

  CallRecorder();
  ~CallRecorder();
  CallRecorder(CallRecorder const&) = delete;
  CallRecorder& operator=(CallRecorder const&) = delete;

  // Set while no operation runs.
  void answerWith(Answer answer) { answer_ = std::move(answer); }
  // Answers calls of `op` (on `handle` only, when it is not null) with `code`; others run.
  void failOn(Platform::FileOp op, unsigned long code, void* handle = nullptr);

  std::vector<SeenCall> calls() const;
  // Calls of `op`; on `handle` only when it is not null.
  int count(Platform::FileOp op, void* handle = nullptr) const;
  // Calls made by the thread with kernel id `thread`.
  int countFrom(int thread) const;
  void clear();

 private:
  std::optional<Platform::FileFault> onCall(Platform::FileCall const& call);

  mutable std::mutex mu_;
  std::vector<SeenCall> calls_;
  Answer answer_;
  Platform::FileFaultHook previous_;
};

// Runs one operation on its own thread. Its first Read or Read2 primitive parks in the hook
// until release(); a HeldOp made with park false never parks.
class HeldOp {
 public:
  HeldOp(std::function<unsigned long()> op, bool park = true);
  ~HeldOp();  // releases and joins
  HeldOp(HeldOp const&) = delete;
  HeldOp& operator=(HeldOp const&) = delete;

  enum class Outcome { Parked, Done, BlockedBeforeHook };

  // Waits until the operation is parked; answers the handle its read went through.
  void* awaitParked();
  // Waits until the operation is parked, has finished, or sleeps in the kernel (a futex wait)
  // before it ever reached the hook, as a read waiting at the gate does.
  Outcome awaitOutcome();
  // Lets the operation go on and waits for its end; answers its result.
  unsigned long finish();
  bool done() const { return done_.load(); }
  int thread() const { return thread_.load(); }

 private:
  friend class CallRecorder;
  void park(void* handle);

  std::function<unsigned long()> op_;
  bool parkWanted_;
  std::mutex mu_;
  std::condition_variable cv_;
  bool parked_ = false;
  bool released_ = false;
  void* handle_ = nullptr;
  std::atomic<bool> done_{false};
  std::atomic<bool> reachedHook_{false};
  std::atomic<int> thread_{0};
  unsigned long result_ = 0;
  std::thread worker_;
};

}  // namespace kestle_test
