// The size of a record file in records.
#include "fio/record_file.h"
#include "kestle/failure.h"
#include "kestle/fiowrap.h"
#include "kestle/strings.h"

using kestle_detail::record::kModule;

void Fsize(FioFile* file, unsigned int& nrecs) {
  unsigned long long size = 0;
  unsigned long const code = Fio::getSize(file->fio_, size);
  if (code != 0) {
    WString const text(L"Fsize/1", L", ", Fio::name(file->fio_));
    SysFailure::panic1Ec(true, kModule, L"Fsize", 783, text, code);
    // Nothing is known about the file: say it holds no records rather than leave the caller's
    // variable as it was.
    nrecs = 0;
    return;
  }
  if (size % file->fysrecl_ != 0) {
    WString text(L"Fsize/2 ", size);
    text += WString(L", reclen ", file->fysrecl_);
    text += L", ";
    text += Fio::name(file->fio_);
    SysFailure::panic1(false, kModule, L"Fsize", 786, text);
  }
  // Record numbers are 32-bit: a larger count saturates instead of wrapping to a small one, which
  // would make a caller that appends overwrite records.
  unsigned long long const records = size / file->fysrecl_;
  nrecs = records > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<unsigned int>(records);
}

unsigned long FSetNewSize(FioFile* file, unsigned int nrecs) {
  return Fio::setSize(file->fio_, static_cast<unsigned long long>(file->fysrecl_) * nrecs);
}

void FSetSize(FioFile* file, unsigned int nrecs) {
  unsigned long const code = FSetNewSize(file, nrecs);
  if (code != 0)
    SysFailure::panic1Ec(true, kModule, L"FSetSize", 796, Fio::name(file->fio_), code);
}
