// The platform's raw file primitives on POSIX: open/pread/pwrite/fdatasync/fstat/ftruncate.
#include "platform/file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <limits>
#include <new>
#include <string>

#include "kestle/alloc.h"
#include "platform/errno_code.h"
#include "platform/file_object.h"
#include "platform/hooks.h"
#include "platform/text_util.h"

namespace kestle_detail {

std::optional<Platform::FileFault> askAbout(Platform::FileOp op, void* handle,
                                            unsigned long long position, unsigned length) {
  PlatformFile const* f = fileOf(handle);
  wchar_t const* name = f != nullptr ? static_cast<wchar_t const*>(f->name) : L"";
  return askFileFault(Platform::FileCall{op, handle, name, position, length});
}

std::optional<Platform::FileFault> askAboutTransfer(Platform::FileOp op, PlatformFile& f,
                                                    unsigned long long position, unsigned length) {
  // Only the handle's one transferring thread comes here, so it can reuse the handle's call. A
  // hook that itself transfers through the same handle gets a fresh call instead.
  if (f.askingHook)
    return askAbout(op, &f, position, length);
  f.askingHook = true;
  struct Done {
    bool& flag;
    ~Done() { flag = false; }
  } done{f.askingHook};
  f.transferCall.op = op;
  f.transferCall.position = position;
  f.transferCall.length = length;
  return askFileFault(f.transferCall);
}

}  // namespace kestle_detail

