// Record writes: single and multiple records, the enciphering write and its scratch memory, and
// the write buffer's runs, counted as raw writes through the file-fault hook.
#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
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

class RecordWriteTest : public kestle_test::RecordTest {
 protected:
  // The plain bytes of record `rec` in these tests.
  std::string record(unsigned rec) const { return recordBytes(1, file_->logrecl_, rec); }

  void put(unsigned rec, unsigned nrecs) {
    std::string data = record(rec);
    Fbufwrite(file_, rec, nrecs, data.data());
  }
  void write(unsigned rec) {
    std::string data = record(rec);
    Fwrite(file_, rec, data.data());
  }
  // Record `rec` as stored, deciphered when the file is enciphered.
  std::string stored(unsigned rec) const {
    std::string const all = contents();
    std::size_t const at = static_cast<std::size_t>(rec - 1) * file_->fysrecl_;
    if (all.size() < at + file_->fysrecl_)
      return "(missing)";
    std::string bytes = all.substr(at, file_->fysrecl_);
    if (!file_->cypher_)
      return bytes;
    std::string plain(file_->logrecl_, '\0');
    if (!Coding::Decode(bytes.data(), plain.data(), file_->logrecl_,
                        kestle_detail::record::recordKey(rec)))
      return "(broken)";
    return plain;
  }
  // The raw writes seen so far, as (first record, number of records).
  std::vector<Span> runs(FileCalls const& calls) const {
    std::vector<Span> out;
    for (auto const& c : calls.of(Op::Write))
      out.push_back({c.position / file_->fysrecl_ + 1, c.length / file_->fysrecl_});
    return out;
  }
};

using Runs = std::vector<Span>;

// ---- Unbuffered writes ----

TEST_F(RecordWriteTest, EncipheredRecordLandsAtItsPositionUnderItsKey) {
  open(100, true);
  FileCalls calls;
  write(3);
  EXPECT_EQ(kestle_test::spans(calls.of(Op::Write)), (std::vector<Span>{{202, 101}}));
  EXPECT_EQ(contents().size(), 303u);
  EXPECT_EQ(stored(3), record(3));
  // Under any other key the record does not decipher to the same bytes.
  std::string const bytes = contents().substr(202);
  std::string plain(100, '\0');
  Coding::Decode(bytes.data(), plain.data(), 100, 3);
  EXPECT_NE(plain, record(3));
  EXPECT_EQ(reports_.count(), 0u);
}

TEST_F(RecordWriteTest, MultipleRecordsInOneTransfer) {
  for (bool cypher : {false, true}) {
    SCOPED_TRACE(cypher);
    open(10, cypher, cypher ? "enciphered" : "plain");
    FileCalls calls;
    unsigned long err = 99;
    Fmultiwrite(file_, 4, 0, nullptr, err);
    EXPECT_EQ(err, 0u);
    EXPECT_EQ(calls.count(Op::Write), 0u);

    std::string data = recordBytes(5, 10, 4);
    Fmultiwrite(file_, 4, 5, data.data(), err);
    EXPECT_EQ(err, 0u);
    EXPECT_EQ(runs(calls), (Runs{{4, 5}}));
    for (unsigned i = 0; i < 5; ++i)
      EXPECT_EQ(stored(4 + i), data.substr(i * 10, 10));
    Fclose(file_);
  }
  EXPECT_EQ(reports_.count(), 0u);
}

// A transfer of 4 GiB or more cannot be counted in 32 bits: it is refused, not cut to the
// wrapped count (plain) or enciphered into a scratch block that is too small (enciphered).
TEST_F(RecordWriteTest, TransferTooLargeToCountIsRefused) {
  for (bool cypher : {false, true}) {
    SCOPED_TRACE(cypher);
    open(4, cypher, cypher ? "enciphered" : "plain");
    FileCalls calls;
    char data[8] = {};
    unsigned long err = 0;
    Fmultiwrite(file_, 1, 0x40000000u, data, err);
    EXPECT_EQ(err, SysError::InvalidParameter);
    EXPECT_EQ(calls.count(Op::Write), 0u);
    Fclose(file_);
  }
}

TEST_F(RecordWriteTest, FailedWritesAreReportedOrReturned) {
  open(10, true);
  FileCalls calls([](Platform::FileCall const& c) -> Fault {
    if (c.op == Op::Write)
      return kestle_test::failWith(SysError::DiskFull);
    return std::nullopt;
  });
  std::string data = record(2);
  unsigned long err = 0;
  Fmultiwrite(file_, 2, 1, data.data(), err);
  EXPECT_EQ(err, SysError::DiskFull);
  EXPECT_EQ(reports_.count(), 0u);

  Fwrite(file_, 2, data.data());
  auto const r = reports_.reports();
  ASSERT_EQ(r.size(), 1u);
  EXPECT_EQ(r[0].op, Platform::Report::Op::Panic1Ec);
  EXPECT_TRUE(r[0].flag);
  EXPECT_EQ(r[0].file, L"fio");
  EXPECT_EQ(r[0].function, L"Fwrite");
  EXPECT_EQ(r[0].line, 753u);
  EXPECT_EQ(r[0].text1, name_);
  EXPECT_EQ(r[0].code, SysError::DiskFull);
}

