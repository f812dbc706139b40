// Heapwick: the memory-accounting counters behind the accounted allocation.
#pragma once

#include "kestle/export.h"

namespace Heapwick {
// Add or subtract a block's total (requested size + header) to the bytes held.
KESTLE_API void incCount(long long bytes);
KESTLE_API void decCount(long long bytes);
}  // namespace Heapwick
