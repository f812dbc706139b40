// FioGetStamp: a handle's modification time as a universal time stamp.
#include <sys/stat.h>

#include <cerrno>

#include "kestle/clock.h"
#include "platform/errno_code.h"
#include "platform/file.h"
#include "platform/file_object.h"

unsigned long FioGetStamp(void* handle, Clock::UniversalTime& stamp) {
  auto fault = kestle_detail::askAbout(Platform::FileOp::GetStamp, handle, 0, 0);
  if (fault && fault->code != 0)
    return fault->code;
  kestle_detail::PlatformFile* f = kestle_detail::fileOf(handle);
  if (f == nullptr)
    return SysError::InvalidHandle;
  struct stat st;
  if (::fstat(f->fd, &st) != 0)
    return kestle_detail::systemCodeOf(errno);
  stamp = Clock::UniversalTime::fromUnix(st.st_mtim.tv_sec, st.st_mtim.tv_nsec);
  return 0;
}
