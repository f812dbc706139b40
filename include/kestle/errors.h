// System error codes. 0 is success; any other value is a platform code passed on unchanged or one
// of the library's own codes below, which have bit 29 set (the mark of an application code).
#pragma once

// A null raw handle, or no free read slot.
inline constexpr unsigned long NoHandleError = 0x20002720;
// A record write still short after three retries.
inline constexpr unsigned long ShortWriteError = 0x2000277F;
// A chunk of a backup is short, empty or fails its checksum.
inline constexpr unsigned long BackupReadError = 0x2000277E;
// An empty backup file, a short or faulty header, or an implausible chunk length.
inline constexpr unsigned long BackupFormatError = 0x20004C35;
// The caller's sink stopped the backup reader.
inline constexpr unsigned long BackupAborted = 0x200182BA;

// Platform codes the library produces or acts on (POSIX errno values map onto these).
namespace SysError {
inline constexpr unsigned long FileNotFound = 2;
inline constexpr unsigned long PathNotFound = 3;
inline constexpr unsigned long TooManyOpenFiles = 4;
inline constexpr unsigned long AccessDenied = 5;
inline constexpr unsigned long InvalidHandle = 6;
inline constexpr unsigned long NotEnoughMemory = 8;
inline constexpr unsigned long WriteProtect = 19;
inline constexpr unsigned long GeneralFailure = 31;
inline constexpr unsigned long SharingViolation = 32;
inline constexpr unsigned long LockViolation = 33;
inline constexpr unsigned long FileExists = 80;
inline constexpr unsigned long InvalidParameter = 87;
inline constexpr unsigned long DiskFull = 112;
inline constexpr unsigned long IoDevice = 1117;
}  // namespace SysError