// The scratch block of an enciphered write, watched from inside the raw write: none up to 8192
// bytes, one of exactly the transfer's size above, released also when an exception passes.
TEST_F(RecordWriteTest, EncipheringScratchMemory) {
  open(127, true);  // 128 bytes per stored record: 64 records fill 8192 bytes
  long long const before = Heapwick::bytesHeld();
  std::vector<long long> heldDuringWrite;
  bool throwAtWrite = false;
  FileCalls calls([&](Platform::FileCall const& c) -> Fault {
    if (c.op == Op::Write) {
      heldDuringWrite.push_back(Heapwick::bytesHeld() - before);
      if (throwAtWrite)
        throw std::runtime_error("injected");
    }
    return std::nullopt;
  });
  std::string data = recordBytes(65, 127);
  unsigned long err = 0;
  Fmultiwrite(file_, 1, 64, data.data(), err);
  EXPECT_EQ(err, 0u);
  Fmultiwrite(file_, 1, 65, data.data(), err);
  EXPECT_EQ(err, 0u);
  EXPECT_EQ(heldDuringWrite, (std::vector<long long>{0, 65 * 128 + 8}));
  EXPECT_EQ(Heapwick::bytesHeld(), before);
  for (unsigned rec : {1u, 64u, 65u})
    EXPECT_EQ(stored(rec), data.substr((rec - 1) * 127, 127));

  throwAtWrite = true;
  EXPECT_THROW(Fmultiwrite(file_, 1, 65, data.data(), err), std::runtime_error);
  EXPECT_EQ(Heapwick::bytesHeld(), before);
}

// ---- The write buffer ----

TEST_F(RecordWriteTest, RunIsWrittenInOneTransferWhenFlushed) {
  open(10, false);
  FileCalls calls;
  put(5, 10);
  put(6, 10);
  put(7, 10);
  EXPECT_EQ(calls.count(Op::Write), 0u);
  EXPECT_EQ(contents(), "");  // held records are not in the file yet
  Fflushbuf(file_);
  EXPECT_EQ(runs(calls), (Runs{{5, 3}}));
  EXPECT_EQ(file_->buffer_, nullptr);
  EXPECT_EQ(file_->bufcapacity_, 0u);
  for (unsigned rec : {5u, 6u, 7u})
    EXPECT_EQ(stored(rec), record(rec));
  Fflushbuf(file_);  // nothing held: no transfer
  EXPECT_EQ(calls.count(Op::Write), 1u);
}

TEST_F(RecordWriteTest, RunEndsAtAGapAtDescentAndWhenFull) {
  open(10, false);
  FileCalls calls;
  put(5, 10);
  put(6, 10);
  put(9, 10);  // gap: 5-6 go out, 9 is held
  EXPECT_EQ(runs(calls), (Runs{{5, 2}}));
  put(8, 10);  // descending: 9 goes out alone
  EXPECT_EQ(runs(calls), (Runs{{5, 2}, {9, 1}}));
  Fflushbuf(file_);
  EXPECT_EQ(runs(calls), (Runs{{5, 2}, {9, 1}, {8, 1}}));

  calls.clear();
  put(1, 2);
  put(2, 2);
  EXPECT_EQ(calls.count(Op::Write), 0u);  // full, but written only when another record comes
  put(3, 2);
  EXPECT_EQ(runs(calls), (Runs{{1, 2}}));
  EXPECT_EQ(file_->bufcount_, 1u);
  EXPECT_EQ(file_->bufstart_, 3u);
  put(4, 1);  // a smaller capacity keeps the larger buffer
  EXPECT_EQ(runs(calls), (Runs{{1, 2}}));
  Fflushbuf(file_);
  EXPECT_EQ(runs(calls), (Runs{{1, 2}, {3, 2}}));
  for (unsigned rec : {1u, 2u, 3u, 4u, 5u, 6u, 8u, 9u})
    EXPECT_EQ(stored(rec), record(rec)) << rec;
  EXPECT_EQ(reports_.count(), 0u);
}

TEST_F(RecordWriteTest, FlushKeepsTheBufferFlushbufReleasesIt) {
  open(10, true);
  FileCalls calls;
  put(1, 4);
  char* const buffer = file_->buffer_;
  long long const held = heap_.held();
  Fflush(file_);
  EXPECT_EQ(runs(calls), (Runs{{1, 1}}));
  EXPECT_EQ(calls.count(Op::Flush), 1u);
  EXPECT_EQ(file_->buffer_, buffer);
  EXPECT_EQ(file_->bufcapacity_, 4u);
  EXPECT_EQ(file_->bufcount_, 0u);
  put(2, 4);  // into the same buffer
  EXPECT_EQ(heap_.held(), held);
  Fflushbuf(file_);
  EXPECT_EQ(file_->buffer_, nullptr);
  EXPECT_LT(heap_.held(), held);
  put(3, 4);  // a new buffer
  EXPECT_EQ(heap_.held(), held);
  Fflushbuf(file_);
  EXPECT_EQ(runs(calls), (Runs{{1, 1}, {2, 1}, {3, 1}}));
  for (unsigned rec : {1u, 2u, 3u})
    EXPECT_EQ(stored(rec), record(rec));
}

