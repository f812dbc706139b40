#include "support/fio_support.h"

#include <fstream>
#include <iterator>

namespace kestle_test {
namespace {
thread_local HeldOp* tlOp = nullptr;

// The system call the thread is in and its first argument.
std::string currentSyscall(int tid) {
  std::ifstream in("/proc/self/task/" + std::to_string(tid) + "/syscall");
  std::string number, first;
  in >> number >> first;
  return number + " " + first;
}
constexpr char kFutexSyscall[] = "202 ";  // x86-64
// Many looks in a row on the same futex word, so that a short lock wait is not taken for one.
constexpr int kStableLooks = 200;
}  // namespace

int openDescriptorCount() {
  auto const entries = std::filesystem::directory_iterator("/proc/self/fd");
  return static_cast<int>(std::distance(entries, std::filesystem::directory_iterator())) - 1;
}

void writeWholeFile(std::filesystem::path const& path, std::string const& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

std::string readWholeFile(std::filesystem::path const& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

Answer failOn(Platform::FileOp op, unsigned long code, void* handle) {
  return [=](Platform::FileCall const& c) -> std::optional<Platform::FileFault> {
    if (c.op != op || (handle != nullptr && c.handle != handle))
      return std::nullopt;
    return failWith(code);
  };
}

std::optional<Platform::FileFault> FileCalls::onCall(Platform::FileCall const& call) {
  HeldOp* held = tlOp;
  if (held != nullptr)
    held->reachedHook_.store(true);
  {
    std::lock_guard<std::mutex> lock(mu_);
    calls_.push_back(call);
  }
  bool const read = call.op == Platform::FileOp::Read || call.op == Platform::FileOp::Read2;
  if (held != nullptr && held->parkWanted_ &&
      (call.op == held->parkOn_ || (read && held->parkOn_ == Platform::FileOp::Read))) {
    held->parkWanted_ = false;
    held->park(call.handle);
  }
  return answer_ ? answer_(call) : std::nullopt;
}

std::vector<Platform::FileCall> FileCalls::of(Platform::FileOp op, void* handle) const {
  std::vector<Platform::FileCall> out;
  for (auto const& c : all())
    if (c.op == op && (handle == nullptr || c.handle == handle))
      out.push_back(c);
  return out;
}

std::vector<Platform::FileCall> FileCalls::all() const {
  std::lock_guard<std::mutex> lock(mu_);
  return calls_;
}

void FileCalls::clear() {
  std::lock_guard<std::mutex> lock(mu_);
  calls_.clear();
}

HeldOp::HeldOp(std::function<unsigned long()> op, bool park, Platform::FileOp parkOn)
    : op_(std::move(op)), parkWanted_(park), parkOn_(parkOn) {
  worker_ = std::thread([this] {
    thread_.store(Thread::currentThreadId());
    tlOp = this;
    unsigned long r = op_();
    tlOp = nullptr;
    std::lock_guard<std::mutex> lock(mu_);
    result_ = r;
    done_.store(true);
    cv_.notify_all();
  });
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
  for (int same = 0; same < kStableLooks;) {
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
    std::this_thread::yield();
  }
  return Outcome::BlockedBeforeHook;
}

SleepGate::SleepGate()
    : previous_(Platform::setSleepHook([this](unsigned ms) {
        std::unique_lock<std::mutex> lock(mu_);
        slept_ += ms;
        ++parked_;
        cv_.notify_all();
        cv_.wait(lock, [this] { return !closed_; });
        --parked_;
      })) {}

SleepGate::~SleepGate() {
  open();
  Platform::setSleepHook(previous_);
}

void SleepGate::close() {
  std::lock_guard<std::mutex> lock(mu_);
  closed_ = true;
}

void SleepGate::open() {
  {
    std::lock_guard<std::mutex> lock(mu_);
    closed_ = false;
  }
  cv_.notify_all();
}

void SleepGate::awaitSleeper() {
  std::unique_lock<std::mutex> lock(mu_);
  cv_.wait(lock, [this] { return parked_ > 0; });
}

unsigned long long SleepGate::slept() const {
  std::lock_guard<std::mutex> lock(mu_);
  return slept_;
}

}  // namespace kestle_test
