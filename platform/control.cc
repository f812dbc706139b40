// Hooks of the platform control interface that the platform's primitives consult.
#include "kestle/platform/control.h"
#include "platform/hooks.h"

namespace {
Platform::FileFaultHook& fileHook() {
  static Platform::FileFaultHook h;
  return h;
}
}  // namespace

namespace Platform {
FileFaultHook setFileFaultHook(FileFaultHook hook) {
  FileFaultHook old = std::move(fileHook());
  fileHook() = std::move(hook);
  return old;
}
}  // namespace Platform

namespace kestle_detail {
std::optional<Platform::FileFault> askFileFault(Platform::FileCall const& call) {
  if (!fileHook())
    return std::nullopt;
  return fileHook()(call);
}
}  // namespace kestle_detail
