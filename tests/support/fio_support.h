// Helpers for the file-layer tests: whole files, fault answers, a recorder of file calls and the
// record-file fixture.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "fio/record_file.h"
#include "support/guards.h"

namespace kestle_test {

using Op = Platform::FileOp;

inline int openDescriptorCount() {  // entries of /proc/self/fd, less the one listing them
  auto const entries = std::filesystem::directory_iterator("/proc/self/fd");
  return static_cast<int>(std::distance(entries, std::filesystem::directory_iterator())) - 1;
}
inline void writeWholeFile(std::filesystem::path const& path, std::string const& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}
inline std::string readWholeFile(std::filesystem::path const& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// `n` records of `length` bytes, different in every record and byte.
inline std::string recordBytes(unsigned n, unsigned length, unsigned seed = 1) {
  std::string s(static_cast<size_t>(n) * length, '\0');
  for (size_t i = 0; i < s.size(); ++i)
    s[i] = static_cast<char>(i * 7 + seed * 13 + i / length * 29);
  return s;
}

inline Platform::FileFault failWith(unsigned long code) {
  return {code, -1, {}};
}

using Answer = std::function<std::optional<Platform::FileFault>(Platform::FileCall const&)>;
// Refuses the calls of `op` (on `handle` only, when it is not null) with `code`.
inline Answer failOn(Platform::FileOp op, unsigned long code, void* handle = nullptr) {
  return [=](Platform::FileCall const& c) -> std::optional<Platform::FileFault> {
    if (c.op != op || (handle != nullptr && c.handle != handle))
      return std::nullopt;
    return failWith(code);
  };
}

// The reports as ReportCapture::lines() writes them, with % for `name`.
inline std::vector<std::wstring> reportLines(ReportCapture const& reports,
                                             std::wstring const& name) {
  std::vector<std::wstring> out = reports.lines();
  for (auto& line : out)
    for (size_t at = line.find(name); at != std::wstring::npos; at = line.find(name))
      line.replace(at, name.size(), L"%");
  return out;
}

// Called by FileCalls on the calling thread after it records a call (a test parks there).
inline thread_local std::function<void(Platform::FileCall const&)> onRecordedCall;

// Records every file primitive call while it lives and answers each through `answer`.
class FileCalls {
 public:
  explicit FileCalls(Answer answer = {}) : answer_(std::move(answer)) {}
  void answerWith(Answer answer) { answer_ = std::move(answer); }  // while no operation runs
  // The calls of `op` (of any, without one), through `handle` only when it is not null.
  std::vector<Platform::FileCall> of(std::optional<Platform::FileOp> op = {},
                                     void* handle = nullptr) const {
    std::lock_guard<std::mutex> lock(mu_);
    std::vector<Platform::FileCall> out;
    for (auto const& c : calls_)
      if ((!op || c.op == *op) && (handle == nullptr || c.handle == handle))
        out.push_back(c);
    return out;
  }
  size_t count(Platform::FileOp op, void* handle = nullptr) const { return of(op, handle).size(); }
  void clear() {
    std::lock_guard<std::mutex> lock(mu_);
    calls_.clear();
  }

 private:
  mutable std::mutex mu_;
  std::vector<Platform::FileCall> calls_;
  Answer answer_;
  FileFaultGuard guard_{[this](Platform::FileCall const& c) {
    {
      std::lock_guard<std::mutex> lock(mu_);
      calls_.push_back(c);
    }
    if (onRecordedCall)
      onRecordedCall(c);
    return answer_ ? answer_(c) : std::nullopt;
  }};
};

using Span = std::pair<unsigned long long, unsigned long long>;
inline std::vector<Span> spans(std::vector<Platform::FileCall> const& calls, unsigned unit = 1) {
  std::vector<Span> out;
  for (auto const& c : calls)
    out.emplace_back(c.position / unit, c.length / unit);
  return out;
}

// Sets the three read switches while it lives.
struct ReadSwitches {
  ReadSwitches(bool extended, bool withCopy, bool useCopy)
      : saved{SetReadExtendedLogging(extended), SetReadWithCopyBuffer(withCopy),
              SetReadUseCopyBuffer(useCopy)} {}
  ~ReadSwitches() {
    SetReadExtendedLogging(saved[0]);
    SetReadWithCopyBuffer(saved[1]);
    SetReadUseCopyBuffer(saved[2]);
  }
  bool saved[3];
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

// Flips a bit of the byte at file position `at` (and in the copy with `copyToo`) on the first
// `times` calls of `op`.
constexpr int kEveryCall = 1 << 30;
inline Answer flipByte(Platform::FileOp op, unsigned long long at, int times,
                       bool copyToo = false) {
  return alterReads(op, [=](int n, unsigned long long pos, char* buffer, char* second, unsigned k) {
    if (n >= times || at < pos || at - pos >= k)
      return;
    buffer[at - pos] ^= 0x40;
    if (copyToo)
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
  // Fmultiread of `n` records from `first`: the count, the end flag (preset to `eofBefore`) and
  // the bytes of the records delivered.
  std::tuple<unsigned, bool, std::string> readRecords(unsigned first, unsigned n,
                                                      bool eofBefore = true) {
    std::string buffer(size_t{n} * logrecl_, '\0');
    unsigned nread = 99;
    bool eof = eofBefore;
    Fmultiread(file_, first, n, buffer.data(), nread, eof);
    return {nread, eof, buffer.substr(0, size_t{nread} * logrecl_)};
  }
  // Fread of record `rec`: its bytes, or "" when the end flag says none was delivered. The buffer
  // has room for two records: Fread must leave the second as it was.
  std::string readRecord(unsigned rec) {
    std::string buffer(2 * logrecl_, '#');
    bool eof = false;
    Fread(file_, rec, buffer.data(), eof);
    EXPECT_EQ(buffer.substr(logrecl_), std::string(logrecl_, '#')) << rec;
    return eof ? "" : buffer.substr(0, logrecl_);
  }
  std::tuple<unsigned, bool, std::string> delivered(unsigned first, unsigned n, bool eof) const {
    return {n, eof, expected(first, n)};
  }

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