namespace {

using kestle_detail::fileOf;
using kestle_detail::PlatformFile;
using kestle_detail::systemCodeOf;
using Fault = std::optional<Platform::FileFault>;

constexpr unsigned long long kMaxOffset =
    static_cast<unsigned long long>(std::numeric_limits<off_t>::max());

bool refused(Fault const& fault) {
  return fault && fault->code != 0;
}

// A positioning or transfer on a null handle: the hook's code, or InvalidHandle.
unsigned long refusedNull(Platform::FileOp op, unsigned long long position, unsigned length) {
  Fault fault = kestle_detail::askAbout(op, nullptr, position, length);
  return refused(fault) ? fault->code : SysError::InvalidHandle;
}

// The bytes a transfer of `length` may move: the hook can cut it short, never lengthen it.
unsigned allowedBytes(Fault const& fault, unsigned length) {
  if (!fault || fault->count < 0)
    return length;
  return static_cast<unsigned>(std::min<long long>(fault->count, length));
}

// A range whose end lies beyond the largest offset cannot be transferred at all.
bool outOfRange(unsigned long long position, unsigned length) {
  return position > kMaxOffset || length > kMaxOffset - position;
}

// pread until n bytes have arrived, the file ends or an error occurs; `done` counts the bytes.
unsigned long readAt(int fd, char* buffer, unsigned n, unsigned long long offset, unsigned& done) {
  done = 0;
  while (done < n) {
    ssize_t r = ::pread(fd, buffer + done, n - done, static_cast<off_t>(offset + done));
    if (r > 0) {
      done += static_cast<unsigned>(r);
    } else if (r == 0) {
      return 0;  // end of file
    } else if (errno != EINTR) {
      return systemCodeOf(errno);
    }
  }
  return 0;
}

// pwrite until n bytes are written or an error occurs; `done` counts the bytes.
unsigned long writeAt(int fd, char const* data, unsigned n, unsigned long long offset,
                      unsigned& done) {
  done = 0;
  while (done < n) {
    ssize_t r = ::pwrite(fd, data + done, n - done, static_cast<off_t>(offset + done));
    if (r > 0) {
      done += static_cast<unsigned>(r);
    } else if (r == 0) {
      return 0;  // the kernel took nothing and gave no reason; the caller sees a short count
    } else if (errno != EINTR) {
      return systemCodeOf(errno);
    }
  }
  return 0;
}

int accessFlags(Access access, bool& ok) {
  switch (access) {
    case Access::Read:
      return O_RDONLY;
    case Access::Write:
      return O_WRONLY;
    case Access::ReadWrite:
      return O_RDWR;
    default:
      ok = false;
      return 0;
  }
}

int openFd(std::string const& path, int flags) {
  int fd;
  do {
    fd = ::open(path.c_str(), flags, 0666);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

// Opens `path` as `openFlag` asks and tells whether the open created the file: an open that may
// create first tries to create exclusively and, when the file exists, opens it without creating.
// A file that comes and goes between the two tries is tried again a few times; after that it is
// opened the plain way and counted as created (which costs at most one directory sync too many).
int openAndLearn(std::string const& path, int flags, OpenFlag openFlag, bool& created) {
  created = false;
  switch (openFlag) {
    case OpenFlag::OpenExisting:
      return openFd(path, flags);
    case OpenFlag::CreateNew:
      created = true;
      return openFd(path, flags | O_CREAT | O_EXCL);
    default:
      break;
  }
  int const existing = openFlag == OpenFlag::CreateOrTruncate ? flags | O_TRUNC : flags;
  for (int tries = 0; tries < 4; ++tries) {
    int fd = openFd(path, flags | O_CREAT | O_EXCL);
    if (fd >= 0 || errno != EEXIST) {
      created = fd >= 0;
      return fd;
    }
    fd = openFd(path, existing);
    if (fd >= 0 || errno != ENOENT)
      return fd;
  }
  created = true;
  return openFd(path, existing | O_CREAT);
}

// The directory part of a file name: "." for a bare name, "/" for a file at the root.
std::wstring directoryOf(std::wstring const& name) {
  std::size_t const slash = name.find_last_of(L'/');
  if (slash == std::wstring::npos)
    return L".";
  return slash == 0 ? L"/" : name.substr(0, slash);
}

// fsync of a directory, so that the names in it are durable.
unsigned long syncDirectory(std::wstring const& directory) {
  int const fd = openFd(kestle_detail::toUtf8(directory), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0)
    return systemCodeOf(errno);
  int r;
  do {
    r = ::fsync(fd);
  } while (r != 0 && errno == EINTR);
  unsigned long const code = r == 0 ? 0 : systemCodeOf(errno);
  ::close(fd);
  return code;
}

}  // namespace

unsigned long FioOpen(wchar_t const* name, Access access, Sharing sharing, OpenFlag openFlag,
                      void*& handle, bool flag) {
  handle = nullptr;
  int fd = -1;
  try {
    Fault fault = kestle_detail::askFileFault(
        Platform::FileCall{Platform::FileOp::Open, nullptr, name != nullptr ? name : L"", 0, 0});
    if (refused(fault))
      return fault->code;
    bool ok = true;
    int const flags = accessFlags(access, ok) | O_CLOEXEC;
    switch (openFlag) {
      case OpenFlag::OpenExisting:
      case OpenFlag::OpenOrCreate:
      case OpenFlag::CreateNew:
        break;
      case OpenFlag::CreateOrTruncate:
        // Emptying a file through a handle that may not write to it is a contradiction.
        ok = ok && access != Access::Read;
        break;
      default:
        ok = false;
    }
    if (name == nullptr || !ok)
      return SysError::InvalidParameter;

    std::string path = kestle_detail::toUtf8(name);
    bool created = false;
    fd = openAndLearn(path, flags, openFlag, created);
    if (fd < 0)
      return systemCodeOf(errno);

    // open(2) lets a directory be opened for reading; as a file it can be nothing but refused.
    struct stat st;
    unsigned long code = 0;
    if (::fstat(fd, &st) != 0) {
      code = systemCodeOf(errno);
    } else if (S_ISDIR(st.st_mode)) {
      code = SysError::AccessDenied;
    }
    if (code != 0) {
      ::close(fd);
      return code;
    }

    // Everything that can run out of memory comes before the object takes the descriptor.
    WString kept(name);
    std::wstring callName(name);
    PlatformFile* f = kestle::make<PlatformFile>();
    f->fd = fd;
    f->access = access;
    f->sharing = sharing;
    f->flag = flag;
    f->directoryUnsynced.store(created);
    f->name = std::move(kept);
    f->transferCall.handle = f;
    f->transferCall.name = std::move(callName);
    handle = f;
    return 0;
  } catch (std::bad_alloc const&) {
    if (fd >= 0)
      ::close(fd);
    return SysError::NotEnoughMemory;
  }
}

unsigned long FioClose(void*& handle) {
  PlatformFile* f = fileOf(handle);
  Fault fault = kestle_detail::askAbout(Platform::FileOp::Close, handle, 0, 0);
  if (f == nullptr)
    return refused(fault) ? fault->code : SysError::InvalidHandle;
  // Linux releases the descriptor even when close(2) reports an error, and retrying could close
  // a descriptor another thread has just been given; so the handle is gone in every case, also
  // when the fault hook refuses the call.
  handle = nullptr;
  unsigned long code = 0;
  if (::close(f->fd) != 0 && errno != EINTR)
    code = systemCodeOf(errno);
  kestle::destroy(f);
  return refused(fault) ? fault->code : code;
}

unsigned long FioSetPos(void* handle, unsigned long long position) {
  PlatformFile* f = fileOf(handle);
  if (f == nullptr)
    return refusedNull(Platform::FileOp::SetPos, position, 0);
  Fault fault = kestle_detail::askAboutTransfer(Platform::FileOp::SetPos, *f, position, 0);
  if (refused(fault))
    return fault->code;
  if (position > kMaxOffset)
    return SysError::InvalidParameter;
  f->position = position;
  return 0;
}

unsigned long FioRead(void* handle, char* buffer, unsigned length, unsigned& got) {
  got = 0;
  PlatformFile* f = fileOf(handle);
  if (f == nullptr)
    return refusedNull(Platform::FileOp::Read, 0, length);
  Fault fault = kestle_detail::askAboutTransfer(Platform::FileOp::Read, *f, f->position, length);
  if (refused(fault))
    return fault->code;
  unsigned n = allowedBytes(fault, length);
  if (n == 0)
    return 0;
  if (buffer == nullptr || outOfRange(f->position, n))
    return SysError::InvalidParameter;
  unsigned long code = readAt(f->fd, buffer, n, f->position, got);
  f->position += got;
  if (code == 0 && fault && fault->alter)
    fault->alter(buffer, nullptr, got);
  return code;
}

unsigned long FioRead2(void* handle, char* buffer, char* copy, unsigned length, unsigned& got) {
  got = 0;
  PlatformFile* f = fileOf(handle);
  if (f == nullptr)
    return refusedNull(Platform::FileOp::Read2, 0, length);
  Fault fault = kestle_detail::askAboutTransfer(Platform::FileOp::Read2, *f, f->position, length);
  if (refused(fault))
    return fault->code;
  unsigned n = allowedBytes(fault, length);
  if (n == 0)
    return 0;
  if (buffer == nullptr || copy == nullptr || outOfRange(f->position, n)) {
    return SysError::InvalidParameter;
  }
  unsigned long code = readAt(f->fd, buffer, n, f->position, got);
  if (code == 0) {
    // The second, independent read. Bytes it does not deliver are zero, so that a caller
    // comparing the buffers sees the difference rather than stale memory.
    unsigned again = 0;
    code = readAt(f->fd, copy, got, f->position, again);
    std::fill(copy + again, copy + got, '\0');
  }
  f->position += got;
  if (code == 0 && fault && fault->alter)
    fault->alter(buffer, copy, got);
  return code;
}

unsigned long FioWrite(void* handle, char const* data, unsigned length, unsigned& written) {
  written = 0;
  PlatformFile* f = fileOf(handle);
  if (f == nullptr)
    return refusedNull(Platform::FileOp::Write, 0, length);
  Fault fault = kestle_detail::askAboutTransfer(Platform::FileOp::Write, *f, f->position, length);
  if (refused(fault))
    return fault->code;
  unsigned n = allowedBytes(fault, length);
  if (n == 0)
    return 0;
  if (data == nullptr || outOfRange(f->position, n))
    return SysError::InvalidParameter;
  unsigned long code = writeAt(f->fd, data, n, f->position, written);
  f->position += written;
  return code;
}

unsigned long FioFlush(void* handle) {
  Fault fault = kestle_detail::askAbout(Platform::FileOp::Flush, handle, 0, 0);
  if (refused(fault))
    return fault->code;
  PlatformFile* f = fileOf(handle);
  if (f == nullptr)
    return SysError::InvalidHandle;
  int r;
  do {
    r = ::fdatasync(f->fd);
  } while (r != 0 && errno == EINTR);
  if (r != 0)
    return systemCodeOf(errno);
  if (!f->directoryUnsynced.exchange(false))
    return 0;
  std::wstring const directory = directoryOf(static_cast<wchar_t const*>(f->name));
  Fault dirFault = kestle_detail::askFileFault(
      Platform::FileCall{Platform::FileOp::Flush, handle, directory, 0, 0});
  unsigned long const code = refused(dirFault) ? dirFault->code : syncDirectory(directory);
  if (code != 0)
    f->directoryUnsynced.store(true);  // the next flush tries again
  return code;
}

unsigned long FioFlushVisible(void* handle) {
  Fault fault = kestle_detail::askAbout(Platform::FileOp::Flush, handle, 0, 0);
  if (refused(fault))
    return fault->code;
  return handle == nullptr ? SysError::InvalidHandle : 0;
}

unsigned long FioSize(void* handle, unsigned long long& size) {
  Fault fault = kestle_detail::askAbout(Platform::FileOp::Size, handle, 0, 0);
  if (refused(fault))
    return fault->code;
  PlatformFile* f = fileOf(handle);
  if (f == nullptr)
    return SysError::InvalidHandle;
  struct stat st;
  if (::fstat(f->fd, &st) != 0)
    return systemCodeOf(errno);
  size = static_cast<unsigned long long>(st.st_size);
  return 0;
}

unsigned long FioSetSize(void* handle, unsigned long long size) {
  Fault fault = kestle_detail::askAbout(Platform::FileOp::SetSize, handle, size, 0);
  if (refused(fault))
    return fault->code;
  PlatformFile* f = fileOf(handle);
  if (f == nullptr)
    return SysError::InvalidHandle;
  if (size > kMaxOffset)
    return SysError::InvalidParameter;
  int r;
  do {
    r = ::ftruncate(f->fd, static_cast<off_t>(size));
  } while (r != 0 && errno == EINTR);
  if (r == 0)
    return 0;
  // ftruncate reports a descriptor opened without write access as EINVAL; that is the handle's
  // fault, as it is for a write.
  if (errno == EINVAL && f->access == Access::Read)
    return SysError::InvalidHandle;
  return systemCodeOf(errno);
}
