// The platform's part of MutexSimplex: the constructor and the waiting side. Waiters sleep on the
// lock word.
#include "kestle/mutexsimplex.h"
#include "platform/mutex_wait.h"

MutexSimplex::MutexSimplex(wchar_t const* name, Stat::Id id)
    : lockWord_(0), statId_(id), ownerThread_(0) {
  setName(name);
}

void MutexSimplex::waitAndObtain() {
  kestle_detail::waitAndObtainWord(lockWord_);
}

bool MutexSimplex::waitAndTryObtain(unsigned int timeout) {
  return kestle_detail::waitAndTryObtainWord(lockWord_, timeout);
}

void MutexSimplex::wakeup() {
  kestle_detail::futexWake(lockWord_, 1);
}
