// The platform's raw file primitives; transfers are checked through the raw layer's tests.
#include <fcntl.h>
#include <sys/stat.h>

#include <limits>

#include "kestle/clock.h"
#include "platform/file.h"
#include "support/fio_support.h"

namespace {

using namespace kestle_test;

class FioPlatformTest : public ::testing::Test {
 protected:
  // Opens a file that the fixture closes at the end.
  void* open(std::wstring const& name, Access access, OpenFlag flag) {
    void*& handle = handles_.emplace_back();
    EXPECT_EQ(FioOpen(name.c_str(), access, Sharing::AllowRead, flag, handle, false), 0u);
    return handle;
  }
  void TearDown() override {
    for (void* handle : handles_)
      EXPECT_EQ(FioClose(handle), 0u);
  }

  HeapCheck heap_;
  TempDir dir_;
  std::vector<void*> handles_;
};

TEST_F(FioPlatformTest, OpenFlagsAndRefusals) {
  int const descriptors = openDescriptorCount();
  std::wstring const name = dir_.wfile("f"), top = dir_.path().wstring(), sub = name + L"/x";
  // Each open and the file's contents after it ("-" for no file).
  for (auto [file, access, flag, code, after] :
       {std::tuple(name.c_str(), Access::ReadWrite, OpenFlag::OpenExisting, 2ul, "-"),
        std::tuple(name.c_str(), Access::ReadWrite, OpenFlag::CreateNew, 0ul, ""),
        std::tuple(name.c_str(), Access::ReadWrite, OpenFlag::CreateNew, 80ul, "content"),
        std::tuple(name.c_str(), Access::ReadWrite, OpenFlag::OpenOrCreate, 0ul, "content"),
        std::tuple(top.c_str(), Access::Read, OpenFlag::OpenExisting, 5ul, "content"),
        std::tuple(top.c_str(), Access::ReadWrite, OpenFlag::OpenExisting, 5ul, "content"),
        std::tuple(sub.c_str(), Access::Read, OpenFlag::OpenExisting, 3ul, "content"),
        std::tuple(name.c_str(), Access::Read, OpenFlag::CreateOrTruncate, 87ul, "content"),
        std::tuple(name.c_str(), static_cast<Access>(7), OpenFlag::OpenExisting, 87ul, "content"),
        std::tuple(name.c_str(), Access::Read, static_cast<OpenFlag>(9), 87ul, "content"),
        std::tuple(static_cast<wchar_t const*>(nullptr), Access::Read, OpenFlag::OpenExisting, 87ul,
                   "content"),
        std::tuple(name.c_str(), Access::Write, OpenFlag::CreateOrTruncate, 0ul, "")}) {
    void* handle = &heap_;
    EXPECT_EQ(FioOpen(file, access, Sharing::AllowRead, flag, handle, false), code);
    EXPECT_EQ(handle == nullptr, code != 0);
    if (handle != nullptr)
      FioClose(handle);
    EXPECT_EQ(std::filesystem::exists(dir_.file("f")) ? readWholeFile(dir_.file("f")) : "-", after);
    if (code == 0 && flag == OpenFlag::CreateNew)
      writeWholeFile(dir_.file("f"), "content");
  }
  EXPECT_EQ(openDescriptorCount(), descriptors);
}

TEST_F(FioPlatformTest, TransfersAdvanceThePositionAndFlushesSyncANewFilesDirectory) {
  void* const file = open(dir_.wfile("f"), Access::ReadWrite, OpenFlag::CreateNew);
  unsigned n = 0;
  char buf[4];
  std::string got;
  EXPECT_EQ(FioWrite(file, "ab", 2, n) + FioWrite(file, "cd", 2, n), 0u);
  EXPECT_EQ(FioSetPos(file, 1), 0u);
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(FioRead(file, buf, 2, n), 0u);
    got += std::string(buf, n) + "|";
  }
  EXPECT_EQ(got, "bc|d|");
  std::wstring const directory = dir_.path().wstring(), name = dir_.wfile("f");
  FileCalls calls([&](Platform::FileCall const& c) {
    return c.name == directory ? std::optional(failWith(SysError::IoDevice)) : std::nullopt;
  });
  EXPECT_EQ(FioFlush(file), SysError::IoDevice);
  calls.answerWith({});
  EXPECT_EQ(FioFlush(file) + FioFlush(file) + FioFlushVisible(file), 0u);
  std::vector<std::wstring> names;
  for (auto const& c : calls.of(Platform::FileOp::Flush))
    names.push_back(c.name);
  EXPECT_EQ(names, (std::vector<std::wstring>{name, directory, name, directory, name, name}));
}

TEST_F(FioPlatformTest, RefusalsComeBackAsSystemCodes) {
  writeWholeFile(dir_.file("f"), "data");
  void* const reader = open(dir_.wfile("f"), Access::Read, OpenFlag::OpenExisting);
  void* const writer = open(dir_.wfile("f"), Access::Write, OpenFlag::OpenExisting);
  char buf[4];
  unsigned n = 99;
  EXPECT_EQ(FioWrite(reader, "x", 1, n), 6u);
  EXPECT_EQ(n, 0u);
  EXPECT_EQ(FioSetSize(reader, 0), 6u);
  EXPECT_EQ(FioRead(writer, buf, 4, n), 6u);

  unsigned long long const huge = std::numeric_limits<unsigned long long>::max();
  EXPECT_EQ(FioSetPos(reader, huge), 87u);
  EXPECT_EQ(FioSetPos(reader, std::numeric_limits<long long>::max()), 0u);
  EXPECT_EQ(FioSetSize(writer, huge), 87u);
  // A range that would end beyond the largest offset is refused before any system call.
  ASSERT_EQ(FioSetPos(writer, std::numeric_limits<long long>::max() - 1), 0u);
  EXPECT_EQ(FioWrite(writer, "xyz", 3, n), 87u);
  void* const full = open(L"/dev/full", Access::Write, OpenFlag::OpenExisting);
  EXPECT_EQ(FioWrite(full, "abc", 3, n), SysError::DiskFull);
  EXPECT_EQ(FioFlush(full), 87u);  // a device that cannot sync: refused, not retried
}

// Day 1 is 1 January of year 1, time in hundredths (cut); midnight is the end of the day before.
TEST_F(FioPlatformTest, ModificationTimeBecomesAUniversalStamp) {
  writeWholeFile(dir_.file("f"), "x");
  void* const file = open(dir_.wfile("f"), Access::Read, OpenFlag::OpenExisting);
  auto stampOf = [&](time_t seconds, long nanoseconds) {
    timespec times[2] = {{0, UTIME_OMIT}, {seconds, nanoseconds}};
    EXPECT_EQ(::utimensat(AT_FDCWD, dir_.file("f").c_str(), times, 0), 0);
    Clock::UniversalTime stamp;
    EXPECT_EQ(FioGetStamp(file, stamp), 0u);
    return std::vector<unsigned>{stamp.date, stamp.time, stamp.zone};
  };
  EXPECT_EQ(stampOf(981173106, 789000000), (std::vector<unsigned>{730519, 1470678, 0}));
  EXPECT_EQ(stampOf(946684800, 0), (std::vector<unsigned>{730119, 8640000, 0}));
}

}  // namespace
