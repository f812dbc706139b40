// The record file handle: opening and its refusals, closing, the record keys as they land in the
// file, and the size in records.
#include <fcntl.h>
#include <unistd.h>

#include "support/record_support.h"

namespace {

using kestle_test::expectReport;
using kestle_test::recordBytes;
using Op = Platform::FileOp;
using ReportOp = Platform::Report::Op;

class RecordFileTest : public kestle_test::RecordTest {};

TEST_F(RecordFileTest, OpenRefusalsLeaveThePointerAndAllocateNothing) {
  auto* const stale = reinterpret_cast<FioFile*>(0x1234);
  FioFile* file = stale;
  std::wstring const missing = dir_.wfile("missing");
  EXPECT_EQ(FopenName(missing.c_str(), 10, true, Sharing::AllowRead, Access::Read,
                      OpenFlag::OpenExisting, file, false),
            SysError::FileNotFound);
  EXPECT_EQ(FopenName(missing.c_str(), 0, false, Sharing::AllowRead, Access::ReadWrite,
                      OpenFlag::OpenOrCreate, file, false),
            SysError::InvalidParameter);
  EXPECT_EQ(file, stale);
  EXPECT_FALSE(std::filesystem::exists(dir_.file("missing")));
  EXPECT_EQ(heap_.held(), 0);
  ASSERT_EQ(reports_.count(), 1u);
  expectReport(reports_.reports()[0], ReportOp::Panic1Text, false, L"FopenName", 373, missing, 0);
}

TEST_F(RecordFileTest, SizeChecksAtOpenAndAfter) {
  kestle_test::writeWholeFile(dir_.file("data"), std::string(1000, 'x'));
  open(5, true);
  EXPECT_EQ(Fbuflen(file_, 10), 50u);
  EXPECT_EQ(Fbuflen(file_, 0x33333334u), 4u);  // 32-bit product
  EXPECT_EQ(std::wstring(FGetName(file_)), name_);
  ASSERT_EQ(reports_.count(), 1u);
  expectReport(reports_.reports()[0], ReportOp::Panic1Text, false, L"Fsize", 786,
               L"Fsize/2 1000, reclen 6, " + name_, 0);
  unsigned nrecs = 0;
  Fsize(file_, nrecs);
  EXPECT_EQ(nrecs, 166u);  // the trailing part record is not counted

  reports_.clear();
  kestle_test::FileCalls calls(kestle_test::failOn(Op::Size, SysError::IoDevice));
  Fsize(file_, nrecs);
  EXPECT_EQ(nrecs, 0u);
  ASSERT_EQ(reports_.count(), 1u);
  expectReport(reports_.reports()[0], ReportOp::Panic1Ec, true, L"Fsize", 783, L"Fsize/1, " + name_,
               SysError::IoDevice);
}

TEST_F(RecordFileTest, SetSizeInRecords) {
  open(100, true);
  unsigned nrecs = 0;
  FSetSize(file_, 3);
  Fsize(file_, nrecs);
  EXPECT_EQ(std::filesystem::file_size(path_), 303u);
  EXPECT_EQ(nrecs, 3u);
  FSetSize(file_, 0);
  EXPECT_EQ(std::filesystem::file_size(path_), 0u);
  // The byte size is 64-bit: a sparse file past 4 GiB.
  EXPECT_EQ(FSetNewSize(file_, 50000000), 0u);
  EXPECT_EQ(std::filesystem::file_size(path_), 5050000000ull);
  Fsize(file_, nrecs);
  EXPECT_EQ(nrecs, 50000000u);
  std::filesystem::resize_file(path_, 101 * 0x100000001ull);  // 2^32 + 1 records: saturates
  Fsize(file_, nrecs);
  EXPECT_EQ(nrecs, 0xFFFFFFFFu);
  EXPECT_EQ(reports_.count(), 0u);

  kestle_test::FileCalls calls(kestle_test::failOn(Op::SetSize, SysError::DiskFull));
  EXPECT_EQ(FSetNewSize(file_, 4), SysError::DiskFull);
  EXPECT_EQ(reports_.count(), 0u);
  FSetSize(file_, 4);
  ASSERT_EQ(reports_.count(), 1u);
  expectReport(reports_.reports()[0], ReportOp::Panic1Ec, true, L"FSetSize", 796, name_,
               SysError::DiskFull);
}

// Each record is stored enciphered under the key of its number: read the file back with plain
// POSIX calls and decipher every record under the key it must have.
TEST_F(RecordFileTest, RecordKeysAsStoredInTheFile) {
  open(4, true);
  std::pair<unsigned, unsigned char> const keys[] = {
      {1, 0},     {2, 1},       {256, 255}, {257, 1},   {32768, 126},
      {32769, 0}, {65536, 126}, {65537, 1}, {65793, 2}, {16777218, 1}};
  for (auto const& [rec, key] : keys)
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

TEST_F(RecordFileTest, CloseWritesTheBufferFirstAndAlwaysReleases) {
  open(10, false);
  std::string data = recordBytes(2, 10);
  std::string atClose = "(not closed)";
  kestle_test::FileCalls calls([&](Platform::FileCall const& c) {
    if (c.op == Op::Close)
      atClose = contents();
    return c.op == Op::Close ? std::optional(kestle_test::failWith(SysError::IoDevice))
                             : std::nullopt;
  });
  Fbufwrite(file_, 1, 4, data.data());
  Fbufwrite(file_, 2, 4, data.data() + 10);
  EXPECT_EQ(calls.count(Op::Write), 0u);
  Fclose(file_);
  EXPECT_EQ(file_, nullptr);
  EXPECT_EQ(atClose, data);  // the run was written before the close
  ASSERT_EQ(reports_.count(), 1u);
  expectReport(reports_.reports()[0], ReportOp::Panic1Ec, false, L"Fclose", 398, name_,
               SysError::IoDevice);
}

}  // namespace

// Records past 0xFFFFFFFF, a stored record too long for 32 bits and null pointers with a count:
// refused with 87, nothing written or allocated; functions without a result code report it.
TEST_F(RecordFileTest, ThirtyTwoBitEdgesAndNullPointersAreRefused) {
  FioFile* file = nullptr;
  EXPECT_EQ(FopenName(dir_.wfile("huge").c_str(), 0xFFFFFFFFu, true, Sharing::AllowRead,
                      Access::ReadWrite, OpenFlag::OpenOrCreate, file, false),
            SysError::InvalidParameter);
  EXPECT_EQ(file, nullptr);
  EXPECT_EQ(heap_.held(), 0);
  for (bool cypher : {false, true}) {
    open(8, cypher, cypher ? "enciphered" : "plain");
    std::string data = recordBytes(2, 8);
    kestle_test::FileCalls calls;
    unsigned long err = 0;
    Fmultiwrite(file_, 0xFFFFFFFFu, 2, data.data(), err);
    EXPECT_EQ(err, SysError::InvalidParameter);
    Fmultiwrite(file_, 1, 1, nullptr, err);
    EXPECT_EQ(err, SysError::InvalidParameter);
    Fwrite(file_, 1, nullptr);
    Fbufwrite(file_, 1, 4, nullptr);
    unsigned nread = 9;
    bool eof = true;
    Fmultiread(file_, 0xFFFFFFFFu, 2, data.data(), nread, eof);
    EXPECT_EQ(std::make_pair(nread, eof), std::make_pair(0u, false));
    Fmultiread(file_, 1, 1, nullptr, nread, eof);
    Fread(file_, 1, nullptr, eof);
    EXPECT_TRUE(eof);
    EXPECT_EQ(calls.count(Op::Write) + calls.count(Op::Read) + calls.count(Op::Read2), 0u);
    EXPECT_EQ(file_->bufcapacity_, 0u);
    auto const r = reports_.reports();
    ASSERT_EQ(r.size(), 5u);
    std::pair<wchar_t const*, unsigned> const sites[] = {{L"Fwrite", 753},
                                                         {L"Fbufwrite", 760},
                                                         {L"Fmultiread", 536},
                                                         {L"Fmultiread", 536},
                                                         {L"Fread", 552}};
    for (size_t i = 0; i < 5; ++i)
      expectReport(r[i], ReportOp::Panic1Ec, i == 0, sites[i].first, sites[i].second, name_,
                   SysError::InvalidParameter);
    reports_.clear();
    Fclose(file_);
  }
  EXPECT_EQ(std::filesystem::file_size(dir_.file("plain")), 0u);
}
