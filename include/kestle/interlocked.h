// Interlocked: the library's lock-free signed 32-bit counter.
//
// Every changing operation except construction is one atomic read-modify-write with sequentially
// consistent ordering, so any number of threads may count on one object at once. Reads are single
// loads of the word (never torn). The value lives at the first 4-byte-aligned address inside the
// object, which therefore works at any address, packed structures included. Arithmetic wraps
// around modulo 2^32.
#pragma once

#include "kestle/export.h"

class KESTLE_API Interlocked {
 public:
  Interlocked(int value = 0);         // NOLINT(google-explicit-constructor): a counter is an int
  Interlocked& operator=(int value);  // atomic exchange

  operator int() const;  // NOLINT(google-explicit-constructor)
  int asInt() const;
  unsigned asUnsigned() const;

  // Without an argument: the value after the change.
  int operator++();
  int operator--();
  int inc();
  int dec();
  // Postfix forms: the value before the change.
  int operator++(int);
  int operator--(int);
  // With an argument: the value before the change. dec with a negative n adds.
  int inc(int n);
  int dec(int n);

 private:
  Interlocked(Interlocked const& other);             // plain copy of other's value
  Interlocked& operator=(Interlocked const& other);  // atomic exchange with other's value

  int* value32() const;  // the int living at the first 4-byte-aligned address inside storage_

  // Room for an aligned 32-bit word whatever the object's own alignment. The constructors create
  // the int in it; unsigned char, because only such an array may provide storage for an object.
  unsigned char storage_[8];
};
