// Record reads, plain, enciphered and verified. Report fields are checked in record_file_test.
#include <cstdint>
#include <fstream>
#include <sstream>

#include "support/record_support.h"

namespace {

using kestle_test::ReadSwitches;
using Op = Platform::FileOp;

TEST(RecordReadSwitches, SettersReturnThePreviousValue) {
  ReadSwitches restore(false, false, false);
  for (auto set : {&SetReadExtendedLogging, &SetReadWithCopyBuffer, &SetReadUseCopyBuffer})
    EXPECT_EQ((std::vector<bool>{set(true), set(true), set(false), set(false)}),
              (std::vector<bool>{false, true, true, false}));
}

class RecordReadTest : public kestle_test::RecordTest, public ::testing::WithParamInterface<int> {
 protected:
  void expectRead(unsigned first, unsigned n, unsigned nread, bool eof) {
    std::string buffer(n * logrecl_, '\0');
    unsigned got = 99;
    bool atEnd = !eof;
    Fmultiread(file_, first, n, buffer.data(), got, atEnd);
    EXPECT_EQ(std::make_pair(got, atEnd), std::make_pair(nread, eof)) << first;
    EXPECT_EQ(buffer.substr(0, got * logrecl_), expected(first, got)) << first;
    if (n == 1) {
      buffer.assign(logrecl_, '\0');
      Fread(file_, first, buffer.data(), atEnd);
      EXPECT_EQ(atEnd, nread == 0) << first;
      EXPECT_EQ(buffer.substr(0, nread * logrecl_), expected(first, nread)) << first;
    }
  }
  std::wstring warning(unsigned rec, unsigned attempt) const {
    return L"Warning BROKEN FILE: " + name_ + std::to_wstring(rec) +
           L", read action will be retried, attempt " + std::to_wstring(attempt) + L"/3";
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
  std::ofstream(path_, std::ios::binary | std::ios::app) << "abc";
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
  std::string buffer(80, '\0');
  unsigned nread = 0;
  bool eof = true;
  calls_.answerWith(kestle_test::flipByte(
      op, 6 * 9 + 3, [](int n) { return n == 0; }, true, verified));
  Fmultiread(file_, 1, 10, buffer.data(), nread, eof);
  EXPECT_EQ(std::make_tuple(nread, eof, buffer), std::make_tuple(10u, false, expected(1, 10)));
  auto const e = logs_.entries().at(0);
  EXPECT_TRUE(e.sourceFile == "fio" && e.category == "fioWarningLog" && e.line == 158 &&
              e.type == 2 && e.logFile == L"ERROR.LOG");
  EXPECT_EQ(kestle_test::spans(calls_.of(op)), (std::vector<kestle_test::Span>{{0, 90}, {0, 90}}));

  calls_.clear();
  logs_.clear();
  calls_.answerWith(kestle_test::flipByte(
      op, 6 * 9 + 3, [](int) { return true; }, true, verified));
  Fmultiread(file_, 1, 10, buffer.data(), nread, eof);
  EXPECT_EQ(logs_.texts(),
            (std::vector<std::wstring>{warning(7, 1), warning(7, 2), warning(7, 3)}));
  EXPECT_EQ(sleeps_.sleeps(), (std::vector<unsigned>{10, 10, 20, 30}));
  EXPECT_EQ(calls_.count(op), 4u);
  // Records 1 to 6 in their places; record 8 is not handed out as record 7.
  EXPECT_EQ(std::make_pair(nread, eof), std::make_pair(6u, false));
  EXPECT_EQ(buffer.substr(0, 48), expected(1, 6));
  EXPECT_NE(buffer.substr(48, 8), expected(8, 1));
  Fread(file_, 7, buffer.data(), eof);
  EXPECT_TRUE(eof);
  Fmultiread(file_, 7, 2, buffer.data(), nread, eof);
  EXPECT_EQ(std::make_pair(nread, eof), std::make_pair(0u, false));
  EXPECT_EQ(reports_.count(), 3u);
}

INSTANTIATE_TEST_SUITE_P(AllPaths, RecordReadTest, ::testing::Values(0, 1, 2));
INSTANTIATE_TEST_SUITE_P(Enciphered, RecordCipherTest, ::testing::Values(1, 2));

class RecordReadExtendedTest : public kestle_test::RecordTest {};

TEST_F(RecordReadExtendedTest, TextCarriesThreadAndGeometry) {
  ReadSwitches switches(true, false, false);
  makeFile(14, 8, true);
  calls_.answerWith(kestle_test::flipByte(Op::Read, 11 * 9, [](int n) { return n == 0; }));
  std::string buffer(32, '\0');
  unsigned nread = 0;
  bool eof = true;
  Fmultiread(file_, 10, 4, buffer.data(), nread, eof);  // record 12 is the third
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

std::wstring hex(void const* p) {
  std::wostringstream s;
  s << std::hex << std::uppercase << reinterpret_cast<std::uintptr_t>(p);
  return s.str();
}

// The verified read of records 3 and 4 (20 physical bytes at file position 20).
class VerifiedReadTest : public kestle_test::RecordTest {
 protected:
  void SetUp() override { makeFile(10, 9, true); }
  void readTwo() {
    buffer_.assign(18, '\0');
    Fmultiread(file_, 3, 2, buffer_.data(), nread_, eof_);
  }
  std::string buffer_;
  unsigned nread_ = 0;
  bool eof_ = true;
};

// The second time the copy is mended while the begin text is written.
TEST_F(VerifiedReadTest, DifferencesAreLoggedAtBothComparisons) {
  ReadSwitches switches(false, true, false);
  char* original = nullptr;
  char* copy = nullptr;
  calls_.answerWith(
      kestle_test::alterReads(Op::Read2, [&](int, unsigned long long, char* b, char* c, unsigned) {
        original = b;
        copy = c;
        c[5] ^= 1;
        c[9] ^= 1;
      }));
  readTwo();
  EXPECT_EQ(std::make_pair(nread_, buffer_), std::make_pair(2u, expected(3, 2)));
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
  readTwo();
  Platform::setLogHandler(previous);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_NE(lines[0].find(L" begin buffer vs. copy"), std::wstring::npos) << lines[0];
  EXPECT_EQ(lines[1], L"Difference at begin but not at end?!");
  EXPECT_EQ(buffer_, expected(3, 2));
}

TEST_F(VerifiedReadTest, UseCopyDeciphersFromTheCopy) {
  calls_.answerWith(kestle_test::flipByte(Op::Read2, 20 + 12, [](int) { return true; }));
  {
    ReadSwitches switches(false, false, true);
    readTwo();
    EXPECT_EQ(std::make_pair(nread_, buffer_), std::make_pair(2u, expected(3, 2)));
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
