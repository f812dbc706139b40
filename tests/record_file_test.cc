// The record file handle: opening and its refusals, closing, the geometry and the record keys as
// they land in the file, and the size in records.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "fio/record_file.h"
#include "kestle/kestle.h"
#include "support/record_support.h"

namespace {

using kestle_test::FileCalls;
using kestle_test::recordBytes;
using Op = Platform::FileOp;

class RecordFileTest : public kestle_test::RecordTest {};

TEST_F(RecordFileTest, GeometryOfPlainAndEncipheredFiles) {
  open(5, true, "enciphered");
  EXPECT_EQ(file_->fysrecl_, 6u);
  EXPECT_EQ(file_->recordPosition(3), 12u);
  EXPECT_EQ(Fbuflen(file_, 10), 50u);
  EXPECT_EQ(std::wstring(FGetName(file_)), name_);
  // The byte position is 64-bit: the last record of a 6-byte file lies past 4 GiB.
  EXPECT_EQ(file_->recordPosition(0xFFFFFFFFu), 0xFFFFFFFEull * 6);
  // The buffer length wraps at 2^32 as its 32-bit type does.
  EXPECT_EQ(Fbuflen(file_, 0x33333334u), 4u);
  Fclose(file_);
  EXPECT_EQ(file_, nullptr);

  open(5, false, "plain");
  EXPECT_EQ(file_->fysrecl_, 5u);
  EXPECT_EQ(Fbuflen(file_, 10), 50u);
  EXPECT_EQ(reports_.count(), 0u);
}

TEST_F(RecordFileTest, FailedOpenLeavesThePointerAndAllocatesNothing) {
  auto* stale = reinterpret_cast<FioFile*>(0x1234);
  FioFile* file = stale;
  std::wstring const missing = dir_.wfile("missing");
  EXPECT_EQ(FopenName(missing.c_str(), 10, true, Sharing::AllowRead, Access::Read,
                      OpenFlag::OpenExisting, file, false),
            SysError::FileNotFound);
  EXPECT_EQ(file, stale);
  EXPECT_EQ(heap_.held(), 0);
}

TEST_F(RecordFileTest, ZeroRecordLengthIsReportedAndRefused) {
  auto* stale = reinterpret_cast<FioFile*>(0x1234);
  FioFile* file = stale;
  std::wstring const name = dir_.wfile("zero");
  EXPECT_EQ(FopenName(name.c_str(), 0, false, Sharing::AllowRead, Access::ReadWrite,
                      OpenFlag::OpenOrCreate, file, false),
            SysError::InvalidParameter);
  EXPECT_EQ(file, stale);
  EXPECT_FALSE(std::filesystem::exists(dir_.file("zero")));
  auto const r = reports_.reports();
  ASSERT_EQ(r.size(), 1u);
  EXPECT_EQ(r[0].op, Platform::Report::Op::Panic1Text);
  EXPECT_FALSE(r[0].flag);
  EXPECT_EQ(r[0].file, L"fio");
  EXPECT_EQ(r[0].function, L"FopenName");
  EXPECT_EQ(r[0].line, 373u);
  EXPECT_EQ(r[0].text1, name);
}

TEST_F(RecordFileTest, OpenReportsAFileThatIsNotWholeRecords) {
  kestle_test::writeWholeFile(dir_.file("data"), std::string(1000, 'x'));
  open(5, true);
  auto const r = reports_.reports();
  ASSERT_EQ(r.size(), 1u);
  EXPECT_EQ(r[0].op, Platform::Report::Op::Panic1Text);
  EXPECT_FALSE(r[0].flag);
  EXPECT_EQ(r[0].function, L"Fsize");
  EXPECT_EQ(r[0].line, 786u);
  EXPECT_EQ(r[0].text1, L"Fsize/2 1000, reclen 6, " + name_);
  unsigned nrecs = 0;
  Fsize(file_, nrecs);
  EXPECT_EQ(nrecs, 166u);  // the trailing part record is not counted
}

TEST_F(RecordFileTest, UnreadableSizeIsReportedAndCountsNoRecords) {
  kestle_test::writeWholeFile(dir_.file("data"), std::string(40, 'x'));
  open(4, false);
  FileCalls calls([](Platform::FileCall const& c) -> std::optional<Platform::FileFault> {
    if (c.op == Op::Size)
      return kestle_test::failWith(SysError::IoDevice);
    return std::nullopt;
  });
  unsigned nrecs = 77;
  Fsize(file_, nrecs);
  EXPECT_EQ(nrecs, 0u);
  auto const r = reports_.reports();
  ASSERT_EQ(r.size(), 1u);
  EXPECT_EQ(r[0].op, Platform::Report::Op::Panic1Ec);
  EXPECT_TRUE(r[0].flag);
  EXPECT_EQ(r[0].line, 783u);
  EXPECT_EQ(r[0].text1, L"Fsize/1, " + name_);
  EXPECT_EQ(r[0].code, SysError::IoDevice);
}

TEST_F(RecordFileTest, SetSizeInRecords) {
  open(100, true);
  FSetSize(file_, 3);
  EXPECT_EQ(std::filesystem::file_size(path_), 303u);
  unsigned nrecs = 0;
  Fsize(file_, nrecs);
  EXPECT_EQ(nrecs, 3u);
  FSetSize(file_, 0);
  EXPECT_EQ(std::filesystem::file_size(path_), 0u);
  Fsize(file_, nrecs);
  EXPECT_EQ(nrecs, 0u);
  EXPECT_EQ(reports_.count(), 0u);
}

TEST_F(RecordFileTest, SetSizeAbove4GiBOnASparseFile) {
  open(4096, false);
  unsigned const nrecs = (1u << 20) + 3;  // 4 GiB + 3 records
  EXPECT_EQ(FSetNewSize(file_, nrecs), 0u);
  EXPECT_EQ(std::filesystem::file_size(path_), 4096ull * nrecs);
  unsigned got = 0;
  Fsize(file_, got);
  EXPECT_EQ(got, nrecs);
  // A record beyond 4 GiB is written where its number says.
  std::string const record = recordBytes(1, 4096);
  Fwrite(file_, nrecs, const_cast<char*>(record.data()));
  int fd = ::open(path_.c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  std::string back(4096, '\0');
  EXPECT_EQ(::pread(fd, back.data(), back.size(), static_cast<off_t>(4096ull * (nrecs - 1))), 4096);
  ::close(fd);
  EXPECT_EQ(back, record);
  FSetSize(file_, 0);
  EXPECT_EQ(reports_.count(), 0u);
}

TEST_F(RecordFileTest, SetSizeFailures) {
  open(8, false);
  {
    FileCalls calls([](Platform::FileCall const& c) -> std::optional<Platform::FileFault> {
      if (c.op == Op::SetSize)
        return kestle_test::failWith(SysError::DiskFull);
      return std::nullopt;
    });
    EXPECT_EQ(FSetNewSize(file_, 4), SysError::DiskFull);
    EXPECT_EQ(reports_.count(), 0u);
    FSetSize(file_, 4);
  }
  auto r = reports_.reports();
  ASSERT_EQ(r.size(), 1u);
  EXPECT_EQ(r[0].op, Platform::Report::Op::Panic1Ec);
  EXPECT_TRUE(r[0].flag);
  EXPECT_EQ(r[0].function, L"FSetSize");
  EXPECT_EQ(r[0].line, 796u);
  EXPECT_EQ(r[0].text1, name_);
  EXPECT_EQ(r[0].code, SysError::DiskFull);

  // Without a raw handle: the raw layer's code, returned or reported.
  reports_.clear();
  Fio::FIOWRAP* const wrap = file_->fio_;
  file_->fio_ = nullptr;
  EXPECT_EQ(FSetNewSize(file_, 1), NoHandleError);
  EXPECT_EQ(reports_.count(), 0u);
  FSetSize(file_, 1);
  file_->fio_ = wrap;
  r = reports_.reports();
  ASSERT_EQ(r.size(), 1u);
  EXPECT_EQ(r[0].code, NoHandleError);
}

// Each record is stored enciphered under the key of its number: read the file back with plain
// POSIX calls and decipher every record under the key it must have.
TEST_F(RecordFileTest, RecordKeysAsStoredInTheFile) {
  constexpr unsigned kLength = 4;
  open(kLength, true);
  struct Case {
    unsigned rec;
    unsigned char key;
  };
  std::vector<Case> const cases = {{1, 0},     {2, 1},       {256, 255}, {257, 1},   {32768, 126},
                                   {32769, 0}, {65536, 126}, {65537, 1}, {65793, 2}, {16777218, 1}};
  for (auto const& c : cases) {
    std::string const plain = recordBytes(1, kLength, c.rec);
    Fwrite(file_, c.rec, const_cast<char*>(plain.data()));
  }
  ASSERT_EQ(reports_.count(), 0u);
  EXPECT_EQ(std::filesystem::file_size(path_), 16777218ull * (kLength + 1));

  int fd = ::open(path_.c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  for (auto const& c : cases) {
    SCOPED_TRACE(c.rec);
    char stored[kLength + 1];
    ASSERT_EQ(::pread(fd, stored, sizeof stored, static_cast<off_t>((c.rec - 1ull) * 5)), 5);
    char plain[kLength];
    EXPECT_TRUE(Coding::Decode(stored, plain, kLength, c.key));
    EXPECT_EQ(std::string(plain, kLength), recordBytes(1, kLength, c.rec));
  }
  ::close(fd);
}

TEST_F(RecordFileTest, CloseWritesTheBufferFirstAndAlwaysReleases) {
  open(10, false);
  std::string const data = recordBytes(2, 10);
  FileCalls calls([](Platform::FileCall const& c) -> std::optional<Platform::FileFault> {
    if (c.op == Op::Close)
      return kestle_test::failWith(SysError::IoDevice);
    return std::nullopt;
  });
  Fbufwrite(file_, 1, 4, const_cast<char*>(data.data()));
  Fbufwrite(file_, 2, 4, const_cast<char*>(data.data() + 10));
  EXPECT_EQ(calls.count(Op::Write), 0u);
  Fclose(file_);
  EXPECT_EQ(file_, nullptr);
  auto const ops = calls.ops();
  auto const write = std::find(ops.begin(), ops.end(), Op::Write);
  auto const close = std::find(ops.begin(), ops.end(), Op::Close);
  ASSERT_NE(write, ops.end());
  EXPECT_LT(write, close);
  EXPECT_EQ(contents(), data);
  auto const r = reports_.reports();
  ASSERT_EQ(r.size(), 1u);
  EXPECT_EQ(r[0].op, Platform::Report::Op::Panic1Ec);
  EXPECT_FALSE(r[0].flag);
  EXPECT_EQ(r[0].function, L"Fclose");
  EXPECT_EQ(r[0].line, 398u);
  EXPECT_EQ(r[0].text1, name_);
  EXPECT_EQ(r[0].code, SysError::IoDevice);

  FioFile* none = nullptr;
  Fclose(none);  // nothing to close
  EXPECT_EQ(none, nullptr);
}

}  // namespace
