// Waiting and sound: the platform's sleep and tone, and the empty marker classes.
// Platform::setSleepHook and setToneHook (platform/control.h) let tests record both instead.
#pragma once

#include "kestle/export.h"

// Sleeps the calling thread for ms milliseconds.
KESTLE_API void SleepMs(unsigned int ms);

namespace Celesta {
// Sounds a tone; the default makes no sound.
KESTLE_API void tone(unsigned int a, unsigned int b);
}  // namespace Celesta

// Marker base: objects of a derived class are neither copied nor assigned by the compiler's
// defaults. Its own constructors and assignments do nothing.
class KESTLE_API uncopyable {
 public:
  uncopyable() = default;
  uncopyable(uncopyable const&) {}
  uncopyable& operator=(uncopyable const&) { return *this; }
  uncopyable& operator=(uncopyable&&) { return *this; }
};

// Marker for classes that are not meant as bases. Constructors and assignments do nothing.
class KESTLE_API donotderive {
 public:
  donotderive() = default;
  donotderive(donotderive const&) {}
  donotderive& operator=(donotderive const&) { return *this; }
  donotderive& operator=(donotderive&&) { return *this; }
};
