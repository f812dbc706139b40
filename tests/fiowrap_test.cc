// The raw file handle: slots, the read gate, the flush before read-handle reads, the reports and
// the release of every handle. Concurrency is made deterministic by parking reads inside the
// platform, never by sleeping.
#include <gtest/gtest.h>

#include <memory>
#include <set>
#include <tuple>

#include "support/fio_support.h"

namespace {

using kestle_test::FileCalls;
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

// What a read site reports from; read and read2 differ only in these.
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
    name_ = dir_.wfile("data");
    reopen();
  }
  void TearDown() override {
    if (wrap_ != nullptr) {
      EXPECT_EQ(Fio::close(wrap_), 0u);
    }
  }
  // Opens the file and learns its main handle, as the platform sees it.
  void reopen() {
    ASSERT_EQ(Fio::open(name_.c_str(), Access::ReadWrite, Sharing::AllowReadWrite,
                        OpenFlag::OpenExisting, wrap_, false),
              0u);
    unsigned long long size = 0;
    ASSERT_EQ(Fio::getSize(wrap_, size), 0u);
    main_ = rec_.all().back().handle;
    rec_.clear();
  }

  // One read of kChunk bytes at `position`, whose bytes must be the file's.
  unsigned long readChunk(unsigned long long position, ReadKind const& kind = kPlainRead) {
    std::string buffer(kChunk, '\0'), copy(kChunk, '\0');
    unsigned got = 0;
    unsigned long code = kind.twoBuffers
                             ? Fio::read2(wrap_, position, buffer.data(), copy.data(), kChunk, got)
                             : Fio::read(wrap_, position, buffer.data(), kChunk, got);
    std::string const want =
        code != 0 ? "" : kestle_test::readWholeFile(dir_.file("data")).substr(position, kChunk);
    EXPECT_EQ(buffer.substr(0, got), want);
    EXPECT_EQ(kind.twoBuffers ? copy.substr(0, got) : want, want);
    return code;
  }
  // The same read on its own thread, to be parked inside the platform.
  std::function<unsigned long()> readOp(unsigned long long position = 0) {
    return [this, position] { return readChunk(position); };
  }
  // Leaves slot 1's read handle open (a read through it while slot 0 is busy); answers it.
  void* openReadHandle() {
    HeldOp slot0(readOp());
    slot0.awaitParked();
    EXPECT_EQ(readChunk(0), 0u);
    void* handle = rec_.all().back().handle;
    EXPECT_EQ(slot0.finish(), 0u);
    return handle;
  }
  // Checks what every report of this layer carries.
  static void expectReport(Platform::Report const& r, ReportOp op, wchar_t const* function,
                           unsigned line) {
    EXPECT_EQ(std::tie(r.op, r.flag, r.file, r.function, r.line),
              std::make_tuple(op, true, std::wstring(L"fiowrap"), std::wstring(function), line));
  }
  // The one report made so far.
  Platform::Report onlyReport(ReportOp op, wchar_t const* function, unsigned line) {
    auto reports = reports_.reports();
    EXPECT_EQ(reports.size(), 1u);
    reports.resize(1);
    expectReport(reports[0], op, function, line);
    return reports[0];
  }

  kestle_test::HeapCheck heap_;
  kestle_test::TempDir dir_;
  kestle_test::ReportCapture reports_;
  FileCalls rec_;
  std::wstring name_;
  Fio::FIOWRAP* wrap_ = nullptr;
  void* main_ = nullptr;
};

