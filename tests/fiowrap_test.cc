// The raw file handle: slots, the read gate, the flush before read-handle reads, the reports and
// the release of every handle. Concurrency is made deterministic by parking reads inside the
// platform (support/fio_hold.h), never by sleeping.
#include <gtest/gtest.h>

#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "kestle/kestle.h"
#include "support/fio_hold.h"
#include "support/fio_support.h"
#include "support/guards.h"

namespace {

using kestle_test::CallRecorder;
using kestle_test::HeldOp;
using Op = Platform::FileOp;

constexpr unsigned kFileSize = 64 * 1024;
constexpr unsigned kChunk = 16;

char patternByte(unsigned long long offset) {
  return static_cast<char>(offset / 4096 * 31 + offset % 251);
}

std::string pattern(unsigned long long offset, unsigned length) {
  std::string s(length, '\0');
  for (unsigned i = 0; i < length; ++i)
    s[i] = patternByte(offset + i);
  return s;
}

// What a read site reports from; read and read2 differ only in these.
struct ReadKind {
  bool twoBuffers;
  wchar_t const* function;
  unsigned noSlotLine, flushLine, openLine;
};
void PrintTo(ReadKind const& kind, std::ostream* os) {
  *os << (kind.twoBuffers ? "read2" : "read");
}

constexpr ReadKind kPlainRead{false, L"Fio::read", 231, 211, 221};
constexpr ReadKind kDoubleRead{true, L"Fio::read2", 276, 252, 263};

class FiowrapTest : public ::testing::Test {
 protected:
  void SetUp() override {
    kestle_test::writeWholeFile(dir_.file("data"), pattern(0, kFileSize));
    name_ = dir_.wfile("data");
    ASSERT_EQ(Fio::open(name_.c_str(), Access::ReadWrite, Sharing::AllowReadWrite,
                        OpenFlag::OpenExisting, wrap_, false),
              0u);
  }
  void TearDown() override {
    if (wrap_ != nullptr) {
      EXPECT_EQ(Fio::close(wrap_), 0u);
    }
  }

  // One read of kChunk bytes at `position`; the result's bytes must be the file's.
  unsigned long readChunk(unsigned long long position, ReadKind const& kind = kPlainRead) {
    std::vector<char> buffer(kChunk), copy(kChunk);
    unsigned got = 0;
    unsigned long code = kind.twoBuffers
                             ? Fio::read2(wrap_, position, buffer.data(), copy.data(), kChunk, got)
                             : Fio::read(wrap_, position, buffer.data(), kChunk, got);
    if (code == 0) {
      EXPECT_EQ(std::string(buffer.data(), got), expected(position));
      if (kind.twoBuffers) {
        EXPECT_EQ(std::string(copy.data(), got), expected(position));
      }
    } else {
      EXPECT_EQ(got, 0u);
    }
    return code;
  }
  // The same read on its own thread, parked inside the platform until finished.
  std::function<unsigned long()> readOp(unsigned long long position = 0) {
    return [this, position] { return readChunk(position); };
  }
  std::string expected(unsigned long long position) const {
    std::string content = kestle_test::readWholeFile(dir_.file("data"));
    return content.substr(position, kChunk);
  }
  // The main handle, as the platform sees it.
  void* mainHandle(CallRecorder& rec) {
    unsigned long long size = 0;
    EXPECT_EQ(Fio::getSize(wrap_, size), 0u);
    return rec.calls().back().call.handle;
  }
  // Leaves slot 1's read handle open (a read through it while slot 0 is busy); answers it.
  void* openReadHandle(CallRecorder& rec) {
    HeldOp slot0(readOp());
    slot0.awaitParked();
    EXPECT_EQ(readChunk(0), 0u);
    void* handle = rec.calls().back().call.handle;
    EXPECT_EQ(slot0.finish(), 0u);
    return handle;
  }
  // Where in the recorded calls the first call of op lies (-1: none).
  static int firstIndex(CallRecorder const& rec, Op op) {
    auto calls = rec.calls();
    for (size_t i = 0; i < calls.size(); ++i) {
      if (calls[i].call.op == op)
        return static_cast<int>(i);
    }
    return -1;
  }
  // The one report made so far, checked for what every report of this layer carries.
  Platform::Report onlyReport(Platform::Report::Op op, wchar_t const* function, unsigned line) {
    auto reports = reports_.reports();
    EXPECT_EQ(reports.size(), 1u);
    if (reports.empty())
      return Platform::Report{};
    EXPECT_EQ(reports[0].op, op);
    EXPECT_TRUE(reports[0].flag);
    EXPECT_EQ(reports[0].file, L"fiowrap");
    EXPECT_EQ(reports[0].function, function);
    EXPECT_EQ(reports[0].line, line);
    return reports[0];
  }

