// The record layer's byte transfers: what each raw result leads to (waits, reports, tones, log
// lines, retries), seen through the platform hooks. Nothing sleeps for real.
#include "support/record_support.h"

namespace {

using kestle_detail::record::kReportedRetryLimit;
using kestle_test::expectReport;
using kestle_test::FileCalls;
using kestle_test::recordBytes;
using Op = Platform::FileOp;
using ReportOp = Platform::Report::Op;
using Fault = std::optional<Platform::FileFault>;

// Answers the first `n` calls of `op` with `fault`.
kestle_test::Answer firstCalls(Op op, int n, Platform::FileFault fault) {
  auto seen = std::make_shared<std::atomic<int>>(0);
  return [=](Platform::FileCall const& c) -> Fault {
    return c.op == op && seen->fetch_add(1) < n ? Fault(fault) : std::nullopt;
  };
}

class RecordTransferTest : public kestle_test::RecordTest {
 protected:
  void SetUp() override {
    kestle_test::writeWholeFile(dir_.file("data"), recordBytes(10, 6));
    open(6, false);
  }
};

TEST_F(RecordTransferTest, ReadsWaitOutLockViolationsAndRetryReportedFailures) {
  char buffer[24], copy[24];
  {
    FileCalls calls(firstCalls(Op::Read, 3, kestle_test::failWith(33)));
    EXPECT_EQ(file_->readBytes(3, buffer, 0), 0u);
    EXPECT_EQ(calls.count(Op::Read), 0u);
    EXPECT_EQ(file_->readBytes(9, buffer, 24), 12u);  // the file ends after two records
    EXPECT_EQ(std::string(buffer, 12), recordBytes(10, 6).substr(48));
    EXPECT_EQ(sleeps_.sleeps(), (std::vector<unsigned>{70, 70, 70}));
    EXPECT_EQ(reports_.count(), 0u);
  }
  {
    // A busy file is reported once and read again without limit, beyond the bound of failures.
    FileCalls calls(
        firstCalls(Op::Read, 2 * kReportedRetryLimit, kestle_test::failWith(NoHandleError)));
    EXPECT_EQ(file_->readBytes(1, buffer, 24), 24u);
    calls.answerWith(firstCalls(Op::Read2, 2, kestle_test::failWith(1117)));
    EXPECT_EQ(file_->readBytes2(1, buffer, copy, 24), 24u);
    EXPECT_EQ(std::string(copy, 24), recordBytes(10, 6).substr(0, 24));
  }
  auto const r = reports_.reports();
  ASSERT_EQ(r.size(), 3u);
  expectReport(r[0], ReportOp::Panic1Ec, true, L"FioFile::readBytes", 265,
               L"readBytes/102, " + name_, NoHandleError);
  expectReport(r[2], ReportOp::Panic1Ec, true, L"FioFile::readBytes2", 291,
               L"readBytes/102, " + name_, 1117);
  EXPECT_EQ(sleeps_.sleeps().size(), 3u);
  EXPECT_TRUE(logs_.entries().empty());
}

TEST_F(RecordTransferTest, ReadOfPartRecordsIsReportedAndGoesOn) {
  char buffer[7], copy[7];
  EXPECT_EQ(file_->readBytes(1, buffer, 7), 7u);
  file_->readBytes2(1, buffer, copy, 7);
  auto const r = reports_.reports();
  ASSERT_EQ(r.size(), 2u);
  expectReport(r[0], ReportOp::PanicMe, false, L"FioFile::readBytes", 249, L"7", 0);
  EXPECT_EQ(r[0].text2, L"6");
  expectReport(r[1], ReportOp::PanicMe, false, L"FioFile::readBytes2", 274, L"7", 0);
}

// A fault that never clears must not hold the caller forever: the transfer gives up after a
// bounded number of reports, and a read that gave up never claims the end of the file.
TEST_F(RecordTransferTest, LastingFailuresEndAfterBoundedReports) {
  FileCalls calls([](Platform::FileCall const& c) -> Fault {
    if (c.op == Op::Read || c.op == Op::Read2 || c.op == Op::Write)
      return kestle_test::failWith(SysError::InvalidHandle);
    return std::nullopt;
  });
  char buffer[24] = {};
  unsigned nread = 9;
  bool eof = true;
  Fmultiread(file_, 1, 4, buffer, nread, eof);
  EXPECT_EQ(std::make_pair(nread, eof), std::make_pair(0u, false));
  Fread(file_, 1, buffer, eof);
  EXPECT_TRUE(eof);  // nothing delivered
  EXPECT_EQ(file_->writeBytes(1, buffer, 6), SysError::InvalidHandle);
  EXPECT_EQ(calls.count(Op::Read), 2 * kReportedRetryLimit);
  EXPECT_EQ(calls.count(Op::Write), kReportedRetryLimit);
  std::wstring const plainName = name_;
  Fclose(file_);
  for (bool verified : {false, true}) {  // the enciphered reads alike
    kestle_test::ReadSwitches switches(false, verified, false);
    open(5, true, "enciphered");
    eof = true;
    Fmultiread(file_, 1, 4, buffer, nread, eof);
    EXPECT_EQ(std::make_pair(nread, eof), std::make_pair(0u, false));
    Fclose(file_);
  }
  auto const r = reports_.reports();
  ASSERT_EQ(r.size(), 5 * kReportedRetryLimit);
  expectReport(r[3 * kReportedRetryLimit - 1], ReportOp::Panic1Ec, true, L"FioFile::writeBytes",
               326, L"writeBytes/102, " + plainName, SysError::InvalidHandle);
}

TEST_F(RecordTransferTest, WriteThatStaysShortGivesUpAfterFourTries) {
  FileCalls calls([](Platform::FileCall const& c) -> Fault {
    return c.op == Op::Write ? Fault(kestle_test::cutTo(c.length - 1)) : std::nullopt;
  });
  std::string const data = recordBytes(4, 6);
  EXPECT_EQ(file_->writeBytes(3, data.data(), 24), ShortWriteError);
  EXPECT_EQ(kestle_test::spans(calls.of(Op::Write)),
            std::vector<kestle_test::Span>(4, kestle_test::Span{12, 24}));
  EXPECT_EQ(sleeps_.sleeps(), (std::vector<unsigned>{0, 70, 500}));
  EXPECT_EQ(tones_.tones(), (std::vector<std::pair<unsigned, unsigned>>(3, {200, 1000})));
  auto const entries = logs_.entries();
  ASSERT_EQ(entries.size(), 3u);
  for (unsigned i = 0; i < 3; ++i) {
    auto const& e = entries[i];
    EXPECT_EQ(e.text, L"writeBytes/101: " + name_ + L"/24/23/" + std::to_wstring(i + 1));
    EXPECT_TRUE(e.sourceFile == "fio" && e.category == "fioErrorLog" && e.line == 153 &&
                e.type == 1 && e.logFile == L"ERROR.LOG" && !e.text2 && e.code == 0);
  }
  EXPECT_EQ(reports_.count(), 0u);
}

TEST_F(RecordTransferTest, ShortWritesFullDiskAndRecordZero) {
  std::string const data = recordBytes(2, 6, 7);
  FileCalls calls(firstCalls(Op::Write, 1, kestle_test::cutTo(4)));
  EXPECT_EQ(file_->writeBytes(1, data.data(), 12), 0u);
  EXPECT_EQ(contents().substr(0, 12), data);
  EXPECT_EQ(logs_.texts(), std::vector<std::wstring>{L"writeBytes/101: " + name_ + L"/12/4/1"});

  // A reported failure between short writes does not give them a fresh count of tries.
  logs_.clear();
  calls.clear();
  calls.answerWith([seen = std::make_shared<int>(0)](Platform::FileCall const& c) -> Fault {
    if (c.op != Op::Write)
      return std::nullopt;
    return (*seen)++ == 1 ? kestle_test::failWith(33) : kestle_test::cutTo(2);
  });
  EXPECT_EQ(file_->writeBytes(1, data.data(), 12), ShortWriteError);
  EXPECT_EQ(calls.count(Op::Write), 5u);
  EXPECT_EQ(logs_.texts().size(), 3u);
  ASSERT_EQ(reports_.count(), 1u);
  EXPECT_EQ(reports_.reports()[0].line, 326u);

  logs_.clear();
  calls.clear();
  auto const tones = tones_.tones().size();
  calls.answerWith(kestle_test::failOn(Op::Write, SysError::DiskFull));
  EXPECT_EQ(file_->writeBytes(1, data.data(), 12), SysError::DiskFull);
  EXPECT_EQ(file_->writeBytes(0, data.data(), 12), SysError::InvalidParameter);
  EXPECT_EQ(calls.count(Op::Write), 1u);  // none for record 0
  EXPECT_EQ(reports_.count(), 1u);
  EXPECT_EQ(tones_.tones().size(), tones);
  EXPECT_TRUE(logs_.entries().empty());
}

}  // namespace