TEST_F(FiowrapTest, AfterAWriteTheFirstReadHandleReadFlushesOnceThenReopens) {
  void* h1 = openReadHandle();
  EXPECT_EQ(rec_.count(Op::Flush), 0u);  // nothing written yet

  unsigned written = 0;
  ASSERT_EQ(Fio::write(wrap_, 0, std::string(kChunk, 'W').data(), kChunk, written), 0u);
  EXPECT_EQ(written, kChunk);
  EXPECT_EQ(rec_.count(Op::Close, h1), 1u);  // the write dropped the read handle

  rec_.clear();
  auto uses = Platform::statCount(89);
  EXPECT_EQ(readChunk(0), 0u);  // slot 0 is free: no flush, no count
  EXPECT_EQ(rec_.count(Op::Flush) + rec_.count(Op::Open), 0u);
  EXPECT_EQ(Platform::statCount(89), uses);

  HeldOp slot0(readOp());
  slot0.awaitParked();
  rec_.clear();
  EXPECT_EQ(readChunk(0), 0u);  // sees the written bytes through a fresh read handle
  auto const calls = rec_.all();
  ASSERT_GE(calls.size(), 2u);  // the flush comes before the open
  EXPECT_TRUE(calls[0].op == Op::Flush && calls[0].handle == main_ && calls[1].op == Op::Open);
  EXPECT_EQ(readChunk(16), 0u);  // flushed once, not before every read
  EXPECT_EQ(rec_.count(Op::Flush), 1u);
  EXPECT_EQ(rec_.count(Op::Open), 1u);
  EXPECT_EQ(Platform::statCount(89) - uses, 2u);
  EXPECT_EQ(slot0.finish(), 0u);

  // A write whose positioning fails changes neither the read handles nor the unflushed mark:
  // without the mark the next read-handle read does not flush, with it the read still does.
  unsigned long long const beyond = ~0ull;  // refused by the platform's positioning
  for (bool marked : {false, true}) {
    written = 7;
    if (marked) {
      ASSERT_EQ(Fio::write(wrap_, 0, "y", 1, written), 0u);
    }
    rec_.clear();
    EXPECT_EQ(Fio::write(wrap_, beyond, "x", 1, written), SysError::InvalidParameter);
    EXPECT_EQ(written, 0u);
    EXPECT_EQ(rec_.count(Op::Write), 0u);
    EXPECT_EQ(rec_.count(Op::Close), 0u);
    HeldOp busy(readOp());
    busy.awaitParked();
    EXPECT_EQ(readChunk(0), 0u);
    EXPECT_EQ(rec_.count(Op::Open), marked ? 1u : 0u);  // same read handle when not marked
    EXPECT_EQ(rec_.count(Op::Flush), marked ? 1u : 0u);
    EXPECT_EQ(busy.finish(), 0u);
  }
}

class FiowrapReadKindTest : public FiowrapTest, public ::testing::WithParamInterface<ReadKind> {};

// Four reads take slots 0 to 3 and a fifth waits at the gate. Then a write holds slot 0 (parked
// in its positioning) while reads hold slots 1 to 3: a read waits for a slot; past about a
// second it reports and fails, gate unit returned; a read that is let go in time delivers.
TEST_P(FiowrapReadKindTest, SlotsInOrderAGateOfFourAndAWaitForASlot) {
  ReadKind const kind = GetParam();
  auto const uses = Platform::statCount(89);
  auto const opens = Platform::statCount(90);
  kestle_test::SleepGate clock;

  // Started one after the other, so that each finds the slots before it taken.
  auto r0 = std::make_unique<HeldOp>(readOp(0));
  EXPECT_EQ(r0->awaitParked(), main_);
  HeldOp r1(readOp(16));
  void* h1 = r1.awaitParked();
  auto r2 = std::make_unique<HeldOp>(readOp(32));
  void* h2 = r2->awaitParked();
  HeldOp r3(readOp(48));
  void* h3 = r3.awaitParked();
  EXPECT_EQ(std::set<void*>({main_, h1, h2, h3}).size(), 4u);
  EXPECT_EQ(Platform::statCount(89) - uses, 3u);   // slot 0 does not count
  EXPECT_EQ(Platform::statCount(90) - opens, 3u);  // one open per read-handle slot
  EXPECT_EQ(rec_.count(Op::Open), 3u);

  HeldOp fifth(readOp(64), false);
  EXPECT_EQ(fifth.awaitOutcome(), HeldOp::Outcome::BlockedBeforeHook);
  EXPECT_EQ(r2->finish(), 0u);  // gives back slot 2 and a gate unit
  EXPECT_EQ(fifth.finish(), 0u);
  EXPECT_EQ(rec_.count(Op::Read, h2), 2u);  // the fifth read took the freed slot, already open
  EXPECT_EQ(Platform::statCount(90) - opens, 3u);

  r2 = std::make_unique<HeldOp>(readOp(32));
  EXPECT_EQ(r2->awaitParked(), h2);
  HeldOp writer(
      [&] {
        unsigned written = 0;
        return Fio::write(wrap_, 0, pattern(kChunk).data(), kChunk, written);
      },
      true, Op::SetPos);
  EXPECT_EQ(r0->finish(), 0u);
  EXPECT_EQ(writer.awaitParked(), main_);
  EXPECT_EQ(clock.slept(), 0u);

  EXPECT_EQ(readChunk(0, kind), NoHandleError);
  EXPECT_EQ(clock.slept(), 1000u);
  EXPECT_EQ(onlyReport(ReportOp::Panic1Text, kind.function, kind.noSlotLine).text1, name_);

  clock.close();
  r0 = std::make_unique<HeldOp>([&] { return readChunk(0, kind); }, false);
  clock.awaitSleeper();
  for (HeldOp* op : {&r1, r2.get(), &r3, &writer})
    EXPECT_EQ(op->finish(), 0u);
  clock.open();
  EXPECT_EQ(r0->finish(), 0u);
  EXPECT_EQ(reports_.count(), 1u);

  // Every gate unit is back: four reads can run at once again.
  HeldOp a(readOp()), b(readOp()), c(readOp()), d(readOp());
  for (HeldOp* r : {&a, &b, &c, &d})
    EXPECT_EQ(r->awaitOutcome(), HeldOp::Outcome::Parked);
}

