// Recording implementations of the backup reader's callback interfaces, for tests.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "kestle/kestle.h"

namespace kestle_test {

// Records every fault as "code text", code in hexadecimal. Stops at the first nonzero code (as
// the report's sink does) unless made with stopOnError false: then it stays ok for ever. One
// made stopped is not ok from the start.
class RecordingSink final : public ErrorSink {
 public:
  explicit RecordingSink(bool stopOnError = true, bool stopped = false)
      : stopOnError_(stopOnError), ok_(!stopped) {}
  void error(unsigned long code, wchar_t const* text) override {
    lines.push_back(line(code, text != nullptr ? text : L"(null)"));
    if (code != 0 && stopOnError_)
      ok_ = false;
  }
  bool ok() const override { return ok_; }
  static std::wstring line(unsigned long code, std::wstring const& text) {
    wchar_t hex[32];
    std::swprintf(hex, 32, L"%lX ", code);
    return hex + text;
  }

  std::vector<std::wstring> lines;

 private:
  bool stopOnError_;
  bool ok_;
};

// Records the calls of total and progress as lines ("total 300", "progress 280 unit name"),
// answers total with rate and progress call n (0-based) with answers[n], true when missing.
template <typename Base>
class RecordingPacing : public Base {
 public:
  std::uint32_t total(unsigned long long size) override {
    calls.push_back(L"total " + std::to_wstring(size));
    return rate;
  }
  bool progress(unsigned long long bytesdone, wchar_t const* what) override {
    calls.push_back(L"progress " + std::to_wstring(bytesdone) + L" " + what);
    std::size_t const n = progressCalls_++;
    return n < answers.size() ? answers[n] : true;
  }

  std::vector<std::wstring> calls;
  std::uint32_t rate = 0;
  std::vector<bool> answers;

 private:
  std::size_t progressCalls_ = 0;
};

using RecordingProgress = RecordingPacing<BuRdr::Progress>;

}  // namespace kestle_test
