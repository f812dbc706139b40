// The platform's raw file primitives: opening modes, positioned transfers, refusals with their
// system codes, the modification stamp, and the file-fault hook's three kinds of answer.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>

#include <limits>
#include <string>
#include <vector>

#include "kestle/clock.h"
#include "platform/file.h"
#include "support/fio_support.h"
#include "support/guards.h"

namespace {

using kestle_test::readWholeFile;
using kestle_test::writeWholeFile;

// Opens a file and closes it when the test ends.
class OpenFile {
 public:
  OpenFile(std::wstring const& name, Access access, OpenFlag flag) {
    code_ = FioOpen(name.c_str(), access, Sharing::AllowRead, flag, handle_, false);
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

TEST(FioOpenTest, OpenFlagsDecideWhetherTheFileMustExistOrIsEmptied) {
  kestle_test::HeapCheck heap;
  kestle_test::TempDir dir;
  std::wstring const name = dir.wfile("f");
  EXPECT_EQ(OpenFile(name, Access::ReadWrite, OpenFlag::OpenExisting).code(), 2u);
  EXPECT_EQ(OpenFile(name, Access::ReadWrite, OpenFlag::CreateNew).code(), 0u);
  EXPECT_EQ(OpenFile(name, Access::ReadWrite, OpenFlag::CreateNew).code(), 80u);
  writeWholeFile(dir.file("f"), "content");
  EXPECT_EQ(OpenFile(name, Access::ReadWrite, OpenFlag::OpenOrCreate).code(), 0u);
  EXPECT_EQ(readWholeFile(dir.file("f")), "content");
  EXPECT_EQ(OpenFile(name, Access::Write, OpenFlag::CreateOrTruncate).code(), 0u);
  EXPECT_EQ(readWholeFile(dir.file("f")), "");
}

TEST(FioOpenTest, RefusedOpensLeaveNoHandleAndNoDescriptor) {
  kestle_test::HeapCheck heap;
  kestle_test::TempDir dir;
  int const descriptors = kestle_test::openDescriptorCount();
  writeWholeFile(dir.file("plain"), "x");
  struct Case {
    std::wstring name;
    Access access;
    OpenFlag flag;
    unsigned long code;
  } const cases[] = {
      {dir.path().wstring(), Access::Read, OpenFlag::OpenExisting, 5},  // a directory
      {dir.path().wstring(), Access::ReadWrite, OpenFlag::OpenExisting, 5},
      {dir.wfile("plain") + L"/x", Access::Read, OpenFlag::OpenExisting, 3},
      {dir.wfile("plain"), Access::Read, OpenFlag::CreateOrTruncate, 87},
      {dir.wfile("plain"), static_cast<Access>(7), OpenFlag::OpenExisting, 87},
      {dir.wfile("plain"), Access::Read, static_cast<OpenFlag>(9), 87},
  };
  for (Case const& c : cases) {
    void* handle = &heap;
    EXPECT_EQ(FioOpen(c.name.c_str(), c.access, Sharing::AllowRead, c.flag, handle, false), c.code);
    EXPECT_EQ(handle, nullptr);
  }
  void* handle = nullptr;
  EXPECT_EQ(
      FioOpen(nullptr, Access::Read, Sharing::AllowRead, OpenFlag::OpenExisting, handle, false),
      87u);
  EXPECT_EQ(readWholeFile(dir.file("plain")), "x");
  EXPECT_EQ(kestle_test::openDescriptorCount(), descriptors);
}

TEST(FioTransferTest, TransfersStartAtThePositionAndAdvanceIt) {
  kestle_test::HeapCheck heap;
  kestle_test::TempDir dir;
  OpenFile file(dir.wfile("f"), Access::ReadWrite, OpenFlag::CreateNew);
  void* h = file.handle();
  unsigned n = 0;
  ASSERT_EQ(FioSetPos(h, 4), 0u);
  ASSERT_EQ(FioWrite(h, "abc", 3, n), 0u);
  ASSERT_EQ(FioWrite(h, "def", 3, n), 0u);  // continues where the last one ended
  EXPECT_EQ(readWholeFile(dir.file("f")), std::string("\0\0\0\0abcdef", 10));

  char buf[16] = {};
  char copy[16] = {};
  ASSERT_EQ(FioSetPos(h, 5), 0u);
  ASSERT_EQ(FioRead(h, buf, 2, n), 0u);
  EXPECT_EQ(std::string(buf, n), "bc");
  ASSERT_EQ(FioRead(h, buf, 16, n), 0u);  // the file ends: a short count, no error
  EXPECT_EQ(std::string(buf, n), "def");
  ASSERT_EQ(FioRead(h, buf, 16, n), 0u);
  EXPECT_EQ(n, 0u);
  ASSERT_EQ(FioSetPos(h, 4), 0u);
  ASSERT_EQ(FioRead2(h, buf, copy, 4, n), 0u);
  EXPECT_EQ(std::string(buf, n) + std::string(copy, n), "abcdabcd");
  ASSERT_EQ(FioRead(h, buf, 2, n), 0u);  // the double read advanced the position once
  EXPECT_EQ(std::string(buf, n), "ef");

  unsigned long long size = 0;
  ASSERT_EQ(FioSetSize(h, 6), 0u);
  ASSERT_EQ(FioSetSize(h, 8), 0u);
  ASSERT_EQ(FioSize(h, size), 0u);
  EXPECT_EQ(size, 8u);
  EXPECT_EQ(readWholeFile(dir.file("f")), std::string("\0\0\0\0ab\0\0", 8));
  EXPECT_EQ(FioFlush(h), 0u);
}

TEST(FioTransferTest, RefusalsComeBackAsSystemCodes) {
  kestle_test::HeapCheck heap;
  kestle_test::TempDir dir;
  writeWholeFile(dir.file("f"), "data");
  OpenFile reader(dir.wfile("f"), Access::Read, OpenFlag::OpenExisting);
  OpenFile writer(dir.wfile("f"), Access::Write, OpenFlag::OpenExisting);
  char buf[4];
  unsigned n = 99;
  EXPECT_EQ(FioWrite(reader.handle(), "x", 1, n), 6u);
  EXPECT_EQ(n, 0u);
  EXPECT_EQ(FioSetSize(reader.handle(), 0), 6u);
  EXPECT_EQ(FioRead(writer.handle(), buf, 4, n), 6u);
  EXPECT_EQ(FioSetPos(nullptr, 0), 6u);
  EXPECT_EQ(readWholeFile(dir.file("f")), "data");

  unsigned long long const huge = std::numeric_limits<unsigned long long>::max();
  EXPECT_EQ(FioSetPos(reader.handle(), huge), 87u);
  EXPECT_EQ(FioSetSize(writer.handle(), huge), 87u);
  // A range that would end beyond the largest offset is refused before any system call.
  ASSERT_EQ(FioSetPos(writer.handle(), std::numeric_limits<long long>::max() - 1), 0u);
  EXPECT_EQ(FioWrite(writer.handle(), "xyz", 3, n), 87u);

  if (std::filesystem::exists("/dev/full")) {
    OpenFile full(L"/dev/full", Access::Write, OpenFlag::OpenExisting);
    EXPECT_EQ(FioWrite(full.handle(), "abc", 3, n), SysError::DiskFull);
  }
}

void setModified(std::filesystem::path const& path, long long seconds, long nanoseconds) {
  timespec times[2] = {{0, UTIME_OMIT}, {static_cast<time_t>(seconds), nanoseconds}};
  ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

TEST(FioStampTest, ModificationTimeBecomesAUniversalStamp) {
  kestle_test::TempDir dir;
  writeWholeFile(dir.file("f"), "x");
  OpenFile file(dir.wfile("f"), Access::Read, OpenFlag::OpenExisting);
  Clock::UniversalTime stamp;
  setModified(dir.file("f"), 981173106, 789000000);  // 2001-02-03T04:05:06.789Z
  ASSERT_EQ(FioGetStamp(file.handle(), stamp), 0u);
  EXPECT_EQ(stamp.date, 730519u);   // day 1 is 1 January of year 1
  EXPECT_EQ(stamp.time, 1470678u);  // hundredths, cut
  EXPECT_EQ(stamp.zone, 0u);
  setModified(dir.file("f"), 946684800, 0);  // 2000-01-01T00:00Z: the end of the day before
  ASSERT_EQ(FioGetStamp(file.handle(), stamp), 0u);
  EXPECT_EQ(stamp.date, 730119u);
  EXPECT_EQ(stamp.time, 8640000u);
}

// The hook's answers: a code refuses the call untouched (a refused close still releases the
// handle, as close(2) does), a count cuts a transfer for real, alter edits what a read delivered.
TEST(FioFaultHookTest, AnswersRefuseCutOrAlterTheCall) {
  kestle_test::HeapCheck heap;
  kestle_test::TempDir dir;
  int const descriptors = kestle_test::openDescriptorCount();
  writeWholeFile(dir.file("f"), "0123456789");
  std::vector<Platform::FileCall> calls;
  std::optional<Platform::FileFault> answer = kestle_test::failWith(5);
  kestle_test::FileFaultGuard guard([&](Platform::FileCall const& call) {
    calls.push_back(call);
    return answer;
  });
  void* h = &heap;
  EXPECT_EQ(FioOpen(dir.wfile("g").c_str(), Access::ReadWrite, Sharing::Exclusive,
                    OpenFlag::OpenOrCreate, h, false),
            5u);
  EXPECT_EQ(h, nullptr);
  EXPECT_FALSE(std::filesystem::exists(dir.file("g")));
  answer.reset();
  ASSERT_EQ(FioOpen(dir.wfile("f").c_str(), Access::ReadWrite, Sharing::Exclusive,
                    OpenFlag::OpenExisting, h, false),
            0u);

  unsigned n = 0;
  char buf[10] = {};
  char copy[10] = {};
  answer = kestle_test::failWith(SysError::DiskFull);
  EXPECT_EQ(FioSetPos(h, 2), SysError::DiskFull);  // refused: the position stays 0
  EXPECT_EQ(FioWrite(h, "AB", 2, n), SysError::DiskFull);
  EXPECT_EQ(readWholeFile(dir.file("f")), "0123456789");

  answer = kestle_test::cutTo(1);
  ASSERT_EQ(FioWrite(h, "XYZ", 3, n), 0u);
  EXPECT_EQ(n, 1u);
  EXPECT_EQ(readWholeFile(dir.file("f")), "X123456789");
  ASSERT_EQ(FioRead(h, buf, 4, n), 0u);  // the cut write advanced the position by one
  EXPECT_EQ(std::string(buf, n), "1");

  std::vector<char*> copies;
  answer = Platform::FileFault{0, -1, [&](char* b, char* c, unsigned count) {
                                 b[0] = '!';
                                 if (c != nullptr)
                                   c[count - 1] = '?';
                                 copies.push_back(c);
                               }};
  calls.clear();
  ASSERT_EQ(FioSetPos(h, 6), 0u);
  ASSERT_EQ(FioRead(h, buf, 3, n), 0u);
  EXPECT_EQ(std::string(buf, n), "!78");
  ASSERT_EQ(FioSetPos(h, 6), 0u);
  ASSERT_EQ(FioRead2(h, buf, copy, 3, n), 0u);
  EXPECT_EQ(std::string(buf, n) + std::string(copy, n), "!7867?");
  EXPECT_EQ(copies, (std::vector<char*>{nullptr, copy}));
  ASSERT_EQ(calls.size(), 4u);
  EXPECT_EQ(calls[1].op, Platform::FileOp::Read);
  EXPECT_EQ(calls[1].handle, h);
  EXPECT_EQ(calls[1].name, dir.wfile("f"));
  EXPECT_EQ(calls[1].position, 6u);
  EXPECT_EQ(calls[1].length, 3u);

  answer = kestle_test::failWith(SysError::IoDevice);
  EXPECT_EQ(FioClose(h), SysError::IoDevice);
  EXPECT_EQ(h, nullptr);
  EXPECT_EQ(kestle_test::openDescriptorCount(), descriptors);
}

}  // namespace
