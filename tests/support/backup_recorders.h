// Recording implementations of the backup reader's callback interfaces, for tests.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "kestle/kestle.h"

namespace kestle_test {

// Records every fault as "code text", code in hexadecimal. Stops at the first nonzero code (as
// the report's sink does) unless made with stopOnError false: then it stays ok for ever.
class RecordingSink final : public ErrorSink {
 public:
  explicit RecordingSink(bool stopOnError = true) : stopOnError_(stopOnError) {}
  void error(unsigned long code, wchar_t const* text) override {
    lines.push_back(line(code, text != nullptr ? text : L"(null)"));
    if (code != 0 && stopOnError_)
      ok_ = false;
  }
  bool ok() const override { return ok_; }
  void stop() { ok_ = false; }
  static std::wstring line(unsigned long code, std::wstring const& text) {
    wchar_t hex[32];
    std::swprintf(hex, 32, L"%lX ", code);
    return hex + text;
  }

  std::vector<std::wstring> lines;

 private:
  bool stopOnError_;
  bool ok_ = true;
};

// Records the calls of total and progress as lines ("total 300", "progress 280 unit name") and
// answers progress call n (0-based) with progressAnswers[n], true when missing.
template <typename Base>
class RecordingPacing : public Base {
 public:
  std::uint32_t total(unsigned long long size) override {
    calls.push_back(L"total " + std::to_wstring(size));
    return rate;
  }
  bool progress(unsigned long long bytesdone, wchar_t const* what) override {
    calls.push_back(L"progress " + std::to_wstring(bytesdone) + L" " + what);
    unsigned const n = progressCalls++;
    return n < progressAnswers.size() ? progressAnswers[n] : true;
  }

  std::vector<std::wstring> calls;
  std::uint32_t rate = 0;
  std::vector<bool> progressAnswers;
  unsigned progressCalls = 0;
};

using RecordingProgress = RecordingPacing<BuRdr::Progress>;

// Records every call of the reader as one line of text, e.g. "unit customers|Customers|4",
// "data 12", and answers as configured.
class RecordingRestore final : public RecordingPacing<BuRdr::Restore> {
 public:
  bool start(Clock::UniversalTime const& s, wchar_t const* productcode) override {
    stamp = s;
    calls.push_back(std::wstring(L"start ") + productcode);
    return startAnswer;
  }
  void finished(unsigned long long bytesdone) override {
    calls.push_back(L"finished " + std::to_wstring(bytesdone));
  }
  void unit(wchar_t const* unit, wchar_t const* name, XBuffer& info) override {
    calls.push_back(std::wstring(L"unit ") + unit + L"|" + name + L"|" +
                    std::to_wstring(info.len()));
    infos.emplace_back(info.len() > 0 ? info.at(0) : "", info.len());
    if (onUnit)
      onUnit();
  }
  void data(std::uint32_t length, char const* bytes) override {
    calls.push_back(L"data " + std::to_wstring(length));
    chunks.emplace_back(bytes, length);
    if (onData)
      onData(length);
  }

  std::vector<std::string> chunks;  // the bytes of each data chunk
  std::vector<std::string> infos;   // the bytes of each unit's info buffer
  Clock::UniversalTime stamp;
  bool startAnswer = true;
  // Called inside data() and unit() before they return (e.g. to let the clock move on, or to
  // throw).
  std::function<void(std::uint32_t length)> onData;
  std::function<void()> onUnit;
};

// Lets the timer advance by more than `ticks` before returning: a spin on the monotonic
// counter, not a sleep, so a pacing test does not depend on how fast the machine runs.
inline void spinTicks(unsigned long long ticks) {
  unsigned long long const begin = SystemTimer::counter();
  while (SystemTimer::counter() - begin <= ticks) {
  }
}

// The rate that asks for progress at every tick of the timer (as near as 32 bits allow).
inline std::uint32_t finestRate() {
  return static_cast<std::uint32_t>(
      std::min<unsigned long long>(SystemTimer::frequency(), 0xFFFFFFFFull));
}

}  // namespace kestle_test
