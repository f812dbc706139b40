// The raw file handle; reads are parked inside the platform, never timed.

#include <sys/syscall.h>

#include <atomic>
#include <memory>
#include <set>
#include <thread>

#include "support/fio_support.h"
#include "support/thread_syscall.h"

namespace {

using namespace kestle_test;

// Runs one operation on its own thread. With `park`, its first `parkOn` call (Read also stands for
// Read2) parks in the file-call hook until finish().
class HeldOp {
 public:
  enum class Outcome { Running, Parked, Done, BlockedBeforeHook };
  explicit HeldOp(std::function<unsigned long()> op, bool park = true, Op parkOn = Op::Read)
      : worker_([this, op, park, parkOn]() mutable {
          thread_ = Thread::currentThreadId();
          onRecordedCall = [&](Platform::FileCall const& c) {
            reachedHook_ = true;
            if (park && (c.op == Op::Read2 ? Op::Read : c.op) == parkOn) {
              park = false;
              handle_ = c.handle;
              state_ = Outcome::Parked;
              state_.notify_all();
              released_.wait(false);
            }
          };
          result_ = op();
          state_ = Outcome::Done;
          state_.notify_all();
        }) {}
  ~HeldOp() { finish(); }
  void* awaitParked() {  // answers the handle the parked call went through
    state_.wait(Outcome::Running);
    return handle_;
  }
  unsigned long finish() {  // lets the operation go on and answers its result
    released_ = true;
    released_.notify_all();
    if (worker_.joinable())
      worker_.join();
    return result_;
  }
  // BlockedBeforeHook: asleep on one futex word (a read at the gate) before it reached the hook,
  // seen many looks in a row so that a short lock wait is not taken for it.
  Outcome awaitOutcome() {
    std::string last;
    for (int same = 0; same < 200; std::this_thread::yield()) {
      if (state_ != Outcome::Running)
        return state_;
      ThreadSyscall const now = threadSyscall(thread_);
      bool const futex = !reachedHook_ && now.number == SYS_futex;
      same = futex && now.firstArgument == last ? same + 1 : 0;
      last = futex ? now.firstArgument : "";
    }
    return Outcome::BlockedBeforeHook;
  }

 private:
  std::atomic<Outcome> state_{Outcome::Running};
  std::atomic<bool> released_{false}, reachedHook_{false};
  std::atomic<int> thread_{0};  // 0 until the thread runs: no such task, so not yet blocked
  void* handle_ = nullptr;
  unsigned long result_ = 0;
  std::thread worker_;  // last: starts once everything above is there
};

// A sleep hook that adds up the milliseconds asked for and, while closed, parks every sleeper.
struct SleepGate {
  ~SleepGate() { setClosed(false); }
  void setClosed(bool closed) {
    closed_ = closed;
    closed_.notify_all();
  }

