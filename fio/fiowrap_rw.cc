// Positioned reads through the gate and the four slots, and writes through the main handle.
#include "fio/fiowrap_detail.h"
#include "kestle/errors.h"
#include "kestle/fiowrap.h"
#include "kestle/mutex.h"
#include "kestle/system.h"
#include "platform/file.h"
#include "platform/report.h"

namespace Fio {

namespace fw = kestle_detail::fiowrap;

// Where a read reports from: its function text and the lines of its three reports.
struct FIOWRAP::ReadSite {
  wchar_t const* function;
  unsigned noSlotLine;
  unsigned flushLine;
  unsigned openLine;
  bool twoBuffers;  // FioRead2 rather than FioRead
};

namespace {

// Holds one unit of the read gate and gives it back on every way out, exceptions included.
class GateUnit {
 public:
  explicit GateUnit(Semaphore& gate) : gate_(gate) { gate_.wait(); }
  ~GateUnit() { gate_.raise(); }
  GateUnit(GateUnit const&) = delete;
  GateUnit& operator=(GateUnit const&) = delete;

 private:
  Semaphore& gate_;
};

}  // namespace

unsigned long FIOWRAP::positionedRead(ReadSite const& site, unsigned long long position,
                                      char* buffer, char* copy, unsigned int length,
                                      unsigned int& got) {
  GateUnit unit(readGate_);
  // The writes that have asked for the main handle by now go first; later ones do not hold this
  // read back, so a stream of writes cannot starve it either.
  unsigned const writesBefore = writesAsked_.load();
  // One lock object per slot, declared after the gate unit so that the slot is released before
  // the unit goes back. They stand in for a shifting lock, whose timer would read the clock
  // twice per try (a tenth of a page-cached 4 KiB read) for a time nobody reads.
  Mutex::Lock slotLocks[kSlots] = {
      {mutexes_[0], false}, {mutexes_[1], false}, {mutexes_[2], false}, {mutexes_[3], false}};
  int slot = -1;
  for (unsigned waitedMs = 0;; waitedMs += fw::kSlotRetryMs) {
    if (static_cast<int>(writesDone_.load() - writesBefore) >= 0) {
      for (int i = 0; i < kSlots; ++i) {
        // Timeout 0: a busy slot is passed over at once. A slot whose lock word already shows it
        // held is passed over without the try, which would fail anyway and would take its cache
        // line away from the holder.
        if (mutexes_[i].state() == 0 && slotLocks[i].tryLock(0, Mutex::ReportDeadlock)) {
          slot = i;
          break;
        }
      }
      if (slot >= 0)
        break;
    }
    // Every slot is busy (a write or resize holds one, reads the others) or a write that came
    // first has not yet had its turn. That passes within a transfer or two, so the read sleeps
    // a moment and looks again; no slot for about a second means one is held for good (a
    // transfer hung in the kernel), which is reported.
    if (waitedMs >= fw::kSlotWaitBoundMs) {
      SysFailure::panic1(true, fw::kModule, site.function, site.noSlotLine, fileName_);
      return NoHandleError;
    }
    SleepMs(fw::kSlotRetryMs);
  }

  if (slot != 0) {
    // What the main handle wrote is made visible once before reads move to other handles; it
    // need not be durable for that. Looked at before it is exchanged, so that reads do not write
    // the shared flag's cache line while there is nothing to flush.
    if (unflushed_.load() && unflushed_.exchange(false)) {
      unsigned long code = FioFlushVisible(handles_[0].load(std::memory_order_relaxed));
      if (code != 0) {
        kestle_detail::Reporter::TrapretMe(true, fw::kModule, site.function, site.flushLine,
                                           nullptr, code, nullptr, nullptr);
      }
    }
    Stat::incCount(fw::kReadHandleUseStat, 1);
  }

  // The slot's handle changes only under its mutex, which this read holds.
  void* handle = handles_[slot].load(std::memory_order_relaxed);
  if (handle == nullptr) {
    Stat::Call timed(fw::kReadHandleOpenStat, 0);
    unsigned long code = FioOpen(fileName_, fw::kReadHandleAccess, fw::kReadHandleSharing,
                                 fw::kReadHandleOpenFlag, handle, false);
    handles_[slot].store(handle, std::memory_order_release);
    if (code != 0) {
      // The read goes on: positioning the empty slot fails and gives the result.
      kestle_detail::Reporter::TrapretMe(true, fw::kModule, site.function, site.openLine, nullptr,
                                         code, fileName_, nullptr);
    }
  }

  unsigned long code = FioSetPos(handle, position);
  if (code != 0)
    return code;
  if (site.twoBuffers)
    return FioRead2(handle, buffer, copy, length, got);
  return FioRead(handle, buffer, length, got);
}

unsigned long read(FIOWRAP* wrap, unsigned long long position, char* buffer, unsigned int length,
                   unsigned int& got) {
  got = 0;
  if (wrap == nullptr)
    return NoHandleError;
  static constexpr FIOWRAP::ReadSite kSite{L"Fio::read", 231, 211, 221, false};
  return wrap->positionedRead(kSite, position, buffer, nullptr, length, got);
}

unsigned long read2(FIOWRAP* wrap, unsigned long long position, char* buffer, char* copy,
                    unsigned int length, unsigned int& got) {
  got = 0;
  if (wrap == nullptr)
    return NoHandleError;
  static constexpr FIOWRAP::ReadSite kSite{L"Fio::read2", 276, 252, 263, true};
  return wrap->positionedRead(kSite, position, buffer, copy, length, got);
}

unsigned long write(FIOWRAP* wrap, unsigned long long position, char const* data,
                    unsigned int length, unsigned int& written) {
  written = 0;
  if (wrap == nullptr)
    return NoHandleError;
  FIOWRAP::WriteTurn turn(*wrap);
  Mutex::Lock lock(wrap->mutexes_[0], true);
  unsigned long code = FioSetPos(wrap->handles_[0].load(std::memory_order_relaxed), position);
  if (code != 0)
    return code;
  wrap->closeReadHandles();
  wrap->unflushed_.store(true);
  return FioWrite(wrap->handles_[0].load(std::memory_order_relaxed), data, length, written);
}

}  // namespace Fio
