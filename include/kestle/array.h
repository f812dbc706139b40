// SimpleArrayBase<char,1>: a growable run of bytes in one block of accounted heap storage.
//
// The storage grows to 16 bytes at first and afterwards to the smallest power of two that holds
// the wanted number of bytes; it never shrinks on its own. Assignment reuses storage that is
// large enough, except that a block above 1024 bytes that would be less than half used is
// replaced by a fitting one (an empty source releases it). Elements beyond number() have no
// defined value. An array is used by one thread at a time.
//
// Reports (module "array", flag false) go to the platform's report; when a report returns, the
// operation has touched nothing outside the storage:
//   operator[] with i >= number()       line 320, the index; answers a scratch byte
//   growing to 2^31 bytes or more        line 801, the size; the array stays unchanged
//   addManyAt with to >= other.number() line 447; the array stays unchanged
//   addManyAt with i > number()          line 448; the array stays unchanged
// A failed heap allocation throws std::bad_alloc and leaves the array as it was.
#pragma once

#include <cstdint>

#include "kestle/export.h"

template <class T, int N>
class SimpleArrayBase;

template <>
class KESTLE_API SimpleArrayBase<char, 1> {
 public:
  SimpleArrayBase();
  SimpleArrayBase(SimpleArrayBase const& other);  // same capacity, same bytes
  ~SimpleArrayBase();
  // Takes other's bytes (see the cut-down rule above). Assigning an array to itself changes
  // nothing.
  SimpleArrayBase& operator=(SimpleArrayBase const& other);

  // The members on the value path are inline; the library exports each of them as well, for
  // programs built against the out-of-line forms.

  // Element i; reports line 320 when i >= number().
  KESTLE_API char& operator[](unsigned i) const {
    if (i < number_) [[likely]]
      return data_[i];
    return outOfRange(i);
  }
  // Element i without any check: i must be below number().
  KESTLE_API char& subscriptor(unsigned i) const { return data_[i]; }
  // Element i, or null when i >= number().
  KESTLE_API char* pointer(unsigned i) const { return i < number_ ? data_ + i : nullptr; }
  KESTLE_API unsigned number() const { return number_; }
  // The bytes the storage holds (0 without storage).
  KESTLE_API unsigned capacity() const { return capacity_; }

  // n <= capacity(): only the number changes. Otherwise grows, keeping the bytes; new elements
  // are not initialised.
  SimpleArrayBase& setNumber(unsigned n);
  KESTLE_API SimpleArrayBase& add(char x) {
    if (number_ < capacity_) [[likely]] {
      data_[number_++] = x;
      return *this;
    }
    return addAt(number_, x);
  }
  // Inserts x before element i; an i at or beyond the end appends.
  SimpleArrayBase& addAt(unsigned i, char x);
  // Inserts x and y (in this order) before element i; an i at or beyond the end appends.
  SimpleArrayBase& add2At(unsigned i, char x, char y);
  // Inserts other's elements from ... to (both included) before element i; nothing when
  // from > to. other may be this array.
  SimpleArrayBase& addManyAt(unsigned i, SimpleArrayBase const& other, unsigned from, unsigned to);
  // Removes elements from ... to (both included); nothing when from > to. A range reaching past
  // the end removes up to the end; a range starting at or past the end removes nothing.
  SimpleArrayBase& removeAt(unsigned from, unsigned to);
  // Removes element i, keeping the order. With i at or beyond the end the last element goes;
  // an empty array stays empty.
  SimpleArrayBase& removeAt(unsigned i);
  // Removes element i by moving the last element into its place; nothing when i >= number().
  SimpleArrayBase& fastRemove(unsigned i);
  // Releases the storage.
  SimpleArrayBase& clear();

 private:
  // Adjusts the storage to n bytes: grows when n > capacity (keeping the bytes only when keep is
  // true), or, when keep is false, cuts a block above 1024 bytes down to fit n when n is below
  // half of it. Answers whether the storage changed.
  bool resize(unsigned n, bool keep);
  // Makes room for n bytes, keeping the bytes in use when keep is true. False (after the report)
  // when n is 2^31 or more; the array is then unchanged.
  bool grow(unsigned long long n, bool keep);
  // Takes fresh storage of the given capacity, copying the first `copy` bytes.
  void replace(std::uint32_t capacity, unsigned copy);
  void deletor(unsigned n);
  // operator[]'s report for index i; answers a byte outside the storage.
  char& outOfRange(unsigned i) const;

  friend class XBuffer;  // appends in place on its value path

  char* data_;
  std::uint32_t capacity_;
  std::uint32_t number_;
};
