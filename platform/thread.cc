// Thread ids and the platform's part of the Thread object.
#include <sys/syscall.h>
#include <unistd.h>

#include "kestle/thread.h"

int Thread::currentThreadId() {
  // gettid is a system call; each thread asks once.
  thread_local int id = static_cast<int>(::syscall(SYS_gettid));
  return id;
}

Thread::~Thread() = default;
