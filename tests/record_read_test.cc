// Record reads, plain and enciphered: counts and the file end, broken records and their retries,
// the extended broken-record text, scratch memory, parallel readers of one handle; and the
// verified read, whose two buffers are compared before and after deciphering.
#include <cstdint>
#include <fstream>
#include <sstream>

#include "support/record_support.h"

namespace {

using kestle_test::FileCalls;
using kestle_test::ReadSwitches;
using Op = Platform::FileOp;

TEST(RecordReadSwitches, SettersReturnThePreviousValue) {
  ReadSwitches restore(false, false, false);
  for (auto set : {&SetReadExtendedLogging, &SetReadWithCopyBuffer, &SetReadUseCopyBuffer})
    EXPECT_EQ((std::vector<bool>{set(true), set(true), set(false), set(false)}),
              (std::vector<bool>{false, true, true, false}));
}

// Plain, enciphered, and enciphered through the verified read.
class RecordReadTest : public kestle_test::RecordTest, public ::testing::WithParamInterface<int> {
 protected:
  // Reads `n` records from `first`; checks nread, eof and the records delivered.
  void expectRead(unsigned first, unsigned n, unsigned nread, bool eof) {
    std::string buffer(n * logrecl_, '\0');
    unsigned got = 99;
    bool atEnd = !eof;
    Fmultiread(file_, first, n, buffer.data(), got, atEnd);
    EXPECT_EQ(got, nread) << first;
    EXPECT_EQ(atEnd, eof) << first;
    EXPECT_EQ(buffer.substr(0, got * logrecl_), expected(first, got)) << first;
    if (n == 1) {
      buffer.assign(logrecl_, '\0');
      Fread(file_, first, buffer.data(), atEnd);
      EXPECT_EQ(atEnd, nread == 0) << first;
      EXPECT_EQ(buffer.substr(0, nread * logrecl_), expected(first, nread)) << first;
    }
  }
};

TEST_P(RecordReadTest, CountsAndTheFileEnd) {
  bool const cypher = GetParam() > 0;
  ReadSwitches switches(false, GetParam() == 2, false);
  FileCalls calls;
  makeFile(10, 8, cypher);
  expectRead(3, 0, 0, false);
  expectRead(1, 10, 10, false);
  expectRead(9, 5, 2, true);
  expectRead(10, 1, 1, false);
  expectRead(11, 1, 0, true);
  // A trailing part of a record is not a record.
  Fclose(file_);
  std::ofstream(path_, std::ios::binary | std::ios::app) << "abc";
  open(8, cypher);
  reports_.clear();  // the open reports the part record
  expectRead(10, 2, 1, true);
  expectRead(11, 1, 0, true);
  EXPECT_EQ(reports_.count(), 0u);
  // The verified read finds the two copies equal and writes nothing.
  EXPECT_TRUE(logs_.entries().empty());
  EXPECT_EQ(calls.count(GetParam() == 2 ? Op::Read : Op::Read2), 0u);
}

INSTANTIATE_TEST_SUITE_P(AllPaths, RecordReadTest, ::testing::Values(0, 1, 2));

class EncipheredReadTest : public kestle_test::RecordTest {
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
  std::string buffer_ = std::string(80, '\0');
  unsigned nread_ = 0;
  bool eof_ = true;
};

TEST_F(EncipheredReadTest, BrokenOnTheFirstReadOnlyIsReadAgain) {
  breakRecord(7, [](int n) { return n == 0; });
  Fmultiread(file_, 1, 10, buffer_.data(), nread_, eof_);
  EXPECT_EQ(nread_, 10u);
  EXPECT_FALSE(eof_);
  EXPECT_EQ(buffer_, expected(1, 10));

  auto const entries = logs_.entries();
  ASSERT_EQ(entries.size(), 1u);
  auto const& e = entries[0];
  EXPECT_EQ(e.text, warning(7, 1));
  EXPECT_TRUE(e.sourceFile == "fio" && e.category == "fioWarningLog" && e.line == 158 &&
              e.type == 2 && e.logFile == L"ERROR.LOG");
  EXPECT_EQ(sleeps_.sleeps(), std::vector<unsigned>{10});
  // The whole range is read again, in one raw read per attempt.
  EXPECT_EQ(kestle_test::spans(calls_.of(Op::Read)),
            (std::vector<kestle_test::Span>{{0, 90}, {0, 90}}));
  EXPECT_EQ(reports_.count(), 0u);
}

// On both enciphered paths (the verified one with the record damaged alike in both buffers, so
// no difference is logged), each at its own report line.
class BrokenEveryTimeTest : public EncipheredReadTest,
                            public ::testing::WithParamInterface<bool> {};

TEST_P(BrokenEveryTimeTest, IsReportedAndEndsTheDelivery) {
  bool const verified = GetParam();
  ReadSwitches switches(false, verified, false);
  Op const op = verified ? Op::Read2 : Op::Read;
  makeFile(10, 8, true);
  calls_.answerWith(kestle_test::flipByte(
      op, 6 * 9 + 3, [](int) { return true; }, true, verified));
  Fmultiread(file_, 1, 10, buffer_.data(), nread_, eof_);
  EXPECT_EQ(logs_.texts(),
            (std::vector<std::wstring>{warning(7, 1), warning(7, 2), warning(7, 3)}));
  EXPECT_EQ(sleeps_.sleeps(), (std::vector<unsigned>{10, 20, 30}));
  EXPECT_EQ(calls_.count(op), 4u);
  ASSERT_EQ(reports_.count(), 1u);
  kestle_test::expectReport(reports_.reports()[0], Platform::Report::Op::Panic1Text, false,
                            verified ? L"FioFile::multiReadCypher2" : L"FioFile::multiReadCypher",
                            verified ? 646 : 499, L"BROKEN FILE: " + name_ + L"7", 0);

  // Records 1 to 6 in their places; record 8 is not handed out as record 7.
  EXPECT_EQ(nread_, 6u);
  EXPECT_FALSE(eof_);
  EXPECT_EQ(buffer_.substr(0, 48), expected(1, 6));
  EXPECT_NE(buffer_.substr(48, 8), expected(8, 1));

  // A single read of the broken record delivers nothing, and says so.
  Fread(file_, 7, buffer_.data(), eof_);
  EXPECT_TRUE(eof_);
  Fmultiread(file_, 7, 2, buffer_.data(), nread_, eof_);
  EXPECT_EQ(nread_, 0u);
  EXPECT_FALSE(eof_);
  EXPECT_EQ(reports_.count(), 3u);
}

INSTANTIATE_TEST_SUITE_P(PlainAndVerified, BrokenEveryTimeTest, ::testing::Bool());

TEST_F(EncipheredReadTest, ExtendedTextCarriesThreadAndGeometry) {
  ReadSwitches switches(true, false, false);
  makeFile(14, 8, true);
  // Record 12, the third of a read from record 10.
  calls_.answerWith(kestle_test::flipByte(Op::Read, 11 * 9, [](int n) { return n == 0; }));
  Fmultiread(file_, 10, 4, buffer_.data(), nread_, eof_);
  EXPECT_EQ(nread_, 4u);
  EXPECT_EQ(buffer_.substr(0, 32), expected(10, 4));
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
  buffer_.resize(1025 * 7);
  for (bool verified : {false, true}) {
    ReadSwitches switches(false, verified, false);
    long long const before = Heapwick::bytesHeld();
    std::vector<long long> held;
    calls_.answerWith([&](Platform::FileCall const& c) -> std::optional<Platform::FileFault> {
      if (c.op == Op::Read || c.op == Op::Read2)
        held.push_back(Heapwick::bytesHeld() - before);
      return std::nullopt;
    });
    Fmultiread(file_, 1, 1024, buffer_.data(), nread_, eof_);
    Fmultiread(file_, 1, 1025, buffer_.data(), nread_, eof_);
    EXPECT_EQ(nread_, 1025u);
    // Near the end only the records there are get room: 6 of 2000, in the frame.
    std::string large(2000 * 7, '\0');
    Fmultiread(file_, 1095, 2000, large.data(), nread_, eof_);
    EXPECT_EQ(std::make_pair(nread_, eof_), std::make_pair(6u, true));
    EXPECT_EQ(large.substr(0, 42), expected(1095, 6));
    long long const block = 1025 * 8 + 8;
    EXPECT_EQ(held, (std::vector<long long>{0, verified ? 2 * block : block, 0}));
    EXPECT_EQ(Heapwick::bytesHeld(), before);
    calls_.answerWith({});
  }
}

// ---- The verified read ----

std::wstring hex(void const* p) {
  std::wostringstream s;
  s << std::hex << std::uppercase << reinterpret_cast<std::uintptr_t>(p);
  return s.str();
}
std::wstring const threadId = std::to_wstring(Thread::currentThreadId());

class VerifiedReadTest : public EncipheredReadTest {
 protected:
  void SetUp() override { makeFile(10, 9, true); }
  // Reads records 3 and 4 (20 physical bytes at file position 20).
  void readTwo() {
    buffer_.assign(18, '\0');
    Fmultiread(file_, 3, 2, buffer_.data(), nread_, eof_);
  }
};

TEST_F(VerifiedReadTest, DifferenceAtBothComparisons) {
  ReadSwitches switches(false, true, false);
  char const* original = nullptr;
  char const* copy = nullptr;
  calls_.answerWith(
      kestle_test::alterReads(Op::Read2, [&](int, unsigned long long, char* b, char* c, unsigned) {
        original = b;
        copy = c;
        c[5] ^= 1;
        c[9] ^= 1;
      }));
  readTwo();
  // Deciphered from the original, which is whole.
  EXPECT_EQ(nread_, 2u);
  EXPECT_EQ(buffer_, expected(3, 2));
  std::wstring const tail = L" buffer vs. copy (use original) in  " + name_ +
                            L" reading started at record 3. Memory first difference org at 0x" +
                            hex(original + 5) + L", copy at 0x" + hex(copy + 5) +
                            L", in file 0x19. Differences 2 bytes in buffer of length 20. First "
                            L"difference at (0-based) position 5, last position 9, length 5";
  std::wstring const head = L"Warning BROKEN FILE, thread id " + threadId;
  EXPECT_EQ(logs_.texts(),
            (std::vector<std::wstring>{head + L" begin" + tail, head + L" end" + tail}));
  EXPECT_EQ(logs_.entries()[0].category, "fioWarningLog");
}

// A difference that is gone by the end comparison: the copy is mended while the begin text is
// being written.
TEST_F(VerifiedReadTest, DifferenceAtBeginOnly) {
  ReadSwitches switches(false, true, false);
  char* copy = nullptr;
  calls_.answerWith(
      kestle_test::alterReads(Op::Read2, [&](int, unsigned long long, char*, char* c, unsigned) {
        copy = c;
        copy[7] ^= 1;
      }));
  std::vector<std::wstring> lines;
  Platform::LogHandler const previous = Platform::setLogHandler([&](Platform::LogEntry const& e) {
    lines.push_back(e.text);
    if (lines.size() == 1)
      copy[7] ^= 1;
  });
  readTwo();
  Platform::setLogHandler(previous);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_NE(lines[0].find(L" begin buffer vs. copy"), std::wstring::npos) << lines[0];
  EXPECT_EQ(lines[1], L"Difference at begin but not at end?!");
  EXPECT_EQ(buffer_, expected(3, 2));
}

// The same damaged original: deciphered from the copy it reads whole; from the original the
// record is broken.
TEST_F(VerifiedReadTest, UseCopyDeciphersFromTheCopy) {
  calls_.answerWith(kestle_test::flipByte(Op::Read2, 20 + 12, [](int) { return true; }));
  {
    ReadSwitches switches(false, false, true);
    readTwo();
    EXPECT_EQ(nread_, 2u);
    EXPECT_EQ(buffer_, expected(3, 2));
    auto const texts = logs_.texts();
    ASSERT_EQ(texts.size(), 2u);
    for (auto const& t : texts)
      EXPECT_NE(t.find(L" (use copy) in " + name_), std::wstring::npos) << t;
    EXPECT_TRUE(sleeps_.sleeps().empty());
  }
  ReadSwitches switches(false, true, false);
  readTwo();
  EXPECT_EQ(nread_, 1u);
  EXPECT_EQ(buffer_.substr(0, 9), expected(3, 1));
  EXPECT_EQ(sleeps_.sleeps(), (std::vector<unsigned>{10, 20, 30}));
}

}  // namespace
