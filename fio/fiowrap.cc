// The raw file handle: construction, close, name, and the operations on the main handle alone.
#include "kestle/fiowrap.h"

#include <new>

#include "fio/fiowrap_detail.h"
#include "kestle/alloc.h"
#include "kestle/errors.h"
#include "kestle/mutex.h"
#include "platform/file.h"
#include "platform/report.h"

namespace Fio {

using kestle_detail::fiowrap::kModule;

FioMutex::FioMutex() : MutexLazy(true, L"", kestle_detail::fiowrap::kSlotWaitStat) {}

FioMutex::~FioMutex() = default;

FIOWRAP::FIOWRAP(wchar_t const* name, void* mainHandle)
    : fileName_(name), readGate_(true, kSlots), unflushed_(false), writesAsked_(0), writesDone_(0) {
  handles_[0].store(mainHandle);
  for (int i = 1; i < kSlots; ++i)
    handles_[i].store(nullptr);
}

// The members go in reverse order: the mutexes (last slot first), the gate, the name.
FIOWRAP::~FIOWRAP() = default;

void FIOWRAP::closeReadHandles() {
  for (int i = 1; i < kSlots; ++i) {
    // Taken even when the slot's handle is null: a read may hold the slot while it opens that
    // handle, and the write must not go on until the handle is closed again.
    Mutex::Lock lock(mutexes_[i], true);
    void* handle = handles_[i].load(std::memory_order_relaxed);
    if (handle == nullptr)
      continue;
    unsigned long code = FioClose(handle);
    if (code != 0) {
      kestle_detail::Reporter::TrapretMe(true, kModule, L"Fio::FIOWRAP::closeReadHandles", 67,
                                         nullptr, code, fileName_, nullptr);
    }
    handles_[i].store(nullptr, std::memory_order_relaxed);
  }
}

unsigned long open(wchar_t const* name, Access access, Sharing sharing, OpenFlag openFlag,
                   FIOWRAP*& wrap, bool flag) {
  void* handle = nullptr;
  unsigned long code = FioOpen(name, access, sharing, openFlag, handle, flag);
  if (code != 0) {
    wrap = nullptr;
    return code;
  }
  static_assert(alignof(FIOWRAP) <= 8, "the accounted allocation aligns to 8 bytes");
  void* block = nullptr;
  try {
    block = kestle::allocate(sizeof(FIOWRAP));
    wrap = ::new (block) FIOWRAP(name, handle);
  } catch (...) {
    // Nobody else knows the platform handle: close it rather than leak the descriptor.
    kestle::release(block);
    FioClose(handle);
    throw;
  }
  return 0;
}

unsigned long close(FIOWRAP*& wrap) {
  if (wrap == nullptr)
    return NoHandleError;
  unsigned long result = 0;
  for (int i = 0; i < FIOWRAP::kSlots; ++i) {
    void* handle = wrap->handles_[i].exchange(nullptr);
    if (handle == nullptr)
      continue;
    unsigned long code = FioClose(handle);
    if (code == 0)
      continue;
    if (i == 0) {
      // The block goes away below, so the read handles are closed all the same; the main
      // handle's code stays the result.
      result = code;
    } else {
      SysFailure::panic1(true, kModule, L"Fio::close", 122, static_cast<long long>(code));
    }
  }
  wrap->~FIOWRAP();
  kestle::release(wrap);
  wrap = nullptr;
  return result;
}

WString name(FIOWRAP* wrap) {
  if (wrap == nullptr)
    return WString(L"(no_handle)");
  return wrap->fileName_;
}

unsigned long flush(FIOWRAP* wrap) {
  if (wrap == nullptr)
    return NoHandleError;
  wrap->unflushed_.store(false);
  return FioFlush(wrap->handles_[0].load(std::memory_order_relaxed));
}

unsigned long getSize(FIOWRAP* wrap, unsigned long long& size) {
  if (wrap == nullptr)
    return NoHandleError;
  return FioSize(wrap->handles_[0].load(std::memory_order_relaxed), size);
}

unsigned long setSize(FIOWRAP* wrap, unsigned long long size) {
  if (wrap == nullptr)
    return NoHandleError;
  FIOWRAP::WriteTurn turn(*wrap);
  wrap->closeReadHandles();
  wrap->unflushed_.store(true);
  return FioSetSize(wrap->handles_[0].load(std::memory_order_relaxed), size);
}

}  // namespace Fio
