#include "support/guards.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>

namespace kestle_test {

ReportCapture::ReportCapture() {
  previous_ = Platform::setReportHandler([this](Platform::Report const& r) {
    std::lock_guard<std::mutex> lock(mu_);
    reports_.push_back(r);
  });
}
ReportCapture::~ReportCapture() {
  Platform::setReportHandler(std::move(previous_));
}
std::vector<Platform::Report> ReportCapture::reports() const {
  std::lock_guard<std::mutex> lock(mu_);
  return reports_;
}
size_t ReportCapture::count() const {
  std::lock_guard<std::mutex> lock(mu_);
  return reports_.size();
}
void ReportCapture::clear() {
  std::lock_guard<std::mutex> lock(mu_);
  reports_.clear();
}

LogCapture::LogCapture() {
  previous_ = Platform::setLogHandler([this](Platform::LogEntry const& e) {
    std::lock_guard<std::mutex> lock(mu_);
    entries_.push_back(e);
  });
}
LogCapture::~LogCapture() {
  Platform::setLogHandler(std::move(previous_));
}
std::vector<Platform::LogEntry> LogCapture::entries() const {
  std::lock_guard<std::mutex> lock(mu_);
  return entries_;
}
std::vector<std::wstring> LogCapture::texts() const {
  std::lock_guard<std::mutex> lock(mu_);
  std::vector<std::wstring> out;
  for (auto const& e : entries_)
    out.push_back(e.text);
  return out;
}
void LogCapture::clear() {
  std::lock_guard<std::mutex> lock(mu_);
  entries_.clear();
}

SleepRecorder::SleepRecorder() {
  previous_ = Platform::setSleepHook([this](unsigned ms) {
    std::lock_guard<std::mutex> lock(mu_);
    sleeps_.push_back(ms);
  });
}
SleepRecorder::~SleepRecorder() {
  Platform::setSleepHook(std::move(previous_));
}
std::vector<unsigned> SleepRecorder::sleeps() const {
  std::lock_guard<std::mutex> lock(mu_);
  return sleeps_;
}
void SleepRecorder::clear() {
  std::lock_guard<std::mutex> lock(mu_);
  sleeps_.clear();
}

ToneRecorder::ToneRecorder() {
  previous_ = Platform::setToneHook([this](unsigned a, unsigned b) {
    std::lock_guard<std::mutex> lock(mu_);
    tones_.emplace_back(a, b);
  });
}
ToneRecorder::~ToneRecorder() {
  Platform::setToneHook(std::move(previous_));
}
std::vector<std::pair<unsigned, unsigned>> ToneRecorder::tones() const {
  std::lock_guard<std::mutex> lock(mu_);
  return tones_;
}

FileFaultGuard::FileFaultGuard(Platform::FileFaultHook hook) {
  previous_ = Platform::setFileFaultHook(std::move(hook));
}
FileFaultGuard::~FileFaultGuard() {
  Platform::setFileFaultHook(std::move(previous_));
}

HeapCheck::HeapCheck() : start_(Heapwick::bytesHeld()) {}
HeapCheck::~HeapCheck() {
  EXPECT_EQ(Heapwick::bytesHeld(), start_) << "accounted heap not back where it was";
}
long long HeapCheck::held() const {
  return Heapwick::bytesHeld() - start_;
}

TempDir::TempDir() {
  static std::atomic<unsigned> counter{0};
  char const* base = std::getenv("KESTLE_TEST_TMP");
  std::filesystem::path root =
      base != nullptr ? std::filesystem::path(base) : std::filesystem::temp_directory_path();
  path_ = root / ("kestle-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
  std::filesystem::remove_all(path_);
  std::filesystem::create_directories(path_);
}
TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}
std::wstring TempDir::wfile(std::string const& name) const {
  return file(name).wstring();
}

}  // namespace kestle_test
