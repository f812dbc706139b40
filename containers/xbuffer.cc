// The library's members of the serialisation buffers: construction, copying, access and the
// typed operators. Moving bytes in and out is the platform's (platform/xbuffer.cc).
#include "kestle/xbuffer.h"

#include <climits>
#include <cstdint>

namespace {

// Values go to add and come from get least significant byte first, whatever the host's order.
template <unsigned N>
void toBytes(unsigned long long v, unsigned char (&out)[N]) {
  for (unsigned k = 0; k < N; ++k)
    out[k] = static_cast<unsigned char>(v >> (8 * k));
}

template <unsigned N>
unsigned long long fromBytes(unsigned char const (&in)[N]) {
  unsigned long long v = 0;
  for (unsigned k = 0; k < N; ++k)
    v |= static_cast<unsigned long long>(in[k]) << (8 * k);
  return v;
}

template <class Buffer>
Buffer& put4(Buffer& b, std::uint32_t v) {
  unsigned char bytes[4];
  toBytes(v, bytes);
  return b.add(4, bytes);
}

template <class Buffer>
Buffer& put8(Buffer& b, unsigned long long v) {
  unsigned char bytes[8];
  toBytes(v, bytes);
  return b.add(8, bytes);
}

template <class Buffer>
Buffer& take4(Buffer& b, std::uint32_t& v) {
  unsigned char bytes[4];
  b.get(4, bytes);
  v = static_cast<std::uint32_t>(fromBytes(bytes));
  return b;
}

template <class Buffer>
Buffer& take8(Buffer& b, unsigned long long& v) {
  unsigned char bytes[8];
  b.get(8, bytes);
  v = fromBytes(bytes);
  return b;
}

// pos_ + n without wrapping around; the platform's pos clamps to the end.
unsigned forward(unsigned position, unsigned n) {
  return n > UINT_MAX - position ? UINT_MAX : position + n;
}

}  // namespace

// ---- XBuffer::Data -------------------------------------------------------------------------

XBuffer::Data::Data(Data const& other) : SimpleArrayBase<char, 1>(other) {}
XBuffer::Data::Data(Data&& other) : SimpleArrayBase<char, 1>(other) {}
XBuffer::Data& XBuffer::Data::operator=(Data const& other) {
  SimpleArrayBase<char, 1>::operator=(other);
  return *this;
}
XBuffer::Data& XBuffer::Data::operator=(Data&& other) {
  SimpleArrayBase<char, 1>::operator=(other);
  return *this;
}

// ---- XBuffer -------------------------------------------------------------------------------

XBuffer::XBuffer() : pos_(0) {}
XBuffer::XBuffer(XBuffer const& other) : pos_(other.pos_), data_(other.data_) {}
XBuffer::XBuffer(XBuffer&& other) : pos_(other.pos_), data_(other.data_) {}
XBuffer::~XBuffer() = default;

XBuffer& XBuffer::operator=(XBuffer const& other) {
  pos_ = other.pos_;
  data_ = other.data_;
  return *this;
}
XBuffer& XBuffer::operator=(XBuffer&& other) {
  return *this = static_cast<XBuffer const&>(other);
}

char* XBuffer::at() {
  return data_.pointer(pos_);
}
char const* XBuffer::at() const {
  return data_.pointer(pos_);
}
char* XBuffer::at(unsigned i) {
  return data_.pointer(i);
}
char const* XBuffer::at(unsigned i) const {
  return data_.pointer(i);
}
unsigned XBuffer::len() const {
  return data_.number();
}
unsigned XBuffer::pos() const {
  return pos_;
}
XBuffer& XBuffer::fwd(unsigned n) {
  return pos(forward(pos_, n));
}

