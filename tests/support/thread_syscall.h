// What a thread of this process is doing in the kernel, so that a test can see it asleep (in
// futex, say) without timing anything.
#pragma once

#include <fstream>
#include <string>

namespace kestle_test {

// The system call thread `tid` is in and its first argument, as /proc/self/task/<tid>/syscall
// shows them; number -1 while the thread runs in user space or when there is no such thread.
struct ThreadSyscall {
  long number = -1;
  std::string firstArgument;
};

inline ThreadSyscall threadSyscall(long tid) {
  ThreadSyscall s;
  std::ifstream in("/proc/self/task/" + std::to_string(tid) + "/syscall");
  if (!(in >> s.number >> s.firstArgument))
    s.number = -1;
  return s;
}

}  // namespace kestle_test
