// The library's members of the platform's Thread object: copies refer to the same thread.
#include "kestle/thread.h"

Thread::Thread(Thread const& other)
    : kestle::Accounted(), flag1_(other.flag1_), flag2_(other.flag2_), handle_(other.handle_) {}

Thread& Thread::operator=(Thread const& other) {
  flag1_ = other.flag1_;
  flag2_ = other.flag2_;
  handle_ = other.handle_;
  return *this;
}

void* Thread::handle() const {
  return handle_;
}
