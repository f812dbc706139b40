// RAII guards over the platform control hooks: each installs a recording hook for one test and
// restores the previous one when it ends. Recorders lock their own state, because the library
// may call a hook from any thread.
#pragma once

#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "kestle/kestle.h"

namespace kestle_test {

// Captures every SysFailure report instead of printing it.
class ReportCapture {
 public:
  ReportCapture();
  ~ReportCapture();
  std::vector<Platform::Report> reports() const;
  size_t count() const;
  void clear();

 private:
  mutable std::mutex mu_;
  std::vector<Platform::Report> reports_;
  Platform::ReportHandler previous_;
};

// Captures every log entry instead of writing it.
class LogCapture {
 public:
  LogCapture();
  ~LogCapture();
  std::vector<Platform::LogEntry> entries() const;
  std::vector<std::wstring> texts() const;
  void clear();

 private:
  mutable std::mutex mu_;
  std::vector<Platform::LogEntry> entries_;
  Platform::LogHandler previous_;
};

// Records SleepMs calls instead of sleeping.
class SleepRecorder {
 public:
  SleepRecorder();
  ~SleepRecorder();
  std::vector<unsigned> sleeps() const;
  void clear();

 private:
  mutable std::mutex mu_;
  std::vector<unsigned> sleeps_;
  Platform::SleepHook previous_;
};

// Records Celesta::tone calls.
class ToneRecorder {
 public:
  ToneRecorder();
  ~ToneRecorder();
  std::vector<std::pair<unsigned, unsigned>> tones() const;

 private:
  mutable std::mutex mu_;
  std::vector<std::pair<unsigned, unsigned>> tones_;
  Platform::ToneHook previous_;
};

// Installs a file-fault hook for the guard's life.
class FileFaultGuard {
 public:
  explicit FileFaultGuard(Platform::FileFaultHook hook);
  ~FileFaultGuard();

 private:
  Platform::FileFaultHook previous_;
};

// Asserts at its end that the accounted heap is back where it was at its start.
class HeapCheck {
 public:
  HeapCheck();
  ~HeapCheck();
  long long held() const;  // bytes held now beyond the start

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
  std::wstring wfile(std::string const& name) const;

 private:
  std::filesystem::path path_;
};

}  // namespace kestle_test
