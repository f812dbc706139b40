// The platform's part of the serialisation buffers: the operations that move bytes. Every read
// is bounded by the data's length before any byte is touched, whatever counts the bytes claim.
#include <cstdint>
#include <cstring>
#include <cwchar>
#include <functional>
#include <vector>

#include "kestle/alloc.h"
#include "kestle/xbuffer.h"
#include "platform/utf16.h"

namespace {

// Reads count bytes at position from data of len bytes into out: the bytes that exist, zeros for
// the rest. The position ends after the bytes read, at most at the end (a position already past
// the end is first brought back to it).
void readBounded(char const* data, std::uint32_t len, std::uint32_t& position, unsigned count,
                 void* out) {
  std::uint32_t start = position < len ? position : len;
  std::uint32_t available = len - start;
  std::uint32_t n = count < available ? count : available;
  if (n != 0)
    std::memcpy(out, data + start, n);
  if (count > n)
    std::memset(static_cast<char*>(out) + n, 0, count - n);
  position = start + n;
}

// The bytes left after the position (0 when it lies at or past the end).
std::uint32_t remaining(std::uint32_t len, std::uint32_t position) {
  return position < len ? len - position : 0;
}

std::uint32_t readCount(XBufferC& view) {
  return static_cast<std::uint32_t>(view.getInt32());
}

void putUnit(XBuffer& buffer, std::uint32_t unit) {
  unsigned char bytes[2] = {static_cast<unsigned char>(unit),
                            static_cast<unsigned char>(unit >> 8)};
  buffer.add(2, bytes);
}

}  // namespace

// ---- XBuffer -------------------------------------------------------------------------------

XBuffer& XBuffer::add(unsigned count, void const* bytes) {
  if (count == 0 || bytes == nullptr)
    return *this;
  std::uint32_t old = data_.number();
  unsigned long long wanted = static_cast<unsigned long long>(old) + count;

  // The source may lie in this buffer's own storage, which growing can replace: remember where.
  char const* source = static_cast<char const*>(bytes);
  char const* base = data_.pointer(0);
  bool inside = base != nullptr && std::greater_equal<char const*>()(source, base) &&
                std::less<char const*>()(source, base + data_.capacity());
  std::size_t offset = inside ? static_cast<std::size_t>(source - base) : 0;

  // A length of 2^31 or more is refused (and reported) by the array's growth.
  data_.setNumber(wanted > UINT32_MAX ? UINT32_MAX : static_cast<unsigned>(wanted));
  if (data_.number() != wanted)
    return *this;
  if (inside)
    source = data_.pointer(0) + offset;
  std::memmove(data_.pointer(old), source, count);
  return *this;
}

XBuffer& XBuffer::get(unsigned count, void* bytes) {
  readBounded(data_.pointer(0), data_.number(), pos_, count, bytes);
  return *this;
}

int XBuffer::getInt32() {
  std::uint32_t word;
  *this >> word;
  return static_cast<int>(word);
}

XBuffer& XBuffer::pos(unsigned n) {
  pos_ = n < data_.number() ? n : data_.number();
  return *this;
}

XBuffer& XBuffer::addWStr(wchar_t const* text) {
  std::size_t length = text != nullptr ? std::wcslen(text) : 0;
  unsigned long long units = 0;
  for (std::size_t k = 0; k < length; ++k) {
    auto c = static_cast<std::uint32_t>(text[k]);
    units += c > 0xFFFF && c <= 0x10FFFF ? 2 : 1;
  }
  // Reserve the whole string first, so that it goes in completely or (after the growth's
  // report) not at all.
  std::uint32_t old = data_.number();
  unsigned long long total = old + 4 + 2 * units;
  data_.setNumber(total > UINT32_MAX ? UINT32_MAX : static_cast<unsigned>(total));
  if (data_.number() != total)
    return *this;
  data_.setNumber(old);

  *this << static_cast<std::uint32_t>(units);
  for (std::size_t k = 0; k < length; ++k) {
    auto c = static_cast<std::uint32_t>(text[k]);
    if (c > 0x10FFFF) {
      putUnit(*this, 0xFFFD);
    } else if (c > 0xFFFF) {
      c -= 0x10000;
      putUnit(*this, 0xD800 + (c >> 10));
      putUnit(*this, 0xDC00 + (c & 0x3FF));
    } else {
      putUnit(*this, c);
    }
  }
  return *this;
}

XBuffer& XBuffer::addBuffer(XBuffer const& nested) {
  // Copy first: nested may be this buffer, whose storage the count's add can replace.
  XBuffer copy(nested);
  *this << copy.len();
  return add(copy.len(), copy.at(0));
}

// ---- XBufferC ------------------------------------------------------------------------------

XBufferC& XBufferC::get(unsigned count, void* bytes) {
  readBounded(data_, len_, pos_, count, bytes);
  return *this;
}

int XBufferC::getInt32() {
  std::uint32_t word;
  *this >> word;
  return static_cast<int>(word);
}

XBufferC& XBufferC::pos(unsigned n) {
  pos_ = n < len_ ? n : len_;
  return *this;
}

XBufferC& XBufferC::getWStr(WString& text) {
  std::uint32_t units = readCount(*this);
  if (2ull * units > remaining(len_, pos_)) {
    text = L"";
    pos_ = len_;
    return *this;
  }
  // At most one character per unit, bounded by the view's length.
  std::vector<wchar_t, kestle::Allocator<wchar_t>> chars(std::size_t{units} + 1);
  chars[kestle_detail::utf16::decode(data_ + pos_, units, chars.data())] = 0;
  pos_ += 2 * units;
  text = chars.data();
  return *this;
}

XBufferC& XBufferC::operator>>(XBuffer& nested) {
  std::uint32_t count = readCount(*this);
  if (count > remaining(len_, pos_)) {
    nested = XBuffer();
    pos_ = len_;
    return *this;
  }
  // Build the new content aside first: the view may look at nested's own storage.
  XBuffer fresh;
  fresh.add(count, data_ + pos_);
  pos_ += count;
  nested = fresh;
  return *this;
}
