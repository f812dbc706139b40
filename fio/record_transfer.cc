// The record layer's byte transfers: record numbers to file positions, the raw positioned read
// and write, and what each result code calls for (wait, report and retry, or give up).
#include "fio/record_file.h"
#include "kestle/errors.h"
#include "kestle/failure.h"
#include "kestle/fiowrap.h"
#include "kestle/strings.h"
#include "kestle/system.h"
#include "platform/log.h"
#include "platform/report.h"

namespace kestle_detail::record {

namespace {
constexpr wchar_t kLogFile[] = L"ERROR.LOG";
}  // namespace

void logError(wchar_t const* text) {
  doWriteLog(kLogSource, "fioErrorLog", 153, LogTypeError, kLogFile, text, nullptr, 0);
}

void logWarning(wchar_t const* text) {
  doWriteLog(kLogSource, "fioWarningLog", 158, LogTypeWarning, kLogFile, text, nullptr, 0);
}

}  // namespace kestle_detail::record

namespace {

using kestle_detail::record::decimal;
using kestle_detail::record::kModule;
using kestle_detail::record::kReportedRetryLimit;

// A lock violation is another process holding a byte-range lock for a moment: wait and retry.
constexpr unsigned kLockWaitMs = 70;

// The body of readBytes and readBytes2. `raw` makes one raw read at the given position and
// stores the count; it returns the raw layer's code.
template <class RawRead>
unsigned int readRetrying(FioFile const& file, wchar_t const* function, unsigned checkLine,
                          unsigned reportLine, unsigned int rec, unsigned int nbytes, bool* gaveUp,
                          RawRead raw) {
  if (gaveUp != nullptr)
    *gaveUp = false;
  if (nbytes % file.fysrecl_ != 0) {
    WString const requested = decimal(nbytes);
    WString const recordLength = decimal(file.fysrecl_);
    kestle_detail::Reporter::PanicMe(false, kModule, function, checkLine, requested, recordLength,
                                     0);
  }
  if (nbytes == 0)
    return 0;
  unsigned long long const position = file.recordPosition(rec);
  unsigned reports = 0;
  bool busyReported = false;
  for (;;) {
    unsigned int got = 0;
    unsigned long const code = raw(position, got);
    if (code == 0)
      return got;
    if (code == SysError::LockViolation) {
      SleepMs(kLockWaitMs);
      continue;
    }
    // NoHandleError from an open file means every slot stayed busy while the raw read waited for
    // one: the file is busy, not failing. Its first one in a call is reported; then the read
    // simply tries again (the raw read does the waiting), without limit, so that bytes that
    // exist are never given up for being busy.
    bool const busy = code == NoHandleError && file.fio_ != nullptr;
    if (!busy || !busyReported) {
      WString const text(L"readBytes/102", L", ", Fio::name(file.fio_));
      SysFailure::panic1Ec(true, kModule, function, reportLine, text, code);
    }
    if (busy) {
      busyReported = true;
      continue;
    }
    if (++reports >= kReportedRetryLimit) {
      if (gaveUp != nullptr)
        *gaveUp = true;
      return got;
    }
  }
}

// One step of a short write's retries: a tone, a wait that grows with the attempt (none, 70 ms,
// 500 ms), the attempt counted, and a line on the error channel naming the file, the bytes asked
// for and written, and the attempt.
void waitAndLogRetry(WString const& name, unsigned int requested, unsigned int written,
                     unsigned int& attempt) {
  static constexpr unsigned kWaitMs[] = {0, 70, 500};
  Celesta::tone(200, 1000);
  SleepMs(attempt < 3 ? kWaitMs[attempt] : kWaitMs[2]);
  ++attempt;
  WString text(L"writeBytes/101", L": ", name, L"/");
  text += decimal(requested);
  text += L"/";
  text += decimal(written);
  text += L"/";
  text += decimal(attempt);
  kestle_detail::record::logError(text);
}

}  // namespace

unsigned int FioFile::readBytes(unsigned int rec, void* dest, unsigned int nbytes, bool* gaveUp) {
  char* const buffer = static_cast<char*>(dest);
  return readRetrying(*this, L"FioFile::readBytes", 249, 265, rec, nbytes, gaveUp,
                      [&](unsigned long long position, unsigned int& got) {
                        return Fio::read(fio_, position, buffer, nbytes, got);
                      });
}

unsigned int FioFile::readBytes2(unsigned int rec, char* original, char* copy, unsigned int nbytes,
                                 bool* gaveUp) {
  return readRetrying(*this, L"FioFile::readBytes2", 274, 291, rec, nbytes, gaveUp,
                      [&](unsigned long long position, unsigned int& got) {
                        return Fio::read2(fio_, position, original, copy, nbytes, got);
                      });
}

unsigned long FioFile::writeBytes(unsigned int rec, void const* src, unsigned int nbytes) {
  // Record 0 does not exist; its position would wrap to about 4 G records times the record
  // length and grow the file to that size. A run past record 0xFFFFFFFF would put its later
  // records where no record number reaches them.
  if (rec == 0 || (nbytes != 0 && (src == nullptr || !runFits(rec, (nbytes - 1) / fysrecl_ + 1))))
    return SysError::InvalidParameter;
  unsigned long long const position = recordPosition(rec);
  char const* const data = static_cast<char const*>(src);
  unsigned int attempt = 0;
  unsigned reports = 0;
  for (;;) {
    unsigned int written = 0;
    unsigned long const code = Fio::write(fio_, position, data, nbytes, written);
    if (code == 0) {
      if (written >= nbytes)
        return 0;
      if (attempt > 2)
        return ShortWriteError;
      // The whole range is written again: the raw layer does not say which bytes landed.
      waitAndLogRetry(Fio::name(fio_), nbytes, written, attempt);
      continue;
    }
    if (code == SysError::DiskFull)
      return code;
    WString const text(L"writeBytes/102", L", ", Fio::name(fio_));
    SysFailure::panic1Ec(true, kModule, L"FioFile::writeBytes", 326, text, code);
    if (++reports >= kReportedRetryLimit)
      return code;
  }
}
