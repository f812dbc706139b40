// What the backup commands share: the error sink that prints faults, and the progress bar fed
// by the reader.
#pragma once

#include <string>
#include <utility>

#include "kestle/kestle.h"
#include "output.h"

namespace kestle_tool {

// Prints every fault of a backup read as one line; the first one with a code stops the read, as
// does stop() (a command that cannot store what it reads).
class PrintingSink final : public ErrorSink {
 public:
  explicit PrintingSink(std::string file) : file_(std::move(file)) {}
  void error(unsigned long code, wchar_t const* text) override {
    fail(file_, shown(text), code);
    failed_ |= code != 0;
  }
  bool ok() const override { return !failed_; }
  void stop() { failed_ = true; }

 private:
  std::string file_;
  bool failed_ = false;
};

// Forwards the reader's progress to a bar, asking for ten reports a second.
class BarProgress final : public BuRdr::Progress {
 public:
  std::uint32_t total(unsigned long long size) override {
    bar_.emplace(size);
    return 10;
  }
  bool progress(unsigned long long done, wchar_t const* what) override {
    bar_->update(done, what);
    return true;
  }
  void clear() {
    if (bar_)
      bar_->clear();
  }

 private:
  std::optional<ProgressBar> bar_;
};

// The exit status of a backup command: the header could not be read (or the file opened), the
// read stopped later, or everything was read.
inline int backupStatus(bool started, bool finished) {
  return !started ? kUnusable : finished ? kSound : kDamaged;
}

}  // namespace kestle_tool
