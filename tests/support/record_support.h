// Shared pieces of the record-file tests.
#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "fio/record_file.h"
#include "support/fio_support.h"

namespace kestle_test {

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

// Answers the first `n` calls of `op` with `fault`.
inline Answer firstCalls(Platform::FileOp op, int n, Platform::FileFault fault) {
  auto seen = std::make_shared<std::atomic<int>>(0);
  return [=](Platform::FileCall const& c) -> std::optional<Platform::FileFault> {
    return c.op == op && seen->fetch_add(1) < n ? std::optional(fault) : std::nullopt;
  };
}

// Calls `alter` after every `op` call with its 0-based number among them, position, buffers, count.
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

// Flips a bit of the byte at file position `at` on the `op` calls that `when` picks.
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

// Reports, log lines, sleeps and tones are captured; the heap must be back once the file closes.
class RecordTest : public ::testing::Test {
 protected:
  void TearDown() override {
    if (file_ != nullptr)
      Fclose(file_);
  }
  void open(unsigned logrecl, bool cypher, std::string const& leaf = "data") {
    path_ = dir_.file(leaf);
    name_ = dir_.wfile(leaf);
    ASSERT_EQ(FopenName(name_.c_str(), logrecl, cypher, Sharing::AllowReadWrite, Access::ReadWrite,
                        OpenFlag::OpenOrCreate, file_, false),
              0u);
    logrecl_ = logrecl;
  }
  void makeFile(unsigned n, unsigned logrecl, bool cypher) {
    open(logrecl, cypher);
    data_ = recordBytes(n, logrecl);
    unsigned long err = 1;
    Fmultiwrite(file_, 1, n, data_.data(), err);
    ASSERT_EQ(err, 0u);
  }
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
  FileCalls calls_;
  std::filesystem::path path_;
  std::wstring name_;
  FioFile* file_ = nullptr;
  std::string data_;
  unsigned logrecl_ = 0;
};

}  // namespace kestle_test
