// SimpleArrayBase<char,1>: storage management, insertion, removal and the bounds reports.
#include "kestle/array.h"

#include <cstring>

#include "kestle/alloc.h"
#include "kestle/strings.h"
#include "platform/report.h"

namespace {

using Array = SimpleArrayBase<char, 1>;

constexpr wchar_t kModule[] = L"array";
constexpr unsigned long long kLimit = 0x80000000ull;  // sizes from 2^31 on are refused
constexpr std::uint32_t kFirstCapacity = 16;
constexpr std::uint32_t kCutDownAbove = 1024;

// The smallest power of two >= n, for 0 < n <= 2^31.
std::uint32_t powerOfTwoFor(unsigned long long n) {
  std::uint32_t p = 1;
  while (p < n)
    p <<= 1;
  return p;
}

// memcpy and memmove must not see a null pointer, even for zero bytes.
void copyBytes(char* to, char const* from, unsigned long long n) {
  if (n != 0)
    std::memmove(to, from, n);
}

// The inline members stay exported for programs built against their out-of-line forms.
[[gnu::used]] constexpr auto kExportIndex = &Array::operator[];
[[gnu::used]] constexpr auto kExportSubscriptor = &Array::subscriptor;
[[gnu::used]] constexpr auto kExportPointer = &Array::pointer;
[[gnu::used]] constexpr auto kExportNumber = &Array::number;
[[gnu::used]] constexpr auto kExportCapacity = &Array::capacity;
[[gnu::used]] constexpr auto kExportAdd = &Array::add;

}  // namespace

Array::SimpleArrayBase() : data_(nullptr), capacity_(0), number_(0) {}

Array::SimpleArrayBase(SimpleArrayBase const& other)
    : data_(nullptr), capacity_(other.capacity_), number_(other.number_) {
  if (capacity_ != 0) {
    data_ = static_cast<char*>(kestle::allocate(capacity_));
    copyBytes(data_, other.data_, number_);
  }
}

Array::~SimpleArrayBase() {
  deletor(0);
}

Array& Array::operator=(SimpleArrayBase const& other) {
  // resize may replace the storage without copying, which would lose the content of a
  // self-assignment.
  if (this == &other)
    return *this;
  resize(other.number_, false);
  if (other.number_ > capacity_)
    return *this;  // growth refused and reported
  number_ = other.number_;
  copyBytes(data_, other.data_, number_);
  return *this;
}

char& Array::outOfRange(unsigned i) const {
  WString text = FString::numstr(i, 10, 0, L' ');
  kestle_detail::Reporter::PanicMe(false, kModule, L"SimpleArrayBase<char,1>::operator []", 320,
                                   text, nullptr, 0);
  // The caller goes on with the reference: give it a byte of our own, never one outside the
  // storage. Per thread, so that two threads failing at once do not race on it.
  thread_local char scratch;
  scratch = 0;
  return scratch;
}

void Array::replace(std::uint32_t capacity, unsigned copy) {
  char* fresh = static_cast<char*>(kestle::allocate(capacity));
  copyBytes(fresh, data_, copy);
  kestle::release(data_);
  data_ = fresh;
  capacity_ = capacity;
}

bool Array::grow(unsigned long long n, bool keep) {
  if (n <= capacity_)
    return true;
  if (n >= kLimit) {
    SysFailure::panic1(false, kModule, L"SimpleArrayBase<char,1>::resize", 801,
                       static_cast<long long>(n));
    return false;
  }
  // The new capacity depends on n alone: 16 for small arrays, else the next power of two.
  std::uint32_t capacity = n <= kFirstCapacity ? kFirstCapacity : powerOfTwoFor(n);
  replace(capacity, keep ? number_ : 0);
  return true;
}

bool Array::resize(unsigned n, bool keep) {
  if (n > capacity_)
    return grow(n, keep);
  if (keep || capacity_ <= kCutDownAbove || n >= capacity_ / 2)
    return false;
  if (n == 0) {
    clear();
  } else {
    replace(n <= kFirstCapacity ? kFirstCapacity : powerOfTwoFor(n), 0);
  }
  return true;
}

void Array::deletor(unsigned) {
  kestle::release(data_);
}

Array& Array::setNumber(unsigned n) {
  if (grow(n, true))
    number_ = n;
  return *this;
}

Array& Array::addAt(unsigned i, char x) {
  if (!grow(number_ + 1ull, true))
    return *this;
  if (i < number_) {
    copyBytes(data_ + i + 1, data_ + i, number_ - i);
  } else {
    i = number_;
  }
  data_[i] = x;
  ++number_;
  return *this;
}

Array& Array::add2At(unsigned i, char x, char y) {
  if (!grow(number_ + 2ull, true))
    return *this;
  if (i < number_) {
    copyBytes(data_ + i + 2, data_ + i, number_ - i);
  } else {
    i = number_;
  }
  data_[i] = x;
  data_[i + 1] = y;
  number_ += 2;
  return *this;
}

Array& Array::addManyAt(unsigned i, SimpleArrayBase const& other, unsigned from, unsigned to) {
  if (from > to)
    return *this;
  bool sourceOk = to < other.number_;
  bool targetOk = i <= number_;
  if (!sourceOk) {
    kestle_detail::Reporter::PanicMe(false, kModule, L"SimpleArrayBase<char,1>::addManyAt", 447,
                                     nullptr, nullptr, 0);
  }
  if (!targetOk) {
    kestle_detail::Reporter::PanicMe(false, kModule, L"SimpleArrayBase<char,1>::addManyAt", 448,
                                     nullptr, nullptr, 0);
  }
  if (!sourceOk || !targetOk)
    return *this;

  unsigned long long k = 1ull + to - from;
  if (!grow(number_ + k, true))
    return *this;
  unsigned moved = number_ - i;  // elements i ... number_ - 1 move up by k
  copyBytes(data_ + i + k, data_ + i, moved);

  // other's storage is read only now, after the growth, because other may be this array.
  // Then the part of the source range at or above i has itself moved up by k; the part below
  // i has not. Neither part overlaps the gap i ... i + k - 1.
  if (&other != this) {
    copyBytes(data_ + i, other.data_ + from, k);
  } else {
    unsigned long long below = from < i ? (to < i ? to : i - 1ull) - from + 1 : 0;
    copyBytes(data_ + i, data_ + from, below);
    copyBytes(data_ + i + below, data_ + from + below + k, k - below);
  }
  number_ += static_cast<std::uint32_t>(k);
  return *this;
}

Array& Array::removeAt(unsigned from, unsigned to) {
  if (from > to || from >= number_)
    return *this;
  if (to >= number_)
    to = number_ - 1;
  copyBytes(data_ + from, data_ + to + 1, number_ - to - 1ull);
  number_ -= to - from + 1;
  return *this;
}

Array& Array::removeAt(unsigned i) {
  if (number_ == 0)
    return *this;
  --number_;
  if (i < number_)
    copyBytes(data_ + i, data_ + i + 1, number_ - i);
  return *this;
}

Array& Array::fastRemove(unsigned i) {
  if (i >= number_)
    return *this;
  --number_;
  if (i < number_)
    data_[i] = data_[number_];
  return *this;
}

Array& Array::clear() {
  deletor(0);
  data_ = nullptr;
  capacity_ = 0;
  number_ = 0;
  return *this;
}
