// Record writes and the byte transfers under them. Report fields are checked in record_file_test.
#include "support/fio_support.h"

namespace {

using namespace kestle_test;

using kestle_detail::record::kReportedRetryLimit;
using Fault = std::optional<Platform::FileFault>;
using Runs = std::vector<Span>;  // raw writes as {first record (0-based), records}

class RecordWriteTest : public RecordTest {
 protected:
  std::string record(unsigned rec) const { return recordBytes(1, logrecl_, rec); }
  void put(unsigned rec, unsigned nrecs) { Fbufwrite(file_, rec, nrecs, record(rec).data()); }
  Runs runs() const { return spans(calls_.of(Op::Write), file_->fysrecl_); }
};

TEST_F(RecordWriteTest, SingleAndMultipleRecordsInOneTransferEach) {
  for (bool cypher : {true, false}) {
    open(100, cypher, cypher ? "enciphered" : "plain");
    calls_.clear();
    std::string data = recordBytes(5, 100, 4);
    unsigned long err = 99;
    Fmultiwrite(file_, 4, 0, nullptr, err);
    EXPECT_EQ(err, 0u);
    Fwrite(file_, 3, data.data());
    Fmultiwrite(file_, 4, 5, data.data(), err);
    EXPECT_EQ(err, 0u);
    // Refused: 4 GiB or more (not wrapped to a short transfer), no data, runs past 0xFFFFFFFF.
    for (auto [rec, n, src] :
         {std::tuple(1u, 0x40000000u, data.data()), std::tuple(1u, 1u, static_cast<char*>(nullptr)),
          std::tuple(0xFFFFFFFFu, 2u, data.data())}) {
      Fmultiwrite(file_, rec, n, src, err);
      EXPECT_EQ(err, SysError::InvalidParameter);
    }
    EXPECT_EQ(runs(), (Runs{{2, 1}, {3, 5}}));
    EXPECT_EQ(readRecords(3, 6), std::make_tuple(6u, false, data.substr(0, 100) + data));
    Fclose(file_);
  }
  EXPECT_EQ(reports_.count(), 0u);
}

TEST_F(RecordWriteTest, BufferedRuns) {
  open(10, true);
  put(5, 10);
  put(6, 10);
  put(9, 10);  // gap: 5-6 go out, 9 is held
  put(8, 10);  // descending: 9 goes out alone
  Fflushbuf(file_);
  put(1, 2);
  put(2, 2);
  EXPECT_EQ(runs().size(), 3u);  // full, but written only when another record comes
  put(3, 2);
  put(4, 1);  // a smaller capacity keeps the larger buffer
  char* const buffer = file_->buffer_;
  Fflush(file_);
  EXPECT_EQ(file_->buffer_, buffer);
  Fflushbuf(file_);
  Fflushbuf(file_);  // nothing held: no transfer
  put(11, 2);
  put(12, 2);
  put(13, 5);  // larger capacity while 11-12 are held: they go out first
  std::string other = recordBytes(1, 10, 99);
  Fwrite(file_, 13, other.data());
  EXPECT_EQ(readRecord(13), other);
  Fflushbuf(file_);
  put(17, 0);  // no buffer: written at once
  put(18, 3);
  put(19, 0);  // a buffer exists: the record joins the run
  Fflushbuf(file_);
  EXPECT_EQ(
      runs(),
      (Runs{{4, 2}, {8, 1}, {7, 1}, {0, 2}, {2, 2}, {10, 2}, {12, 1}, {12, 1}, {16, 1}, {17, 2}}));
  for (unsigned rec : {1, 2, 3, 4, 5, 6, 8, 9, 11, 12, 13, 17, 18, 19})
    EXPECT_EQ(readRecord(rec), record(rec)) << rec;

  put(30, 4);
  calls_.answerWith(failOn(Op::Write, SysError::DiskFull));
  Fflush(file_);
  calls_.answerWith({});
  Fflushbuf(file_);
  EXPECT_EQ(readRecord(30), "");
  put(31, 4);  // written at close
  Fclose(file_);
  EXPECT_EQ(readWholeFile(path_).size(), 31u * 11);
}

// Lock violations are waited out three times; a busy file is read again without limit, beyond the
// bound of reported failures; lasting failures end the read after that bound, on every path.
TEST_F(RecordWriteTest, ReadsWaitOutLockViolationsAndBusyFilesAndGiveUpOnLastingFailures) {
  writeWholeFile(dir_.file("data"), recordBytes(10, 6));
  open(6, false);
  char buffer[24], copy[24];
  calls_.answerWith(firstCalls(Op::Read, 3, failWith(33)));
  EXPECT_EQ(file_->readBytes(3, buffer, 0), 0u);
  EXPECT_EQ(calls_.count(Op::Read), 0u);
  EXPECT_EQ(file_->readBytes(9, buffer, 24), 12u);  // the file ends after two records
  EXPECT_EQ(std::string(buffer, 12), recordBytes(10, 6).substr(48));
  EXPECT_EQ(sleeps_.sleeps(), (std::vector<unsigned>{70, 70, 70}));
  calls_.answerWith(firstCalls(Op::Read2, 2 * kReportedRetryLimit, failWith(NoHandleError)));
  EXPECT_EQ(file_->readBytes2(1, buffer, copy, 24), 24u);
  EXPECT_EQ(std::string(copy, 24), recordBytes(10, 6).substr(0, 24));
  EXPECT_EQ(reports_.count(), 1u);

  for (int path : {0, 1, 2}) {  // plain, enciphered, verified
    Fclose(file_);
    reports_.clear();
    ReadSwitches switches(false, path == 2, false);
    open(5, path > 0, "file" + std::to_string(path));
    calls_.answerWith(failOn(path == 2 ? Op::Read2 : Op::Read, SysError::InvalidHandle));
    EXPECT_EQ(readRecords(1, 4), delivered(1, 0, false));
    EXPECT_EQ(readRecord(1), "");
    EXPECT_EQ(reports_.count(), 2 * kReportedRetryLimit);
    calls_.answerWith({});
  }
}

TEST_F(RecordWriteTest, ShortWritesAreRetriedFourTimes) {
  open(6, false);
  calls_.answerWith([](Platform::FileCall const& c) -> Fault {
    return c.op == Op::Write ? Fault(Platform::FileFault{0, c.length - 1, {}}) : std::nullopt;
  });
  std::string data = recordBytes(4, 6, 7);
  EXPECT_EQ(file_->writeBytes(3, data.data(), 24), ShortWriteError);
  EXPECT_EQ(spans(calls_.of(Op::Write)), Runs(4, Span{12, 24}));
  EXPECT_EQ(sleeps_.sleeps(), (std::vector<unsigned>{0, 70, 500}));
  EXPECT_EQ(tones_.tones(), (std::vector<std::pair<unsigned, unsigned>>(3, {200, 1000})));
  std::wstring const text = L"writeBytes/101: " + name_ + L"/24/23/";
  EXPECT_EQ(logs_.texts(), (std::vector<std::wstring>{text + L"1", text + L"2", text + L"3"}));
  for (auto const& e : logs_.entries())
    EXPECT_TRUE(e.sourceFile == "fio" && e.category == "fioErrorLog" && e.line == 153 &&
                e.type == 1 && e.logFile == L"ERROR.LOG" && !e.text2 && e.code == 0);

  // A reported failure between short writes does not give them a fresh count of tries.
  calls_.answerWith(firstCalls(Op::Write, 1, Platform::FileFault{0, 4, {}}));
  EXPECT_EQ(file_->writeBytes(1, data.data(), 12), 0u);
  EXPECT_EQ(readWholeFile(path_).substr(0, 12), data.substr(0, 12));
  calls_.clear();
  calls_.answerWith([seen = std::make_shared<int>(0)](Platform::FileCall const& c) -> Fault {
    if (c.op != Op::Write)
      return std::nullopt;
    return (*seen)++ == 1 ? failWith(33) : Platform::FileFault{0, 2, {}};
  });
  EXPECT_EQ(file_->writeBytes(1, data.data(), 12), ShortWriteError);
  EXPECT_EQ(calls_.count(Op::Write), 5u);

  // A full disk is returned at once, unreported, with no tone; record 0 is never written.
  calls_.clear();
  auto const tones = tones_.tones().size();
  calls_.answerWith(failOn(Op::Write, SysError::DiskFull));
  EXPECT_EQ(file_->writeBytes(1, data.data(), 12), SysError::DiskFull);
  EXPECT_EQ(file_->writeBytes(0, data.data(), 12), SysError::InvalidParameter);
  unsigned long err = 0;
  Fmultiwrite(file_, 2, 1, data.data(), err);
  EXPECT_EQ(err, SysError::DiskFull);
  EXPECT_EQ(calls_.count(Op::Write), 2u);
  EXPECT_EQ(reports_.count(), 1u);
  EXPECT_EQ(tones_.tones().size(), tones);
}

}  // namespace
