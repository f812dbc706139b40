// Record reads, plain and enciphered: counts and the file end, broken records and their retries,
// the extended broken-record text, scratch memory, and parallel readers of one handle.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "support/record_read_support.h"

namespace {

using kestle_test::FileCalls;
using kestle_test::ReadSwitches;
using Op = Platform::FileOp;

// Plain, enciphered, and enciphered through the verified read.
class RecordReadTest : public kestle_test::RecordReadTest,
                       public ::testing::WithParamInterface<int> {};

TEST(RecordReadSwitches, SettersReturnThePreviousValue) {
  ReadSwitches restore(false, false, false);
  for (auto set : {&SetReadExtendedLogging, &SetReadWithCopyBuffer, &SetReadUseCopyBuffer}) {
    EXPECT_FALSE(set(true));
    EXPECT_TRUE(set(true));
    EXPECT_TRUE(set(false));
    EXPECT_FALSE(set(false));
  }
}

TEST_P(RecordReadTest, CountsAndTheFileEnd) {
  bool const cypher = GetParam() > 0;
  ReadSwitches switches(false, GetParam() == 2, false);
  FileCalls calls;
  makeFile(10, 8, cypher);
  std::string buffer(10 * 8, '\0');
  unsigned nread = 99;
  bool eof = true;
  Fmultiread(file_, 3, 0, buffer.data(), nread, eof);
  EXPECT_EQ(nread, 0u);
  EXPECT_FALSE(eof);

  Fmultiread(file_, 1, 10, buffer.data(), nread, eof);
  EXPECT_EQ(nread, 10u);
  EXPECT_FALSE(eof);
  EXPECT_EQ(buffer, expected(1, 10));

  Fmultiread(file_, 9, 5, buffer.data(), nread, eof);
  EXPECT_EQ(nread, 2u);
  EXPECT_TRUE(eof);
  EXPECT_EQ(buffer.substr(0, 16), expected(9, 2));

  Fread(file_, 10, buffer.data(), eof);
  EXPECT_FALSE(eof);
  EXPECT_EQ(buffer.substr(0, 8), expected(10, 1));
  Fread(file_, 11, buffer.data(), eof);
  EXPECT_TRUE(eof);

  // A trailing part of a record is not a record.
  appendAndReopen("abc", cypher);
  Fmultiread(file_, 10, 2, buffer.data(), nread, eof);
  EXPECT_EQ(nread, 1u);
  EXPECT_TRUE(eof);
  Fread(file_, 11, buffer.data(), eof);
  EXPECT_TRUE(eof);
  EXPECT_EQ(reports_.count(), 0u);
  // The verified read finds the two copies equal and writes nothing.
  EXPECT_TRUE(logs_.entries().empty());
  EXPECT_EQ(calls.count(GetParam() == 2 ? Op::Read : Op::Read2), 0u);
}

INSTANTIATE_TEST_SUITE_P(AllPaths, RecordReadTest, ::testing::Values(0, 1, 2));

class EncipheredReadTest : public kestle_test::RecordReadTest {
 protected:
  // Ten enciphered records of 8 bytes; record `broken` fails its check on the reads `when` picks.
  void breakRecord(unsigned broken, std::function<bool(int)> when) {
    makeFile(10, 8, true);
    calls_.answerWith(kestle_test::flipByte(Op::Read, (broken - 1) * 9 + 3, std::move(when)));
  }

  std::wstring warning(unsigned rec, unsigned attempt) const {
    return L"Warning BROKEN FILE: " + name_ + std::to_wstring(rec) +
           L", read action will be retried, attempt " + std::to_wstring(attempt) + L"/3";
  }

  FileCalls calls_;
};

TEST_F(EncipheredReadTest, BrokenOnTheFirstReadOnlyIsReadAgain) {
  breakRecord(7, [](int n) { return n == 0; });
  std::string buffer(80, '\0');
  unsigned nread = 0;
  bool eof = true;
  Fmultiread(file_, 1, 10, buffer.data(), nread, eof);
  EXPECT_EQ(nread, 10u);
  EXPECT_FALSE(eof);
  EXPECT_EQ(buffer, expected(1, 10));

  auto const entries = logs_.entries();
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].text, warning(7, 1));
  EXPECT_EQ(entries[0].sourceFile, "fio");
  EXPECT_EQ(entries[0].category, "fioWarningLog");
  EXPECT_EQ(entries[0].line, 158u);
  EXPECT_EQ(entries[0].type, 2);
  EXPECT_EQ(entries[0].logFile, L"ERROR.LOG");
  EXPECT_EQ(sleeps_.sleeps(), std::vector<unsigned>{10});
  // The whole range is read again, in one raw read per attempt.
  auto const reads = calls_.of(Op::Read);
  ASSERT_EQ(reads.size(), 2u);
  EXPECT_EQ(reads[1].position, 0u);
  EXPECT_EQ(reads[1].length, 90u);
  EXPECT_EQ(reports_.count(), 0u);
}

