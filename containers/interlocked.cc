// Interlocked: every change is one sequentially consistent read-modify-write on the aligned word.
// Reads go through a relaxed atomic load, which on x86-64 is the same single load as a plain
// read but keeps a concurrent change from being a data race.
#include "kestle/interlocked.h"

#include <atomic>
#include <cstdint>
#include <new>

namespace {
// The counter's arithmetic wraps modulo 2^32; computing in unsigned keeps that defined.
int wrapAdd(int a, int b) {
  return static_cast<int>(static_cast<unsigned>(a) + static_cast<unsigned>(b));
}

// The first 4-byte-aligned address inside the storage.
void* alignedWord(unsigned char const* storage) {
  auto address = reinterpret_cast<std::uintptr_t>(storage);
  return reinterpret_cast<void*>((address + 3) & ~std::uintptr_t{3});
}
}  // namespace

int* Interlocked::value32() const {
  return std::launder(static_cast<int*>(alignedWord(storage_)));
}

// Each constructor begins the life of the int that every other member then works on.
Interlocked::Interlocked(int value) {
  ::new (alignedWord(storage_)) int(value);
}

Interlocked::Interlocked(Interlocked const& other) {
  ::new (alignedWord(storage_)) int(other.asInt());
}

Interlocked& Interlocked::operator=(Interlocked const& other) {
  return *this = other.asInt();
}

Interlocked& Interlocked::operator=(int value) {
  std::atomic_ref<int>(*value32()).exchange(value, std::memory_order_seq_cst);
  return *this;
}

Interlocked::operator int() const {
  return asInt();
}
int Interlocked::asInt() const {
  return std::atomic_ref<int>(*value32()).load(std::memory_order_relaxed);
}
unsigned Interlocked::asUnsigned() const {
  return static_cast<unsigned>(asInt());
}

int Interlocked::inc(int n) {
  return std::atomic_ref<int>(*value32()).fetch_add(n, std::memory_order_seq_cst);
}
int Interlocked::dec(int n) {
  return std::atomic_ref<int>(*value32()).fetch_sub(n, std::memory_order_seq_cst);
}

int Interlocked::inc() {
  return wrapAdd(inc(1), 1);
}
int Interlocked::dec() {
  return wrapAdd(dec(1), -1);
}
int Interlocked::operator++() {
  return inc();
}
int Interlocked::operator--() {
  return dec();
}
int Interlocked::operator++(int) {
  return inc(1);
}
int Interlocked::operator--(int) {
  return dec(1);
}
