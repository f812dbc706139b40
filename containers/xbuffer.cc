// The library's members of the serialisation buffers: construction, copying and forwarding; the
// value-path members are inline in the header. Moving bytes in and out is the platform's
// (platform/xbuffer.cc).
#include "kestle/xbuffer.h"

#include <climits>
#include <tuple>

namespace {

// pos_ + n without wrapping around; the platform's pos clamps to the end.
unsigned forward(unsigned position, unsigned n) {
  return n > UINT_MAX - position ? UINT_MAX : position + n;
}

// The inline members stay exported for programs built against their out-of-line forms.
template <class R, class C, class... A>
constexpr auto member(R (C::*f)(A...)) {
  return f;
}
template <class R, class C, class... A>
constexpr auto member(R (C::*f)(A...) const) {
  return f;
}
[[gnu::used]] constexpr auto kExported = std::make_tuple(
    member<char*, XBuffer>(&XBuffer::at), member<char const*, XBuffer>(&XBuffer::at),
    member<char*, XBuffer, unsigned>(&XBuffer::at),
    member<char const*, XBuffer, unsigned>(&XBuffer::at), &XBuffer::len,
    member<unsigned, XBuffer>(&XBuffer::pos), member<XBuffer&, XBuffer, bool>(&XBuffer::operator<<),
    member<XBuffer&, XBuffer, char>(&XBuffer::operator<<),
    member<XBuffer&, XBuffer, int>(&XBuffer::operator<<),
    member<XBuffer&, XBuffer, unsigned int>(&XBuffer::operator<<),
    member<XBuffer&, XBuffer, unsigned long>(&XBuffer::operator<<),
    member<XBuffer&, XBuffer, long long>(&XBuffer::operator<<),
    member<XBuffer&, XBuffer, unsigned long long>(&XBuffer::operator<<),
    member<XBuffer&, XBuffer, bool&>(&XBuffer::operator>>),
    member<XBuffer&, XBuffer, char&>(&XBuffer::operator>>),
    member<XBuffer&, XBuffer, int&>(&XBuffer::operator>>),
    member<XBuffer&, XBuffer, unsigned int&>(&XBuffer::operator>>),
    member<XBuffer&, XBuffer, unsigned long&>(&XBuffer::operator>>),
    member<XBuffer&, XBuffer, long long&>(&XBuffer::operator>>),
    member<XBuffer&, XBuffer, unsigned long long&>(&XBuffer::operator>>), &XBuffer::getBool,
    &XBuffer::getChar, member<char const*, XBufferC>(&XBufferC::at),
    member<char const*, XBufferC, unsigned>(&XBufferC::at), &XBufferC::len,
    member<unsigned, XBufferC>(&XBufferC::pos),
    member<XBufferC&, XBufferC, bool&>(&XBufferC::operator>>),
    member<XBufferC&, XBufferC, char&>(&XBufferC::operator>>),
    member<XBufferC&, XBufferC, int&>(&XBufferC::operator>>),
    member<XBufferC&, XBufferC, unsigned int&>(&XBufferC::operator>>),
    member<XBufferC&, XBufferC, unsigned long&>(&XBufferC::operator>>),
    member<XBufferC&, XBufferC, long long&>(&XBufferC::operator>>),
    member<XBufferC&, XBufferC, unsigned long long&>(&XBufferC::operator>>), &XBufferC::getBool,
    &XBufferC::getChar);

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

XBuffer& XBuffer::fwd(unsigned n) {
  return pos(forward(pos_, n));
}

// ---- XBufferC ------------------------------------------------------------------------------

XBufferC::XBufferC(unsigned len, void const* bytes)
    : pos_(0), len_(bytes != nullptr ? len : 0), data_(static_cast<char const*>(bytes)) {}

XBufferC::XBufferC(XBuffer const& buffer)
    : pos_(buffer.pos()), len_(buffer.len()), data_(buffer.len() > 0 ? buffer.at(0) : nullptr) {}

XBufferC& XBufferC::fwd(unsigned n) {
  return pos(forward(pos_, n));
}
