// Hooks of the platform control interface that the platform's primitives consult.
#include "kestle/platform/control.h"
#include "platform/hooks.h"

namespace Platform {
FileFaultHook setFileFaultHook(FileFaultHook hook) {
  return kestle_detail::exchangeHook(std::move(hook));
}
}  // namespace Platform

namespace kestle_detail {
std::optional<Platform::FileFault> askFileFault(Platform::FileCall const& call) {
  Platform::FileFaultHook const& hook = hookSlot<Platform::FileFaultHook>();
  if (!hook)
    return std::nullopt;
  return hook(call);
}
}  // namespace kestle_detail
