// Shared pieces of the record-read tests: a fixture that writes a record file and reads it back,
// a guard over the process-wide read switches, and a fault answer that changes the bytes of
// chosen reads.
#pragma once

#include <atomic>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "support/record_support.h"

namespace kestle_test {

// Sets the three read switches for its life and restores what they were.
class ReadSwitches {
 public:
  ReadSwitches(bool extended, bool withCopy, bool useCopy)
      : extended_(SetReadExtendedLogging(extended)),
        withCopy_(SetReadWithCopyBuffer(withCopy)),
        useCopy_(SetReadUseCopyBuffer(useCopy)) {}
  ~ReadSwitches() {
    SetReadExtendedLogging(extended_);
    SetReadWithCopyBuffer(withCopy_);
    SetReadUseCopyBuffer(useCopy_);
  }
  ReadSwitches(ReadSwitches const&) = delete;
  ReadSwitches& operator=(ReadSwitches const&) = delete;

 private:
  bool extended_, withCopy_, useCopy_;
};

// A file-fault answer that lets every `op` call run and then calls `alter` with the call's
// 0-based number among the `op` calls, its file position, the buffers it filled (copy is null
// for a plain read) and the bytes it read.
using ReadAlter = std::function<void(int, unsigned long long, char*, char*, unsigned)>;
inline FileCalls::Answer alterReads(Platform::FileOp op, ReadAlter alter) {
  auto seen = std::make_shared<std::atomic<int>>(0);
  return [=](Platform::FileCall const& c) -> std::optional<Platform::FileFault> {
    if (c.op != op)
      return std::nullopt;
    int const n = seen->fetch_add(1);
    Platform::FileFault fault;
    fault.alter = [=](char* buffer, char* copy, unsigned count) {
      alter(n, c.position, buffer, copy, count);
    };
    return fault;
  };
}

// Flips a bit of the byte at file position `at`, in the original and/or the copy, on the `op`
// calls that `when` picks by number and whose range holds that byte.
inline FileCalls::Answer flipByte(Platform::FileOp op, unsigned long long at,
                                  std::function<bool(int)> when, bool original = true,
                                  bool copy = false) {
  return alterReads(
      op, [=](int n, unsigned long long position, char* buffer, char* second, unsigned count) {
        if (!when(n) || at < position || at - position >= count)
          return;
        if (original)
          buffer[at - position] ^= 0x40;
        if (copy)
          second[at - position] ^= 0x40;
      });
}

class RecordReadTest : public RecordTest {
 protected:
  // Opens a file of `n` records of `logrecl` bytes (recordBytes), written through the library.
  void makeFile(unsigned n, unsigned logrecl, bool cypher) {
    open(logrecl, cypher);
    data_ = recordBytes(n, logrecl);
    unsigned long err = 1;
    Fmultiwrite(file_, 1, n, data_.data(), err);
    ASSERT_EQ(err, 0u);
    logrecl_ = logrecl;
  }

  // Adds `tail` to the end of the file and opens it again (the open reports the part record).
  void appendAndReopen(std::string const& tail, bool cypher) {
    Fclose(file_);
    std::ofstream(path_, std::ios::binary | std::ios::app) << tail;
    open(logrecl_, cypher);
    reports_.clear();
  }

  // Records first .. first + n - 1 as written.
  std::string expected(unsigned first, unsigned n) const {
    return data_.substr(static_cast<size_t>(first - 1) * logrecl_,
                        static_cast<size_t>(n) * logrecl_);
  }

  std::string data_;
  unsigned logrecl_ = 0;
};

}  // namespace kestle_test
