// Platform statistics: counters and timed scopes under a numbered id. They only count; nothing in
// the library reads them back. Platform::statCount / statTicks answer them for tests.
// Thread safety: any thread may count at any time.
#pragma once

#include <cstdint>

#include "kestle/export.h"

namespace Stat {

// The number of a statistic. Ids from 0 to 255 are kept; others are accepted and ignored.
using Id = unsigned int;

// Adds count to the statistic's count.
KESTLE_API void incCount(Id id, unsigned long long count);

// Times its scope under the statistic: the scope adds 1 to the count when it ends and its
// duration (steady-clock ticks) to the statistic's time.
class KESTLE_API Call {
 public:
  Call(Id id, unsigned long long count);
  ~Call();
  Call(Call const&) = delete;
  Call& operator=(Call const&) = delete;

 private:
  Id id_;
  std::uint64_t start_;
};

// A plain record of the platform's statistics.
struct KESTLE_API Info {
  std::uint64_t count = 0;
  std::uint64_t ticks = 0;
  std::uint32_t id = 0;

  Info() = default;
  Info(Info const&) = default;
  Info& operator=(Info const& other);
  Info& operator=(Info&& other);
};

}  // namespace Stat
