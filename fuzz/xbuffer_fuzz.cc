// Fuzz target: arbitrary bytes read through XBufferC and XBuffer.
//
// The input is both the data and the script: each step takes one byte with getChar and uses it to
// choose the next read on the same view. Every read is checked against an independent decoding
// of the input, positions must stay within the data, strings read must round-trip, and the
// accounted heap must be back where it was at the end. ASan catches any read outside the input.
// Violations trap rather than assert, so that release builds of the replay check them too.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <cwchar>

#include "kestle/kestle.h"

namespace {

void check(bool ok) {
  if (!ok)
    __builtin_trap();
}

// The little-endian value of n bytes at position p of the input, zeros past its end.
unsigned long long expectedAt(uint8_t const* data, size_t size, size_t p, unsigned n) {
  unsigned long long v = 0;
  for (unsigned k = 0; k < n; ++k) {
    if (p + k < size)
      v |= static_cast<unsigned long long>(data[p + k]) << (8 * k);
  }
  return v;
}

void step(XBufferC& v, uint8_t const* data, size_t size, unsigned op) {
  size_t const at = v.pos() < size ? v.pos() : size;
  switch (op % 9) {
    case 0: {
      unsigned long long x = 0;
      v >> x;
      check(x == expectedAt(data, size, at, 8));
      break;
    }
    case 1: {
      int x = 0;
      v >> x;
      check(static_cast<unsigned>(x) == expectedAt(data, size, at, 4));
      break;
    }
    case 2: {
      bool x = false;
      v >> x;
      check(x == (expectedAt(data, size, at, 4) != 0));
      break;
    }
    case 3: {
      WString s(L"x");
      v.getWStr(s);
      unsigned long long units = expectedAt(data, size, at, 4);
      if (at + 4 + 2 * units > size) {
        check(s.length() == 0 && v.pos() == size);
        break;
      }
      check(s.length() <= units && v.pos() == at + 4 + 2 * units);
      XBuffer b;
      b.addWStr(s);
      XBufferC again(b);
      WString back;
      again.getWStr(back);
      check(std::wcscmp(static_cast<wchar_t const*>(s), static_cast<wchar_t const*>(back)) == 0 &&
            again.pos() == again.len());
      break;
    }
    case 4: {
      XBuffer nested;
      nested << 1;
      v >> nested;
      unsigned long long count = expectedAt(data, size, at, 4);
      if (at + 4 + count > size) {
        check(nested.len() == 0 && v.pos() == size);
      } else {
        check(nested.len() == count && nested.pos() == 0 && v.pos() == at + 4 + count);
        check(count == 0 || std::memcmp(nested.at(0), data + at + 4, count) == 0);
      }
      break;
    }
    case 5:
      v.pos(static_cast<unsigned>(expectedAt(data, size, at, 2)));
      break;
    case 6:
      v.fwd(static_cast<unsigned>(expectedAt(data, size, at, 4)));
      break;
    case 7: {
      char c = v.getChar();
      check(at < size ? c == static_cast<char>(data[at]) : c == 0);
      return;  // getChar may go one past the end
    }
    default: {
      char bytes[3];
      v.get(3, bytes);
      for (unsigned k = 0; k < 3; ++k)
        check(static_cast<uint8_t>(bytes[k]) == expectedAt(data, size, at + k, 1));
      break;
    }
  }
  check(v.pos() <= v.len());
}

void run(XBufferC v, uint8_t const* data, size_t size) {
  check(v.len() == size);
  for (unsigned steps = 0; steps < 4096 && v.pos() < v.len(); ++steps)
    step(v, data, size, static_cast<unsigned char>(v.getChar()));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size) {
  if (size > (1u << 20))
    return 0;
  long long held = Heapwick::bytesHeld();
  {
    // Directly over the input, and over an XBuffer holding a copy of it, whose own reads agree.
    run(XBufferC(static_cast<unsigned>(size), data), data, size);
    XBuffer copy;
    copy.add(static_cast<unsigned>(size), data);
    run(XBufferC(copy), data, size);
    XBufferC view(copy);
    while (copy.pos() + 4 <= copy.len())
      check(copy.getInt32() == view.getInt32());
  }
  check(Heapwick::bytesHeld() == held);
  return 0;
}
