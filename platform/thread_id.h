// The calling thread's kernel id for the library's own hot paths: one load from initial-exec
// thread-local storage, inlined, with no call through the PLT and no __tls_get_addr. The cache
// is 0 in a thread that has not asked yet, and again in the child after fork(), whose only
// thread must not go on with its parent's id.
#pragma once

namespace kestle_detail {

extern constinit thread_local int cachedThreadId [[gnu::tls_model("initial-exec")]];

// Asks the kernel (gettid) and fills the cache. Out of line: each thread needs it once.
int fetchThreadId();

inline int threadId() {
  int const id = cachedThreadId;
  if (id != 0) [[likely]]
    return id;
  return fetchThreadId();
}

}  // namespace kestle_detail
