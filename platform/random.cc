// The platform generator: std::mt19937 behind the generator's own mutex.
#include "kestle/random.h"

#include <new>
#include <random>

namespace Random {

namespace {
std::mt19937& engine(unsigned char* state) {
  return *std::launder(reinterpret_cast<std::mt19937*>(state));
}
}  // namespace

PFRandom::PFRandom() : mutex_(L"PFRandom", 0), event_() {
  static_assert(sizeof(std::mt19937) <= sizeof state_ && alignof(std::mt19937) <= 8,
                "PFRandom::state_ must hold a std::mt19937");
  static_assert(std::is_trivially_destructible_v<std::mt19937>,
                "PFRandom's destructor leaves the engine's bytes as they are");
  ::new (state_) std::mt19937();
}

void PFRandom::seed(std::uint32_t s) {
  Mutex::Lock lock(mutex_, true);
  engine(state_).seed(s);
}

std::uint32_t PFRandom::next() {
  Mutex::Lock lock(mutex_, true);
  return static_cast<std::uint32_t>(engine(state_)());
}

}  // namespace Random