XBuffer& XBuffer::operator<<(bool v) {
  return put4(*this, v ? 1 : 0);
}
XBuffer& XBuffer::operator<<(char v) {
  return add(1, &v);
}
XBuffer& XBuffer::operator<<(int v) {
  return put4(*this, static_cast<std::uint32_t>(v));
}
XBuffer& XBuffer::operator<<(unsigned int v) {
  return put4(*this, v);
}
XBuffer& XBuffer::operator<<(unsigned long v) {
  return put4(*this, static_cast<std::uint32_t>(v));
}
XBuffer& XBuffer::operator<<(long long v) {
  return put8(*this, static_cast<unsigned long long>(v));
}
XBuffer& XBuffer::operator<<(unsigned long long v) {
  return put8(*this, v);
}

XBuffer& XBuffer::operator>>(bool& v) {
  std::uint32_t word;
  take4(*this, word);
  v = word != 0;
  return *this;
}
XBuffer& XBuffer::operator>>(char& v) {
  return get(1, &v);
}
XBuffer& XBuffer::operator>>(int& v) {
  std::uint32_t word;
  take4(*this, word);
  v = static_cast<int>(word);
  return *this;
}
XBuffer& XBuffer::operator>>(unsigned int& v) {
  return take4(*this, v);
}
XBuffer& XBuffer::operator>>(unsigned long& v) {
  std::uint32_t word;
  take4(*this, word);
  v = word;
  return *this;
}
XBuffer& XBuffer::operator>>(long long& v) {
  unsigned long long word;
  take8(*this, word);
  v = static_cast<long long>(word);
  return *this;
}
XBuffer& XBuffer::operator>>(unsigned long long& v) {
  return take8(*this, v);
}

bool XBuffer::getBool() {
  return getInt32() != 0;
}

char XBuffer::getChar() {
  unsigned at = pos_++;
  return data_[at];
}

// ---- XBufferC ------------------------------------------------------------------------------

XBufferC::XBufferC(unsigned len, void const* bytes)
    : pos_(0), len_(bytes != nullptr ? len : 0), data_(static_cast<char const*>(bytes)) {}

XBufferC::XBufferC(XBuffer const& buffer)
    : pos_(buffer.pos()), len_(buffer.len()), data_(buffer.len() > 0 ? buffer.at(0) : nullptr) {}

// No check, as promised; computed on the integer value so that an offset from a null view is
// not undefined behaviour.
char const* XBufferC::at() const {
  return at(pos_);
}
char const* XBufferC::at(unsigned i) const {
  return reinterpret_cast<char const*>(reinterpret_cast<std::uintptr_t>(data_) + i);
}
unsigned XBufferC::len() const {
  return len_;
}
unsigned XBufferC::pos() const {
  return pos_;
}
XBufferC& XBufferC::fwd(unsigned n) {
  return pos(forward(pos_, n));
}

XBufferC& XBufferC::operator>>(bool& v) {
  std::uint32_t word;
  take4(*this, word);
  v = word != 0;
  return *this;
}
XBufferC& XBufferC::operator>>(char& v) {
  return get(1, &v);
}
XBufferC& XBufferC::operator>>(int& v) {
  std::uint32_t word;
  take4(*this, word);
  v = static_cast<int>(word);
  return *this;
}
XBufferC& XBufferC::operator>>(unsigned int& v) {
  return take4(*this, v);
}
XBufferC& XBufferC::operator>>(unsigned long& v) {
  std::uint32_t word;
  take4(*this, word);
  v = word;
  return *this;
}
XBufferC& XBufferC::operator>>(long long& v) {
  unsigned long long word;
  take8(*this, word);
  v = static_cast<long long>(word);
  return *this;
}
XBufferC& XBufferC::operator>>(unsigned long long& v) {
  return take8(*this, v);
}

bool XBufferC::getBool() {
  return getInt32() != 0;
}

// Unchecked in the sense that nothing is reported; a position at or past the end still reads
// nothing outside the view.
char XBufferC::getChar() {
  unsigned at = pos_++;
  return at < len_ ? data_[at] : 0;
}
