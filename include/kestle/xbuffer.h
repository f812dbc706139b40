// Serialisation buffers: XBuffer, an owned byte buffer that values are written into and read
// back from, and XBufferC, a read-only view with its own position over bytes someone else owns.
//
// Encoding (little-endian, no padding, no type tags):
//   bool                          4 bytes, 1 or 0 (any nonzero value reads as true)
//   char                          1 byte
//   int, unsigned, unsigned long  4 bytes (unsigned long keeps its 32-bit meaning: its 4 low
//                                 bytes are written, and reading zero-extends)
//   long long, unsigned long long 8 bytes
//   wide string                   32-bit count of UTF-16 units, then the units (a character
//                                 above U+FFFF is a surrogate pair)
//   nested buffer                 32-bit byte count, then the bytes
// Note that std::uint64_t is unsigned long on Linux and so writes 4 bytes: write 64-bit values
// as (unsigned) long long.
//
// Writing appends at the end and leaves the position alone; reading starts at the position and
// advances it. Reading never touches memory outside the data: a get past the end delivers zeros
// for the missing bytes and leaves the position at the end; a wide string or nested buffer whose
// count runs past the end reads as empty and moves the position to the end.
//
// A buffer or view is used by one thread at a time. A view over an XBuffer stays valid only while
// that buffer's storage is neither released nor replaced (adding to the buffer may replace it).
// The members on the value path (typed writes and reads, at, len, pos, getChar, getBool) are
// inline: the common case, room in the storage or bytes in view, costs no call. The rest goes to
// the out-of-line add and get, which keep every bound and report. The library exports each
// inline member as well, for programs built against the out-of-line forms.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>
#include <type_traits>

#include "kestle/array.h"
#include "kestle/export.h"
#include "kestle/strings.h"

class KESTLE_API XBuffer {
 public:
  // The owned bytes: a SimpleArrayBase<char,1>; its number in use is the buffer's length. Moving
  // copies.
  class KESTLE_API Data : public SimpleArrayBase<char, 1> {
   public:
    Data() = default;
    Data(Data const& other);
    Data(Data&& other);
    Data& operator=(Data const& other);
    Data& operator=(Data&& other);
  };

  XBuffer();  // empty, position 0
  XBuffer(XBuffer const& other);
  XBuffer(XBuffer&& other);  // copies
  ~XBuffer();
  XBuffer& operator=(XBuffer const& other);  // position and bytes; self-assignment is harmless
  XBuffer& operator=(XBuffer&& other);       // copies

  // The byte at the position, or at i; null at or beyond the length.
  KESTLE_API char* at() { return data_.pointer(pos_); }
  KESTLE_API char const* at() const { return data_.pointer(pos_); }
  KESTLE_API char* at(unsigned i) { return data_.pointer(i); }
  KESTLE_API char const* at(unsigned i) const { return data_.pointer(i); }
  KESTLE_API unsigned len() const { return data_.number(); }
  KESTLE_API unsigned pos() const { return pos_; }
  // Moves the position forward by n, no further than the end.
  XBuffer& fwd(unsigned n);

  KESTLE_API XBuffer& operator<<(bool v) { return put<4>(v ? 1u : 0u); }
  KESTLE_API XBuffer& operator<<(char v) { return put<1>(static_cast<unsigned char>(v)); }
  KESTLE_API XBuffer& operator<<(int v) { return put<4>(static_cast<std::uint32_t>(v)); }
  KESTLE_API XBuffer& operator<<(unsigned int v) { return put<4>(v); }
  KESTLE_API XBuffer& operator<<(unsigned long v) { return put<4>(static_cast<std::uint32_t>(v)); }
  KESTLE_API XBuffer& operator<<(long long v) { return put<8>(static_cast<std::uint64_t>(v)); }
  KESTLE_API XBuffer& operator<<(unsigned long long v) { return put<8>(v); }
  // A pointer would otherwise be written as a bool; write texts with addWStr.
  template <class T>
  XBuffer& operator<<(T const* v) = delete;

  KESTLE_API XBuffer& operator>>(bool& v) {
    v = take<4>() != 0;
    return *this;
  }
  KESTLE_API XBuffer& operator>>(char& v) {
    v = static_cast<char>(take<1>());
    return *this;
  }
  KESTLE_API XBuffer& operator>>(int& v) {
    v = static_cast<int>(static_cast<std::uint32_t>(take<4>()));
    return *this;
  }
  KESTLE_API XBuffer& operator>>(unsigned int& v) {
    v = static_cast<unsigned int>(take<4>());
    return *this;
  }
  KESTLE_API XBuffer& operator>>(unsigned long& v) {
    v = static_cast<unsigned long>(take<4>());
    return *this;
  }
  KESTLE_API XBuffer& operator>>(long long& v) {
    v = static_cast<long long>(take<8>());
    return *this;
  }
  KESTLE_API XBuffer& operator>>(unsigned long long& v) {
    v = take<8>();
    return *this;
  }

  // A 32-bit value, true when nonzero.
  KESTLE_API bool getBool() { return take<4>() != 0; }
  // The byte at the position; the position advances by one first. At or beyond the length this
  // is the array's index report (module "array", line 320, the position) and the answer is 0.
  KESTLE_API char getChar() {
    unsigned const at = pos_++;
    return data_[at];
  }