  std::atomic<bool> closed_{false};
  std::atomic<int> sleepers_{0};
  std::atomic<unsigned long long> slept_{0};
  HookGuard<Platform::SleepHook, &Platform::setSleepHook> guard_{[this](unsigned ms) {
    slept_ += ms;
    ++sleepers_;
    sleepers_.notify_all();
    closed_.wait(true);
    --sleepers_;
  }};
};

constexpr unsigned kFileSize = 64 * 1024;
constexpr unsigned kChunk = 16;

// A read and its reports (as ReportCapture::lines(), % for the file's name): no slot within the
// bound, a failed flush, a failed open.
struct ReadKind {
  bool twoBuffers;
  wchar_t const *noSlot, *flushFailed, *openFailed;
};
constexpr ReadKind kPlainRead{false, L"Panic1Text 1 fiowrap:231 Fio::read - % - 0 0",
                              L"TrapretMe 1 fiowrap:211 Fio::read - - - 1117 0",
                              L"TrapretMe 1 fiowrap:221 Fio::read - % - 4 0"};
constexpr ReadKind kRead2{true, L"Panic1Text 1 fiowrap:276 Fio::read2 - % - 0 0",
                          L"TrapretMe 1 fiowrap:252 Fio::read2 - - - 1117 0",
                          L"TrapretMe 1 fiowrap:263 Fio::read2 - % - 4 0"};
using Lines = std::vector<std::wstring>;

class FiowrapTest : public ::testing::Test {
 protected:
  void SetUp() override {
    writeWholeFile(dir_.file("data"), recordBytes(1, kFileSize));
    reopen();
  }
  void TearDown() override {
    if (wrap_ != nullptr) {
      EXPECT_EQ(Fio::close(wrap_), 0u);
    }
  }
  void reopen() {
    ASSERT_EQ(Fio::open(name_.c_str(), Access::ReadWrite, Sharing::AllowReadWrite,
                        OpenFlag::OpenExisting, wrap_, false),
              0u);
    unsigned long long size = 0;
    ASSERT_EQ(Fio::getSize(wrap_, size), 0u);
    main_ = calls_.of(Op::Size).back().handle;
    calls_.clear();
  }
  unsigned long readChunk(unsigned long long position, ReadKind const& kind = kPlainRead) {
    std::string buffer(kChunk, '\0'), copy(kChunk, '\0');
    unsigned got = 0;
    unsigned long code = kind.twoBuffers
                             ? Fio::read2(wrap_, position, buffer.data(), copy.data(), kChunk, got)
                             : Fio::read(wrap_, position, buffer.data(), kChunk, got);
    std::string const want =
        code != 0 ? "" : readWholeFile(dir_.file("data")).substr(position, kChunk);
    EXPECT_EQ(buffer.substr(0, got), want);
    return code;
  }
  std::function<unsigned long()> readOp(unsigned long long position = 0) {
    return [this, position] { return readChunk(position); };
  }
  std::function<unsigned long()> writeOp() {
    return [this] {
      unsigned written = 0;
      return Fio::write(wrap_, 0, recordBytes(1, kChunk).data(), kChunk, written);
    };
  }
  // Leaves slot 1's read handle open (a read through it while slot 0 is busy); answers it.
  void* openReadHandle() {
    HeldOp slot0(readOp());
    slot0.awaitParked();
    EXPECT_EQ(readChunk(0), 0u);
    void* handle = calls_.of(Op::Read).back().handle;
    EXPECT_EQ(slot0.finish(), 0u);
    return handle;
  }
  Lines reports() const { return reportLines(reports_, name_); }

