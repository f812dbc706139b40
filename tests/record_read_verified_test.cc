// The verified read: the two buffers compared before and after deciphering, the texts that
// describe their differences, deciphering from the copy, and broken records on this path.
#include <cstdint>
#include <sstream>

#include "support/record_support.h"

namespace {

using kestle_test::ReadSwitches;
using Op = Platform::FileOp;

std::wstring hex(void const* p) {
  std::wostringstream s;
  s << std::hex << std::uppercase << reinterpret_cast<std::uintptr_t>(p);
  return s.str();
}
std::wstring const threadId = std::to_wstring(Thread::currentThreadId());

TEST(BufferDifferenceText, NamesCountsPositionsAndAddresses) {
  char original[20] = {}, copy[20] = {};
  copy[5] = 1;
  copy[9] = 2;
  ReadSwitches switches(false, true, false);
  EXPECT_EQ(std::wstring(bufferDifferenceText(true, 3, 0x1000, L"F", original, copy, 20)),
            L"Warning BROKEN FILE, thread id " + threadId +
                L" begin buffer vs. copy (use original) in  F reading started at record 3. "
                L"Memory first difference org at 0x" +
                hex(original + 5) + L", copy at 0x" + hex(copy + 5) +
                L", in file 0x1005. Differences 2 bytes in buffer of length 20. First difference "
                L"at (0-based) position 5, last position 9, length 5");

  SetReadUseCopyBuffer(true);
  std::wstring const end(bufferDifferenceText(false, 3, 0x1000, L"F", original, copy, 20));
  EXPECT_NE(end.find(L" end buffer vs. copy (use copy) in F reading"), std::wstring::npos) << end;
}

class VerifiedReadTest : public kestle_test::RecordTest {
 protected:
  void SetUp() override { makeFile(10, 9, true); }
  // Reads records 3 and 4 (20 physical bytes at file position 20).
  void readTwo() {
    buffer_.assign(18, '\0');
    Fmultiread(file_, 3, 2, buffer_.data(), nread_, eof_);
  }

  kestle_test::FileCalls calls_;
  std::string buffer_;
  unsigned nread_ = 0;
  bool eof_ = true;
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

TEST_F(VerifiedReadTest, BrokenRecordIsRetriedAndReportedAtItsOwnLine) {
  ReadSwitches switches(false, true, false);
  // Record 4 damaged alike in both buffers: no difference, a broken record.
  calls_.answerWith(kestle_test::flipByte(
      Op::Read2, 30 + 2, [](int) { return true; }, true, true));
  readTwo();
  std::vector<std::wstring> warnings;
  for (int attempt = 1; attempt <= 3; ++attempt)
    warnings.push_back(L"Warning BROKEN FILE: " + name_ +
                       L"4, read action will be retried, attempt " + std::to_wstring(attempt) +
                       L"/3");
  EXPECT_EQ(logs_.texts(), warnings);
  EXPECT_EQ(sleeps_.sleeps(), (std::vector<unsigned>{10, 20, 30}));
  EXPECT_EQ(calls_.count(Op::Read2), 4u);
  ASSERT_EQ(reports_.count(), 1u);
  kestle_test::expectReport(reports_.reports()[0], Platform::Report::Op::Panic1Text, false,
                            L"FioFile::multiReadCypher2", 646, L"BROKEN FILE: " + name_ + L"4", 0);
  EXPECT_EQ(nread_, 1u);
  EXPECT_FALSE(eof_);
  EXPECT_EQ(buffer_.substr(0, 9), expected(3, 1));
}

}  // namespace
