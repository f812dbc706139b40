// Record reads, plain, enciphered and verified. Report fields are checked in record_file_test.
#include <cstdint>
#include <sstream>

#include "support/fio_support.h"

namespace {

using namespace kestle_test;

TEST(RecordReadSwitches, SettersReturnThePreviousValue) {
  ReadSwitches restore(false, false, false);
  for (auto set : {&SetReadExtendedLogging, &SetReadWithCopyBuffer, &SetReadUseCopyBuffer})
    EXPECT_EQ((std::vector<bool>{set(true), set(true), set(false), set(false)}),
              (std::vector<bool>{false, true, true, false}));
}

// The parameter: 0 plain, 1 enciphered, 2 enciphered through the verified read.
class RecordReadTest : public RecordTest, public ::testing::WithParamInterface<int> {
 protected:
  void expectRead(unsigned first, unsigned n, unsigned nread, bool eof) {
    EXPECT_EQ(readRecords(first, n, !eof), delivered(first, nread, eof)) << first;
    if (n == 1) {
      EXPECT_EQ(readRecord(first), expected(first, nread)) << first;
    }
  }
};

TEST_P(RecordReadTest, CountsAndTheFileEnd) {
  bool const cypher = GetParam() > 0;
  ReadSwitches switches(false, GetParam() == 2, false);
  makeFile(10, 8, cypher);
  expectRead(3, 0, 0, false);
  expectRead(1, 10, 10, false);
  expectRead(9, 5, 2, true);
  expectRead(9, 2000, 2, true);  // beyond the scratch frame: room only for the records there
  expectRead(10, 1, 1, false);
  expectRead(11, 1, 0, true);
  // A trailing part of a record is not a record.
  Fclose(file_);
  writeWholeFile(path_, readWholeFile(path_) + "abc");
  open(8, cypher);
  expectRead(10, 2, 1, true);
  expectRead(11, 1, 0, true);
  EXPECT_EQ(reports_.count(), 1u);  // the part record, at open
  EXPECT_TRUE(logs_.entries().empty());
  EXPECT_EQ(calls_.count(GetParam() == 2 ? Op::Read : Op::Read2), 0u);
}

class RecordCipherTest : public RecordReadTest {};

TEST_P(RecordCipherTest, BrokenRecordsAreRetriedThenEndTheDelivery) {
  bool const verified = GetParam() == 2;
  ReadSwitches switches(false, verified, false);
  Op const op = verified ? Op::Read2 : Op::Read;
  makeFile(10, 8, true);
  calls_.answerWith(flipByte(op, 6 * 9 + 3, 1, verified));
  EXPECT_EQ(readRecords(1, 10), delivered(1, 10, false));
  auto const e = logs_.entries().at(0);
  EXPECT_TRUE(e.sourceFile == "fio" && e.category == "fioWarningLog" && e.line == 158 &&
              e.type == 2 && e.logFile == L"ERROR.LOG");
  EXPECT_EQ(spans(calls_.of(op)), (std::vector<Span>{{0, 90}, {0, 90}}));

  calls_.clear();
  logs_.clear();
  calls_.answerWith(flipByte(op, 6 * 9 + 3, kEveryCall, verified));
  std::string buffer(80, '\0');
  unsigned nread = 0;
  bool eof = true;
  Fmultiread(file_, 1, 10, buffer.data(), nread, eof);
  std::wstring const warning =
      L"Warning BROKEN FILE: " + name_ + L"7, read action will be retried, attempt ";
  EXPECT_EQ(logs_.texts(),
            (std::vector<std::wstring>{warning + L"1/3", warning + L"2/3", warning + L"3/3"}));
  EXPECT_EQ(sleeps_.sleeps(), (std::vector<unsigned>{10, 10, 20, 30}));
  EXPECT_EQ(calls_.count(op), 4u);
  // Records 1 to 6 in their places; record 8 is not handed out as record 7.
  EXPECT_EQ(std::make_tuple(nread, eof, buffer.substr(0, 48)), delivered(1, 6, false));
  EXPECT_NE(buffer.substr(48, 8), expected(8, 1));
  EXPECT_EQ(readRecord(7), "");
  EXPECT_EQ(readRecords(7, 2), delivered(7, 0, false));
  EXPECT_EQ(reports_.count(), 3u);
}

INSTANTIATE_TEST_SUITE_P(AllPaths, RecordReadTest, ::testing::Values(0, 1, 2));
INSTANTIATE_TEST_SUITE_P(Enciphered, RecordCipherTest, ::testing::Values(1, 2));

using RecordReadExtendedTest = RecordTest;

TEST_F(RecordReadExtendedTest, TextCarriesThreadAndGeometry) {
  ReadSwitches switches(true, false, false);
  makeFile(14, 8, true);
  calls_.answerWith(flipByte(Op::Read, 11 * 9, 1));
  EXPECT_EQ(readRecords(10, 4), delivered(10, 4, false));  // record 12 is the third
  EXPECT_EQ(logs_.texts(),
            std::vector<std::wstring>{
                L"Warning BROKEN FILE: thread id " + std::to_wstring(Thread::currentThreadId()) +
                L" " + name_ +
                L"12 (nrecs to read 4; nbytes to read 36; nbytes read 36; fysrecl_ 9; logrecl_ 8; "
                L"start record (1-based) 10; start position in file (0-based) 0x51; decrypt "
                L"record i (0-based) 2; decrypt begin offset (0-based) 18), read action will be "
                L"retried, attempt 1/3"});
}

std::wstring hex(void const* p) {
  std::wostringstream s;
  s << std::hex << std::uppercase << reinterpret_cast<std::uintptr_t>(p);
  return s.str();
}

// Verified reads of records 3 and 4 (20 physical bytes at file position 20): differences between
// buffer and copy are logged at both comparisons (the second time the copy is mended in between);
// with the copy in use, it is deciphered instead of the original.
TEST_F(RecordReadExtendedTest, VerifiedReadsCompareBufferAndCopy) {
  makeFile(10, 9, true);
  char *original = nullptr, *copy = nullptr;
  calls_.answerWith(alterReads(Op::Read2, [&](int, unsigned long long, char* b, char* c, unsigned) {
    original = b;
    copy = c;
    c[5] ^= 1;
    c[9] ^= 1;
  }));
  ReadSwitches switches(false, true, false);
  EXPECT_EQ(readRecords(3, 2), delivered(3, 2, false));
  std::wstring const tail = L" buffer vs. copy (use original) in  " + name_ +
                            L" reading started at record 3. Memory first difference org at 0x" +
                            hex(original + 5) + L", copy at 0x" + hex(copy + 5) +
                            L", in file 0x19. Differences 2 bytes in buffer of length 20. First "
                            L"difference at (0-based) position 5, last position 9, length 5";
  std::wstring const head =
      L"Warning BROKEN FILE, thread id " + std::to_wstring(Thread::currentThreadId());
  EXPECT_EQ(logs_.texts(),
            (std::vector<std::wstring>{head + L" begin" + tail, head + L" end" + tail}));
  EXPECT_EQ(logs_.entries()[0].category, "fioWarningLog");

  std::vector<std::wstring> lines;
  Platform::LogHandler const previous = Platform::setLogHandler([&](Platform::LogEntry const& e) {
    lines.push_back(e.text);
    if (lines.size() == 1) {
      copy[5] ^= 1;
      copy[9] ^= 1;
    }
  });
  EXPECT_EQ(readRecords(3, 2), delivered(3, 2, false));
  Platform::setLogHandler(previous);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_NE(lines[0].find(L" begin buffer vs. copy"), std::wstring::npos) << lines[0];
  EXPECT_EQ(lines[1], L"Difference at begin but not at end?!");

  logs_.clear();
  calls_.answerWith(flipByte(Op::Read2, 20 + 12, kEveryCall));
  SetReadWithCopyBuffer(false);
  SetReadUseCopyBuffer(true);
  EXPECT_EQ(readRecords(3, 2), delivered(3, 2, false));
  auto const texts = logs_.texts();
  ASSERT_EQ(texts.size(), 2u);
  for (auto const& t : texts)
    EXPECT_NE(t.find(L" (use copy) in " + name_), std::wstring::npos) << t;
  EXPECT_TRUE(sleeps_.sleeps().empty());
  SetReadUseCopyBuffer(false);
  SetReadWithCopyBuffer(true);
  EXPECT_EQ(readRecords(3, 2), delivered(3, 1, false));
  EXPECT_EQ(sleeps_.sleeps(), (std::vector<unsigned>{10, 20, 30}));
}

}  // namespace
