#include "kestle/stat.h"

namespace Stat {
Info& Info::operator=(Info const& other) {
  count = other.count;
  ticks = other.ticks;
  id = other.id;
  return *this;
}
Info& Info::operator=(Info&& other) {
  return *this = static_cast<Info const&>(other);
}
}  // namespace Stat