// The buffered copy is written when its run goes out, over whatever Fwrite put there meanwhile;
// buffered and direct enciphered writes store the same bytes.
TEST_F(RecordWriteTest, BufferedCopyWinsOverAnEarlierDirectWrite) {
  open(10, true);
  put(4, 8);
  std::string other = recordBytes(1, 10, 99);
  Fwrite(file_, 4, other.data());
  EXPECT_EQ(stored(4), other);
  Fflushbuf(file_);
  EXPECT_EQ(stored(4), record(4));
  std::string const viaBuffer = contents();
  write(4);
  EXPECT_EQ(contents(), viaBuffer);
}

TEST_F(RecordWriteTest, BufferedRecordIsNotReadUntilWritten) {
  open(10, false);
  write(1);
  put(2, 4);
  char buffer[20];
  EXPECT_EQ(file_->readBytes(1, buffer, 20), 10u);
  unsigned nrecs = 0;
  Fsize(file_, nrecs);
  EXPECT_EQ(nrecs, 1u);
  Fflushbuf(file_);
  EXPECT_EQ(file_->readBytes(1, buffer, 20), 20u);
  EXPECT_EQ(std::string(buffer + 10, 10), record(2));
}

TEST_F(RecordWriteTest, GrowingTheBufferWritesTheHeldRunFirst) {
  open(10, false);
  FileCalls calls;
  put(1, 2);
  put(2, 2);
  put(3, 5);  // larger capacity while 1-2 are held
  EXPECT_EQ(runs(calls), (Runs{{1, 2}}));
  EXPECT_EQ(file_->bufcapacity_, 5u);
  EXPECT_EQ(file_->bufstart_, 3u);
  Fflushbuf(file_);
  for (unsigned rec : {1u, 2u, 3u})
    EXPECT_EQ(stored(rec), record(rec));
}

TEST_F(RecordWriteTest, ZeroCapacityIsReportedAndLosesNoRecord) {
  open(10, true);
  FileCalls calls;
  put(7, 0);  // no buffer: written at once
  EXPECT_EQ(runs(calls), (Runs{{7, 1}}));
  EXPECT_EQ(stored(7), record(7));
  EXPECT_EQ(file_->buffer_, nullptr);

  put(1, 3);
  put(2, 0);  // a buffer exists: the record joins the run
  EXPECT_EQ(runs(calls), (Runs{{7, 1}}));
  Fflushbuf(file_);
  EXPECT_EQ(runs(calls), (Runs{{7, 1}, {1, 2}}));
  EXPECT_EQ(stored(2), record(2));

  auto const r = reports_.reports();
  ASSERT_EQ(r.size(), 2u);
  for (auto const& report : r) {
    EXPECT_EQ(report.op, Platform::Report::Op::PanicMe);
    EXPECT_FALSE(report.flag);
    EXPECT_EQ(report.function, L"Fbufwrite");
    EXPECT_EQ(report.line, 762u);
    EXPECT_EQ(report.text1, std::nullopt);
    EXPECT_EQ(report.text2, std::nullopt);
    EXPECT_EQ(report.code, 0u);
  }
}

TEST_F(RecordWriteTest, FailedRunIsReportedAndDropped) {
  open(10, false);
  put(1, 4);
  put(2, 4);
  {
    FileCalls calls([](Platform::FileCall const& c) -> Fault {
      if (c.op == Op::Write)
        return kestle_test::failWith(SysError::DiskFull);
      if (c.op == Op::Flush)
        return kestle_test::failWith(SysError::IoDevice);
      return std::nullopt;
    });
    Fflush(file_);
  }
  EXPECT_EQ(file_->bufcount_, 0u);
  auto const r = reports_.reports();
  ASSERT_EQ(r.size(), 2u);
  EXPECT_EQ(r[0].op, Platform::Report::Op::TrapretMe);
  EXPECT_TRUE(r[0].flag);
  EXPECT_EQ(r[0].function, L"FioFile::flushBuffer");
  EXPECT_EQ(r[0].line, 338u);
  EXPECT_EQ(r[0].expression, std::nullopt);
  EXPECT_EQ(r[0].text1, std::nullopt);
  EXPECT_EQ(r[0].code, SysError::DiskFull);
  EXPECT_EQ(r[1].op, Platform::Report::Op::Panic1Ec);
  EXPECT_TRUE(r[1].flag);
  EXPECT_EQ(r[1].function, L"Fflush");
  EXPECT_EQ(r[1].line, 814u);
  EXPECT_EQ(r[1].text1, name_);
  EXPECT_EQ(r[1].code, SysError::IoDevice);
  Fflushbuf(file_);
  EXPECT_EQ(contents(), "");
}

}  // namespace
