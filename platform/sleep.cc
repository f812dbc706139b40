// SleepMs and Celesta::tone, each replaceable by a hook.
#include <time.h>

#include <cerrno>

#include "kestle/platform/control.h"
#include "kestle/system.h"
#include "platform/hooks.h"

using kestle_detail::hookSlot;

namespace Platform {
SleepHook setSleepHook(SleepHook hook) {
  return kestle_detail::exchangeHook(std::move(hook));
}
ToneHook setToneHook(ToneHook hook) {
  return kestle_detail::exchangeHook(std::move(hook));
}
}  // namespace Platform

void SleepMs(unsigned int ms) {
  if (Platform::SleepHook const& hook = hookSlot<Platform::SleepHook>()) {
    hook(ms);
    return;
  }
  timespec left{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
  while (nanosleep(&left, &left) != 0 && errno == EINTR) {
  }
}

namespace Celesta {
void tone(unsigned int a, unsigned int b) {
  if (Platform::ToneHook const& hook = hookSlot<Platform::ToneHook>())
    hook(a, b);
}
}  // namespace Celesta
