// Record writes: single and multiple records, the enciphering write and its scratch memory, and
// the write buffer's runs, counted as raw writes through the file-fault hook.
#include <stdexcept>

#include "support/record_support.h"

namespace {

using kestle_test::expectReport;
using kestle_test::FileCalls;
using kestle_test::recordBytes;
using Op = Platform::FileOp;
using ReportOp = Platform::Report::Op;
using Runs = std::vector<kestle_test::Span>;  // raw writes as {first record, records}

class RecordWriteTest : public kestle_test::RecordTest {
 protected:
  std::string record(unsigned rec) const { return recordBytes(1, logrecl_, rec); }
  void put(unsigned rec, unsigned nrecs) { Fbufwrite(file_, rec, nrecs, record(rec).data()); }
  // Record `rec` as stored, deciphered under its key when the file is enciphered.
  std::string stored(unsigned rec) const {
    std::string const all = contents();
    size_t const at = size_t{rec - 1} * file_->fysrecl_;
    std::string plain(logrecl_, '\0');
    if (all.size() < at + file_->fysrecl_ || !file_->cypher_)
      return all.substr(std::min(at, all.size()), file_->fysrecl_);
    bool ok = Coding::Decode(all.data() + at, plain.data(), logrecl_,
                             kestle_detail::record::recordKey(rec));
    return ok ? plain : "(broken)";
  }
  Runs runs(FileCalls const& calls) const {
    Runs out = kestle_test::spans(calls.of(Op::Write), file_->fysrecl_);
    for (auto& run : out)
      ++run.first;
    return out;
  }
  void expectStored(std::initializer_list<unsigned> recs) {
    for (unsigned rec : recs)
      EXPECT_EQ(stored(rec), record(rec)) << rec;
  }
};

TEST_F(RecordWriteTest, SingleAndMultipleRecordsInOneTransferEach) {
  for (bool cypher : {true, false}) {
    open(100, cypher, cypher ? "enciphered" : "plain");
    FileCalls calls;
    std::string data = recordBytes(5, 100, 4);
    unsigned long err = 99;
    Fmultiwrite(file_, 4, 0, nullptr, err);
    EXPECT_EQ(err, 0u);
    Fwrite(file_, 3, data.data());
    Fmultiwrite(file_, 4, 5, data.data(), err);
    EXPECT_EQ(err, 0u);
    Runs const expected = cypher ? Runs{{202, 101}, {303, 505}} : Runs{{200, 100}, {300, 500}};
    EXPECT_EQ(kestle_test::spans(calls.of(Op::Write)), expected);
    for (unsigned i = 0; i < 6; ++i)
      EXPECT_EQ(stored(3 + i), data.substr(i == 0 ? 0 : (i - 1) * 100, 100));
    // A count of 4 GiB or more is refused, not wrapped into a short transfer or a small block.
    Fmultiwrite(file_, 1, 0x40000000u, data.data(), err);
    EXPECT_EQ(err, SysError::InvalidParameter);
    EXPECT_EQ(calls.count(Op::Write), 2u);
    Fclose(file_);
  }
  EXPECT_EQ(reports_.count(), 0u);
}

TEST_F(RecordWriteTest, FailedWritesAreReturnedOrReported) {
  open(10, true);
  FileCalls calls(kestle_test::failOn(Op::Write, SysError::DiskFull));
  unsigned long err = 0;
  Fmultiwrite(file_, 2, 1, record(2).data(), err);
  EXPECT_EQ(err, SysError::DiskFull);
  EXPECT_EQ(reports_.count(), 0u);
  Fwrite(file_, 2, record(2).data());
  ASSERT_EQ(reports_.count(), 1u);
  expectReport(reports_.reports()[0], ReportOp::Panic1Ec, true, L"Fwrite", 753, name_,
               SysError::DiskFull);
}

// Watched from inside the raw write: no block up to 8192 bytes, one of exactly the transfer's
// size above, released also when an exception passes.
TEST_F(RecordWriteTest, EncipheringScratchMemory) {
  open(127, true);  // 128 stored bytes a record: 64 records make 8192
  long long const before = Heapwick::bytesHeld();
  std::vector<long long> held;
  FileCalls calls([&](Platform::FileCall const& c) -> std::optional<Platform::FileFault> {
    if (c.op == Op::Write) {
      held.push_back(Heapwick::bytesHeld() - before);
      if (held.size() == 3)
        throw std::runtime_error("injected");
    }
    return std::nullopt;
  });
  std::string data = recordBytes(65, 127);
  unsigned long err = 1;
  Fmultiwrite(file_, 1, 64, data.data(), err);
  Fmultiwrite(file_, 1, 65, data.data(), err);
  EXPECT_EQ(err, 0u);
  EXPECT_EQ(held, (std::vector<long long>{0, 65 * 128 + 8}));
  EXPECT_EQ(stored(65), data.substr(64 * 127));
  EXPECT_THROW(Fmultiwrite(file_, 1, 65, data.data(), err), std::runtime_error);
  EXPECT_EQ(Heapwick::bytesHeld(), before);
}

// Runs end at a gap, at a descent and when full; capacity changes lose no record.
TEST_F(RecordWriteTest, RunsAndCapacities) {
  open(10, false);
  FileCalls calls;
  put(5, 10);
  put(6, 10);
  EXPECT_EQ(contents(), "");  // held records are not in the file yet
  put(9, 10);                 // gap: 5-6 go out, 9 is held
  put(8, 10);                 // descending: 9 goes out alone
  Fflushbuf(file_);
  EXPECT_EQ(runs(calls), (Runs{{5, 2}, {9, 1}, {8, 1}}));
  EXPECT_EQ(file_->buffer_, nullptr);

  calls.clear();
  put(1, 2);
  put(2, 2);
  EXPECT_EQ(runs(calls), Runs{});  // full, but written only when another record comes
  put(3, 2);
  EXPECT_EQ(runs(calls), (Runs{{1, 2}}));
  put(4, 1);  // a smaller capacity keeps the larger buffer
  Fflushbuf(file_);
  Fflushbuf(file_);  // nothing held: no transfer
  EXPECT_EQ(runs(calls), (Runs{{1, 2}, {3, 2}}));

  calls.clear();
  put(11, 2);
  put(12, 2);
  put(13, 5);  // larger capacity while 11-12 are held: they go out first
  EXPECT_EQ(runs(calls), (Runs{{11, 2}}));
  Fflushbuf(file_);
  put(17, 0);  // no buffer: written at once
  put(18, 3);
  put(19, 0);  // a buffer exists: the record joins the run
  Fflushbuf(file_);
  EXPECT_EQ(runs(calls), (Runs{{11, 2}, {13, 1}, {17, 1}, {18, 2}}));
  expectStored({1, 2, 3, 4, 5, 6, 8, 9, 11, 12, 13, 17, 18, 19});
  auto const r = reports_.reports();
  ASSERT_EQ(r.size(), 2u);
  for (auto const& report : r) {
    expectReport(report, ReportOp::PanicMe, false, L"Fbufwrite", 762, std::nullopt, 0);
    EXPECT_EQ(report.text2, std::nullopt);
  }
}

// Fflush keeps the buffer and Fflushbuf releases it. The buffered copy is written when its run
// goes out, over whatever Fwrite put there meanwhile; buffered and direct enciphered writes store
// the same bytes.
TEST_F(RecordWriteTest, FlushKeepsTheBufferAndTheBufferedCopyWins) {
  open(10, true);
  FileCalls calls;
  put(1, 4);
  char* const buffer = file_->buffer_;
  long long const held = heap_.held();
  Fflush(file_);
  Fflush(file_);
  // The open created the file: its first flush also syncs the directory, once.
  auto const flushes = calls.of(Op::Flush);
  ASSERT_EQ(flushes.size(), 3u);
  EXPECT_EQ(std::vector<std::wstring>({flushes[0].name, flushes[1].name, flushes[2].name}),
            std::vector<std::wstring>({name_, dir_.path().wstring(), name_}));
  EXPECT_EQ(file_->buffer_, buffer);
  put(2, 4);
  EXPECT_EQ(heap_.held(), held);
  Fflushbuf(file_);
  EXPECT_LT(heap_.held(), held);
  put(3, 4);  // a new buffer
  Fflushbuf(file_);
  EXPECT_EQ(runs(calls), (Runs{{1, 1}, {2, 1}, {3, 1}}));
  expectStored({1, 2, 3});

  put(4, 8);
  std::string other = recordBytes(1, 10, 99);
  Fwrite(file_, 4, other.data());
  EXPECT_EQ(stored(4), other);
  Fflushbuf(file_);
  EXPECT_EQ(stored(4), record(4));
  std::string const viaBuffer = contents();
  Fwrite(file_, 4, record(4).data());
  EXPECT_EQ(contents(), viaBuffer);
}

TEST_F(RecordWriteTest, FailedRunIsReportedAndDropped) {
  open(10, false);
  put(1, 4);
  put(2, 4);
  {
    FileCalls calls([](Platform::FileCall const& c) -> std::optional<Platform::FileFault> {
      if (c.op == Op::Write || c.op == Op::Flush)
        return kestle_test::failWith(c.op == Op::Write ? SysError::DiskFull : SysError::IoDevice);
      return std::nullopt;
    });
    Fflush(file_);
  }
  Fflushbuf(file_);
  EXPECT_EQ(contents(), "");
  auto const r = reports_.reports();
  ASSERT_EQ(r.size(), 2u);
  expectReport(r[0], ReportOp::TrapretMe, true, L"FioFile::flushBuffer", 338, std::nullopt,
               SysError::DiskFull);
  EXPECT_EQ(r[0].expression, std::nullopt);
  expectReport(r[1], ReportOp::Panic1Ec, true, L"Fflush", 814, name_, SysError::IoDevice);
}

}  // namespace
