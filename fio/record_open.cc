// Opening and closing record files, and the handle's two queries.
#include <new>

#include "fio/record_file.h"
#include "kestle/alloc.h"
#include "kestle/errors.h"
#include "kestle/failure.h"
#include "kestle/fio.h"
#include "kestle/fiowrap.h"

using kestle_detail::record::kModule;

unsigned long FopenName(wchar_t const* name, unsigned int logrecl, bool cypher, Sharing sharing,
                        Access access, OpenFlag openFlag, FioFile*& file, bool flag) {
  if (logrecl == 0) {
    // A handle with a record length of 0 could do nothing (its size divides by it), so the open
    // is refused after the report instead of handing one out.
    SysFailure::panic1(false, kModule, L"FopenName", 373, name);
    return SysError::InvalidParameter;
  }
  // An enciphered record is one byte longer than the caller's, which 32 bits cannot hold here.
  if (cypher && logrecl == 0xFFFFFFFFu)
    return SysError::InvalidParameter;
  Fio::FIOWRAP* wrap = nullptr;
  // The raw layer takes the access mode before the sharing mode.
  unsigned long const code = Fio::open(name, access, sharing, openFlag, wrap, flag);
  if (code != 0)
    return code;
  FioFile* made;
  try {
    made = kestle::make<FioFile>();
  } catch (...) {
    Fio::close(wrap);
    throw;
  }
  made->fio_ = wrap;
  made->cypher_ = cypher;
  made->logrecl_ = logrecl;
  made->fysrecl_ = cypher ? logrecl + 1 : logrecl;
  made->bufcapacity_ = 0;
  made->buffer_ = nullptr;
  made->bufcount_ = 0;
  made->bufstart_ = 0;
  file = made;
  // Only for its reports: a file that is not a whole number of records shows at open.
  unsigned int nrecs = 0;
  Fsize(file, nrecs);
  return 0;
}

namespace {
// Releases what a record handle owns and nulls the caller's pointer when it ends, so Fclose
// leaves nothing behind even when a report or a flush throws.
class HandleRelease {
 public:
  explicit HandleRelease(FioFile*& file) : file_(file) {}
  ~HandleRelease() {
    if (file_->fio_ != nullptr)
      Fio::close(file_->fio_);
    kestle::release(file_->buffer_);
    kestle::destroy(file_);
    file_ = nullptr;
  }
  HandleRelease(HandleRelease const&) = delete;
  HandleRelease& operator=(HandleRelease const&) = delete;

 private:
  FioFile*& file_;
};
}  // namespace

void Fclose(FioFile*& file) {
  if (file == nullptr)
    return;
  HandleRelease release(file);
  Fflushbuf(file);
  WString const name = Fio::name(file->fio_);
  unsigned long const code = Fio::close(file->fio_);
  if (code != 0)
    SysFailure::panic1Ec(false, kModule, L"Fclose", 398, name, code);
}

WString FGetName(FioFile* file) {
  return Fio::name(file->fio_);
}

unsigned int Fbuflen(FioFile* file, unsigned int nrecs) {
  return nrecs * file->logrecl_;
}