  HeapCheck heap_;
  TempDir dir_;
  ReportCapture reports_;
  FileCalls calls_;
  std::wstring name_ = dir_.wfile("data");
  Fio::FIOWRAP* wrap_ = nullptr;
  void* main_ = nullptr;
};

TEST_F(FiowrapTest, WritesAndResizesDropReadHandlesAndMarkTheFileUnflushed) {
  void* h1 = openReadHandle();
  calls_.answerWith(failOn(Op::Close, SysError::AccessDenied, h1));
  unsigned written = 0;
  ASSERT_EQ(Fio::write(wrap_, 0, std::string(kChunk, 'W').data(), kChunk, written), 0u);
  EXPECT_EQ(reports(), Lines{L"TrapretMe 1 fiowrap:67 Fio::FIOWRAP::closeReadHandles - % - 5 0"});
  calls_.answerWith(nullptr);
  calls_.clear();
  EXPECT_EQ(readChunk(0), 0u);  // slot 0 is free: no flush
  EXPECT_EQ(calls_.count(Op::Flush) + calls_.count(Op::Open), 0u);

  HeldOp slot0(readOp());
  slot0.awaitParked();
  calls_.clear();
  EXPECT_EQ(readChunk(0), 0u);  // sees the written bytes through a fresh read handle
  auto const calls = calls_.of();
  ASSERT_GE(calls.size(), 2u);
  EXPECT_TRUE(calls[0].op == Op::Flush && calls[0].handle == main_ && calls[1].op == Op::Open);
  EXPECT_EQ(readChunk(16), 0u);
  EXPECT_EQ(calls_.count(Op::Flush) + 10 * calls_.count(Op::Open), 11u);  // one each
  EXPECT_EQ(slot0.finish(), 0u);
  EXPECT_EQ(Fio::write(wrap_, ~0ull, "x", 1, written), SysError::InvalidParameter);
  EXPECT_EQ(written, 0u);
  HeldOp busy(readOp());
  busy.awaitParked();
  EXPECT_EQ(readChunk(0), 0u);
  EXPECT_EQ(calls_.count(Op::Flush) + 10 * calls_.count(Op::Open), 11u);
  EXPECT_EQ(calls_.count(Op::Write) + calls_.count(Op::Close), 0u);
  EXPECT_EQ(busy.finish(), 0u);

  for (bool flushFirst : {false, true}) {
    calls_.clear();
    h1 = openReadHandle();
    ASSERT_EQ(Fio::setSize(wrap_, 100), 0u);
    EXPECT_EQ(calls_.count(Op::Close, h1), 1u);
    if (flushFirst) {
      calls_.answerWith(failOn(Op::Flush, SysError::IoDevice));
      EXPECT_EQ(Fio::flush(wrap_), SysError::IoDevice);
      calls_.answerWith(nullptr);
    }
    calls_.clear();
    openReadHandle();
    EXPECT_EQ(calls_.count(Op::Flush), flushFirst ? 0u : 1u);
  }
}

class FiowrapReadKindTest : public FiowrapTest, public ::testing::WithParamInterface<ReadKind> {};

TEST_P(FiowrapReadKindTest, SlotsInOrderAGateOfFourAndAWaitForASlot) {
  ReadKind const kind = GetParam();
  auto const uses = Platform::statCount(89);
  auto const opens = Platform::statCount(90);
  SleepGate clock;

  auto r0 = std::make_unique<HeldOp>(readOp(0));
  EXPECT_EQ(r0->awaitParked(), main_);
  HeldOp r1(readOp(16));
  void* h1 = r1.awaitParked();
  auto r2 = std::make_unique<HeldOp>(readOp(32));
  void* h2 = r2->awaitParked();
  HeldOp r3(readOp(48));
  void* h3 = r3.awaitParked();
  EXPECT_EQ(std::set<void*>({main_, h1, h2, h3}).size(), 4u);
  EXPECT_EQ(Platform::statCount(89) - uses, 3u);  // slot 0 does not count
  EXPECT_EQ(Platform::statCount(90) - opens, 3u);
  EXPECT_EQ(calls_.count(Op::Open), 3u);

  HeldOp fifth(readOp(64), false);
  EXPECT_EQ(fifth.awaitOutcome(), HeldOp::Outcome::BlockedBeforeHook);
  EXPECT_EQ(r2->finish() + fifth.finish(), 0u);
  EXPECT_EQ(calls_.count(Op::Read, h2), 2u);  // the fifth read took the freed slot, already open
  EXPECT_EQ(Platform::statCount(90) - opens, 3u);

  r2 = std::make_unique<HeldOp>(readOp(32));
  EXPECT_EQ(r2->awaitParked(), h2);
  HeldOp writer(writeOp(), true, Op::SetPos);
  EXPECT_EQ(r0->finish(), 0u);
  EXPECT_EQ(writer.awaitParked(), main_);
  EXPECT_EQ(clock.slept_.load(), 0u);
  EXPECT_EQ(readChunk(0, kind), NoHandleError);
  EXPECT_EQ(clock.slept_.load(), 1000u);
  EXPECT_EQ(reports(), Lines{kind.noSlot});

  clock.setClosed(true);
  r0 = std::make_unique<HeldOp>([&] { return readChunk(0, kind); }, false);
  clock.sleepers_.wait(0);  // a read asleep in the wait for a slot
  for (HeldOp* op : {&r1, r2.get(), &r3, &writer})
    EXPECT_EQ(op->finish(), 0u);
  clock.setClosed(false);
  EXPECT_EQ(r0->finish(), 0u);
  EXPECT_EQ(reports_.count(), 1u);

  HeldOp a(readOp()), b(readOp()), c(readOp()),
      d(readOp());  // every gate unit is back
  for (HeldOp* r : {&a, &b, &c, &d})
    EXPECT_EQ(r->awaitOutcome(), HeldOp::Outcome::Parked);
}

TEST_P(FiowrapReadKindTest, FlushAndOpenFailuresAreReportedAndTheReadGoesOn) {
  ReadKind const kind = GetParam();
  unsigned written = 0;
  ASSERT_EQ(Fio::write(wrap_, 0, "abc", 3, written), 0u);
  calls_.answerWith([](Platform::FileCall const& call) -> std::optional<Platform::FileFault> {
    if (call.op == Op::Flush || call.op == Op::Open)
      return failWith(call.op == Op::Flush ? SysError::IoDevice : SysError::TooManyOpenFiles);
    return std::nullopt;
  });
  HeldOp slot0(readOp());
  slot0.awaitParked();
  EXPECT_EQ(readChunk(0, kind), SysError::InvalidHandle);
  EXPECT_EQ(reports(), (Lines{kind.flushFailed, kind.openFailed}));
  EXPECT_EQ(slot0.finish(), 0u);
}

INSTANTIATE_TEST_SUITE_P(ReadAndRead2, FiowrapReadKindTest, ::testing::Values(kPlainRead, kRead2),
                         [](auto const& info) { return info.param.twoBuffers ? "read2" : "read"; });

TEST_F(FiowrapTest, AWaitingWriteGoesBeforeLaterReads) {
  SleepGate clock;
  clock.setClosed(true);
  HeldOp r0(readOp());
  r0.awaitParked();
  HeldOp writer(writeOp(), false);
  EXPECT_EQ(writer.awaitOutcome(), HeldOp::Outcome::BlockedBeforeHook);
  HeldOp later(readOp(16));
  EXPECT_EQ(later.awaitOutcome(), HeldOp::Outcome::BlockedBeforeHook);
  EXPECT_GT(clock.slept_.load(), 0u);     // asleep in the wait for a slot ...
  EXPECT_EQ(calls_.count(Op::Open), 0u);  // ... not through slot 1
  EXPECT_EQ(r0.finish() + writer.finish(), 0u);
  clock.setClosed(false);
  EXPECT_EQ(later.awaitParked(), main_);
  EXPECT_EQ(calls_.of().back().op, Op::Read);
  EXPECT_EQ(calls_.count(Op::Write), 1u);
  EXPECT_EQ(reports_.count(), 0u);
}

TEST_F(FiowrapTest, ClosingReadHandlesWaitsForAReadOpeningOne) {
  HeldOp r0(readOp());
  r0.awaitParked();
  HeldOp opening(readOp(), true, Op::Open);
  opening.awaitParked();
  HeldOp resize([&] { return Fio::setSize(wrap_, kFileSize); }, false);
  EXPECT_EQ(resize.awaitOutcome(), HeldOp::Outcome::BlockedBeforeHook);
  EXPECT_EQ(opening.finish() + resize.finish() + r0.finish(), 0u);
  EXPECT_EQ(calls_.count(Op::Close, calls_.of(Op::Read).back().handle), 1u);
}

TEST_F(FiowrapTest, CloseReleasesEveryHandleWhateverFails) {
  for (bool mainFails : {false, true}) {
    calls_.answerWith(nullptr);
    if (wrap_ == nullptr)
      reopen();
    int const before = openDescriptorCount();
    HeldOp r0(readOp());
    EXPECT_EQ(r0.awaitParked(), main_);
    HeldOp r1(readOp());
    void* h1 = r1.awaitParked();
    EXPECT_EQ(readChunk(0) + r0.finish() + r1.finish(), 0u);  // slot 2

    calls_.answerWith(failOn(Op::Close, SysError::IoDevice, mainFails ? main_ : h1));
    reports_.clear();
    EXPECT_EQ(Fio::close(wrap_), mainFails ? SysError::IoDevice : 0u);
    EXPECT_EQ(wrap_, nullptr);
    EXPECT_EQ(calls_.count(Op::Close), 3u);
    EXPECT_EQ(openDescriptorCount(), before - 1);
    EXPECT_EQ(reports(),
              mainFails ? Lines{} : Lines{L"Panic1Value 1 fiowrap:122 Fio::close - - - 0 1117"});
  }
}

TEST_F(FiowrapTest, NullHandlesAreRefused) {
  Fio::FIOWRAP* none = nullptr;
  char buffer[4];
  unsigned n = 5;
  unsigned long long size = 0;
  EXPECT_EQ(Fio::read(none, 0, buffer, 4, n), NoHandleError);
  EXPECT_EQ(n, 0u);
  EXPECT_EQ(
      (std::vector<unsigned long>{
          Fio::read2(none, 0, buffer, buffer, 4, n), Fio::write(none, 0, "abcd", 4, n),
          Fio::flush(none), Fio::getSize(none, size), Fio::setSize(none, 0), Fio::close(none)}),
      std::vector<unsigned long>(6, NoHandleError));
  EXPECT_EQ(std::wstring(Fio::name(none)), L"(no_handle)");
  EXPECT_EQ(std::wstring(Fio::name(wrap_)), name_);
  EXPECT_EQ(Fio::close(wrap_), 0u);
  EXPECT_EQ(Fio::close(wrap_), NoHandleError);  // the first close left the variable null
  EXPECT_EQ(reports_.count(), 0u);
}

}  // namespace
