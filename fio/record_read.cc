// Record reads: the two exported reads, the read switches, and the enciphered read with its
// retries of broken records.
#include <atomic>
#include <cstddef>
#include <cstring>

#include "fio/record_file.h"
#include "fio/record_read.h"
#include "kestle/errors.h"
#include "kestle/failure.h"
#include "kestle/fio.h"
#include "kestle/fiowrap.h"
#include "kestle/strings.h"
#include "kestle/system.h"
#include "kestle/thread.h"

namespace {

using kestle_detail::record::decimal;
using kestle_detail::record::hex;

// Process-wide and read by every read without a lock. Relaxed ordering is enough: a switch only
// selects a path or a text, and a read that starts after a change sees it.
std::atomic<bool> extendedLogging{false};
std::atomic<bool> withCopyBuffer{false};
std::atomic<bool> useCopyBuffer{false};

// The text that names broken record rec + i of a read of `nrecs` records from `rec` of which
// the file gave `got` whole records. With extended logging it carries the thread id and the
// read's geometry, so that lines of parallel readers can be told apart and the bytes found.
WString brokenRecordText(FioFile const& file, unsigned int rec, unsigned int nrecs,
                         unsigned int got, unsigned int i) {
  bool const extended = kestle_detail::record::readExtendedLogging();
  WString text(L"BROKEN FILE: ");
  if (extended) {
    text += L"thread id ";
    text += decimal(static_cast<unsigned long long>(Thread::currentThreadId()));
    text += L" ";
  }
  text += Fio::name(file.fio_);
  text += decimal(static_cast<unsigned int>(rec + i));
  if (!extended)
    return text;
  unsigned long long const fys = file.fysrecl_;
  text += L" (nrecs to read ";
  text += decimal(nrecs);
  text += L"; nbytes to read ";
  text += decimal(nrecs * fys);
  text += L"; nbytes read ";
  text += decimal(got * fys);
  text += L"; fysrecl_ ";
  text += decimal(fys);
  text += L"; logrecl_ ";
  text += decimal(file.logrecl_);
  text += L"; start record (1-based) ";
  text += decimal(rec);
  text += L"; start position in file (0-based) 0x";
  text += hex(file.recordPosition(rec));
  text += L"; decrypt record i (0-based) ";
  text += decimal(i);
  text += L"; decrypt begin offset (0-based) ";
  text += decimal(i * fys);
  text += L")";
  return text;
}

// One transfer of at most fittingRecords records, by the path the file and the switches call
// for.
void readRun(FioFile& file, unsigned int rec, unsigned int nrecs, char* out, unsigned int& nread,
             bool& eof) {
  if (!file.cypher_) {
    bool gaveUp = false;
    nread =
        nrecs == 0 ? 0 : file.readBytes(rec, out, nrecs * file.fysrecl_, &gaveUp) / file.fysrecl_;
    eof = nread < nrecs && !gaveUp;  // a read that gave up says nothing about the file's end
  } else if (kestle_detail::record::readWithCopyBuffer() ||
             kestle_detail::record::readUseCopyBuffer()) {
    file.multiReadCypher2(1, rec, nrecs, out, nread, eof);
  } else {
    file.multiReadCypher(1, rec, nrecs, out, nread, eof);
  }
}

}  // namespace

namespace kestle_detail::record {

bool readExtendedLogging() {
  return extendedLogging.load(std::memory_order_relaxed);
}
bool readWithCopyBuffer() {
  return withCopyBuffer.load(std::memory_order_relaxed);
}
bool readUseCopyBuffer() {
  return useCopyBuffer.load(std::memory_order_relaxed);
}

unsigned int scratchRecords(FioFile const& file, unsigned int rec, unsigned int nrecs,
                            bool& beyondEnd) {
  beyondEnd = false;
  nrecs = fittingRecords(file, nrecs);
  if (nrecs * file.fysrecl_ <= kScratchBytes)
    return nrecs;  // the frame's buffer serves; no size needed
  unsigned long long size = 0;
  if (Fio::getSize(file.fio_, size) != 0)
    return nrecs;  // the read itself will find where the file ends
  unsigned long long const start = file.recordPosition(rec);
  unsigned long long const there = size > start ? (size - start) / file.fysrecl_ : 0;
  if (there >= nrecs)
    return nrecs;
  beyondEnd = true;
  return static_cast<unsigned int>(there);
}

void zeroTail(char* buffer, unsigned int filled, unsigned int total) {
  if (filled < total)
    std::memset(buffer + filled, 0, total - filled);
}

bool decipherPass(FioFile const& file, BrokenReport const& report, unsigned int attempt,
                  unsigned int rec, unsigned int nrecs, unsigned int got, char const* original,
                  char const* copy, char* out, unsigned int& nread, bool& eof) {
  // Every record from `got` on lies beyond the end of the file.
  eof = got < nrecs;
  unsigned int const whole = eof ? got : nrecs;
  char const* const source = copy != nullptr && readUseCopyBuffer() ? copy : original;
  nread = decipherRecords(rec, whole, file.logrecl_, source, out);
  if (nread == whole)
    return false;
  eof = false;  // record i is broken
  unsigned int const i = nread;
  WString text = brokenRecordText(file, rec, nrecs, got, i);
  if (attempt <= kRetriedAttempts) {
    text.ins(L"Warning ");
    text += L", read action will be retried, attempt ";
    text += decimal(attempt);
    text += L"/";
    text += decimal(kRetriedAttempts);
    logWarning(text);
    return true;
  }
  SysFailure::panic1(false, kModule, report.function, report.line, text);
  // The delivery ends here: deciphering the next record into this place would hand the caller
  // record rec + i + 1 as record rec + i.
  return false;
}

}  // namespace kestle_detail::record

