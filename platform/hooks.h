// The platform's side of the control hooks that its own primitives consult.
#pragma once

#include <optional>
#include <utility>

#include "kestle/platform/control.h"

namespace kestle_detail {
// The one process-wide slot of a hook type; each hook of the control interface has its own
// std::function type. Reads and writes are unlocked: hooks are set while no operation runs.
template <class Hook>
Hook& hookSlot() {
  static Hook hook;
  return hook;
}

// Puts `hook` in its slot and hands back the one it replaces, as every set...Hook promises.
template <class Hook>
Hook exchangeHook(Hook hook) {
  return std::exchange(hookSlot<Hook>(), std::move(hook));
}

// Asks the file-fault hook about a primitive call; no hook or no answer gives nullopt.
std::optional<Platform::FileFault> askFileFault(Platform::FileCall const& call);
}  // namespace kestle_detail
