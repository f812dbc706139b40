// Mutex::currentThreadId and the two lock objects.
#include "kestle/mutex.h"

#include "kestle/strings.h"
#include "platform/report.h"
#include "platform/thread_id.h"
#include "sync/mutex_detail.h"

int Mutex::currentThreadId() {
  return kestle_detail::threadId();
}

namespace kestle_detail {
void reportRecursiveObtain(wchar_t const* file, wchar_t const* function, unsigned line,
                           wchar_t const* name, int owner) {
  WString const id = FString::signednumstr(owner, 10, 0, L' ');
  Reporter::PanicMe(false, file, function, line, name, id, 0);
}
}  // namespace kestle_detail

// Mutex::Lock

Mutex::Lock::Lock(Mutex& m, bool lockNow) : mutex_(&m), locked_(false) {
  if (lockNow) {
    mutex_->obtain();
    locked_ = true;
  }
}

Mutex::Lock::~Lock() {
  if (locked_) {
    locked_ = false;
    mutex_->release();
  }
}

bool Mutex::Lock::tryLock(unsigned int timeout, DeadlockStrategy strategy) {
  locked_ = mutex_->tryObtain(timeout, strategy);
  return locked_;
}

void Mutex::Lock::lock() {
  mutex_->obtain();
  locked_ = true;
}

void Mutex::Lock::unlock() {
  locked_ = false;
  mutex_->release();
}

// Mutex::ShiftLock

Mutex::ShiftLock::ShiftLock() : mutex_(nullptr), timer_(false) {}

Mutex::ShiftLock& Mutex::ShiftLock::operator=(ShiftLock const& other) {
  mutex_ = other.mutex_;
  timer_ = other.timer_;
  return *this;
}

Mutex::ShiftLock::~ShiftLock() {
  if (mutex_ != nullptr)
    mutex_->release();
}

void Mutex::ShiftLock::lock(Mutex& m) {
  unlock();
  timer_.start();
  m.obtain();
  timer_.stop();
  mutex_ = &m;
}

bool Mutex::ShiftLock::tryLock(Mutex& m, unsigned int timeout, DeadlockStrategy strategy) {
  unlock();
  timer_.start();
  bool const obtained = m.tryObtain(timeout, strategy);
  timer_.stop();
  if (obtained) {
    mutex_ = &m;
    return true;
  }
  // The thread already holds m through another owner, which keeps that hold: this lock reports
  // success but holds (and will release) nothing.
  // Unknown strategies count as ReportDeadlock.
  bool const tolerant = strategy == WaitAnyway || strategy == FailQuietly;
  return tolerant && m.lockedbyThread() == kestle_detail::threadId();
}

void Mutex::ShiftLock::unlock() {
  if (mutex_ != nullptr) {
    mutex_->release();
    mutex_ = nullptr;
  }
}

unsigned long long Mutex::ShiftLock::blocked() {
  unsigned long long const elapsed = timer_.elapsed();
  timer_.reset();
  return elapsed;
}
