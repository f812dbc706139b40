// The record layer's byte transfers: what each raw result leads to (waits, reports, tones, log
// lines, retries), seen through the platform hooks. Nothing sleeps for real.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "fio/record_file.h"
#include "kestle/kestle.h"
#include "support/record_support.h"

namespace {

using kestle_test::FileCalls;
using kestle_test::recordBytes;
using kestle_test::Span;
using Op = Platform::FileOp;
using Fault = std::optional<Platform::FileFault>;

// Answers the first `times` calls of `op` with `fault`, then lets them run.
FileCalls::Answer firstCalls(Op op, int times, Platform::FileFault fault) {
  auto seen = std::make_shared<std::atomic<int>>(0);
  return [=](Platform::FileCall const& c) -> Fault {
    if (c.op == op && seen->fetch_add(1) < times)
      return fault;
    return std::nullopt;
  };
}

class RecordTransferTest : public kestle_test::RecordTest {
 protected:
  // A plain file of `n` records of `length` bytes, open.
  void openWith(unsigned n, unsigned length) {
    kestle_test::writeWholeFile(dir_.file("data"), recordBytes(n, length));
    open(length, false);
  }
};

// ---- Reads ----

TEST_F(RecordTransferTest, ReadCountsAndTheFileEnd) {
  openWith(10, 6);
  FileCalls calls;
  char buffer[4 * 6];
  EXPECT_EQ(file_->readBytes(3, buffer, 0), 0u);
  EXPECT_EQ(calls.count(Op::Read), 0u);
  EXPECT_EQ(file_->readBytes(9, buffer, sizeof buffer), 12u);
  EXPECT_EQ(std::string(buffer, 12), recordBytes(10, 6).substr(48));
  char copy[4 * 6];
  EXPECT_EQ(file_->readBytes2(9, buffer, copy, sizeof buffer), 12u);
  EXPECT_EQ(std::string(copy, 12), recordBytes(10, 6).substr(48));
  EXPECT_EQ(reports_.count(), 0u);
}

TEST_F(RecordTransferTest, LockViolationsAreWaitedOutSilently) {
  openWith(4, 6);
  FileCalls calls(firstCalls(Op::Read, 3, kestle_test::failWith(SysError::LockViolation)));
  char buffer[12];
  EXPECT_EQ(file_->readBytes(2, buffer, sizeof buffer), 12u);
  EXPECT_EQ(std::string(buffer, 12), recordBytes(4, 6).substr(6, 12));
  EXPECT_EQ(sleeps_.sleeps(), (std::vector<unsigned>{70, 70, 70}));
  EXPECT_EQ(calls.count(Op::Read), 4u);
  EXPECT_EQ(reports_.count(), 0u);
  EXPECT_TRUE(logs_.entries().empty());
}

TEST_F(RecordTransferTest, ReadOfPartRecordsIsReportedAndGoesOn) {
  openWith(4, 6);
  char buffer[7];
  EXPECT_EQ(file_->readBytes(1, buffer, 7), 7u);
  auto const r = reports_.reports();
  ASSERT_EQ(r.size(), 1u);
  EXPECT_EQ(r[0].op, Platform::Report::Op::PanicMe);
  EXPECT_FALSE(r[0].flag);
  EXPECT_EQ(r[0].file, L"fio");
  EXPECT_EQ(r[0].function, L"FioFile::readBytes");
  EXPECT_EQ(r[0].line, 249u);
  EXPECT_EQ(r[0].text1, L"7");
  EXPECT_EQ(r[0].text2, L"6");
  EXPECT_EQ(r[0].code, 0u);

  reports_.clear();
  char copy[7];
  file_->readBytes2(1, buffer, copy, 7);
  ASSERT_EQ(reports_.count(), 1u);
  EXPECT_EQ(reports_.reports()[0].function, L"FioFile::readBytes2");
  EXPECT_EQ(reports_.reports()[0].line, 274u);
}

TEST_F(RecordTransferTest, OtherReadFailuresAreReportedAndRetried) {
  openWith(4, 6);
  {
    FileCalls calls(firstCalls(Op::Read, 1, kestle_test::failWith(NoHandleError)));
    char buffer[24];
    EXPECT_EQ(file_->readBytes(1, buffer, sizeof buffer), 24u);
    EXPECT_EQ(calls.count(Op::Read), 2u);
  }
  {
    FileCalls calls(firstCalls(Op::Read2, 2, kestle_test::failWith(SysError::IoDevice)));
    char buffer[24], copy[24];
    EXPECT_EQ(file_->readBytes2(1, buffer, copy, sizeof buffer), 24u);
    EXPECT_EQ(std::string(copy, 24), recordBytes(4, 6));
  }
  auto const r = reports_.reports();
  ASSERT_EQ(r.size(), 3u);
  EXPECT_EQ(r[0].op, Platform::Report::Op::Panic1Ec);
  EXPECT_TRUE(r[0].flag);
  EXPECT_EQ(r[0].function, L"FioFile::readBytes");
  EXPECT_EQ(r[0].line, 265u);
  EXPECT_EQ(r[0].text1, L"readBytes/102, " + name_);
  EXPECT_EQ(r[0].code, NoHandleError);
  EXPECT_EQ(r[1].function, L"FioFile::readBytes2");
  EXPECT_EQ(r[1].line, 291u);
  EXPECT_EQ(r[1].text1, L"readBytes/102, " + name_);
  EXPECT_EQ(r[1].code, SysError::IoDevice);
  EXPECT_TRUE(sleeps_.sleeps().empty());
}

// A fault that never clears must not keep the caller forever: the transfer gives up after a
// bounded number of reports.
TEST_F(RecordTransferTest, LastingFailuresEndAfterBoundedReports) {
  openWith(4, 6);
  FileCalls calls([](Platform::FileCall const& c) -> Fault {
    if (c.op == Op::Read || c.op == Op::Write)
      return kestle_test::failWith(SysError::InvalidHandle);
    return std::nullopt;
  });
  char buffer[6];
  EXPECT_EQ(file_->readBytes(1, buffer, 6), 0u);
  EXPECT_EQ(calls.count(Op::Read), kestle_detail::record::kReportedRetryLimit);
  EXPECT_EQ(file_->writeBytes(1, buffer, 6), SysError::InvalidHandle);
  EXPECT_EQ(calls.count(Op::Write), kestle_detail::record::kReportedRetryLimit);
  EXPECT_EQ(reports_.count(), 2 * kestle_detail::record::kReportedRetryLimit);
}

// ---- Writes ----

TEST_F(RecordTransferTest, WriteThatStaysShortGivesUpAfterFourTries) {
  open(100, true);
  FileCalls calls([](Platform::FileCall const& c) -> Fault {
    if (c.op == Op::Write)
      return kestle_test::cutTo(c.length - 1);
    return std::nullopt;
  });
  std::string const data = recordBytes(1, 101);
  EXPECT_EQ(file_->writeBytes(3, data.data(), 101), ShortWriteError);

  EXPECT_EQ(kestle_test::spans(calls.of(Op::Write)),
            (std::vector<Span>{{202, 101}, {202, 101}, {202, 101}, {202, 101}}));
  EXPECT_EQ(sleeps_.sleeps(), (std::vector<unsigned>{0, 70, 500}));
  EXPECT_EQ(tones_.tones(), (std::vector<std::pair<unsigned, unsigned>>(3, {200, 1000})));
  auto const entries = logs_.entries();
  ASSERT_EQ(entries.size(), 3u);
  for (unsigned i = 0; i < 3; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(entries[i].sourceFile, "fio");
    EXPECT_EQ(entries[i].category, "fioErrorLog");
    EXPECT_EQ(entries[i].line, 153u);
    EXPECT_EQ(entries[i].type, 1);
    EXPECT_EQ(entries[i].logFile, L"ERROR.LOG");
    EXPECT_EQ(entries[i].text, L"writeBytes/101: " + name_ + L"/101/100/" + std::to_wstring(i + 1));
    EXPECT_EQ(entries[i].text2, std::nullopt);
    EXPECT_EQ(entries[i].code, 0u);
  }
  EXPECT_EQ(reports_.count(), 0u);
}

TEST_F(RecordTransferTest, WriteShortOnceThenComplete) {
  open(10, false);
  FileCalls calls(firstCalls(Op::Write, 1, kestle_test::cutTo(4)));
  std::string const data = recordBytes(2, 10);
  EXPECT_EQ(file_->writeBytes(1, data.data(), 20), 0u);
  EXPECT_EQ(contents(), data);
  EXPECT_EQ(tones_.tones().size(), 1u);
  EXPECT_EQ(sleeps_.sleeps(), (std::vector<unsigned>{0}));
  ASSERT_EQ(logs_.texts().size(), 1u);
  EXPECT_EQ(logs_.texts()[0], L"writeBytes/101: " + name_ + L"/20/4/1");
}

TEST_F(RecordTransferTest, FullDiskEndsTheWriteAtOnce) {
  open(10, false);
  FileCalls calls([](Platform::FileCall const& c) -> Fault {
    if (c.op == Op::Write)
      return kestle_test::failWith(SysError::DiskFull);
    return std::nullopt;
  });
  std::string const data = recordBytes(1, 10);
  EXPECT_EQ(file_->writeBytes(1, data.data(), 10), SysError::DiskFull);
  EXPECT_EQ(calls.count(Op::Write), 1u);
  EXPECT_EQ(reports_.count(), 0u);
  EXPECT_TRUE(tones_.tones().empty());
  EXPECT_TRUE(logs_.entries().empty());
}

// A failure between short writes is reported and retried, and does not give the short writes a
// fresh count of tries.
TEST_F(RecordTransferTest, ReportedWriteFailureKeepsTheShortCount) {
  open(10, false);
  auto seen = std::make_shared<int>(0);
  FileCalls calls([seen](Platform::FileCall const& c) -> Fault {
    if (c.op != Op::Write)
      return std::nullopt;
    int const n = (*seen)++;
    if (n == 1)
      return kestle_test::failWith(SysError::LockViolation);
    return kestle_test::cutTo(2);
  });
  std::string const data = recordBytes(1, 10);
  EXPECT_EQ(file_->writeBytes(1, data.data(), 10), ShortWriteError);
  EXPECT_EQ(calls.count(Op::Write), 5u);
  EXPECT_EQ(logs_.texts().size(), 3u);
  auto const r = reports_.reports();
  ASSERT_EQ(r.size(), 1u);
  EXPECT_EQ(r[0].op, Platform::Report::Op::Panic1Ec);
  EXPECT_TRUE(r[0].flag);
  EXPECT_EQ(r[0].function, L"FioFile::writeBytes");
  EXPECT_EQ(r[0].line, 326u);
  EXPECT_EQ(r[0].text1, L"writeBytes/102, " + name_);
  EXPECT_EQ(r[0].code, SysError::LockViolation);
}

TEST_F(RecordTransferTest, WriteWithoutRawHandleIsReported) {
  open(10, false);
  Fio::FIOWRAP* const wrap = file_->fio_;
  file_->fio_ = nullptr;
  std::string const data = recordBytes(1, 10);
  EXPECT_EQ(file_->writeBytes(1, data.data(), 10), NoHandleError);
  file_->fio_ = wrap;
  auto const r = reports_.reports();
  ASSERT_EQ(r.size(), kestle_detail::record::kReportedRetryLimit);
  EXPECT_EQ(r[0].code, NoHandleError);
  EXPECT_EQ(r[0].text1, L"writeBytes/102, (no_handle)");
}

TEST_F(RecordTransferTest, RecordZeroIsNeverWritten) {
  open(10, false);
  FileCalls calls;
  std::string const data = recordBytes(1, 10);
  EXPECT_EQ(file_->writeBytes(0, data.data(), 10), SysError::InvalidParameter);
  EXPECT_EQ(calls.count(Op::Write), 0u);
  EXPECT_EQ(contents(), "");
}

}  // namespace
