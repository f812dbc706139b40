// Thread ids and the platform's part of the Thread object.
#include <pthread.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "kestle/thread.h"
#include "platform/thread_id.h"

namespace kestle_detail {

constinit thread_local int cachedThreadId [[gnu::tls_model("initial-exec")]] = 0;

namespace {
// fork() copies the forking thread's cache into the child, where that thread has a new id.
void forgetIdInChild() {
  cachedThreadId = 0;
}
}  // namespace

int fetchThreadId() {
  // Registered before any thread can have cached an id, so no child ever inherits a stale one.
  static bool const registered = (::pthread_atfork(nullptr, nullptr, &forgetIdInChild), true);
  (void)registered;
  cachedThreadId = static_cast<int>(::syscall(SYS_gettid));
  return cachedThreadId;
}

}  // namespace kestle_detail

int Thread::currentThreadId() {
  return kestle_detail::threadId();
}

Thread::~Thread() = default;
