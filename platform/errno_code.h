// The one translation from POSIX errno values to the system error codes the library speaks.
// Every platform primitive that fails on a system call returns systemCodeOf(errno).
#pragma once

#include <cerrno>

#include "kestle/errors.h"

namespace kestle_detail {

// The system error code of an errno value. Values without a closer match become GeneralFailure
// (31); 0 is not an error and stays 0.
constexpr unsigned long systemCodeOf(int err) noexcept {
  switch (err) {
    case 0:
      return 0;
    case ENOENT:
      return SysError::FileNotFound;
    case ENOTDIR:
      return SysError::PathNotFound;
    case EMFILE:
    case ENFILE:
      return SysError::TooManyOpenFiles;
    case EACCES:
    case EPERM:
    case EISDIR:
      return SysError::AccessDenied;
    case EBADF:
      return SysError::InvalidHandle;
    case ENOMEM:
      return SysError::NotEnoughMemory;
    case EROFS:
      return SysError::WriteProtect;
    case EBUSY:
      return SysError::SharingViolation;
    // The files are opened blocking, so EAGAIN only comes from a lock held on the range.
    case EAGAIN:
      return SysError::LockViolation;
    case EEXIST:
      return SysError::FileExists;
    case EINVAL:
      return SysError::InvalidParameter;
    case ENOSPC:
    case EDQUOT:
      return SysError::DiskFull;
    case EIO:
      return SysError::IoDevice;
    default:
      return SysError::GeneralFailure;
  }
}

}  // namespace kestle_detail
