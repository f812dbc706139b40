// backup report and backup list.
#include <cstdio>
#include <string>

#include "backup_sink.h"
#include "commands.h"

namespace kestle_tool {
namespace {

// Lists the units as the reader delivers them; a unit's line is printed at its closing chunk,
// when its data bytes are known.
class Lister final : public BuRdr::Restore {
 public:
  bool start(Clock::UniversalTime const& stamp, wchar_t const* productcode) override {
    started = true;
    std::printf("stamp: %s\nproduct: %s\n", shown(FString::iso8601(stamp, false)).c_str(),
                shown(productcode).c_str());
    return true;
  }
  void finished(unsigned long long bytesdone) override {
    finishedRead = true;
    progress_.clear();
    std::printf("%llu units, %llu data bytes, %llu bytes read\n", units_, total_, bytesdone);
  }
  void unit(wchar_t const* unit, wchar_t const* name, XBuffer& info) override {
    ++units_;
    line_ = "unit \"" + shown(unit) + "\", description \"" + shown(name) + "\", info " +
            std::to_string(info.len()) + " bytes";
    bytes_ = 0;
  }
  void data(std::uint32_t length, char const*) override {
    bytes_ += length;
    total_ += length;
    if (length != 0)
      return;
    progress_.clear();
    std::printf("%s, data %llu bytes\n", line_.c_str(), bytes_);
  }
  std::uint32_t total(unsigned long long size) override { return progress_.total(size); }
  bool progress(unsigned long long done, wchar_t const* what) override {
    return progress_.progress(done, what);
  }

  bool started = false;
  bool finishedRead = false;

 private:
  BarProgress progress_;
  std::string line_;
  unsigned long long units_ = 0, bytes_ = 0, total_ = 0;
};

}  // namespace

int reportBackup(std::string const& file) {
  auto name = fileName(file);
  if (!name)
    return kUnusable;
  BarProgress progress;
  std::wstring const report = static_cast<wchar_t const*>(BuRdr::report(name->c_str(), progress));
  progress.clear();
  std::printf("%s\n", FString::utf8(report.c_str()).c_str());
  return backupStatus(report.find(L"\n <start ") != std::wstring::npos,
                      report.find(L"\n <finished ") != std::wstring::npos);
}

int listBackup(std::string const& file) {
  auto name = fileName(file);
  if (!name)
    return kUnusable;
  PrintingSink sink(file);
  Lister lister;
  BuRdr::reader(name->c_str(), sink, lister);
  return backupStatus(lister.started, lister.finishedRead);
}

}  // namespace kestle_tool