  // Appends count bytes (bytes may point into this buffer). A length of 2^31 bytes or more is
  // refused with the array's growth report and nothing is added.
  XBuffer& add(unsigned count, void const* bytes);
  // Fills count bytes from the position (zeros past the end) and advances the position.
  XBuffer& get(unsigned count, void* bytes);
  int getInt32();
  // Sets the position, no further than the end.
  XBuffer& pos(unsigned n);

  // Appends a wide string as a count of UTF-16 units and the units. A value that is no Unicode
  // code point (above U+10FFFF) is written as U+FFFD.
  XBuffer& addWStr(wchar_t const* text);
  // Appends a nested buffer: its length and its bytes.
  XBuffer& addBuffer(XBuffer const& nested);

 private:
  static_assert(std::endian::native == std::endian::little, "values lie low byte first");
  friend class XBufferC;

  // The unsigned word of N bytes.
  template <unsigned N>
  using Word = std::conditional_t<N == 1, std::uint8_t,
                                  std::conditional_t<N == 4, std::uint32_t, std::uint64_t>>;

  // Appends the N low bytes of v, in place when the storage has room, else through add.
  template <unsigned N>
  XBuffer& put(std::uint64_t v) {
    if (data_.capacity_ - data_.number_ >= N) [[likely]] {
      std::memcpy(data_.data_ + data_.number_, &v, N);
      data_.number_ += N;
      return *this;
    }
    return add(N, &v);
  }
  // Reads N bytes at the position, in place when they are all there, else through get. The two
  // paths keep separate words, so that the common one never goes through memory.
  template <unsigned N>
  std::uint64_t take() {
    if (std::uint64_t{pos_} + N <= data_.number_) [[likely]] {
      Word<N> w;
      std::memcpy(&w, data_.data_ + pos_, N);
      pos_ += N;
      return w;
    }
    return takeSlow<N>();
  }
  template <unsigned N>
  [[gnu::noinline]] std::uint64_t takeSlow() {
    Word<N> w = 0;
    get(N, &w);
    return w;
  }

  std::uint32_t pos_;
  Data data_;
};

class KESTLE_API XBufferC {
 public:
  // A view of len bytes at bytes, position 0. The bytes are not copied. A null bytes pointer
  // gives an empty view.
  XBufferC(unsigned len, void const* bytes);
  // A view of the buffer's bytes, starting at the buffer's position.
  explicit XBufferC(XBuffer const& buffer);
  XBufferC(XBuffer&&) = delete;  // would view a buffer about to be destroyed

  // The byte at the position, or at i, without any check (may point beyond the view). Computed
  // on the address's integer value, so that an offset from a null view is well defined.
  KESTLE_API char const* at() const { return at(pos_); }
  KESTLE_API char const* at(unsigned i) const {
    return reinterpret_cast<char const*>(reinterpret_cast<std::uintptr_t>(data_) + i);
  }
  KESTLE_API unsigned len() const { return len_; }
  KESTLE_API unsigned pos() const { return pos_; }
  // Moves the position forward by n, no further than the end.
  XBufferC& fwd(unsigned n);

  KESTLE_API XBufferC& operator>>(bool& v) {
    v = take<4>() != 0;
    return *this;
  }
  KESTLE_API XBufferC& operator>>(char& v) {
    v = static_cast<char>(take<1>());
    return *this;
  }
  KESTLE_API XBufferC& operator>>(int& v) {
    v = static_cast<int>(static_cast<std::uint32_t>(take<4>()));
    return *this;
  }
  KESTLE_API XBufferC& operator>>(unsigned int& v) {
    v = static_cast<unsigned int>(take<4>());
    return *this;
  }
  KESTLE_API XBufferC& operator>>(unsigned long& v) {
    v = static_cast<unsigned long>(take<4>());
    return *this;
  }
  KESTLE_API XBufferC& operator>>(long long& v) {
    v = static_cast<long long>(take<8>());
    return *this;
  }
  KESTLE_API XBufferC& operator>>(unsigned long long& v) {
    v = take<8>();
    return *this;
  }

  // A 32-bit value, true when nonzero.
  KESTLE_API bool getBool() { return take<4>() != 0; }
  // The byte at the position, without a report; the position advances by one. At or beyond the
  // end the answer is 0 and nothing outside the view is read.
  KESTLE_API char getChar() {
    unsigned const at = pos_++;
    return at < len_ ? data_[at] : 0;
  }

  // Fills count bytes from the position (zeros past the end) and advances the position.
  XBufferC& get(unsigned count, void* bytes);
  int getInt32();
  // Sets the position, no further than the end.
  XBufferC& pos(unsigned n);
  // Reads a wide string. A count running past the end gives the empty text. The text ends at its
  // first zero unit, if any; a surrogate pair becomes one character, an unpaired surrogate stays
  // as its unit value.
  XBufferC& getWStr(WString& text);
  // Reads a nested buffer into nested, replacing its content, position 0. A count running past
  // the end leaves nested empty.
  XBufferC& operator>>(XBuffer& nested);

 private:
  // Reads N bytes at the position, in place when they are all in view, else through get.
  template <unsigned N>
  std::uint64_t take() {
    if (std::uint64_t{pos_} + N <= len_) [[likely]] {
      XBuffer::Word<N> w;
      std::memcpy(&w, data_ + pos_, N);
      pos_ += N;
      return w;
    }
    return takeSlow<N>();
  }
  template <unsigned N>
  [[gnu::noinline]] std::uint64_t takeSlow() {
    XBuffer::Word<N> w = 0;
    get(N, &w);
    return w;
  }

  std::uint32_t pos_;
  std::uint32_t len_;
  char const* data_;
};
