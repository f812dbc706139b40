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
#pragma once

#include <cstdint>

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
  char* at();
  char const* at() const;
  char* at(unsigned i);
  char const* at(unsigned i) const;
  unsigned len() const;
  unsigned pos() const;
  // Moves the position forward by n, no further than the end.
  XBuffer& fwd(unsigned n);

  XBuffer& operator<<(bool v);
  XBuffer& operator<<(char v);
  XBuffer& operator<<(int v);
  XBuffer& operator<<(unsigned int v);
  XBuffer& operator<<(unsigned long v);
  XBuffer& operator<<(long long v);
  XBuffer& operator<<(unsigned long long v);
  // A pointer would otherwise be written as a bool; write texts with addWStr.
  template <class T>
  XBuffer& operator<<(T const* v) = delete;

  XBuffer& operator>>(bool& v);
  XBuffer& operator>>(char& v);
  XBuffer& operator>>(int& v);
  XBuffer& operator>>(unsigned int& v);
  XBuffer& operator>>(unsigned long& v);
  XBuffer& operator>>(long long& v);
  XBuffer& operator>>(unsigned long long& v);

  bool getBool();  // a 32-bit value, true when nonzero
  // The byte at the position; the position advances by one first. At or beyond the length this
  // is the array's index report (module "array", line 320, the position) and the answer is 0.
  char getChar();

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

  // The byte at the position, or at i, without any check (may point beyond the view).
  char const* at() const;
  char const* at(unsigned i) const;
  unsigned len() const;
  unsigned pos() const;
  // Moves the position forward by n, no further than the end.
  XBufferC& fwd(unsigned n);

  XBufferC& operator>>(bool& v);
  XBufferC& operator>>(char& v);
  XBufferC& operator>>(int& v);
  XBufferC& operator>>(unsigned int& v);
  XBufferC& operator>>(unsigned long& v);
  XBufferC& operator>>(long long& v);
  XBufferC& operator>>(unsigned long long& v);

  bool getBool();  // a 32-bit value, true when nonzero
  // The byte at the position, without a report; the position advances by one. At or beyond the
  // end the answer is 0 and nothing outside the view is read.
  char getChar();

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
  std::uint32_t pos_;
  std::uint32_t len_;
  char const* data_;
};
