// The object behind a platform file handle, shared by the primitives in platform/file*.cc.
#pragma once

#include <optional>

#include "kestle/fileopen.h"
#include "kestle/platform/control.h"
#include "kestle/strings.h"

namespace kestle_detail {

struct PlatformFile {
  int fd = -1;
  // Offset of the next transfer. Touched only by the thread that transfers through the handle.
  unsigned long long position = 0;
  Access access = Access::Read;
  Sharing sharing = Sharing::Exclusive;
  bool flag = false;
  WString name;  // as given to FioOpen; the fault hook sees it
  // Handles of one file serve different threads at once; at 64 bytes or more, two handle
  // objects never share the cache line that holds a position.
  char spacing[24] = {};
};
static_assert(sizeof(PlatformFile) >= 64);

inline PlatformFile* fileOf(void* handle) {
  return static_cast<PlatformFile*>(handle);
}

// Asks the file-fault hook about one primitive call on `handle` (which may be null).
std::optional<Platform::FileFault> askAbout(Platform::FileOp op, void* handle,
                                            unsigned long long position, unsigned length);

}  // namespace kestle_detail
