// SleepMs and Celesta::tone, each replaceable by a hook.
#include <time.h>

#include <cerrno>

#include "kestle/platform/control.h"
#include "kestle/system.h"

namespace {
Platform::SleepHook& sleepHook() {
  static Platform::SleepHook h;
  return h;
}
Platform::ToneHook& toneHook() {
  static Platform::ToneHook h;
  return h;
}
}  // namespace

namespace Platform {
SleepHook setSleepHook(SleepHook hook) {
  SleepHook old = std::move(sleepHook());
  sleepHook() = std::move(hook);
  return old;
}
ToneHook setToneHook(ToneHook hook) {
  ToneHook old = std::move(toneHook());
  toneHook() = std::move(hook);
  return old;
}
}  // namespace Platform

void SleepMs(unsigned int ms) {
  if (sleepHook()) {
    sleepHook()(ms);
    return;
  }
  timespec left{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
  while (nanosleep(&left, &left) != 0 && errno == EINTR) {
  }
}

namespace Celesta {
void tone(unsigned int a, unsigned int b) {
  if (toneHook())
    toneHook()(a, b);
}
}  // namespace Celesta