TEST_F(EncipheredReadTest, BrokenOnEveryReadIsReportedAndEndsTheDelivery) {
  breakRecord(7, [](int) { return true; });
  std::string buffer(80, '\0');
  unsigned nread = 0;
  bool eof = true;
  Fmultiread(file_, 1, 10, buffer.data(), nread, eof);
  EXPECT_EQ(logs_.texts(),
            (std::vector<std::wstring>{warning(7, 1), warning(7, 2), warning(7, 3)}));
  EXPECT_EQ(sleeps_.sleeps(), (std::vector<unsigned>{10, 20, 30}));
  EXPECT_EQ(calls_.count(Op::Read), 4u);
  auto const r = reports_.reports();
  ASSERT_EQ(r.size(), 1u);
  EXPECT_EQ(r[0].op, Platform::Report::Op::Panic1Text);
  EXPECT_FALSE(r[0].flag);
  EXPECT_EQ(r[0].file, L"fio");
  EXPECT_EQ(r[0].function, L"FioFile::multiReadCypher");
  EXPECT_EQ(r[0].line, 499u);
  EXPECT_EQ(r[0].text1, L"BROKEN FILE: " + name_ + L"7");

  // Records 1 to 6 in their places; record 8 is not handed out as record 7.
  EXPECT_EQ(nread, 6u);
  EXPECT_FALSE(eof);
  EXPECT_EQ(buffer.substr(0, 48), expected(1, 6));
  EXPECT_NE(buffer.substr(48, 8), expected(8, 1));

  // A single read of the broken record delivers nothing, and says so.
  Fread(file_, 7, buffer.data(), eof);
  EXPECT_TRUE(eof);
  Fmultiread(file_, 7, 2, buffer.data(), nread, eof);
  EXPECT_EQ(nread, 0u);
  EXPECT_FALSE(eof);
  EXPECT_EQ(reports_.count(), 3u);
}

TEST_F(EncipheredReadTest, ExtendedTextCarriesThreadAndGeometry) {
  ReadSwitches switches(true, false, false);
  makeFile(14, 8, true);
  // Record 12, the third of a read from record 10.
  calls_.answerWith(kestle_test::flipByte(Op::Read, 11 * 9, [](int n) { return n == 0; }));
  std::string buffer(32, '\0');
  unsigned nread = 0;
  bool eof = false;
  Fmultiread(file_, 10, 4, buffer.data(), nread, eof);
  EXPECT_EQ(nread, 4u);
  EXPECT_EQ(buffer, expected(10, 4));
  EXPECT_EQ(logs_.texts(),
            std::vector<std::wstring>{
                L"Warning BROKEN FILE: thread id " + std::to_wstring(Thread::currentThreadId()) +
                L" " + name_ +
                L"12 (nrecs to read 4; nbytes to read 36; nbytes read 36; fysrecl_ 9; logrecl_ 8; "
                L"start record (1-based) 10; start position in file (0-based) 0x51; decrypt "
                L"record i (0-based) 2; decrypt begin offset (0-based) 18), read action will be "
                L"retried, attempt 1/3"});
}

// Watched from inside the raw read: no heap block up to 8192 physical bytes, then exactly one of
// the transfer's size (plus its 8-byte header), gone when the read returns.
TEST_F(EncipheredReadTest, ScratchMemory) {
  makeFile(1100, 7, true);  // 8 physical bytes a record: 1024 records are 8192 bytes
  for (bool verified : {false, true}) {
    ReadSwitches switches(false, verified, false);
    long long const before = Heapwick::bytesHeld();
    std::vector<long long> held;
    calls_.answerWith([&](Platform::FileCall const& c) -> std::optional<Platform::FileFault> {
      if (c.op == Op::Read || c.op == Op::Read2)
        held.push_back(Heapwick::bytesHeld() - before);
      return std::nullopt;
    });
    std::string buffer(1025 * 7, '\0');
    unsigned nread = 0;
    bool eof = false;
    Fmultiread(file_, 1, 1024, buffer.data(), nread, eof);
    Fmultiread(file_, 1, 1025, buffer.data(), nread, eof);
    EXPECT_EQ(nread, 1025u);
    long long const block = 1025 * 8 + 8;
    EXPECT_EQ(held, (std::vector<long long>{0, verified ? 2 * block : block}));
    EXPECT_EQ(Heapwick::bytesHeld(), before);
    calls_.answerWith({});
  }
}

// Readers on four threads at once, over overlapping ranges, on every read path.
TEST_F(EncipheredReadTest, ParallelReadersGetTheirRecords) {
  makeFile(300, 13, true);
  for (int mode = 0; mode < 3; ++mode) {
    ReadSwitches switches(false, mode == 1, mode == 2);
    std::vector<std::thread> threads;
    std::vector<int> wrong(4, 0);
    for (int t = 0; t < 4; ++t) {
      threads.emplace_back([&, t] {
        std::string buffer(40 * 13, '\0');
        for (unsigned k = 0; k < 60; ++k) {
          unsigned const first = 1 + (k * 37 + t * 11) % 280;
          unsigned const n = 1 + (k + t) % 40;
          unsigned nread = 0;
          bool eof = false;
          Fmultiread(file_, first, n, buffer.data(), nread, eof);
          unsigned const want = first + n - 1 <= 300 ? n : 301 - first;
          if (nread != want || buffer.substr(0, want * 13) != expected(first, want))
            ++wrong[t];
        }
      });
    }
    for (auto& t : threads)
      t.join();
    EXPECT_EQ(wrong, std::vector<int>(4, 0)) << "mode " << mode;
  }
  EXPECT_TRUE(logs_.entries().empty());
  EXPECT_EQ(reports_.count(), 0u);
}

}  // namespace
