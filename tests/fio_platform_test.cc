// The platform's raw file primitives; transfers are checked through the raw layer's tests.
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
  std::wstring const name = dir.wfile("f"), top = dir.path().wstring(), sub = name + L"/x";
  struct Case {
    wchar_t const* name;
    Access access;
    OpenFlag flag;
    unsigned long code;
    char const* after;  // the file's contents after the open; "-" for no file
  } const cases[] = {
      {name.c_str(), Access::ReadWrite, OpenFlag::OpenExisting, 2, "-"},
      {name.c_str(), Access::ReadWrite, OpenFlag::CreateNew, 0, ""},
      {name.c_str(), Access::ReadWrite, OpenFlag::CreateNew, 80, "content"},
      {name.c_str(), Access::ReadWrite, OpenFlag::OpenOrCreate, 0, "content"},
      {top.c_str(), Access::Read, OpenFlag::OpenExisting, 5, "content"},
      {top.c_str(), Access::ReadWrite, OpenFlag::OpenExisting, 5, "content"},
      {sub.c_str(), Access::Read, OpenFlag::OpenExisting, 3, "content"},
      {name.c_str(), Access::Read, OpenFlag::CreateOrTruncate, 87, "content"},
      {name.c_str(), static_cast<Access>(7), OpenFlag::OpenExisting, 87, "content"},
      {name.c_str(), Access::Read, static_cast<OpenFlag>(9), 87, "content"},
      {nullptr, Access::Read, OpenFlag::OpenExisting, 87, "content"},
      {name.c_str(), Access::Write, OpenFlag::CreateOrTruncate, 0, ""},
  };
  for (Case const& c : cases) {
    void* handle = &heap;
    EXPECT_EQ(FioOpen(c.name, c.access, Sharing::AllowRead, c.flag, handle, false), c.code);
    EXPECT_EQ(handle == nullptr, c.code != 0);
    if (handle != nullptr)
      FioClose(handle);
    EXPECT_EQ(std::filesystem::exists(dir.file("f")) ? readWholeFile(dir.file("f")) : "-", c.after);
    if (c.code == 0 && c.flag == OpenFlag::CreateNew)
      writeWholeFile(dir.file("f"), "content");
  }
  EXPECT_EQ(kestle_test::openDescriptorCount(), descriptors);
}

TEST(FioTransferTest, TransfersAdvanceThePositionAndFlushesSyncANewFilesDirectory) {
  kestle_test::HeapCheck heap;
  kestle_test::TempDir dir;
  OpenFile file(dir.wfile("f"), Access::ReadWrite, OpenFlag::CreateNew);
  unsigned n = 0;
  char buf[4];
  std::string got;
  EXPECT_EQ(FioWrite(file.handle, "ab", 2, n) + FioWrite(file.handle, "cd", 2, n), 0u);
  EXPECT_EQ(FioSetPos(file.handle, 1), 0u);
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(FioRead(file.handle, buf, 2, n), 0u);
    got += std::string(buf, n) + "|";
  }
  EXPECT_EQ(got, "bc|d|");
  std::wstring const directory = dir.path().wstring(), name = dir.wfile("f");
  kestle_test::FileCalls calls([&](Platform::FileCall const& c) {
    return c.name == directory ? std::optional(kestle_test::failWith(SysError::IoDevice))
                               : std::nullopt;
  });
  EXPECT_EQ(FioFlush(file.handle), SysError::IoDevice);
  calls.answerWith({});
  EXPECT_EQ(FioFlush(file.handle) + FioFlush(file.handle) + FioFlushVisible(file.handle), 0u);
  std::vector<std::wstring> names;
  for (auto const& c : calls.of(Platform::FileOp::Flush))
    names.push_back(c.name);
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
    return std::vector<unsigned>{stamp.date, stamp.time, stamp.zone};
  };
  // Day 1 is 1 January of year 1, time in hundredths (cut); midnight is the end of the day before.
  EXPECT_EQ(stampOf(981173106, 789000000), (std::vector<unsigned>{730519, 1470678, 0}));
  EXPECT_EQ(stampOf(946684800, 0), (std::vector<unsigned>{730119, 8640000, 0}));
}

}  // namespace
