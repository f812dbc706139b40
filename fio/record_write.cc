// Record writes: single and multiple records, enciphered writes, and the write buffer that turns
// single-record writes of consecutive records into one transfer per run.
#include <cstring>

#include "fio/record_file.h"
#include "kestle/alloc.h"
#include "kestle/coding.h"
#include "kestle/errors.h"
#include "kestle/failure.h"
#include "kestle/fiowrap.h"
#include "platform/report.h"

using kestle_detail::record::kModule;
using kestle_detail::record::recordKey;
using kestle_detail::record::ScratchBuffer;

unsigned long FioFile::multiWriteCypher(unsigned int recno, unsigned int nrecs, void const* data) {
  if (nrecs == 0)
    return 0;
  unsigned int total = 0;
  if (data == nullptr || !runFits(recno, nrecs) || !physicalBytes(nrecs, total))
    return SysError::InvalidParameter;
  ScratchBuffer scratch(total);
  char* const out = scratch.data();
  kestle_detail::record::encipherRecords(recno, nrecs, logrecl_, static_cast<char const*>(data),
                                         out);
  return writeBytes(recno, out, total);
}

void Fmultiwrite(FioFile* file, unsigned int recno, unsigned int nrecs, void* data,
                 unsigned long& err) {
  if (file->cypher_) {
    err = file->multiWriteCypher(recno, nrecs, data);
    return;
  }
  unsigned int nbytes = 0;
  if (nrecs == 0)
    err = 0;
  else if (!file->physicalBytes(nrecs, nbytes))
    err = SysError::InvalidParameter;  // a wrapped count would write part of the records
  else
    err = file->writeBytes(recno, data, nbytes);
}

void Fwrite(FioFile* file, unsigned int recno, void* data) {
  unsigned long const err = file->cypher_ ? file->multiWriteCypher(recno, 1, data)
                                          : file->writeBytes(recno, data, file->fysrecl_);
  if (err != 0)
    SysFailure::panic1Ec(true, kModule, L"Fwrite", 753, Fio::name(file->fio_), err);
}

void FioFile::flushBuffer() {
  if (bufcount_ == 0)
    return;
  unsigned long const err = writeBytes(bufstart_, buffer_, bufcount_ * fysrecl_);
  if (err != 0)
    kestle_detail::Reporter::TrapretMe(true, kModule, L"FioFile::flushBuffer", 338, nullptr, err,
                                       nullptr, nullptr);
  bufcount_ = 0;
}

namespace {
// Replaces the write buffer by one of `nrecs` records, writing the held run first so that no
// record is lost. The capacity is cut to what 32-bit byte counts of a run can hold. Returns false
// (and changes nothing) when that leaves the capacity as it was.
bool growBuffer(FioFile& file, unsigned int nrecs) {
  unsigned int const maxRecords = 0xFFFFFFFFu / file.fysrecl_;
  unsigned int const capacity = nrecs < maxRecords ? nrecs : maxRecords;
  if (capacity <= file.bufcapacity_)
    return false;
  file.flushBuffer();
  char* const fresh = static_cast<char*>(kestle::allocate(capacity * file.fysrecl_));
  kestle::release(file.buffer_);
  file.buffer_ = fresh;
  file.bufcapacity_ = capacity;
  file.bufcount_ = 0;
  return true;
}
}  // namespace

void Fbufwrite(FioFile* file, unsigned int recno, unsigned int nrecs, void* data) {
  if (data == nullptr) {
    SysFailure::panic1Ec(false, kModule, L"Fbufwrite", 760, Fio::name(file->fio_),
                         SysError::InvalidParameter);
    return;
  }
  if (nrecs == 0) {
    kestle_detail::Reporter::PanicMe(false, kModule, L"Fbufwrite", 762, nullptr, nullptr, 0);
    if (file->bufcapacity_ == 0) {
      // No buffer to hold the record: write it now rather than lose it.
      Fwrite(file, recno, data);
      return;
    }
  }
  if (nrecs > file->bufcapacity_ && growBuffer(*file, nrecs)) {
    // A fresh, empty buffer: the record starts a run.
  } else if (file->bufcount_ > 0 && (recno != file->bufstart_ + file->bufcount_ || recno == 0 ||
                                     file->bufcount_ >= file->bufcapacity_)) {
    // (Record 0 after record 0xFFFFFFFF does not continue the run, though the sum wraps to it.)
    file->flushBuffer();
  }
  if (file->bufcount_ == 0)
    file->bufstart_ = recno;
  char* const slot = file->buffer_ + file->bufcount_ * file->fysrecl_;
  ++file->bufcount_;
  // The copy or the cipher comes last, so that the call ends in a jump to it.
  if (file->cypher_)
    Coding::Encode(static_cast<char const*>(data), slot, file->logrecl_, recordKey(recno));
  else
    std::memcpy(slot, data, file->fysrecl_);
}

void Fflushbuf(FioFile* file) {
  file->flushBuffer();
  if (file->bufcapacity_ != 0) {
    file->bufcapacity_ = 0;
    kestle::release(file->buffer_);
    file->buffer_ = nullptr;
    file->bufcount_ = 0;
    file->bufstart_ = 0;
  }
}

void Fflush(FioFile* file) {
  file->flushBuffer();
  unsigned long const err = Fio::flush(file->fio_);
  if (err != 0)
    SysFailure::panic1Ec(true, kModule, L"Fflush", 814, Fio::name(file->fio_), err);
}
