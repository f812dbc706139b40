// Recording implementations of the backup reader's callback interfaces, for tests.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "kestle/kestle.h"

namespace kestle_test {

// Records every fault. Stops at the first nonzero code (as the report's sink does) unless made
// with stopOnError false, in which case it stays ok for ever.
class RecordingSink final : public ErrorSink {
 public:
  struct Fault {
    unsigned long code;
    std::wstring text;
  };
  explicit RecordingSink(bool stopOnError = true) : stopOnError_(stopOnError) {}

  void error(unsigned long code, wchar_t const* text) override;
  bool ok() const override { return ok_; }

  void stop() { ok_ = false; }
  std::vector<Fault> const& faults() const { return faults_; }
  // "code text" per fault, code in hexadecimal, for compact comparisons.
  std::vector<std::wstring> lines() const;

 private:
  bool stopOnError_;
  bool ok_ = true;
  std::vector<Fault> faults_;
};

// Records every call of the reader as one line of text, e.g. "unit customers|Customers|4",
// "data 12", "progress 300 customers Customers", and answers as configured.
class RecordingRestore final : public BuRdr::Restore {
 public:
  bool start(Clock::UniversalTime const& stamp, wchar_t const* productcode) override;
  void finished(unsigned long long bytesdone) override;
  void unit(wchar_t const* unit, wchar_t const* name, XBuffer& info) override;
  void data(std::uint32_t length, char const* bytes) override;
  std::uint32_t total(unsigned long long size) override;
  bool progress(unsigned long long bytesdone, wchar_t const* what) override;

  std::vector<std::wstring> calls;
  std::vector<std::string> chunks;  // the bytes of each data chunk
  std::vector<std::string> infos;   // the bytes of each unit's info buffer
  Clock::UniversalTime stamp;

  bool startAnswer = true;
  std::uint32_t rate = 0;
  // Answer of each progress call by its number (0-based); true when missing.
  std::vector<bool> progressAnswers;
  // Called inside data(), before it returns (e.g. to let the clock move on, or to throw).
  std::function<void(std::uint32_t length)> onData;
  std::function<void()> onUnit;
  unsigned progressCalls = 0;
};

// Lets the timer advance by more than `ticks` before returning: a spin on the monotonic
// counter, not a sleep, so a pacing test does not depend on how fast the machine runs.
void spinTicks(unsigned long long ticks);

}  // namespace kestle_test
