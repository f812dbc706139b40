// The platform's side of the control hooks that its own primitives consult.
#pragma once

#include <optional>

#include "kestle/platform/control.h"

namespace kestle_detail {
// Asks the file-fault hook about a primitive call; no hook or no answer gives nullopt.
std::optional<Platform::FileFault> askFileFault(Platform::FileCall const& call);
}  // namespace kestle_detail
