// RAII guards over the platform control hooks: each installs a hook for one test and restores the
// previous one when it ends. Recorders lock their own state, because the library may call a hook
// from any thread.
#pragma once

#include <filesystem>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "kestle/kestle.h"

namespace kestle_test {

// Installs `hook` through Set for the guard's life.
template <class Hook, Hook (*Set)(Hook)>
class HookGuard {
 public:
  explicit HookGuard(Hook hook) : previous_(Set(std::move(hook))) {}
  ~HookGuard() { Set(std::move(previous_)); }
  HookGuard(HookGuard const&) = delete;
  HookGuard& operator=(HookGuard const&) = delete;

 private:
  Hook previous_;
};
using FileFaultGuard = HookGuard<Platform::FileFaultHook, &Platform::setFileFaultHook>;
using ClockGuard = HookGuard<Platform::ClockHook, &Platform::setClockHook>;

// What a recording hook received, in order.
template <class Item>
class Recorded {
 public:
  std::vector<Item> items() const {
    std::lock_guard<std::mutex> lock(mu_);
    return items_;
  }
  size_t count() const { return items().size(); }
  void clear() {
    std::lock_guard<std::mutex> lock(mu_);
    items_.clear();
  }

 protected:
  void add(Item item) {
    std::lock_guard<std::mutex> lock(mu_);
    items_.push_back(std::move(item));
  }

 private:
  mutable std::mutex mu_;
  std::vector<Item> items_;
};

// Captures every SysFailure report instead of printing it.
class ReportCapture : public Recorded<Platform::Report> {
 public:
  std::vector<Platform::Report> reports() const { return items(); }

 private:
  HookGuard<Platform::ReportHandler, &Platform::setReportHandler> guard_{
      [this](Platform::Report const& r) { add(r); }};
};

// Captures every log entry instead of writing it.
class LogCapture : public Recorded<Platform::LogEntry> {
 public:
  std::vector<Platform::LogEntry> entries() const { return items(); }
  std::vector<std::wstring> texts() const;

 private:
  HookGuard<Platform::LogHandler, &Platform::setLogHandler> guard_{
      [this](Platform::LogEntry const& e) { add(e); }};
};

// Records SleepMs calls instead of sleeping.
class SleepRecorder : public Recorded<unsigned> {
 public:
  std::vector<unsigned> sleeps() const { return items(); }

 private:
  HookGuard<Platform::SleepHook, &Platform::setSleepHook> guard_{[this](unsigned ms) { add(ms); }};
};

// Records Celesta::tone calls.
class ToneRecorder : public Recorded<std::pair<unsigned, unsigned>> {
 public:
  std::vector<std::pair<unsigned, unsigned>> tones() const { return items(); }

 private:
  HookGuard<Platform::ToneHook, &Platform::setToneHook> guard_{[this](unsigned a, unsigned b) {
    add({a, b});
  }};
};

// Asserts at its end that the accounted heap is back where it was at its start.
class HeapCheck {
 public:
  HeapCheck() : start_(Heapwick::bytesHeld()) {}
  ~HeapCheck();
  long long held() const { return Heapwick::bytesHeld() - start_; }  // beyond the start

 private:
  long long start_;
};

// A fresh, empty directory for one test, removed when the guard ends.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  std::filesystem::path const& path() const { return path_; }
  std::filesystem::path file(std::string const& name) const { return path_ / name; }
  std::wstring wfile(std::string const& name) const { return file(name).wstring(); }

 private:
  std::filesystem::path path_;
};

}  // namespace kestle_test
