#include "support/fio_hold.h"

#include <fstream>
#include <string>

#include "kestle/thread.h"

namespace kestle_test {
namespace {
thread_local HeldOp* tlOp = nullptr;  // the HeldOp whose operation runs on this thread

// The system call the thread is in now and its first argument ("running" while it runs in user
// space), as the kernel shows them.
std::string currentSyscall(int tid) {
  std::ifstream in("/proc/self/task/" + std::to_string(tid) + "/syscall");
  std::string number, first;
  in >> number >> first;
  return number + " " + first;
}

constexpr char kFutexSyscall[] = "202 ";  // x86-64
// A thread counts as asleep on a futex when many looks in a row find it on the same word, so
// that a short wait on some lock inside the C library is not taken for one.
constexpr int kStableLooks = 200;
}  // namespace

CallRecorder::CallRecorder() {
  previous_ = Platform::setFileFaultHook([this](Platform::FileCall const& c) { return onCall(c); });
}

CallRecorder::~CallRecorder() {
  Platform::setFileFaultHook(std::move(previous_));
}

std::optional<Platform::FileFault> CallRecorder::onCall(Platform::FileCall const& call) {
  HeldOp* held = tlOp;
  if (held != nullptr)
    held->reachedHook_.store(true);
  {
    std::lock_guard<std::mutex> lock(mu_);
    calls_.push_back({call, Thread::currentThreadId()});
  }
  if (held != nullptr && held->parkWanted_ &&
      (call.op == Platform::FileOp::Read || call.op == Platform::FileOp::Read2)) {
    held->parkWanted_ = false;  // park once
    held->park(call.handle);
  }
  if (answer_)
    return answer_(call);
  return std::nullopt;
}

void CallRecorder::failOn(Platform::FileOp op, unsigned long code, void* handle) {
  answer_ = [=](Platform::FileCall const& call) -> std::optional<Platform::FileFault> {
    if (call.op != op || (handle != nullptr && call.handle != handle))
      return std::nullopt;
    Platform::FileFault fault;
    fault.code = code;
    return fault;
  };
}

std::vector<SeenCall> CallRecorder::calls() const {
  std::lock_guard<std::mutex> lock(mu_);
  return calls_;
}

int CallRecorder::count(Platform::FileOp op, void* handle) const {
  std::lock_guard<std::mutex> lock(mu_);
  int n = 0;
  for (SeenCall const& c : calls_) {
    if (c.call.op == op && (handle == nullptr || c.call.handle == handle))
      ++n;
  }
  return n;
}

int CallRecorder::countFrom(int thread) const {
  std::lock_guard<std::mutex> lock(mu_);
  int n = 0;
  for (SeenCall const& c : calls_)
    n += c.thread == thread;
  return n;
}

void CallRecorder::clear() {
  std::lock_guard<std::mutex> lock(mu_);
  calls_.clear();
}

HeldOp::HeldOp(std::function<unsigned long()> op, bool park)
    : op_(std::move(op)), parkWanted_(park) {
  worker_ = std::thread([this] {
    thread_.store(Thread::currentThreadId());
    tlOp = this;
    unsigned long r = op_();
    tlOp = nullptr;
    {
      std::lock_guard<std::mutex> lock(mu_);
      result_ = r;
    }
    done_.store(true);
    cv_.notify_all();
  });
}

HeldOp::~HeldOp() {
  if (worker_.joinable())
    finish();
}

void HeldOp::park(void* handle) {
  std::unique_lock<std::mutex> lock(mu_);
  handle_ = handle;
  parked_ = true;
  cv_.notify_all();
  cv_.wait(lock, [this] { return released_; });
}

void* HeldOp::awaitParked() {
  std::unique_lock<std::mutex> lock(mu_);
  cv_.wait(lock, [this] { return parked_ || done_.load(); });
  return handle_;
}

unsigned long HeldOp::finish() {
  {
    std::lock_guard<std::mutex> lock(mu_);
    released_ = true;
  }
  cv_.notify_all();
  if (worker_.joinable())
    worker_.join();
  return result_;
}

HeldOp::Outcome HeldOp::awaitOutcome() {
  while (thread_.load() == 0)
    std::this_thread::yield();
  std::string last;
  int same = 0;
  for (;;) {
    {
      std::lock_guard<std::mutex> lock(mu_);
      if (parked_)
        return Outcome::Parked;
    }
    if (done_.load())
      return Outcome::Done;
    std::string now = currentSyscall(thread_.load());
    bool futex = !reachedHook_.load() && now.rfind(kFutexSyscall, 0) == 0;
    same = futex && now == last ? same + 1 : 0;
    last = now;
    if (same >= kStableLooks)
      return Outcome::BlockedBeforeHook;
    std::this_thread::yield();
  }
}

}  // namespace kestle_test
