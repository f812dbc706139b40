// The raw file handle; reads are parked inside the platform, never timed.
#include <gtest/gtest.h>

#include <memory>
#include <set>
#include <tuple>

#include "support/fio_support.h"

namespace {

using kestle_test::HeldOp;
using Op = Platform::FileOp;
using ReportOp = Platform::Report::Op;

constexpr unsigned kFileSize = 64 * 1024;
constexpr unsigned kChunk = 16;

std::string pattern(unsigned length) {
  std::string s(length, '\0');
  for (unsigned i = 0; i < length; ++i)
    s[i] = static_cast<char>(i / 4096 * 31 + i % 251);
  return s;
}

struct ReadKind {
  bool twoBuffers;
  wchar_t const* function;
  unsigned noSlotLine, flushLine, openLine;
};
constexpr ReadKind kPlainRead{false, L"Fio::read", 231, 211, 221};

class FiowrapTest : public ::testing::Test {
 protected:
  void SetUp() override {
    kestle_test::writeWholeFile(dir_.file("data"), pattern(kFileSize));
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
    main_ = calls_.all().back().handle;
    calls_.clear();
  }
  unsigned long readChunk(unsigned long long position, ReadKind const& kind = kPlainRead) {
    std::string buffer(kChunk, '\0'), copy(kChunk, '\0');
    unsigned got = 0;
    unsigned long code = kind.twoBuffers
                             ? Fio::read2(wrap_, position, buffer.data(), copy.data(), kChunk, got)
                             : Fio::read(wrap_, position, buffer.data(), kChunk, got);
    std::string const want =
        code != 0 ? "" : kestle_test::readWholeFile(dir_.file("data")).substr(position, kChunk);
    EXPECT_EQ(buffer.substr(0, got), want);
    return code;
  }
  std::function<unsigned long()> readOp(unsigned long long position = 0) {
    return [this, position] { return readChunk(position); };
  }
  std::function<unsigned long()> writeOp() {
    return [this] {
      unsigned written = 0;
      return Fio::write(wrap_, 0, pattern(kChunk).data(), kChunk, written);
    };
  }
  // Leaves slot 1's read handle open (a read through it while slot 0 is busy); answers it.
  void* openReadHandle() {
    HeldOp slot0(readOp());
    slot0.awaitParked();
    EXPECT_EQ(readChunk(0), 0u);
    void* handle = calls_.all().back().handle;
    EXPECT_EQ(slot0.finish(), 0u);
    return handle;
  }
  std::vector<Platform::Report> expectReports(
      std::vector<std::tuple<ReportOp, std::wstring, unsigned>> const& want) {
    auto const reports = reports_.reports();
    std::vector<std::tuple<ReportOp, std::wstring, unsigned>> got;
    for (auto const& r : reports) {
      EXPECT_TRUE(r.flag && r.file == L"fiowrap");
      got.emplace_back(r.op, r.function, r.line);
    }
    EXPECT_EQ(got, want);
    return reports;
  }

