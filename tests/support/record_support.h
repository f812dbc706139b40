// Shared pieces of the record-file tests: a fixture that captures reports, log lines, sleeps and
// tones, checks the accounted heap and writes record files; a guard over the read switches; and
// fault answers that change the bytes of chosen reads.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "fio/record_file.h"
#include "support/fio_support.h"

namespace kestle_test {

// Checks a captured report of the record layer (module "fio").
inline void expectReport(Platform::Report const& r, Platform::Report::Op op, bool flag,
                         std::wstring const& function, unsigned line,
                         std::optional<std::wstring> const& text1, unsigned long code) {
  EXPECT_EQ(std::tie(r.op, r.flag, r.file, r.function, r.line, r.text1, r.code),
            std::make_tuple(op, flag, std::wstring(L"fio"), function, line, text1, code));
}

// The calls' {position, length}, both divided by `unit`.
using Span = std::pair<unsigned long long, unsigned long long>;
inline std::vector<Span> spans(std::vector<Platform::FileCall> const& calls, unsigned unit = 1) {
  std::vector<Span> out;
  for (auto const& c : calls)
    out.emplace_back(c.position / unit, c.length / unit);
  return out;
}

// `n` records of `length` bytes, different in every record and byte.
inline std::string recordBytes(unsigned n, unsigned length, unsigned seed = 1) {
  std::string s(static_cast<size_t>(n) * length, '\0');
  for (size_t i = 0; i < s.size(); ++i)
    s[i] = static_cast<char>(i * 7 + seed * 13 + i / length * 29);
  return s;
}

// Sets the three read switches for its life and restores what they were.
class ReadSwitches {
 public:
  ReadSwitches(bool extended, bool withCopy, bool useCopy)
      : extended_(SetReadExtendedLogging(extended)),
        withCopy_(SetReadWithCopyBuffer(withCopy)),
        useCopy_(SetReadUseCopyBuffer(useCopy)) {}
  ~ReadSwitches() {
    SetReadExtendedLogging(extended_);
    SetReadWithCopyBuffer(withCopy_);
    SetReadUseCopyBuffer(useCopy_);
  }

 private:
  bool extended_, withCopy_, useCopy_;
};

// Lets every `op` call run, then calls `alter` with the call's 0-based number among the `op`
// calls, its file position, the buffers it filled (copy null for a plain read) and its count.
using ReadAlter = std::function<void(int, unsigned long long, char*, char*, unsigned)>;
inline Answer alterReads(Platform::FileOp op, ReadAlter alter) {
  auto seen = std::make_shared<std::atomic<int>>(0);
  return [=](Platform::FileCall const& c) -> std::optional<Platform::FileFault> {
    if (c.op != op)
      return std::nullopt;
    int const n = seen->fetch_add(1);
    return Platform::FileFault{0, -1, [=](char* buffer, char* copy, unsigned count) {
                                 alter(n, c.position, buffer, copy, count);
                               }};
  };
}

// Flips a bit of the byte at file position `at`, in the original and/or the copy, on the `op`
// calls that `when` picks by number and whose range holds that byte.
inline Answer flipByte(Platform::FileOp op, unsigned long long at, std::function<bool(int)> when,
                       bool original = true, bool copy = false) {
  return alterReads(op, [=](int n, unsigned long long pos, char* buffer, char* second, unsigned k) {
    if (!when(n) || at < pos || at - pos >= k)
      return;
    if (original)
      buffer[at - pos] ^= 0x40;
    if (copy)
      second[at - pos] ^= 0x40;
  });
}

// Every test: reports, log lines, sleeps and tones are captured, and the accounted heap must be
// back where it started once the test's record file is closed.
class RecordTest : public ::testing::Test {
 protected:
  void TearDown() override {
    if (file_ != nullptr)
      Fclose(file_);
  }

  // Opens `leaf` in the test directory, creating it when missing.
  void open(unsigned logrecl, bool cypher, std::string const& leaf = "data") {
    path_ = dir_.file(leaf);
    name_ = dir_.wfile(leaf);
    ASSERT_EQ(FopenName(name_.c_str(), logrecl, cypher, Sharing::AllowReadWrite, Access::ReadWrite,
                        OpenFlag::OpenOrCreate, file_, false),
              0u);
    logrecl_ = logrecl;
  }
  // Opens a file of `n` records (recordBytes) written through the library.
  void makeFile(unsigned n, unsigned logrecl, bool cypher) {
    open(logrecl, cypher);
    data_ = recordBytes(n, logrecl);
    unsigned long err = 1;
    Fmultiwrite(file_, 1, n, data_.data(), err);
    ASSERT_EQ(err, 0u);
  }
  // Records first .. first + n - 1 as makeFile wrote them.
  std::string expected(unsigned first, unsigned n) const {
    return data_.substr(size_t{first - 1} * logrecl_, size_t{n} * logrecl_);
  }
  std::string contents() const { return readWholeFile(path_); }

  HeapCheck heap_;  // first member: checked after everything else is gone
  TempDir dir_;
  ReportCapture reports_;
  LogCapture logs_;
  SleepRecorder sleeps_;
  ToneRecorder tones_;
  std::filesystem::path path_;
  std::wstring name_;
  FioFile* file_ = nullptr;
  std::string data_;
  unsigned logrecl_ = 0;
};

}  // namespace kestle_test
