// The record file handle, and every report the record layer makes.
#include <fcntl.h>
#include <unistd.h>

#include "support/fio_support.h"

namespace {

using namespace kestle_test;

using RecordFileTest = RecordTest;

// Each site's first report as ReportCapture::lines() writes it, with % for the file's name.
TEST_F(RecordFileTest, EveryReportSite) {
  char buffer[80] = {}, copy[80] = {};
  unsigned nread = 0;
  bool eof = false;
  auto const zeroLength = [&] {
    EXPECT_EQ(FopenName(name_.c_str(), 0, false, Sharing::AllowRead, Access::Read,
                        OpenFlag::OpenExisting, file_, false),
              87u);
  };
  auto const partRecord = [&] {
    Fclose(file_);
    writeWholeFile(path_, std::string(1000, 'x'));
    open(5, true);
  };
  auto const nullRead = [&] {
    Fread(file_, 1, nullptr, eof);
    EXPECT_TRUE(eof);  // nothing delivered
  };
  auto const failedRun = [&] {
    Fbufwrite(file_, 1, 4, buffer);
    Fflushbuf(file_);
  };
  auto const verifiedRead = [&] {
    ReadSwitches verified(false, true, false);
    readRecords(1, 10);
  };
  struct Site {
    bool cypher;
    Answer answer;
    std::function<void()> act;
    wchar_t const* report;
    size_t count = 1;  // reports the act makes
  } const sites[] = {
      {false, nullptr, zeroLength, L"Panic1Text 0 fio:373 FopenName - % - 0 0"},
      {true, nullptr, partRecord, L"Panic1Text 0 fio:786 Fsize - Fsize/2 1000, reclen 6, % - 0 0"},
      {false, failOn(Op::Size, SysError::IoDevice), [&] { Fsize(file_, nread); },
       L"Panic1Ec 1 fio:783 Fsize - Fsize/1, % - 1117 0"},
      {true, failOn(Op::SetSize, SysError::DiskFull), [&] { FSetSize(file_, 4); },
       L"Panic1Ec 1 fio:796 FSetSize - % - 112 0"},
      {false, failOn(Op::Close, SysError::IoDevice), [&] { Fclose(file_); },
       L"Panic1Ec 0 fio:398 Fclose - % - 1117 0"},
      {true, failOn(Op::Write, SysError::DiskFull), [&] { Fwrite(file_, 2, buffer); },
       L"Panic1Ec 1 fio:753 Fwrite - % - 112 0"},
      {false, nullptr, [&] { Fbufwrite(file_, 1, 4, nullptr); },
       L"Panic1Ec 0 fio:760 Fbufwrite - % - 87 0"},
      {false, nullptr, [&] { Fbufwrite(file_, 1, 0, buffer); },
       L"PanicMe 0 fio:762 Fbufwrite - - - 0 0"},
      {false, nullptr, [&] { EXPECT_EQ(readRecords(0xFFFFFFFFu, 2), delivered(1, 0, false)); },
       L"Panic1Ec 0 fio:536 Fmultiread - % - 87 0"},
      {false, nullptr, [&] { Fmultiread(file_, 1, 1, nullptr, nread, eof); },
       L"Panic1Ec 0 fio:536 Fmultiread - % - 87 0"},
      {false, nullptr, nullRead, L"Panic1Ec 0 fio:552 Fread - % - 87 0"},
      {false, failOn(Op::Write, SysError::DiskFull), failedRun,
       L"TrapretMe 1 fio:338 FioFile::flushBuffer - - - 112 0"},
      {false, failOn(Op::Flush, SysError::IoDevice), [&] { Fflush(file_); },
       L"Panic1Ec 1 fio:814 Fflush - % - 1117 0"},
      {false, firstCalls(Op::Read, 30, failWith(NoHandleError)),
       [&] { EXPECT_EQ(file_->readBytes(1, buffer, 24), 24u); },
       L"Panic1Ec 1 fio:265 FioFile::readBytes - readBytes/102, % - 536880928 "
       L"0"},
      {false, firstCalls(Op::Read2, 2, failWith(1117)),
       [&] { EXPECT_EQ(file_->readBytes2(1, buffer, copy, 24), 24u); },
       L"Panic1Ec 1 fio:291 FioFile::readBytes2 - readBytes/102, % - 1117 0", 2},
      {false, nullptr, [&] { EXPECT_EQ(file_->readBytes(1, buffer, 7), 7u); },
       L"PanicMe 0 fio:249 FioFile::readBytes - 7 6 0 0"},
      {false, nullptr, [&] { file_->readBytes2(1, buffer, copy, 7); },
       L"PanicMe 0 fio:274 FioFile::readBytes2 - 7 6 0 0"},
      {false, failOn(Op::Write, SysError::InvalidHandle), [&] { file_->writeBytes(1, buffer, 6); },
       L"Panic1Ec 1 fio:326 FioFile::writeBytes - writeBytes/102, % - 6 0",
       kestle_detail::record::kReportedRetryLimit},
      {true, flipByte(Op::Read, 6 * 9 + 3, kEveryCall), [&] { readRecords(1, 10); },
       L"Panic1Text 0 fio:499 FioFile::multiReadCypher - BROKEN FILE: %7 - 0 "
       L"0"},
      {true, flipByte(Op::Read2, 6 * 9 + 3, kEveryCall, true), verifiedRead,
       L"Panic1Text 0 fio:646 FioFile::multiReadCypher2 - BROKEN FILE: %7 - 0 "
       L"0"},
  };
  for (Site const& site : sites) {
    SCOPED_TRACE(site.report);
    Fclose(file_);
    std::filesystem::remove(dir_.file("data"));
    makeFile(10, site.cypher ? 8 : 6, site.cypher);
    reports_.clear();
    calls_.answerWith(site.answer);
    site.act();
    calls_.answerWith({});
    auto const lines = reportLines(reports_, name_);
    ASSERT_EQ(lines.size(), site.count);
    EXPECT_EQ(lines[0], site.report);
  }
}

// A missing file; a record length of 0; an enciphered record one byte too long for 32 bits.
TEST_F(RecordFileTest, OpenRefusalsLeaveThePointerAndAllocateNothing) {
  auto* const stale = reinterpret_cast<FioFile*>(0x1234);
  FioFile* file = stale;
  for (auto [logrecl, flag, code] :
       {std::tuple(10u, OpenFlag::OpenExisting, 2ul), std::tuple(0u, OpenFlag::OpenOrCreate, 87ul),
        std::tuple(0xFFFFFFFFu, OpenFlag::OpenOrCreate, 87ul)})
    EXPECT_EQ(FopenName(dir_.wfile("missing").c_str(), logrecl, true, Sharing::AllowRead,
                        Access::ReadWrite, flag, file, false),
              code);
  EXPECT_EQ(file, stale);
  EXPECT_FALSE(std::filesystem::exists(dir_.file("missing")));
  EXPECT_EQ(heap_.held(), 0);
}

// Part records are not counted; byte sizes are 64-bit; past 2^32 records the count saturates.
TEST_F(RecordFileTest, SizesInRecords) {
  writeWholeFile(dir_.file("data"), std::string(1000, 'x'));
  open(5, true);
  EXPECT_EQ(Fbuflen(file_, 10), 50u);
  EXPECT_EQ(Fbuflen(file_, 0x33333334u), 4u);  // 32-bit product
  EXPECT_EQ(std::wstring(FGetName(file_)), name_);
  auto const sizes = [&] {
    unsigned nrecs = 0;
    Fsize(file_, nrecs);
    return std::make_pair(std::filesystem::file_size(path_), nrecs);
  };
  EXPECT_EQ(sizes(), std::make_pair(1000ul, 166u));
  FSetSize(file_, 3);
  EXPECT_EQ(sizes(), std::make_pair(18ul, 3u));
  EXPECT_EQ(FSetNewSize(file_, 1000000000), 0u);
  EXPECT_EQ(sizes(), std::make_pair(6000000000ul, 1000000000u));
  std::filesystem::resize_file(path_, 6 * 0x100000001ull);
  EXPECT_EQ(sizes().second, 0xFFFFFFFFu);
  calls_.answerWith(failOn(Op::SetSize, SysError::DiskFull));
  EXPECT_EQ(FSetNewSize(file_, 4), SysError::DiskFull);
  EXPECT_EQ(reports_.count(), 2u);  // the part record, at open and at the first Fsize
}

TEST_F(RecordFileTest, RecordKeysAsStoredInTheFile) {
  open(4, true);
  std::pair<unsigned, unsigned char> const keys[] = {
      {1, 0},     {2, 1},       {256, 255}, {257, 1},   {32768, 126},
      {32769, 0}, {65536, 126}, {65537, 1}, {65793, 2}, {16777218, 1}};
  std::string run;  // records 250 to 265 in one write, across a step of the key rule
  for (unsigned rec = 250; rec < 266; ++rec)
    run += recordBytes(1, 4, rec);
  unsigned long err = 0;
  Fmultiwrite(file_, 250, 16, run.data(), err);
  for (auto const& [rec, key] : keys)
    if (rec < 250 || rec >= 266)
      Fwrite(file_, rec, recordBytes(1, 4, rec).data());
  EXPECT_EQ(std::filesystem::file_size(path_), 16777218ull * 5);
  int const fd = ::open(path_.c_str(), O_RDONLY);
  for (auto const& [rec, key] : keys) {
    char stored[5], plain[4];
    ASSERT_EQ(::pread(fd, stored, 5, static_cast<off_t>((rec - 1ull) * 5)), 5);
    EXPECT_TRUE(Coding::Decode(stored, plain, 4, key)) << rec;
    EXPECT_EQ(std::string(plain, 4), recordBytes(1, 4, rec)) << rec;
  }
  ::close(fd);
  EXPECT_EQ(reports_.count(), 0u);
}

}  // namespace
