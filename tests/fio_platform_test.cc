// The platform's raw file primitives: opening modes, positioned transfers, refusals with their
// system codes, the modification stamp, and the file-fault hook's three kinds of answer.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <limits>

#include "kestle/clock.h"
#include "platform/file.h"
#include "support/fio_support.h"

namespace {

using kestle_test::readWholeFile;
using kestle_test::writeWholeFile;

// Opens a file and closes it when the test ends.
struct OpenFile {
  OpenFile(std::wstring const& name, Access access, OpenFlag flag)
      : code(FioOpen(name.c_str(), access, Sharing::AllowRead, flag, handle, false)) {}
  ~OpenFile() {
    if (handle != nullptr)
      FioClose(handle);
  }
  void* handle = nullptr;
  unsigned long code;
};

TEST(FioOpenTest, OpenFlagsAndRefusals) {
  kestle_test::HeapCheck heap;
  kestle_test::TempDir dir;
  int const descriptors = kestle_test::openDescriptorCount();
  std::wstring const name = dir.wfile("f");
  EXPECT_EQ(OpenFile(name, Access::ReadWrite, OpenFlag::OpenExisting).code, 2u);
  EXPECT_EQ(OpenFile(name, Access::ReadWrite, OpenFlag::CreateNew).code, 0u);
  EXPECT_EQ(OpenFile(name, Access::ReadWrite, OpenFlag::CreateNew).code, 80u);
  writeWholeFile(dir.file("f"), "content");
  EXPECT_EQ(OpenFile(name, Access::ReadWrite, OpenFlag::OpenOrCreate).code, 0u);
  EXPECT_EQ(readWholeFile(dir.file("f")), "content");

  // Refused opens leave no handle, no descriptor and the file as it was.
  std::wstring const top = dir.path().wstring();
  struct Case {
    std::wstring name;
    Access access;
    OpenFlag flag;
    unsigned long code;
  } const cases[] = {
      {top, Access::Read, OpenFlag::OpenExisting, 5},  // a directory
      {top, Access::ReadWrite, OpenFlag::OpenExisting, 5},
      {name + L"/x", Access::Read, OpenFlag::OpenExisting, 3},
      {name, Access::Read, OpenFlag::CreateOrTruncate, 87},
      {name, static_cast<Access>(7), OpenFlag::OpenExisting, 87},
      {name, Access::Read, static_cast<OpenFlag>(9), 87},
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
  EXPECT_EQ(readWholeFile(dir.file("f")), "content");
  EXPECT_EQ(kestle_test::openDescriptorCount(), descriptors);
  EXPECT_EQ(OpenFile(name, Access::Write, OpenFlag::CreateOrTruncate).code, 0u);
  EXPECT_EQ(readWholeFile(dir.file("f")), "");
}

TEST(FioTransferTest, TransfersStartAtThePositionAndAdvanceIt) {
  kestle_test::HeapCheck heap;
  kestle_test::TempDir dir;
  OpenFile file(dir.wfile("f"), Access::ReadWrite, OpenFlag::CreateNew);
  void* h = file.handle;
  unsigned n = 0;
  ASSERT_EQ(FioSetPos(h, 4), 0u);
  ASSERT_EQ(FioWrite(h, "abc", 3, n), 0u);
  ASSERT_EQ(FioWrite(h, "def", 3, n), 0u);  // continues where the last one ended
  EXPECT_EQ(readWholeFile(dir.file("f")), std::string("\0\0\0\0abcdef", 10));

  char buf[16] = {}, copy[16] = {};
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

  // The open created the file: flushes sync its directory until that has once succeeded.
  std::wstring const directory = dir.path().wstring();
  kestle_test::FileCalls calls([&](Platform::FileCall const& c) {
    return c.name == directory ? std::optional(kestle_test::failWith(SysError::IoDevice))
                               : std::nullopt;
  });
  EXPECT_EQ(FioFlush(h), SysError::IoDevice);
  calls.answerWith({});
  EXPECT_EQ(FioFlush(h), 0u);
  EXPECT_EQ(FioFlush(h), 0u);
  EXPECT_EQ(FioFlushVisible(h), 0u);
  std::vector<std::wstring> names;
  for (auto const& c : calls.of(Platform::FileOp::Flush))
    names.push_back(c.name);
  std::wstring const name = dir.wfile("f");
  EXPECT_EQ(names, (std::vector<std::wstring>{name, directory, name, directory, name, name}));
}

TEST(FioTransferTest, RefusalsComeBackAsSystemCodes) {
  kestle_test::HeapCheck heap;
  kestle_test::TempDir dir;
  writeWholeFile(dir.file("f"), "data");
  OpenFile reader(dir.wfile("f"), Access::Read, OpenFlag::OpenExisting);
  OpenFile writer(dir.wfile("f"), Access::Write, OpenFlag::OpenExisting);
  char buf[4];
  unsigned n = 99;
  EXPECT_EQ(FioWrite(reader.handle, "x", 1, n), 6u);
  EXPECT_EQ(n, 0u);
  EXPECT_EQ(FioSetSize(reader.handle, 0), 6u);
  EXPECT_EQ(FioRead(writer.handle, buf, 4, n), 6u);
  EXPECT_EQ(FioSetPos(nullptr, 0), 6u);
  EXPECT_EQ(readWholeFile(dir.file("f")), "data");

  unsigned long long const huge = std::numeric_limits<unsigned long long>::max();
  EXPECT_EQ(FioSetPos(reader.handle, huge), 87u);
  EXPECT_EQ(FioSetSize(writer.handle, huge), 87u);
  // A range that would end beyond the largest offset is refused before any system call.
  ASSERT_EQ(FioSetPos(writer.handle, std::numeric_limits<long long>::max() - 1), 0u);
  EXPECT_EQ(FioWrite(writer.handle, "xyz", 3, n), 87u);

  if (std::filesystem::exists("/dev/full")) {
    OpenFile full(L"/dev/full", Access::Write, OpenFlag::OpenExisting);
    EXPECT_EQ(FioWrite(full.handle, "abc", 3, n), SysError::DiskFull);
  }
}

TEST(FioStampTest, ModificationTimeBecomesAUniversalStamp) {
  kestle_test::TempDir dir;
  writeWholeFile(dir.file("f"), "x");
  OpenFile file(dir.wfile("f"), Access::Read, OpenFlag::OpenExisting);
  auto stampOf = [&](time_t seconds, long nanoseconds) {
    timespec times[2] = {{0, UTIME_OMIT}, {seconds, nanoseconds}};
    EXPECT_EQ(::utimensat(AT_FDCWD, dir.file("f").c_str(), times, 0), 0);
    Clock::UniversalTime stamp;
    EXPECT_EQ(FioGetStamp(file.handle, stamp), 0u);
    return stamp;
  };
  Clock::UniversalTime stamp = stampOf(981173106, 789000000);  // 2001-02-03T04:05:06.789Z
  EXPECT_EQ(stamp.date, 730519u);                              // day 1 is 1 January of year 1
  EXPECT_EQ(stamp.time, 1470678u);                             // hundredths, cut
  EXPECT_EQ(stamp.zone, 0u);
  stamp = stampOf(946684800, 0);  // 2000-01-01T00:00Z: the end of the day before
  EXPECT_EQ(stamp.date, 730119u);
  EXPECT_EQ(stamp.time, 8640000u);
}

// The hook's answers: a code refuses the call untouched, a count cuts a transfer for real (the
// position advances by the count), and every call names its handle, file, position and length.
// Alter and refused closes are exercised by the file layers' own tests.
TEST(FioFaultHookTest, AnswersRefuseOrCutTheCall) {
  kestle_test::HeapCheck heap;
  kestle_test::TempDir dir;
  writeWholeFile(dir.file("f"), "0123456789");
  kestle_test::FileCalls calls(kestle_test::failOn(Platform::FileOp::Open, 5));
  void* h = &heap;
  EXPECT_EQ(FioOpen(dir.wfile("g").c_str(), Access::ReadWrite, Sharing::Exclusive,
                    OpenFlag::OpenOrCreate, h, false),
            5u);
  EXPECT_EQ(h, nullptr);
  EXPECT_FALSE(std::filesystem::exists(dir.file("g")));
  calls.answerWith({});
  OpenFile file(dir.wfile("f"), Access::ReadWrite, OpenFlag::OpenExisting);
  h = file.handle;

  unsigned n = 0;
  char buf[10] = {};
  calls.answerWith([](Platform::FileCall const&) { return kestle_test::failWith(112); });
  EXPECT_EQ(FioSetPos(h, 2), SysError::DiskFull);  // refused: the position stays 0
  EXPECT_EQ(FioWrite(h, "AB", 2, n), SysError::DiskFull);
  EXPECT_EQ(readWholeFile(dir.file("f")), "0123456789");

  calls.answerWith([](Platform::FileCall const& c) {
    return c.op == Platform::FileOp::Write ? kestle_test::cutTo(1) : Platform::FileFault{};
  });
  calls.clear();
  ASSERT_EQ(FioWrite(h, "XYZ", 3, n), 0u);
  EXPECT_EQ(n, 1u);
  EXPECT_EQ(readWholeFile(dir.file("f")), "X123456789");
  ASSERT_EQ(FioRead(h, buf, 4, n), 0u);  // the cut write advanced the position by one
  EXPECT_EQ(std::string(buf, n), "1234");
  auto const all = calls.all();
  ASSERT_EQ(all.size(), 2u);
  EXPECT_TRUE(all[1].op == Platform::FileOp::Read && all[1].handle == h &&
              all[1].name == dir.wfile("f") && all[1].position == 1 && all[1].length == 4);
}

}  // namespace
