// The object behind a platform file handle, shared by the primitives in platform/file*.cc.
#pragma once

#include <atomic>
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
  // What the fault hook is shown for this handle's positionings and transfers, made once at open
  // so that a transfer does not copy the name for it. Used by the transferring thread only.
  // (The hook interface fixes its name as a std::wstring.) The object is larger than a cache
  // line, so two handles serving different threads never share the line of a position.
  Platform::FileCall transferCall{};
  bool askingHook = false;  // transferCall is being shown to the hook
  // The open created the file and no flush has yet made its directory entry durable.
  std::atomic<bool> directoryUnsynced{false};
};
static_assert(sizeof(PlatformFile) >= 64);

inline PlatformFile* fileOf(void* handle) {
  return static_cast<PlatformFile*>(handle);
}

// Asks the file-fault hook about one primitive call on `handle` (which may be null).
std::optional<Platform::FileFault> askAbout(Platform::FileOp op, void* handle,
                                            unsigned long long position, unsigned length);
// The same for a positioning or transfer, which only the handle's transferring thread makes.
std::optional<Platform::FileFault> askAboutTransfer(Platform::FileOp op, PlatformFile& f,
                                                    unsigned long long position, unsigned length);

}  // namespace kestle_detail
