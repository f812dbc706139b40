// Thread: the platform's thread object, and the id of the calling thread.
#pragma once

#include "kestle/alloc.h"
#include "kestle/export.h"

class KESTLE_API Thread : public kestle::Accounted {
 public:
  // The calling thread's id (the kernel thread id). Never 0.
  static int currentThreadId();

  Thread() = default;
  // A copy refers to the same thread as the object it was copied from.
  Thread(Thread const& other);
  Thread& operator=(Thread const& other);
  virtual ~Thread();

  void* handle() const;

 private:
  bool flag1_ = false;
  bool flag2_ = false;
  void* handle_ = nullptr;
};