using kestle_detail::record::fittingRecords;

bool SetReadExtendedLogging(bool on) {
  return extendedLogging.exchange(on, std::memory_order_relaxed);
}
bool SetReadWithCopyBuffer(bool on) {
  return withCopyBuffer.exchange(on, std::memory_order_relaxed);
}
bool SetReadUseCopyBuffer(bool on) {
  return useCopyBuffer.exchange(on, std::memory_order_relaxed);
}

void Fmultiread(FioFile* file, unsigned int rec, unsigned int nrecs, void* buf, unsigned int& nread,
                bool& eof) {
  nread = 0;
  eof = false;
  if (nrecs != 0 && (buf == nullptr || !FioFile::runFits(rec, nrecs))) {
    SysFailure::panic1Ec(false, kestle_detail::record::kModule, L"Fmultiread", 536,
                         Fio::name(file->fio_), SysError::InvalidParameter);
    return;
  }
  // A request whose physical bytes exceed 32 bits is read in runs that fit, so that no byte
  // count wraps. Every run but the last is whole; the first short one ends the delivery.
  char* out = static_cast<char*>(buf);
  unsigned int const most = fittingRecords(*file, 0xFFFFFFFFu);
  do {
    unsigned int const left = nrecs - nread;
    unsigned int const run = left < most ? left : most;
    unsigned int got = 0;
    readRun(*file, rec + nread, run, out, got, eof);
    nread += got;
    out += static_cast<std::size_t>(got) * file->logrecl_;
    if (got < run)
      return;
  } while (nread < nrecs);
}

void Fread(FioFile* file, unsigned int rec, void* buf, bool& eof) {
  if (buf == nullptr) {
    SysFailure::panic1Ec(false, kestle_detail::record::kModule, L"Fread", 552,
                         Fio::name(file->fio_), SysError::InvalidParameter);
    eof = true;  // nothing delivered
    return;
  }
  unsigned int nread = 0;
  readRun(*file, rec, 1, static_cast<char*>(buf), nread, eof);
  // Without a record there is nothing to read in the buffer, whatever the cause.
  eof = nread == 0;
}

void FioFile::multiReadCypher(unsigned int attempt, unsigned int rec, unsigned int nrecs, void* out,
                              unsigned int& nread, bool& eof) {
  using namespace kestle_detail::record;
  static constexpr BrokenReport kReport{L"FioFile::multiReadCypher", 499};
  bool beyondEnd = false;
  nrecs = scratchRecords(*this, rec, nrecs, beyondEnd);
  unsigned int const nbytes = nrecs * fysrecl_;
  for (;; ++attempt) {
    bool retry;
    {
      // A fresh buffer per attempt; a heap block goes back before the wait.
      ScratchBuffer scratch(nbytes);
      char* const physical = scratch.data();
      bool gaveUp = false;
      unsigned int const bytes = readBytes(rec, physical, nbytes, &gaveUp);
      zeroTail(physical, bytes, nbytes);
      retry = decipherPass(*this, kReport, attempt, rec, nrecs, bytes / fysrecl_, physical, nullptr,
                           static_cast<char*>(out), nread, eof);
      eof = endOfFile(eof, beyondEnd, gaveUp);
    }
    if (!retry)
      return;
    SleepMs(attempt * kRetryStepMs);
  }
}
