// The backup demonstration: a Restore that lists what a backup holds, and the XML report.
#include "backup_demo.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "kestle/kestle.h"

namespace {

// The path as a wide text: through the current locale, or byte by byte when it does not
// convert (an ASCII path converts either way).
std::wstring widen(char const* path) {
  std::wstring wide(std::strlen(path) + 1, L'\0');
  std::size_t n = std::mbstowcs(wide.data(), path, wide.size());
  if (n == static_cast<std::size_t>(-1))
    return std::wstring(path, path + std::strlen(path));
  wide.resize(n);
  return wide;
}

// Prints each unit and its data chunks (the sample's data are lines of text).
class ListingRestore final : public BuRdr::Restore {
 public:
  bool start(Clock::UniversalTime const& stamp, wchar_t const* productcode) override {
    std::printf("backup of %ls made %ls\n", productcode,
                static_cast<wchar_t const*>(FString::iso8601(stamp, false)));
    return true;
  }
  void finished(unsigned long long bytesdone) override {
    std::printf("read to the end: %llu bytes\n", bytesdone);
  }
  void unit(wchar_t const* unit, wchar_t const* name, XBuffer& info) override {
    std::printf("unit %ls (%ls), %u bytes of info\n", unit, name, info.len());
  }
  void data(std::uint32_t length, char const* bytes) override {
    if (length > 0)
      std::printf("  %.*s", static_cast<int>(length), bytes);
  }
  std::uint32_t total(unsigned long long size) override {
    std::printf("file of %llu bytes\n", size);
    return 0;  // no progress reports wanted
  }
  bool progress(unsigned long long, wchar_t const*) override { return true; }
};

// Prints every fault and stops at the first one.
class PrintingSink final : public ErrorSink {
 public:
  void error(unsigned long code, wchar_t const* text) override {
    std::printf("fault 0x%lX: %ls\n", code, text);
    ok_ = false;
  }
  bool ok() const override { return ok_; }

 private:
  bool ok_ = true;
};

class QuietProgress final : public BuRdr::Progress {
 public:
  std::uint32_t total(unsigned long long) override { return 0; }
  bool progress(unsigned long long, wchar_t const*) override { return true; }
};

}  // namespace

void runBackupDemo(char const* samplePath) {
  std::wstring path = widen(samplePath);

  std::printf("== backup: restore listing ==\n");
  PrintingSink sink;
  ListingRestore restore;
  BuRdr::reader(path.c_str(), sink, restore);

  std::printf("== backup: report ==\n");
  QuietProgress progress;
  WString report = BuRdr::report(path.c_str(), progress);
  std::printf("%ls\n", static_cast<wchar_t const*>(report));
}
