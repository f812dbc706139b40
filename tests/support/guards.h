// Test guards over the platform hooks. Recorders lock: the library may call a hook on any thread.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "kestle/kestle.h"

namespace kestle_test {

template <class Hook, Hook (*Set)(Hook)>
class HookGuard {
 public:
  explicit HookGuard(Hook hook) : previous_(Set(std::move(hook))) {}
  ~HookGuard() { Set(std::move(previous_)); }

 private:
  Hook previous_;
};
using FileFaultGuard = HookGuard<Platform::FileFaultHook, &Platform::setFileFaultHook>;
using ClockGuard = HookGuard<Platform::ClockHook, &Platform::setClockHook>;

template <class Item, class Hook, Hook (*Set)(Hook)>
class Recorder {
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

 private:
  mutable std::mutex mu_;
  std::vector<Item> items_;
  HookGuard<Hook, Set> guard_{[this](auto const&... args) {
    std::lock_guard<std::mutex> lock(mu_);
    items_.push_back(Item{args...});
  }};
};

struct ReportCapture
    : Recorder<Platform::Report, Platform::ReportHandler, Platform::setReportHandler> {
  std::vector<Platform::Report> reports() const { return items(); }
  // Each report as "op flag file:line function expression text1 text2 code value", "-" for none.
  std::vector<std::wstring> lines() const {
    static wchar_t const* const kOps[] = {L"PanicMe",     L"TrapretMe", L"Panic1Text",
                                          L"Panic1Value", L"Panic1Ec",  L"Panic2"};
    auto text = [](std::optional<std::wstring> const& t) { return t ? *t : std::wstring(L"-"); };
    std::vector<std::wstring> out;
    for (auto const& r : reports()) {
      std::wostringstream line;
      line << kOps[static_cast<int>(r.op)] << ' ' << r.flag << ' ' << r.file << ':' << r.line << ' '
           << r.function << ' ' << text(r.expression) << ' ' << text(r.text1) << ' '
           << text(r.text2) << ' ' << r.code << ' ' << r.value;
      out.push_back(line.str());
    }
    return out;
  }
};
struct LogCapture : Recorder<Platform::LogEntry, Platform::LogHandler, Platform::setLogHandler> {
  std::vector<Platform::LogEntry> entries() const { return items(); }
  std::vector<std::wstring> texts() const {
    std::vector<std::wstring> out;
    for (auto const& e : entries())
      out.push_back(e.text);
    return out;
  }
};
struct SleepRecorder : Recorder<unsigned, Platform::SleepHook, Platform::setSleepHook> {
  std::vector<unsigned> sleeps() const { return items(); }
};
struct ToneRecorder
    : Recorder<std::pair<unsigned, unsigned>, Platform::ToneHook, Platform::setToneHook> {
  std::vector<std::pair<unsigned, unsigned>> tones() const { return items(); }
};

struct HeapCheck {
  ~HeapCheck() { EXPECT_EQ(held(), 0) << "accounted heap not back where it was"; }
  long long held() const { return Heapwick::bytesHeld() - start; }
  long long const start = Heapwick::bytesHeld();
};

// A fresh, empty directory for one test (under $KESTLE_TEST_TMP), removed when the guard ends.
class TempDir {
 public:
  TempDir() {
    static std::atomic<unsigned> counter{0};
    char const* base = std::getenv("KESTLE_TEST_TMP");
    path_ = base != nullptr ? std::filesystem::path(base) : std::filesystem::temp_directory_path();
    path_ /= "kestle-" + std::to_string(::getpid()) + "-" + std::to_string(counter++);
    std::filesystem::remove_all(path_);
    std::filesystem::create_directories(path_);
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  std::filesystem::path const& path() const { return path_; }
  std::filesystem::path file(std::string const& name) const { return path_ / name; }
  std::wstring wfile(std::string const& name) const { return file(name).wstring(); }

 private:
  std::filesystem::path path_;
};

}  // namespace kestle_test