// A write that waits for slot 0 goes before a read that comes after it, even though slot 1 is
// free; the read sleeps until the write is done.
TEST_F(FiowrapTest, AWaitingWriteGoesBeforeLaterReads) {
  kestle_test::SleepGate clock;
  clock.close();
  HeldOp r0(readOp());
  r0.awaitParked();
  HeldOp writer(
      [&] {
        unsigned written = 0;
        return Fio::write(wrap_, 0, pattern(kChunk).data(), kChunk, written);
      },
      false);
  EXPECT_EQ(writer.awaitOutcome(), HeldOp::Outcome::BlockedBeforeHook);  // on slot 0's mutex
  HeldOp later(readOp(16));
  EXPECT_EQ(later.awaitOutcome(), HeldOp::Outcome::BlockedBeforeHook);
  EXPECT_GT(clock.slept(), 0u);         // asleep in the wait for a slot ...
  EXPECT_EQ(rec_.count(Op::Open), 0u);  // ... not through slot 1
  EXPECT_EQ(r0.finish() + writer.finish(), 0u);
  clock.open();
  EXPECT_EQ(later.awaitParked(), main_);
  EXPECT_EQ(rec_.all().back().op, Op::Read);
  EXPECT_EQ(rec_.count(Op::Write), 1u);
  EXPECT_EQ(reports_.count(), 0u);
}

// closeReadHandles takes a slot's mutex even while the slot has no handle: a resize waits for a
// read that is opening slot 1's handle, then closes that handle.
TEST_F(FiowrapTest, ClosingReadHandlesWaitsForAReadOpeningOne) {
  HeldOp r0(readOp());
  r0.awaitParked();
  HeldOp opening(readOp(), true, Op::Open);
  opening.awaitParked();
  HeldOp resize([&] { return Fio::setSize(wrap_, kFileSize); }, false);
  EXPECT_EQ(resize.awaitOutcome(), HeldOp::Outcome::BlockedBeforeHook);
  EXPECT_EQ(opening.finish(), 0u);
  EXPECT_EQ(resize.finish(), 0u);
  auto const opened = rec_.of(Op::Read).back().handle;  // the handle the parked read opened
  EXPECT_EQ(rec_.count(Op::Close, opened), 1u);
  EXPECT_EQ(r0.finish(), 0u);
}

// After a write, the read through slot 1 flushes the main handle and opens its read handle;
// both fail here, are reported, and the read goes on to fail at positioning the empty slot.
TEST_P(FiowrapReadKindTest, FlushAndOpenFailuresAreReportedAndTheReadGoesOn) {
  ReadKind const kind = GetParam();
  unsigned written = 0;
  ASSERT_EQ(Fio::write(wrap_, 0, "abc", 3, written), 0u);
  rec_.answerWith([](Platform::FileCall const& call) -> std::optional<Platform::FileFault> {
    if (call.op == Op::Flush)
      return kestle_test::failWith(SysError::IoDevice);
    if (call.op == Op::Open)
      return kestle_test::failWith(SysError::TooManyOpenFiles);
    return std::nullopt;
  });
  HeldOp slot0(readOp());
  slot0.awaitParked();
  EXPECT_EQ(readChunk(0, kind), SysError::InvalidHandle);
  auto reports = reports_.reports();
  ASSERT_EQ(reports.size(), 2u);
  for (auto const& r : reports) {
    expectReport(r, ReportOp::TrapretMe, kind.function,
                 &r == &reports[0] ? kind.flushLine : kind.openLine);
    EXPECT_FALSE(r.expression || r.text2);
  }
  EXPECT_EQ(reports[0].code, SysError::IoDevice);
  EXPECT_EQ(reports[0].text1, std::nullopt);
  EXPECT_EQ(reports[1].code, SysError::TooManyOpenFiles);
  EXPECT_EQ(reports[1].text1, name_);
  EXPECT_EQ(slot0.finish(), 0u);
}

INSTANTIATE_TEST_SUITE_P(ReadAndRead2, FiowrapReadKindTest,
                         ::testing::Values(kPlainRead,
                                           ReadKind{true, L"Fio::read2", 276, 252, 263}),
                         [](auto const& info) { return info.param.twoBuffers ? "read2" : "read"; });

