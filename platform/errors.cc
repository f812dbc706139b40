// English descriptions of the system error codes the library speaks.
#include "kestle/errors.h"
#include "kestle/strings.h"

WString ErrorDescription::formatMessage(unsigned long code) {
  wchar_t const* text = nullptr;
  switch (code) {
    case 0:
      text = L"The operation completed successfully.";
      break;
    case SysError::FileNotFound:
      text = L"The system cannot find the file specified.";
      break;
    case SysError::PathNotFound:
      text = L"The system cannot find the path specified.";
      break;
    case SysError::TooManyOpenFiles:
      text = L"The system cannot open the file.";
      break;
    case SysError::AccessDenied:
      text = L"Access is denied.";
      break;
    case SysError::InvalidHandle:
      text = L"The handle is invalid.";
      break;
    case SysError::NotEnoughMemory:
      text = L"Not enough memory resources are available to process this command.";
      break;
    case SysError::WriteProtect:
      text = L"The media is write protected.";
      break;
    case SysError::GeneralFailure:
      text = L"A device attached to the system is not functioning.";
      break;
    case SysError::SharingViolation:
      text = L"The process cannot access the file because it is being used by another process.";
      break;
    case SysError::LockViolation:
      text =
          L"The process cannot access the file because another process has locked a portion "
          L"of the file.";
      break;
    case SysError::FileExists:
      text = L"The file exists.";
      break;
    case SysError::InvalidParameter:
      text = L"The parameter is incorrect.";
      break;
    case SysError::DiskFull:
      text = L"There is not enough space on the disk.";
      break;
    case SysError::IoDevice:
      text = L"The request could not be performed because of an I/O device error.";
      break;
    case NoHandleError:
      text = L"The file handle is missing or no read slot is free.";
      break;
    case ShortWriteError:
      text = L"A record write stayed short after three retries.";
      break;
    case BackupReadError:
      text = L"A chunk of the backup is short, empty or fails its checksum.";
      break;
    case BackupFormatError:
      text =
          L"The backup file is empty, its header is short or faulty, or a chunk length is "
          L"implausible.";
      break;
    case BackupAborted:
      text = L"The backup reader was stopped by its caller.";
      break;
    default:
      break;
  }
  if (text != nullptr)
    return WString(text);
  return WString(L"Unknown error ", static_cast<unsigned long long>(code));
}
