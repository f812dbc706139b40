// The library's member of the platform generator: its destructor. The members are destroyed in
// the reverse order of their declaration, so the event goes before the mutex; the generator's
// state is plain data.
#include "kestle/random.h"

namespace Random {
PFRandom::~PFRandom() = default;
}  // namespace Random