// setSize drops the read handles and marks the file unflushed; flush clears the mark even when
// the platform's flush fails. The mark shows as the flush of the next read-handle read.
TEST_F(FiowrapTest, SetSizeMarksTheFileUnflushedAndFlushClearsTheMark) {
  for (bool flushFirst : {false, true}) {
    rec_.clear();
    void* h1 = openReadHandle();
    ASSERT_EQ(Fio::setSize(wrap_, 100), 0u);
    EXPECT_EQ(rec_.count(Op::Close, h1), 1u);
    unsigned long long size = 0;
    ASSERT_EQ(Fio::getSize(wrap_, size), 0u);
    EXPECT_EQ(size, 100u);
    if (flushFirst) {
      rec_.answerWith(kestle_test::failOn(Op::Flush, SysError::IoDevice));
      EXPECT_EQ(Fio::flush(wrap_), SysError::IoDevice);
      rec_.answerWith(nullptr);
    }
    rec_.clear();
    openReadHandle();
    EXPECT_EQ(rec_.count(Op::Flush), flushFirst ? 0u : 1u);
    EXPECT_EQ(rec_.count(Op::Open), 1u);
  }
}

TEST_F(FiowrapTest, AReadHandleThatFailsToCloseIsReportedAndItsSlotEmptied) {
  void* h1 = openReadHandle();
  rec_.answerWith(kestle_test::failOn(Op::Close, SysError::AccessDenied, h1));
  unsigned written = 0;
  EXPECT_EQ(Fio::write(wrap_, 0, "abc", 3, written), 0u);
  auto report = onlyReport(ReportOp::TrapretMe, L"Fio::FIOWRAP::closeReadHandles", 67);
  EXPECT_EQ(report.code, SysError::AccessDenied);
  EXPECT_EQ(report.text1, name_);
  rec_.clear();
  openReadHandle();  // the slot was emptied: a new handle is opened
  EXPECT_EQ(rec_.count(Op::Open), 1u);
}

// Close gives back every descriptor: read-handle failures are reported and do not change the
// result; a main-handle failure is the result, and the read handles are closed all the same.
TEST_F(FiowrapTest, CloseReleasesEveryHandleWhateverFails) {
  for (bool mainFails : {false, true}) {
    SCOPED_TRACE(mainFails ? "main handle fails" : "a read handle fails");
    rec_.answerWith(nullptr);
    if (wrap_ == nullptr)
      reopen();
    int const before = kestle_test::openDescriptorCount();
    HeldOp r0(readOp());
    EXPECT_EQ(r0.awaitParked(), main_);
    HeldOp r1(readOp());
    void* h1 = r1.awaitParked();
    EXPECT_EQ(readChunk(0), 0u);  // slot 2
    EXPECT_EQ(r0.finish() + r1.finish(), 0u);
    EXPECT_EQ(kestle_test::openDescriptorCount(), before + 2);

    rec_.answerWith(kestle_test::failOn(Op::Close, SysError::IoDevice, mainFails ? main_ : h1));
    reports_.clear();
    EXPECT_EQ(Fio::close(wrap_), mainFails ? SysError::IoDevice : 0u);
    EXPECT_EQ(wrap_, nullptr);
    EXPECT_EQ(rec_.count(Op::Close), 3u);
    EXPECT_EQ(kestle_test::openDescriptorCount(), before - 1);
    if (mainFails)
      EXPECT_EQ(reports_.count(), 0u);
    else
      EXPECT_EQ(onlyReport(ReportOp::Panic1Value, L"Fio::close", 122).value,
                static_cast<long long>(SysError::IoDevice));
  }
}

TEST_F(FiowrapTest, NullHandlesAreRefusedEverywhere) {
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
  EXPECT_STREQ(static_cast<wchar_t const*>(Fio::name(none)), L"(no_handle)");

  EXPECT_STREQ(static_cast<wchar_t const*>(Fio::name(wrap_)), name_.c_str());
  EXPECT_EQ(Fio::close(wrap_), 0u);
  EXPECT_EQ(Fio::close(wrap_), NoHandleError);  // the first close left the variable null
  EXPECT_EQ(reports_.count(), 0u);
}

TEST_F(FiowrapTest, PlatformCodesComeBackUnchanged) {
  Fio::FIOWRAP* other = reinterpret_cast<Fio::FIOWRAP*>(&name_);
  EXPECT_EQ(Fio::open(dir_.wfile("missing").c_str(), Access::Read, Sharing::AllowRead,
                      OpenFlag::OpenExisting, other, false),
            SysError::FileNotFound);
  EXPECT_EQ(other, nullptr);

  rec_.answerWith(kestle_test::failOn(Op::Write, SysError::DiskFull));
  unsigned written = 9;
  EXPECT_EQ(Fio::write(wrap_, 0, "abc", 3, written), SysError::DiskFull);
  EXPECT_EQ(written, 0u);
  EXPECT_EQ(kestle_test::readWholeFile(dir_.file("data")), pattern(kFileSize));
  char buffer[4];
  unsigned got = 9;
  EXPECT_EQ(Fio::read(wrap_, kFileSize + 4, buffer, 4, got), 0u);  // beyond the end: no error
  EXPECT_EQ(got, 0u);
}

}  // namespace
