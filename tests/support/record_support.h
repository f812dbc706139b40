// Shared pieces of the record-file tests: a fixture that captures reports, log lines, sleeps and
// tones and checks the accounted heap, and a recorder of the file primitives the record layer
// reaches, with a programmable answer for injecting faults.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "fio/record_file.h"
#include "kestle/kestle.h"
#include "support/fio_support.h"
#include "support/guards.h"

namespace kestle_test {

// Records every file primitive call while it lives and answers each through `answer` (no answer:
// the primitive runs). The answer runs inside the primitive, on the calling thread.
class FileCalls {
 public:
  using Answer = std::function<std::optional<Platform::FileFault>(Platform::FileCall const&)>;

  explicit FileCalls(Answer answer = {}) : answer_(std::move(answer)) {}
  FileCalls(FileCalls const&) = delete;
  FileCalls& operator=(FileCalls const&) = delete;

  // Set while no operation runs.
  void answerWith(Answer answer) { answer_ = std::move(answer); }

  std::vector<Platform::FileCall> of(Platform::FileOp op) const {
    std::lock_guard<std::mutex> lock(mu_);
    std::vector<Platform::FileCall> out;
    for (auto const& c : calls_)
      if (c.op == op)
        out.push_back(c);
    return out;
  }
  size_t count(Platform::FileOp op) const { return of(op).size(); }
  void clear() {
    std::lock_guard<std::mutex> lock(mu_);
    calls_.clear();
  }

 private:
  std::optional<Platform::FileFault> onCall(Platform::FileCall const& call) {
    {
      std::lock_guard<std::mutex> lock(mu_);
      calls_.push_back(call);
    }
    return answer_ ? answer_(call) : std::nullopt;
  }

  mutable std::mutex mu_;
  std::vector<Platform::FileCall> calls_;
  Answer answer_;
  FileFaultGuard guard_{[this](Platform::FileCall const& c) { return onCall(c); }};
};

// Fails every `op` call with `code`.
inline FileCalls::Answer failOn(Platform::FileOp op, unsigned long code) {
  return [=](Platform::FileCall const& c) -> std::optional<Platform::FileFault> {
    if (c.op == op)
      return failWith(code);
    return std::nullopt;
  };
}

// Checks a captured report of the record layer (module "fio").
inline void expectReport(Platform::Report const& r, Platform::Report::Op op, bool flag,
                         std::wstring const& function, unsigned line,
                         std::optional<std::wstring> const& text1, unsigned long code) {
  EXPECT_EQ(r.op, op);
  EXPECT_EQ(r.flag, flag);
  EXPECT_EQ(r.file, L"fio");
  EXPECT_EQ(r.function, function);
  EXPECT_EQ(r.line, line);
  EXPECT_EQ(r.text1, text1);
  EXPECT_EQ(r.code, code);
}

// A raw write as the test expects to see it: byte position and length.
struct Span {
  unsigned long long position;
  unsigned length;
  bool operator==(Span const&) const = default;
};
inline void PrintTo(Span const& s, std::ostream* os) {
  *os << "{" << s.position << ", " << s.length << "}";
}

inline std::vector<Span> spans(std::vector<Platform::FileCall> const& calls) {
  std::vector<Span> out;
  for (auto const& c : calls)
    out.push_back({c.position, c.length});
  return out;
}

// `n` records of `length` bytes, different in every record and byte.
inline std::string recordBytes(unsigned n, unsigned length, unsigned seed = 1) {
  std::string s(static_cast<size_t>(n) * length, '\0');
  for (size_t i = 0; i < s.size(); ++i)
    s[i] = static_cast<char>(i * 7 + seed * 13 + i / length * 29);
  return s;
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
    ASSERT_NE(file_, nullptr);
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
};

}  // namespace kestle_test
