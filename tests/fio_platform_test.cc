// The platform's raw file primitives: opening modes, positioned transfers, sizes, the errno
// mapping, and the file-fault hook's three kinds of answer.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <limits>
#include <string>
#include <vector>

#include "kestle/clock.h"
#include "platform/errno_code.h"
#include "platform/file.h"
#include "support/fio_support.h"
#include "support/guards.h"

namespace {

using kestle_test::cutTo;
using kestle_test::failWith;
using kestle_test::FileFaultGuard;
using kestle_test::HeapCheck;
using kestle_test::readWholeFile;
using kestle_test::TempDir;
using kestle_test::writeWholeFile;

// Opens a file and closes it when the test ends.
class OpenFile {
 public:
  OpenFile(std::wstring const& name, Access access, OpenFlag flag,
           Sharing sharing = Sharing::Exclusive) {
    code_ = FioOpen(name.c_str(), access, sharing, flag, handle_, false);
  }
  ~OpenFile() {
    if (handle_ != nullptr)
      FioClose(handle_);
  }
  void* handle() const { return handle_; }
  unsigned long code() const { return code_; }

 private:
  void* handle_ = nullptr;
  unsigned long code_ = 0;
};

TEST(FioErrnoMapping, EveryListedErrnoHasItsCode) {
  struct Case {
    int err;
    unsigned long code;
  } const cases[] = {
      {0, 0},        {ENOENT, 2},   {ENOTDIR, 3}, {EMFILE, 4},        {ENFILE, 4},
      {EACCES, 5},   {EPERM, 5},    {EISDIR, 5},  {EBADF, 6},         {ENOMEM, 8},
      {EROFS, 19},   {EBUSY, 32},   {EAGAIN, 33}, {EEXIST, 80},       {EINVAL, 87},
      {ENOSPC, 112}, {EDQUOT, 112}, {EIO, 1117},  {ENAMETOOLONG, 31}, {EFBIG, 31},
      {ELOOP, 31},   {12345, 31},
  };
  for (Case const& c : cases) {
    EXPECT_EQ(kestle_detail::systemCodeOf(c.err), c.code) << "errno " << c.err;
  }
}

TEST(FioOpenTest, OpenFlagsDecideWhetherTheFileMustExistOrIsEmptied) {
  HeapCheck heap;
  TempDir dir;
  std::wstring name = dir.wfile("f");

  {
    OpenFile missing(name, Access::ReadWrite, OpenFlag::OpenExisting);
    EXPECT_EQ(missing.code(), SysError::FileNotFound);
    EXPECT_EQ(missing.handle(), nullptr);
  }
  {
    OpenFile created(name, Access::ReadWrite, OpenFlag::CreateNew);
    ASSERT_EQ(created.code(), 0u);
    EXPECT_NE(created.handle(), nullptr);
  }
  {
    OpenFile again(name, Access::ReadWrite, OpenFlag::CreateNew);
    EXPECT_EQ(again.code(), SysError::FileExists);
    EXPECT_EQ(again.handle(), nullptr);
  }
  writeWholeFile(dir.file("f"), "content");
  {
    OpenFile kept(name, Access::ReadWrite, OpenFlag::OpenOrCreate);
    ASSERT_EQ(kept.code(), 0u);
  }
  EXPECT_EQ(readWholeFile(dir.file("f")), "content");
  {
    OpenFile emptied(name, Access::Write, OpenFlag::CreateOrTruncate);
    ASSERT_EQ(emptied.code(), 0u);
  }
  EXPECT_EQ(readWholeFile(dir.file("f")), "");
  {
    OpenFile fresh(dir.wfile("g"), Access::ReadWrite, OpenFlag::OpenOrCreate);
    ASSERT_EQ(fresh.code(), 0u);
    EXPECT_TRUE(std::filesystem::exists(dir.file("g")));
  }
}

TEST(FioOpenTest, RefusedNamesAndParametersLeaveNoHandle) {
  HeapCheck heap;
  TempDir dir;
  int descriptors = kestle_test::openDescriptorCount();
  writeWholeFile(dir.file("plain"), "x");

  struct Case {
    wchar_t const* what;
    std::wstring name;
    Access access;
    OpenFlag flag;
    unsigned long code;
  } const cases[] = {
      {L"directory", dir.path().wstring(), Access::Read, OpenFlag::OpenExisting, 5},
      {L"directory for writing", dir.path().wstring(), Access::ReadWrite, OpenFlag::OpenExisting,
       5},
      {L"below a plain file", dir.wfile("plain") + L"/x", Access::Read, OpenFlag::OpenExisting, 3},
      {L"truncate read-only", dir.wfile("plain"), Access::Read, OpenFlag::CreateOrTruncate, 87},
      {L"unknown access", dir.wfile("plain"), static_cast<Access>(7), OpenFlag::OpenExisting, 87},
      {L"unknown open flag", dir.wfile("plain"), Access::Read, static_cast<OpenFlag>(9), 87},
  };
  for (Case const& c : cases) {
    void* handle = reinterpret_cast<void*>(1);
    EXPECT_EQ(FioOpen(c.name.c_str(), c.access, Sharing::AllowRead, c.flag, handle, false), c.code)
        << c.what;
    EXPECT_EQ(handle, nullptr) << c.what;
  }
  void* handle = nullptr;
  EXPECT_EQ(
      FioOpen(nullptr, Access::Read, Sharing::AllowRead, OpenFlag::OpenExisting, handle, false),
      87u);
  EXPECT_EQ(readWholeFile(dir.file("plain")), "x");
  EXPECT_EQ(kestle_test::openDescriptorCount(), descriptors);
}

TEST(FioTransferTest, TransfersStartAtThePositionAndAdvanceIt) {
  HeapCheck heap;
  TempDir dir;
  OpenFile file(dir.wfile("f"), Access::ReadWrite, OpenFlag::CreateNew);
  ASSERT_EQ(file.code(), 0u);
  void* h = file.handle();

  unsigned n = 0;
  ASSERT_EQ(FioSetPos(h, 4), 0u);
  ASSERT_EQ(FioWrite(h, "abc", 3, n), 0u);
  EXPECT_EQ(n, 3u);
  ASSERT_EQ(FioWrite(h, "def", 3, n), 0u);  // continues where the last one ended
  EXPECT_EQ(readWholeFile(dir.file("f")), std::string("\0\0\0\0abcdef", 10));

  char buf[16] = {};
  ASSERT_EQ(FioSetPos(h, 5), 0u);
  ASSERT_EQ(FioRead(h, buf, 2, n), 0u);
  EXPECT_EQ(std::string(buf, n), "bc");
  ASSERT_EQ(FioRead(h, buf, 16, n), 0u);  // the file ends: a short count, no error
  EXPECT_EQ(std::string(buf, n), "def");
  ASSERT_EQ(FioRead(h, buf, 16, n), 0u);
  EXPECT_EQ(n, 0u);

  ASSERT_EQ(FioSetPos(h, 1000), 0u);
  ASSERT_EQ(FioRead(h, buf, 16, n), 0u);
  EXPECT_EQ(n, 0u);

  char copy[16] = {};
  ASSERT_EQ(FioSetPos(h, 4), 0u);
  ASSERT_EQ(FioRead2(h, buf, copy, 4, n), 0u);
  EXPECT_EQ(n, 4u);
  EXPECT_EQ(std::string(buf, 4), "abcd");
  EXPECT_EQ(std::string(copy, 4), "abcd");
  ASSERT_EQ(FioRead(h, buf, 2, n), 0u);  // the double read advanced the position once
  EXPECT_EQ(std::string(buf, n), "ef");
}

TEST(FioTransferTest, SizeChangesCutOrExtendWithZeros) {
  HeapCheck heap;
  TempDir dir;
  OpenFile file(dir.wfile("f"), Access::ReadWrite, OpenFlag::CreateNew);
  ASSERT_EQ(file.code(), 0u);
  unsigned n = 0;
  ASSERT_EQ(FioWrite(file.handle(), "0123456789", 10, n), 0u);
  unsigned long long size = 0;
  ASSERT_EQ(FioSize(file.handle(), size), 0u);
  EXPECT_EQ(size, 10u);
  ASSERT_EQ(FioSetSize(file.handle(), 4), 0u);
  ASSERT_EQ(FioSetSize(file.handle(), 6), 0u);
  ASSERT_EQ(FioSize(file.handle(), size), 0u);
  EXPECT_EQ(size, 6u);
  EXPECT_EQ(readWholeFile(dir.file("f")), std::string("0123\0\0", 6));
  EXPECT_EQ(FioFlush(file.handle()), 0u);
}

TEST(FioTransferTest, HandlesRefuseWhatTheirAccessOrArgumentsForbid) {
  HeapCheck heap;
  TempDir dir;
  writeWholeFile(dir.file("f"), "data");
  OpenFile reader(dir.wfile("f"), Access::Read, OpenFlag::OpenExisting);
  OpenFile writer(dir.wfile("f"), Access::Write, OpenFlag::OpenExisting);
  ASSERT_EQ(reader.code(), 0u);
  ASSERT_EQ(writer.code(), 0u);
  char buf[4];
  unsigned n = 99;

  EXPECT_EQ(FioWrite(reader.handle(), "x", 1, n), SysError::InvalidHandle);
  EXPECT_EQ(n, 0u);
  EXPECT_EQ(FioSetSize(reader.handle(), 0), SysError::InvalidHandle);
  EXPECT_EQ(FioRead(writer.handle(), buf, 4, n), SysError::InvalidHandle);
  EXPECT_EQ(readWholeFile(dir.file("f")), "data");

  unsigned long long const huge = std::numeric_limits<unsigned long long>::max();
  EXPECT_EQ(FioSetPos(reader.handle(), huge), SysError::InvalidParameter);
  EXPECT_EQ(FioSetSize(writer.handle(), huge), SysError::InvalidParameter);
  // A range that ends beyond the largest offset is refused before any system call.
  ASSERT_EQ(FioSetPos(writer.handle(), std::numeric_limits<long long>::max() - 1), 0u);
  EXPECT_EQ(FioWrite(writer.handle(), "xyz", 3, n), SysError::InvalidParameter);
  EXPECT_EQ(FioRead(reader.handle(), nullptr, 4, n), SysError::InvalidParameter);
}

TEST(FioTransferTest, AFullDeviceComesBackAsDiskFull) {
  if (!std::filesystem::exists("/dev/full"))
    GTEST_SKIP() << "no /dev/full";
  OpenFile full(L"/dev/full", Access::Write, OpenFlag::OpenExisting);
  ASSERT_EQ(full.code(), 0u);
  unsigned n = 9;
  EXPECT_EQ(FioWrite(full.handle(), "abc", 3, n), SysError::DiskFull);
  EXPECT_EQ(n, 0u);
}

TEST(FioTransferTest, NullHandlesAreRefusedByEveryPrimitive) {
  void* none = nullptr;
  char buf[4];
  char const* text = "abcd";
  unsigned n = 7;
  unsigned long long size = 0;
  EXPECT_EQ(FioClose(none), SysError::InvalidHandle);
  EXPECT_EQ(FioSetPos(none, 0), SysError::InvalidHandle);
  EXPECT_EQ(FioRead(none, buf, 4, n), SysError::InvalidHandle);
  EXPECT_EQ(n, 0u);
  EXPECT_EQ(FioRead2(none, buf, buf, 4, n), SysError::InvalidHandle);
  EXPECT_EQ(FioWrite(none, text, 4, n), SysError::InvalidHandle);
  EXPECT_EQ(FioFlush(none), SysError::InvalidHandle);
  EXPECT_EQ(FioSize(none, size), SysError::InvalidHandle);
  EXPECT_EQ(FioSetSize(none, 0), SysError::InvalidHandle);
}

// Sets the file's modification time to a Unix time.
void setModified(std::filesystem::path const& path, long long seconds, long nanoseconds) {
  timespec times[2] = {{0, UTIME_OMIT}, {static_cast<time_t>(seconds), nanoseconds}};
  ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

TEST(FioStampTest, ModificationTimeBecomesAUniversalStamp) {
  HeapCheck heap;
  TempDir dir;
  writeWholeFile(dir.file("f"), "x");
  OpenFile file(dir.wfile("f"), Access::Read, OpenFlag::OpenExisting);
  ASSERT_EQ(file.code(), 0u);
  Clock::UniversalTime stamp;

  setModified(dir.file("f"), 981173106, 789000000);  // 2001-02-03T04:05:06.789Z
  ASSERT_EQ(FioGetStamp(file.handle(), stamp), 0u);
  EXPECT_EQ(stamp.date, 730519u);   // day 1 is 1 January of year 1
  EXPECT_EQ(stamp.time, 1470678u);  // hundredths, cut
  EXPECT_EQ(stamp.zone, 0u);

  setModified(dir.file("f"), 946684800, 0);  // 2000-01-01T00:00:00Z: the end of the day before
  ASSERT_EQ(FioGetStamp(file.handle(), stamp), 0u);
  EXPECT_EQ(stamp.date, 730119u);
  EXPECT_EQ(stamp.time, 8640000u);

  Clock::UniversalTime untouched(1, 2, 3);
  EXPECT_EQ(FioGetStamp(nullptr, untouched), SysError::InvalidHandle);
  EXPECT_EQ(untouched.date, 1u);
}

TEST(FioCloseTest, CloseReleasesHandleAndDescriptorEvenWhenItFails) {
  HeapCheck heap;
  TempDir dir;
  int descriptors = kestle_test::openDescriptorCount();
  void* h = nullptr;
  ASSERT_EQ(FioOpen(dir.wfile("f").c_str(), Access::ReadWrite, Sharing::AllowReadWrite,
                    OpenFlag::CreateNew, h, true),
            0u);
  EXPECT_EQ(kestle_test::openDescriptorCount(), descriptors + 1);
  {
    FileFaultGuard guard([](Platform::FileCall const& call) -> std::optional<Platform::FileFault> {
      if (call.op == Platform::FileOp::Close)
        return failWith(SysError::IoDevice);
      return std::nullopt;
    });
    EXPECT_EQ(FioClose(h), SysError::IoDevice);
  }
  EXPECT_EQ(h, nullptr);
  EXPECT_EQ(kestle_test::openDescriptorCount(), descriptors);
}

// The hook's answers: a code refuses the call untouched, a count cuts a transfer for real, and
// alter edits what a read delivered.
TEST(FioFaultHookTest, AnswersRefuseCutOrAlterTransfers) {
  HeapCheck heap;
  TempDir dir;
  writeWholeFile(dir.file("f"), "0123456789");
  OpenFile file(dir.wfile("f"), Access::ReadWrite, OpenFlag::OpenExisting);
  ASSERT_EQ(file.code(), 0u);
  void* h = file.handle();

  std::vector<Platform::FileCall> calls;
  std::optional<Platform::FileFault> answer;
  FileFaultGuard guard([&](Platform::FileCall const& call) {
    calls.push_back(call);
    return answer;
  });
  unsigned n = 0;
  char buf[10] = {};
  char copy[10] = {};

  answer = failWith(SysError::DiskFull);
  ASSERT_EQ(FioSetPos(h, 2), SysError::DiskFull);  // refused: the position stays 0
  answer.reset();
  ASSERT_EQ(FioRead(h, buf, 1, n), 0u);
  EXPECT_EQ(buf[0], '0');

  answer = failWith(SysError::DiskFull);
  EXPECT_EQ(FioWrite(h, "AB", 2, n), SysError::DiskFull);
  EXPECT_EQ(n, 0u);
  EXPECT_EQ(readWholeFile(dir.file("f")), "0123456789");

  answer = cutTo(1);
  ASSERT_EQ(FioSetPos(h, 3), 0u);
  EXPECT_EQ(FioWrite(h, "XYZ", 3, n), 0u);
  EXPECT_EQ(n, 1u);
  EXPECT_EQ(readWholeFile(dir.file("f")), "012X456789");
  ASSERT_EQ(FioRead(h, buf, 4, n), 0u);  // the cut write advanced the position by one
  EXPECT_EQ(n, 1u);
  EXPECT_EQ(buf[0], '4');

  std::vector<char*> seenCopies;
  answer = Platform::FileFault{0, -1, [&](char* b, char* c, unsigned count) {
                                 b[0] = '!';
                                 if (c != nullptr)
                                   c[count - 1] = '?';
                                 seenCopies.push_back(c);
                               }};
  ASSERT_EQ(FioSetPos(h, 6), 0u);
  ASSERT_EQ(FioRead(h, buf, 3, n), 0u);
  EXPECT_EQ(std::string(buf, n), "!78");
  ASSERT_EQ(FioSetPos(h, 6), 0u);
  ASSERT_EQ(FioRead2(h, buf, copy, 3, n), 0u);
  EXPECT_EQ(std::string(buf, n), "!78");
  EXPECT_EQ(std::string(copy, n), "67?");
  EXPECT_EQ(seenCopies, (std::vector<char*>{nullptr, copy}));

  answer.reset();
  calls.clear();
  ASSERT_EQ(FioSetPos(h, 9), 0u);
  ASSERT_EQ(FioRead(h, buf, 5, n), 0u);
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[0].op, Platform::FileOp::SetPos);
  EXPECT_EQ(calls[0].position, 9u);
  EXPECT_EQ(calls[1].op, Platform::FileOp::Read);
  EXPECT_EQ(calls[1].handle, h);
  EXPECT_EQ(calls[1].name, dir.wfile("f"));
  EXPECT_EQ(calls[1].position, 9u);
  EXPECT_EQ(calls[1].length, 5u);
}

TEST(FioFaultHookTest, RefusedOpenCreatesNothing) {
  HeapCheck heap;
  TempDir dir;
  std::wstring seen;
  FileFaultGuard guard([&](Platform::FileCall const& call) -> std::optional<Platform::FileFault> {
    seen = call.name;
    return failWith(SysError::AccessDenied);
  });
  void* h = reinterpret_cast<void*>(1);
  EXPECT_EQ(FioOpen(dir.wfile("f").c_str(), Access::ReadWrite, Sharing::Exclusive,
                    OpenFlag::OpenOrCreate, h, false),
            SysError::AccessDenied);
  EXPECT_EQ(h, nullptr);
  EXPECT_EQ(seen, dir.wfile("f"));
  EXPECT_FALSE(std::filesystem::exists(dir.file("f")));
}

}  // namespace