  kestle_test::HeapCheck heap_;
  kestle_test::TempDir dir_;
  kestle_test::ReportCapture reports_;
  std::wstring name_;
  Fio::FIOWRAP* wrap_ = nullptr;
};

TEST_F(FiowrapTest, FourReadsTakeTheSlotsInOrderAndAFifthWaitsAtTheGate) {
  CallRecorder rec;
  void* main = mainHandle(rec);
  auto const uses = Platform::statCount(89);
  auto const opens = Platform::statCount(90);

  // Started one after the other, so that each finds the slots before it taken.
  HeldOp r0(readOp(0));
  EXPECT_EQ(r0.awaitParked(), main);
  HeldOp r1(readOp(16));
  void* h1 = r1.awaitParked();
  HeldOp r2(readOp(32));
  void* h2 = r2.awaitParked();
  HeldOp r3(readOp(48));
  void* h3 = r3.awaitParked();
  EXPECT_EQ(std::set<void*>({main, h1, h2, h3}).size(), 4u);
  EXPECT_EQ(Platform::statCount(89) - uses, 3u);   // slot 0 does not count
  EXPECT_EQ(Platform::statCount(90) - opens, 3u);  // one open per read-handle slot
  EXPECT_EQ(rec.count(Op::Open), 3);

  HeldOp fifth(readOp(64), false);
  EXPECT_EQ(fifth.awaitOutcome(), HeldOp::Outcome::BlockedBeforeHook);

  EXPECT_EQ(r2.finish(), 0u);  // gives back slot 2 and a gate unit
  EXPECT_EQ(fifth.finish(), 0u);
  EXPECT_EQ(rec.count(Op::Read, h2), 2);  // the fifth read took the freed slot, already open
  EXPECT_EQ(rec.count(Op::Open), 3);
  EXPECT_EQ(Platform::statCount(89) - uses, 4u);
  EXPECT_EQ(Platform::statCount(90) - opens, 3u);
  EXPECT_EQ(r0.finish(), 0u);
  EXPECT_EQ(r1.finish(), 0u);
  EXPECT_EQ(r3.finish(), 0u);
  EXPECT_EQ(reports_.count(), 0u);
}

TEST_F(FiowrapTest, AfterAWriteTheFirstReadHandleReadFlushesOnceThenReopens) {
  CallRecorder rec;
  void* main = mainHandle(rec);
  void* h1 = openReadHandle(rec);
  EXPECT_EQ(rec.count(Op::Flush), 0);  // nothing written yet

  std::string fresh(kChunk, 'W');
  unsigned written = 0;
  ASSERT_EQ(Fio::write(wrap_, 0, fresh.data(), kChunk, written), 0u);
  EXPECT_EQ(written, kChunk);
  EXPECT_EQ(rec.count(Op::Close, h1), 1);  // the write dropped the read handle

  rec.clear();
  auto uses = Platform::statCount(89);
  EXPECT_EQ(readChunk(0), 0u);  // slot 0 is free: no flush, no count
  EXPECT_EQ(rec.count(Op::Flush), 0);
  EXPECT_EQ(rec.count(Op::Open), 0);
  EXPECT_EQ(Platform::statCount(89), uses);

  HeldOp slot0(readOp());
  slot0.awaitParked();
  rec.clear();
  EXPECT_EQ(readChunk(0), 0u);  // sees the written bytes through a fresh read handle
  EXPECT_EQ(rec.count(Op::Flush, main), 1);
  EXPECT_EQ(rec.count(Op::Open), 1);
  EXPECT_LT(firstIndex(rec, Op::Flush), firstIndex(rec, Op::Open));
  EXPECT_EQ(readChunk(16), 0u);  // flushed once, not before every read
  EXPECT_EQ(rec.count(Op::Flush), 1);
  EXPECT_EQ(rec.count(Op::Open), 1);
  EXPECT_EQ(Platform::statCount(89) - uses, 2u);
  EXPECT_EQ(slot0.finish(), 0u);
}

TEST_F(FiowrapTest, AWriteWhosePositioningFailsChangesNothing) {
  CallRecorder rec;
  openReadHandle(rec);
  unsigned long long const beyond = ~0ull;  // refused by the platform's positioning
  unsigned written = 7;

  rec.clear();
  EXPECT_EQ(Fio::write(wrap_, beyond, "x", 1, written), SysError::InvalidParameter);
  EXPECT_EQ(written, 0u);
  EXPECT_EQ(rec.count(Op::Close), 0);
  EXPECT_EQ(rec.count(Op::Write), 0);
  {
    HeldOp slot0(readOp());
    slot0.awaitParked();
    EXPECT_EQ(readChunk(0), 0u);  // same read handle, and nothing to flush
    EXPECT_EQ(rec.count(Op::Open), 0);
    EXPECT_EQ(rec.count(Op::Flush), 0);
  }

  // With the mark set, a refused write leaves it set: the next read-handle read still flushes.
  ASSERT_EQ(Fio::write(wrap_, 0, "y", 1, written), 0u);
  EXPECT_EQ(Fio::write(wrap_, beyond, "x", 1, written), SysError::InvalidParameter);
  rec.clear();
  HeldOp slot0(readOp());
  slot0.awaitParked();
  EXPECT_EQ(readChunk(0), 0u);
  EXPECT_EQ(rec.count(Op::Flush), 1);
  EXPECT_EQ(slot0.finish(), 0u);
}

class FiowrapReadKindTest : public FiowrapTest, public ::testing::WithParamInterface<ReadKind> {};

// The fifth operation finds every slot busy: reads hold slots 1 to 3 and a write holds slot 0
// while it waits in closeReadHandles for slot 1.
TEST_P(FiowrapReadKindTest, NoFreeSlotIsReportedAndTheGateUnitComesBack) {
  ReadKind const kind = GetParam();
  CallRecorder rec;
  void* main = mainHandle(rec);
  HeldOp r0(readOp(0));
  r0.awaitParked();
  HeldOp r1(readOp(16)), r2(readOp(32)), r3(readOp(48));
  r1.awaitParked();
  r2.awaitParked();
  r3.awaitParked();
  EXPECT_EQ(r0.finish(), 0u);

  std::string data = pattern(0, kChunk);
  HeldOp writer(
      [&] {
        unsigned written = 0;
        return Fio::write(wrap_, 0, data.data(), kChunk, written);
      },
      false);
  // The write positions its handle only while it holds slot 0.
  while (rec.countFrom(writer.thread()) == 0)
    std::this_thread::yield();
  EXPECT_EQ(rec.calls().back().call.handle, main);

  EXPECT_EQ(readChunk(0, kind), NoHandleError);
  EXPECT_EQ(onlyReport(Platform::Report::Op::Panic1Text, kind.function, kind.noSlotLine).text1,
            name_);

  EXPECT_EQ(r1.finish(), 0u);
  EXPECT_EQ(r2.finish(), 0u);
  EXPECT_EQ(r3.finish(), 0u);
  EXPECT_EQ(writer.finish(), 0u);

  // Every gate unit is back: four reads can run at once again.
  HeldOp a(readOp());
  EXPECT_EQ(a.awaitOutcome(), HeldOp::Outcome::Parked);
  HeldOp b(readOp());
  EXPECT_EQ(b.awaitOutcome(), HeldOp::Outcome::Parked);
  HeldOp c(readOp());
  EXPECT_EQ(c.awaitOutcome(), HeldOp::Outcome::Parked);
  HeldOp d(readOp());
  EXPECT_EQ(d.awaitOutcome(), HeldOp::Outcome::Parked);
}

// After a write, the read through slot 1 flushes the main handle and opens its read handle;
// both fail here, are reported, and the read goes on to fail at positioning the empty slot.
TEST_P(FiowrapReadKindTest, FlushAndOpenFailuresAreReportedAndTheReadGoesOn) {
  ReadKind const kind = GetParam();
  CallRecorder rec;
  unsigned written = 0;
  ASSERT_EQ(Fio::write(wrap_, 0, "abc", 3, written), 0u);
  rec.answerWith([](Platform::FileCall const& call) -> std::optional<Platform::FileFault> {
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
    EXPECT_EQ(r.op, Platform::Report::Op::TrapretMe);
    EXPECT_TRUE(r.flag);
    EXPECT_EQ(r.file, L"fiowrap");
    EXPECT_EQ(r.function, kind.function);
    EXPECT_EQ(r.expression, std::nullopt);
    EXPECT_EQ(r.text2, std::nullopt);
  }
  EXPECT_EQ(reports[0].line, kind.flushLine);
  EXPECT_EQ(reports[0].code, SysError::IoDevice);
  EXPECT_EQ(reports[0].text1, std::nullopt);
  EXPECT_EQ(reports[1].line, kind.openLine);
  EXPECT_EQ(reports[1].code, SysError::TooManyOpenFiles);
  EXPECT_EQ(reports[1].text1, name_);
  EXPECT_EQ(slot0.finish(), 0u);
}

INSTANTIATE_TEST_SUITE_P(ReadAndRead2, FiowrapReadKindTest,
                         ::testing::Values(kPlainRead, kDoubleRead),
                         [](auto const& info) { return info.param.twoBuffers ? "read2" : "read"; });

// setSize drops the read handles and marks the file unflushed; flush clears the mark even when
// the platform's flush fails. The mark shows as the flush of the next read-handle read.
TEST_F(FiowrapTest, SetSizeMarksTheFileUnflushedAndFlushClearsTheMark) {
  for (bool flushFirst : {false, true}) {
    CallRecorder rec;
    void* h1 = openReadHandle(rec);
    ASSERT_EQ(Fio::setSize(wrap_, 100), 0u);
    EXPECT_EQ(rec.count(Op::Close, h1), 1);
    unsigned long long size = 0;
    ASSERT_EQ(Fio::getSize(wrap_, size), 0u);
    EXPECT_EQ(size, 100u);
    if (flushFirst) {
      rec.failOn(Op::Flush, SysError::IoDevice);
      EXPECT_EQ(Fio::flush(wrap_), SysError::IoDevice);
      rec.answerWith(nullptr);
    }
    rec.clear();
    openReadHandle(rec);
    EXPECT_EQ(rec.count(Op::Flush), flushFirst ? 0 : 1);
    EXPECT_EQ(rec.count(Op::Open), 1);
  }
}

TEST_F(FiowrapTest, AReadHandleThatFailsToCloseIsReportedAndItsSlotEmptied) {
  CallRecorder rec;
  void* h1 = openReadHandle(rec);
  rec.failOn(Op::Close, SysError::AccessDenied, h1);
  unsigned written = 0;
  EXPECT_EQ(Fio::write(wrap_, 0, "abc", 3, written), 0u);
  auto report = onlyReport(Platform::Report::Op::TrapretMe, L"Fio::FIOWRAP::closeReadHandles", 67);
  EXPECT_EQ(report.code, SysError::AccessDenied);
  EXPECT_EQ(report.text1, name_);

  rec.clear();
  openReadHandle(rec);  // the slot was emptied: a new handle is opened
  EXPECT_EQ(rec.count(Op::Open), 1);
}

// Close gives back every descriptor: read-handle failures are reported and do not change the
// result; a main-handle failure is the result, and the read handles are closed all the same.
TEST_F(FiowrapTest, CloseReleasesEveryHandleWhateverFails) {
  for (bool mainFails : {false, true}) {
    SCOPED_TRACE(mainFails ? "main handle fails" : "a read handle fails");
    if (wrap_ == nullptr) {
      ASSERT_EQ(Fio::open(name_.c_str(), Access::ReadWrite, Sharing::AllowReadWrite,
                          OpenFlag::OpenExisting, wrap_, false),
                0u);
    }
    int const before = kestle_test::openDescriptorCount();
    CallRecorder rec;
    void* main = mainHandle(rec);
    HeldOp r0(readOp());
    EXPECT_EQ(r0.awaitParked(), main);
    HeldOp r1(readOp());
    void* h1 = r1.awaitParked();
    EXPECT_EQ(readChunk(0), 0u);  // slot 2
    EXPECT_EQ(r0.finish(), 0u);
    EXPECT_EQ(r1.finish(), 0u);
    EXPECT_EQ(kestle_test::openDescriptorCount(), before + 2);

    void* failing = mainFails ? main : h1;
    rec.failOn(Op::Close, SysError::IoDevice, failing);
    reports_.clear();
    EXPECT_EQ(Fio::close(wrap_), mainFails ? SysError::IoDevice : 0u);
    EXPECT_EQ(wrap_, nullptr);
    EXPECT_EQ(rec.count(Op::Close), 3);
    EXPECT_EQ(kestle_test::openDescriptorCount(), before - 1);
    if (mainFails) {
      EXPECT_EQ(reports_.count(), 0u);
    } else {
      EXPECT_EQ(onlyReport(Platform::Report::Op::Panic1Value, L"Fio::close", 122).value,
                static_cast<long long>(SysError::IoDevice));
    }
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

  CallRecorder rec;
  rec.failOn(Op::Write, SysError::DiskFull);
  unsigned written = 9;
  EXPECT_EQ(Fio::write(wrap_, 0, "abc", 3, written), SysError::DiskFull);
  EXPECT_EQ(written, 0u);
  EXPECT_EQ(kestle_test::readWholeFile(dir_.file("data")), pattern(0, kFileSize));

  // Reads at and beyond the end: a short count, then nothing, and no error.
  char buffer[kChunk];
  unsigned got = 0;
  EXPECT_EQ(Fio::read(wrap_, kFileSize - 4, buffer, kChunk, got), 0u);
  EXPECT_EQ(got, 4u);
  EXPECT_EQ(Fio::read(wrap_, kFileSize + 4, buffer, kChunk, got), 0u);
  EXPECT_EQ(got, 0u);
}

}  // namespace
