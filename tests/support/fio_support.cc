#include "support/fio_support.h"

#include <fstream>
#include <iterator>
#include <system_error>

namespace kestle_test {

int openDescriptorCount() {
  int n = 0;
  std::error_code ec;
  for (auto it = std::filesystem::directory_iterator("/proc/self/fd", ec);
       !ec && it != std::filesystem::directory_iterator(); it.increment(ec)) {
    ++n;
  }
  return n - 1;  // the iterator's own descriptor
}

void writeWholeFile(std::filesystem::path const& path, std::string const& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string readWholeFile(std::filesystem::path const& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

Platform::FileFault failWith(unsigned long code) {
  Platform::FileFault fault;
  fault.code = code;
  return fault;
}

Platform::FileFault cutTo(long long count) {
  Platform::FileFault fault;
  fault.count = count;
  return fault;
}

}  // namespace kestle_test