  kestle_test::HeapCheck heap_;
  kestle_test::TempDir dir_;
  kestle_test::ReportCapture reports_;
  kestle_test::FileCalls calls_;
  std::wstring name_ = dir_.wfile("data");
  Fio::FIOWRAP* wrap_ = nullptr;
  void* main_ = nullptr;
};

TEST_F(FiowrapTest, WritesAndResizesDropReadHandlesAndMarkTheFileUnflushed) {
  void* h1 = openReadHandle();
  calls_.answerWith(kestle_test::failOn(Op::Close, SysError::AccessDenied, h1));
  unsigned written = 0;
  ASSERT_EQ(Fio::write(wrap_, 0, std::string(kChunk, 'W').data(), kChunk, written), 0u);
  EXPECT_EQ(written, kChunk);
  auto const r = expectReports({{ReportOp::TrapretMe, L"Fio::FIOWRAP::closeReadHandles", 67}});
  EXPECT_EQ(std::make_pair(r[0].code, r[0].text1),
            std::make_pair(SysError::AccessDenied, std::optional(name_)));
  calls_.answerWith(nullptr);
  calls_.clear();
  EXPECT_EQ(readChunk(0), 0u);  // slot 0 is free: no flush
  EXPECT_EQ(calls_.count(Op::Flush) + calls_.count(Op::Open), 0u);

  HeldOp slot0(readOp());
  slot0.awaitParked();
  calls_.clear();
  EXPECT_EQ(readChunk(0), 0u);  // sees the written bytes through a fresh read handle
  auto const calls = calls_.all();
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
    unsigned long long size = 0;
    ASSERT_EQ(Fio::getSize(wrap_, size), 0u);
    EXPECT_EQ(size, 100u);
    if (flushFirst) {
      calls_.answerWith(kestle_test::failOn(Op::Flush, SysError::IoDevice));
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
  kestle_test::SleepGate clock;

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
  EXPECT_EQ(clock.slept(), 0u);
  EXPECT_EQ(readChunk(0, kind), NoHandleError);
  EXPECT_EQ(clock.slept(), 1000u);
  auto const report = expectReports({{ReportOp::Panic1Text, kind.function, kind.noSlotLine}});
  EXPECT_EQ(report[0].text1, name_);

  clock.close();
  r0 = std::make_unique<HeldOp>([&] { return readChunk(0, kind); }, false);
  clock.awaitSleeper();
  for (HeldOp* op : {&r1, r2.get(), &r3, &writer})
    EXPECT_EQ(op->finish(), 0u);
  clock.open();
  EXPECT_EQ(r0->finish(), 0u);
  EXPECT_EQ(reports_.count(), 1u);

  HeldOp a(readOp()), b(readOp()), c(readOp()), d(readOp());  // every gate unit is back
  for (HeldOp* r : {&a, &b, &c, &d})
    EXPECT_EQ(r->awaitOutcome(), HeldOp::Outcome::Parked);
}

TEST_P(FiowrapReadKindTest, FlushAndOpenFailuresAreReportedAndTheReadGoesOn) {
  ReadKind const kind = GetParam();
  unsigned written = 0;
  ASSERT_EQ(Fio::write(wrap_, 0, "abc", 3, written), 0u);
  calls_.answerWith([](Platform::FileCall const& call) -> std::optional<Platform::FileFault> {
    if (call.op == Op::Flush || call.op == Op::Open)
      return kestle_test::failWith(call.op == Op::Flush ? SysError::IoDevice
                                                        : SysError::TooManyOpenFiles);
    return std::nullopt;
  });
  HeldOp slot0(readOp());
  slot0.awaitParked();
  EXPECT_EQ(readChunk(0, kind), SysError::InvalidHandle);
  auto const r = expectReports({{ReportOp::TrapretMe, kind.function, kind.flushLine},
                                {ReportOp::TrapretMe, kind.function, kind.openLine}});
  EXPECT_EQ(std::make_tuple(r[0].code, r[0].text1, r[1].code, r[1].text1),
            std::make_tuple(SysError::IoDevice, std::optional<std::wstring>(),
                            SysError::TooManyOpenFiles, std::optional(name_)));
  EXPECT_EQ(slot0.finish(), 0u);
}

INSTANTIATE_TEST_SUITE_P(ReadAndRead2, FiowrapReadKindTest,
                         ::testing::Values(kPlainRead,
                                           ReadKind{true, L"Fio::read2", 276, 252, 263}),
                         [](auto const& info) { return info.param.twoBuffers ? "read2" : "read"; });

TEST_F(FiowrapTest, AWaitingWriteGoesBeforeLaterReads) {
  kestle_test::SleepGate clock;
  clock.close();
  HeldOp r0(readOp());
  r0.awaitParked();
  HeldOp writer(writeOp(), false);
  EXPECT_EQ(writer.awaitOutcome(), HeldOp::Outcome::BlockedBeforeHook);
  HeldOp later(readOp(16));
  EXPECT_EQ(later.awaitOutcome(), HeldOp::Outcome::BlockedBeforeHook);
  EXPECT_GT(clock.slept(), 0u);           // asleep in the wait for a slot ...
  EXPECT_EQ(calls_.count(Op::Open), 0u);  // ... not through slot 1
  EXPECT_EQ(r0.finish() + writer.finish(), 0u);
  clock.open();
  EXPECT_EQ(later.awaitParked(), main_);
  EXPECT_EQ(calls_.all().back().op, Op::Read);
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
    int const before = kestle_test::openDescriptorCount();
    HeldOp r0(readOp());
    EXPECT_EQ(r0.awaitParked(), main_);
    HeldOp r1(readOp());
    void* h1 = r1.awaitParked();
    EXPECT_EQ(readChunk(0) + r0.finish() + r1.finish(), 0u);  // slot 2
    EXPECT_EQ(kestle_test::openDescriptorCount(), before + 2);

    calls_.answerWith(kestle_test::failOn(Op::Close, SysError::IoDevice, mainFails ? main_ : h1));
    reports_.clear();
    EXPECT_EQ(Fio::close(wrap_), mainFails ? SysError::IoDevice : 0u);
    EXPECT_EQ(wrap_, nullptr);
    EXPECT_EQ(calls_.count(Op::Close), 3u);
    EXPECT_EQ(kestle_test::openDescriptorCount(), before - 1);
    if (mainFails)
      expectReports({});
    else
      EXPECT_EQ(expectReports({{ReportOp::Panic1Value, L"Fio::close", 122}})[0].value,
                static_cast<long long>(SysError::IoDevice));
  }
}

TEST_F(FiowrapTest, NullHandlesAreRefused) {
  Fio::FIOWRAP* none = nullptr;
  char buffer[4];
  unsigned n = 5;
  unsigned long long size = 0;
  EXPECT_EQ(Fio::read(none, 0, buffer, 4, n), NoHandleError);
  EXPECT_EQ(n, 0u);
  EXPECT_EQ(Fio::read2(none, 0, buffer, buffer, 4, n), NoHandleError);
  EXPECT_EQ(Fio::write(none, 0, "abcd", 4, n), NoHandleError);
  EXPECT_EQ(Fio::flush(none), NoHandleError);
  EXPECT_EQ(Fio::getSize(none, size), NoHandleError);
  EXPECT_EQ(Fio::setSize(none, 0), NoHandleError);
  EXPECT_EQ(Fio::close(none), NoHandleError);
  EXPECT_EQ(std::wstring(Fio::name(none)), L"(no_handle)");
  EXPECT_EQ(std::wstring(Fio::name(wrap_)), name_);

  EXPECT_EQ(Fio::close(wrap_), 0u);
  EXPECT_EQ(Fio::close(wrap_), NoHandleError);  // the first close left the variable null
  EXPECT_EQ(reports_.count(), 0u);
}

}  // namespace
