// The accounted allocation: the one allocator of every heap block the library holds.
//
// Each block carries an 8-byte header in front of it with the block's total size (requested
// size + 8). Allocating adds that total to Heapwick's count before asking the heap; releasing
// subtracts it again. Heapwick::bytesHeld() (platform/control.h) therefore returns to its old
// value once everything allocated has been released, which is how tests prove there is no leak.
//
// Thread safety: all functions may be called from any thread at any time.
#pragma once

#include <cstddef>
#include <new>
#include <utility>

#include "kestle/export.h"

namespace kestle {

// Returns a block of at least n bytes, aligned to 8 bytes. When the heap has no memory the count
// is undone and std::bad_alloc is thrown; the function never returns null.
KESTLE_API void* allocate(std::size_t n);

// Releases a block from allocate(). Releasing null does nothing.
KESTLE_API void release(void* p) noexcept;

// Constructs a T in an accounted block. The block is released if the constructor throws.
template <class T, class... Args>
T* make(Args&&... args) {
  void* p = allocate(sizeof(T));
  try {
    return ::new (p) T(std::forward<Args>(args)...);
  } catch (...) {
    release(p);
    throw;
  }
}

// Destroys an object made by make() and releases its block. Destroying null does nothing.
template <class T>
void destroy(T* p) noexcept {
  if (p != nullptr) {
    p->~T();
    release(p);
  }
}

// Base class that routes a type's own new and delete through the accounted allocation.
struct Accounted {
  static void* operator new(std::size_t n) { return allocate(n); }
  static void operator delete(void* p) noexcept { release(p); }
};

// A standard allocator over the accounted allocation, for standard containers inside the
// library. Alignment is 8 bytes, so it serves types whose alignment is at most 8.
template <class T>
struct Allocator {
  using value_type = T;
  static_assert(alignof(T) <= 8, "the accounted allocation aligns to 8 bytes");
  Allocator() noexcept = default;
  template <class U>
  Allocator(Allocator<U> const&) noexcept {}
  T* allocate(std::size_t n) {
    if (n > static_cast<std::size_t>(-1) / sizeof(T))
      throw std::bad_array_new_length();
    return static_cast<T*>(kestle::allocate(n * sizeof(T)));
  }
  void deallocate(T* p, std::size_t) noexcept { kestle::release(p); }
  friend bool operator==(Allocator const&, Allocator const&) noexcept { return true; }
};

}  // namespace kestle
