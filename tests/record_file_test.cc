// The record file handle, and every report the record layer makes.
#include <fcntl.h>
#include <unistd.h>

#include "support/record_support.h"

namespace {

using kestle_test::failOn;
using kestle_test::failWith;
using kestle_test::recordBytes;
using Op = Platform::FileOp;
using ReportOp = Platform::Report::Op;

class RecordFileTest : public kestle_test::RecordTest {};

// In texts, % stands for the file's name.
TEST_F(RecordFileTest, EveryReportSite) {
  char buffer[80] = {}, copy[80] = {};
  unsigned nread = 0;
  bool eof = false;
  unsigned long err = 0;
  auto const broken = kestle_test::flipByte(Op::Read, 6 * 9 + 3, [](int) { return true; });
  auto const broken2 = kestle_test::flipByte(
      Op::Read2, 6 * 9 + 3, [](int) { return true; }, true, true);
  auto const zeroLength = [&] {
    EXPECT_EQ(FopenName(name_.c_str(), 0, false, Sharing::AllowRead, Access::Read,
                        OpenFlag::OpenExisting, file_, false),
              87u);
  };
  auto const partRecord = [&] {
    Fclose(file_);
    kestle_test::writeWholeFile(path_, std::string(1000, 'x'));
    open(5, true);
  };
  auto const nullRead = [&] {
    eof = false;
    Fread(file_, 1, nullptr, eof);
    EXPECT_TRUE(eof);  // nothing delivered
  };
  auto const failedRun = [&] {
    Fbufwrite(file_, 1, 4, buffer);
    Fflushbuf(file_);
  };
  auto const verifiedRead = [&] {
    kestle_test::ReadSwitches verified(false, true, false);
    Fmultiread(file_, 1, 10, buffer, nread, eof);
  };
  auto const busy = kestle_test::firstCalls(Op::Read, 30, failWith(NoHandleError));
  auto const refused2 = kestle_test::firstCalls(Op::Read2, 2, failWith(1117));
  auto const readTwo = [&] { EXPECT_EQ(file_->readBytes2(1, buffer, copy, 24), 24u); };
  unsigned const retries = kestle_detail::record::kReportedRetryLimit;
  struct Site {
    bool cypher;
    kestle_test::Answer answer;
    std::function<void()> act;
    ReportOp op;
    bool flag;
    wchar_t const* function;
    unsigned line;
    wchar_t const* text1;  // null: none
    wchar_t const* text2;
    unsigned long code;
    size_t count;  // reports the act makes
  } const sites[] = {
      {false, nullptr, zeroLength, ReportOp::Panic1Text, false, L"FopenName", 373, L"%", nullptr, 0,
       1},
      {true, nullptr, partRecord, ReportOp::Panic1Text, false, L"Fsize", 786,
       L"Fsize/2 1000, reclen 6, %", nullptr, 0, 1},
      {false, failOn(Op::Size, SysError::IoDevice), [&] { Fsize(file_, nread); },
       ReportOp::Panic1Ec, true, L"Fsize", 783, L"Fsize/1, %", nullptr, SysError::IoDevice, 1},
      {true, failOn(Op::SetSize, SysError::DiskFull), [&] { FSetSize(file_, 4); },
       ReportOp::Panic1Ec, true, L"FSetSize", 796, L"%", nullptr, SysError::DiskFull, 1},
      {false, failOn(Op::Close, SysError::IoDevice), [&] { Fclose(file_); }, ReportOp::Panic1Ec,
       false, L"Fclose", 398, L"%", nullptr, SysError::IoDevice, 1},
      {true, failOn(Op::Write, SysError::DiskFull), [&] { Fwrite(file_, 2, buffer); },
       ReportOp::Panic1Ec, true, L"Fwrite", 753, L"%", nullptr, SysError::DiskFull, 1},
      {false, nullptr, [&] { Fbufwrite(file_, 1, 4, nullptr); }, ReportOp::Panic1Ec, false,
       L"Fbufwrite", 760, L"%", nullptr, 87, 1},
      {false, nullptr, [&] { Fbufwrite(file_, 1, 0, buffer); }, ReportOp::PanicMe, false,
       L"Fbufwrite", 762, nullptr, nullptr, 0, 1},
      {false, nullptr, [&] { Fmultiread(file_, 0xFFFFFFFFu, 2, buffer, nread, eof); },
       ReportOp::Panic1Ec, false, L"Fmultiread", 536, L"%", nullptr, 87, 1},
      {false, nullptr, nullRead, ReportOp::Panic1Ec, false, L"Fread", 552, L"%", nullptr, 87, 1},
      {false, failOn(Op::Write, SysError::DiskFull), failedRun, ReportOp::TrapretMe, true,
       L"FioFile::flushBuffer", 338, nullptr, nullptr, SysError::DiskFull, 1},
      {false, failOn(Op::Flush, SysError::IoDevice), [&] { Fflush(file_); }, ReportOp::Panic1Ec,
       true, L"Fflush", 814, L"%", nullptr, SysError::IoDevice, 1},
      {false, busy, [&] { EXPECT_EQ(file_->readBytes(1, buffer, 24), 24u); }, ReportOp::Panic1Ec,
       true, L"FioFile::readBytes", 265, L"readBytes/102, %", nullptr, NoHandleError, 1},
      {false, refused2, readTwo, ReportOp::Panic1Ec, true, L"FioFile::readBytes2", 291,
       L"readBytes/102, %", nullptr, 1117, 2},
      {false, nullptr, [&] { EXPECT_EQ(file_->readBytes(1, buffer, 7), 7u); }, ReportOp::PanicMe,
       false, L"FioFile::readBytes", 249, L"7", L"6", 0, 1},
      {false, nullptr, [&] { file_->readBytes2(1, buffer, copy, 7); }, ReportOp::PanicMe, false,
       L"FioFile::readBytes2", 274, L"7", L"6", 0, 1},
      {false, failOn(Op::Write, SysError::InvalidHandle), [&] { file_->writeBytes(1, buffer, 6); },
       ReportOp::Panic1Ec, true, L"FioFile::writeBytes", 326, L"writeBytes/102, %", nullptr,
       SysError::InvalidHandle, retries},
      {true, broken, [&] { Fmultiread(file_, 1, 10, buffer, nread, eof); }, ReportOp::Panic1Text,
       false, L"FioFile::multiReadCypher", 499, L"BROKEN FILE: %7", nullptr, 0, 1},
      {true, broken2, verifiedRead, ReportOp::Panic1Text, false, L"FioFile::multiReadCypher2", 646,
       L"BROKEN FILE: %7", nullptr, 0, 1},
  };
  auto named = [&](wchar_t const* text) -> std::optional<std::wstring> {
    if (text == nullptr)
      return std::nullopt;
    std::wstring s = text;
    size_t const at = s.find(L'%');
    return at == std::wstring::npos ? s : s.replace(at, 1, name_);
  };
  for (Site const& site : sites) {
    SCOPED_TRACE(testing::Message() << site.function << " " << site.line);
    Fclose(file_);
    std::filesystem::remove(dir_.file("data"));
    unsigned const logrecl = site.cypher ? 8 : 6;
    open(logrecl, site.cypher);
    data_ = recordBytes(10, logrecl);
    Fmultiwrite(file_, 1, 10, data_.data(), err);
    reports_.clear();
    calls_.answerWith(site.answer);
    site.act();
    calls_.answerWith({});
    auto const r = reports_.reports();
    ASSERT_EQ(r.size(), site.count);
    EXPECT_EQ(std::tie(r[0].op, r[0].flag, r[0].file, r[0].function, r[0].line, r[0].text1,
                       r[0].text2, r[0].code),
              std::make_tuple(site.op, site.flag, std::wstring(L"fio"), std::wstring(site.function),
                              site.line, named(site.text1), named(site.text2), site.code));
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

TEST_F(RecordFileTest, SizesInRecords) {
  kestle_test::writeWholeFile(dir_.file("data"), std::string(1000, 'x'));
  open(5, true);
  EXPECT_EQ(Fbuflen(file_, 10), 50u);
  EXPECT_EQ(Fbuflen(file_, 0x33333334u), 4u);  // 32-bit product
  EXPECT_EQ(std::wstring(FGetName(file_)), name_);
  unsigned nrecs = 0;
  Fsize(file_, nrecs);
  EXPECT_EQ(nrecs, 166u);  // the trailing part record is not counted
  FSetSize(file_, 3);
  Fsize(file_, nrecs);
  EXPECT_EQ(std::make_pair(std::filesystem::file_size(path_), nrecs), std::make_pair(18ul, 3u));
  // The byte size is 64-bit: a sparse file past 4 GiB; past 2^32 records the count saturates.
  EXPECT_EQ(FSetNewSize(file_, 1000000000), 0u);
  Fsize(file_, nrecs);
  EXPECT_EQ(std::make_pair(std::filesystem::file_size(path_), nrecs),
            std::make_pair(6000000000ul, 1000000000u));
  std::filesystem::resize_file(path_, 6 * 0x100000001ull);
  Fsize(file_, nrecs);
  EXPECT_EQ(nrecs, 0xFFFFFFFFu);
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
