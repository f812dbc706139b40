// BuRdr::Source: opens a backup file, checks its header and reads its chunks.
//
// Every step first asks the sink whether reading may go on, so a sink that turns false on the
// first fault stops the source at once, while a sink that stays ok lets each operation run its
// remaining steps (each of which still ends: a transfer that delivers nothing ends a chunk).
#include <algorithm>
#include <cstring>
#include <new>

#include "backup/chunk_format.h"
#include "backup/product_code.h"
#include "kestle/backup.h"
#include "kestle/coding.h"
#include "kestle/errors.h"
#include "platform/file.h"

namespace BuRdr {

namespace fmt = kestle_detail::backup;

Source::Memo::Memo() : local_{}, capacity_(0), heap_(nullptr), length_(0) {}

Source::Memo::~Memo() {
  kestle::release(heap_);
}

void Source::Memo::release() {
  kestle::release(heap_);
  heap_ = nullptr;
  capacity_ = 0;
}

void Source::Memo::clear() {
  release();
  std::memset(local_, 0, sizeof local_);
  length_ = 0;
}

Source::Source(ErrorSink& sink, wchar_t const* file)
    : sink_(sink), handle_(nullptr), size_(0), consumed_(0), random_() {
  unsigned long r =
      FioOpen(file, Access::Read, Sharing::AllowRead, OpenFlag::OpenExisting, handle_, false);
  if (r != 0)
    trap(r, WString(L"open ", file));
  if (!ok()) {
    // A sink that was already stopped must not leave the file open behind it.
    if (handle_ != nullptr)
      FioClose(handle_);
    handle_ = nullptr;
    return;
  }
  r = FioSize(handle_, size_);
  if (r != 0)
    trap(r, L"size");
  if (ok() && size_ == 0)
    trap(BackupFormatError, WString(L"empty file ", file));
}

Source::~Source() {
  if (handle_ != nullptr)
    FioClose(handle_);
}

bool Source::start(Clock::UniversalTime& stamp, WString& productcode) {
  if (ok()) {
    unsigned long r = FioSetPos(handle_, fmt::kLeadingBytes);
    if (r != 0)
      trap(r, L"setpos");
    consumed_ += fmt::kLeadingBytes;
  }
  if (!ok())
    return false;

  // Zeroed, so that a failed or short read leaves nothing undefined for a sink that stays ok.
  char enciphered[fmt::kHeaderBytes] = {};
  unsigned got = 0;
  unsigned long r = FioRead(handle_, enciphered, fmt::kHeaderBytes, got);
  if (r != 0)
    trap(r, L"read h1");
  if (ok() && got != fmt::kHeaderBytes)
    trap(BackupFormatError, WString(L"read h1 ", got));
  if (!ok())
    return false;
  consumed_ += got;

  char plain[fmt::kHeaderPlainBytes] = {};
  if (ok() && !Coding::Decode(enciphered, plain, fmt::kHeaderPlainBytes, fmt::kHeaderKey))
    trap(BackupFormatError, L"Decode header1");
  unsigned const type = static_cast<unsigned char>(plain[0]);
  if (ok() && type != fmt::kHeaderType)
    trap(BackupFormatError, WString(L"header1 messtype", type));
  if (ok()) {
    stamp.date = fmt::loadWord(plain + fmt::kStampOffset);
    stamp.time = fmt::loadWord(plain + fmt::kStampOffset + 4);
    stamp.zone = fmt::loadWord(plain + fmt::kStampOffset + 8);
    if (stamp.date != 0 && stamp.time != 0) {
      productcode = fmt::productCode(plain + fmt::kProductOffset);
      random_.seed(stamp.date + stamp.time + stamp.zone);
    } else {
      trap(BackupFormatError, L"header1 no stamp");
    }
  }
  return ok();
}

bool Source::read(std::uint32_t mask, Memo& memo, bool strict) {
  if (!ok())
    return false;
  memo.length_ = 0;

  char field[fmt::kWordBytes] = {};
  unsigned got = 0;
  unsigned long r = FioRead(handle_, field, fmt::kWordBytes, got);
  if (r != 0)
    trap(r, L"read length");
  if (ok()) {
    if (got == fmt::kWordBytes)
      consumed_ += got;
    else
      sink_.error(BackupReadError, WString(L"length read ", got));
  }
  if (!ok() || got != fmt::kWordBytes)
    return false;

  std::uint32_t const length = fmt::loadWord(field) ^ mask;
  if (length >= fmt::kMaxLength) {
    sink_.error(BackupFormatError, WString(L"unplausible length ", length));
    return false;
  }
  std::uint32_t const padded = fmt::paddedLength(length);
  std::uint32_t const need = padded + fmt::kWordBytes;  // data and checksum
  if (need > Memo::kInlineBytes && need > memo.capacity_) {
    memo.release();
    try {
      memo.heap_ = static_cast<char*>(kestle::allocate(need));
    } catch (std::bad_alloc const&) {
      trap(SysError::NotEnoughMemory, WString(L"memory ", need));
      return false;
    }
    memo.capacity_ = need;
  }
  char* const target = memo.heap_ != nullptr ? memo.heap_ : memo.local_;

  std::uint32_t at = 0;
  while (ok() && at < need) {
    got = 0;
    r = FioRead(handle_, target + at, need - at, got);
    if (r != 0)
      trap(r, L"read data");
    if (!ok())
      break;
    got = std::min(got, need - at);  // a primitive never delivers more than asked
    if (got > 0) {
      at += got;
      consumed_ += got;
    } else if (length == 0 && !strict) {
      return true;  // the file ends after an empty chunk's length field
    } else {
      sink_.error(BackupReadError, L"no data read");
      return false;
    }
  }
  if (!ok())
    return false;

  std::uint32_t const sum = fmt::UnmaskAndSum(target, padded / fmt::kWordBytes, mask, length);
  if ((mask ^ sum) != fmt::loadWord(target + padded)) {
    sink_.error(BackupReadError, L"checksum failure");
    return false;
  }
  memo.length_ = length;
  return true;
}

std::uint32_t Source::unmask() {
  return random_.next();
}

bool Source::ok() const {
  return sink_.ok();
}

void Source::trap(unsigned long code, wchar_t const* text) {
  if (code != 0)
    sink_.error(code, WString(L"BuSource ", text));
}

Clock::UniversalTime Source::fileStamp() const {
  Clock::UniversalTime stamp;
  if (ok() && FioGetStamp(handle_, stamp) == 0)
    return stamp;
  return Clock::UniversalTime();
}

unsigned long long Source::done() const {
  return consumed_;
}

unsigned long long Source::totalbytes() const {
  return size_;
}

}  // namespace BuRdr
