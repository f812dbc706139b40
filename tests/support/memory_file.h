// A file in memory (memfd_create) that the platform opens by name through /proc/self/fd, for
// loops and fuzz targets that rewrite one small file thousands of times.
#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <stdexcept>
#include <string>

namespace kestle_test {

class MemoryFile {
 public:
  MemoryFile() : fd_(::memfd_create("kestle-backup", MFD_CLOEXEC)) {
    if (fd_ < 0)
      throw std::runtime_error("memfd_create failed");
    path_ = L"/proc/self/fd/" + std::to_wstring(fd_);
  }
  ~MemoryFile() { ::close(fd_); }
  MemoryFile(MemoryFile const&) = delete;
  MemoryFile& operator=(MemoryFile const&) = delete;

  void assign(void const* data, std::size_t n) {
    if (::ftruncate(fd_, 0) != 0 || ::pwrite(fd_, data, n, 0) != static_cast<ssize_t>(n))
      throw std::runtime_error("cannot write the memory file");
  }
  wchar_t const* path() const { return path_.c_str(); }

 private:
  int fd_;
  std::wstring path_;
};

}  // namespace kestle_test
