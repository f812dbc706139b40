// The platform generator: std::mt19937 behind the generator's own mutex.
#include "kestle/random.h"

namespace Random {

PFRandom::PFRandom() : state_(), mutex_(L"PFRandom", 0), event_() {}

void PFRandom::seed(std::uint32_t s) {
  Mutex::Lock lock(mutex_, true);
  state_.seed(s);
}

std::uint32_t PFRandom::next() {
  Mutex::Lock lock(mutex_, true);
  return static_cast<std::uint32_t>(state_());
}

}  // namespace Random
