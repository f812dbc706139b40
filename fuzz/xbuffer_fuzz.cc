// Fuzz target: arbitrary bytes read through XBufferC and XBuffer.
//
// The input is both the data and the script: each step takes one byte with getChar and uses it to
// choose the next read (typed values, wide strings, nested buffers, positioning) on the same
// view. Every read is checked against an independent decoding of the input, positions must stay
// within the data, what is read must write back and read again the same, and the accounted heap
// must be back where it was at the end. ASan (fuzz preset) catches any read outside the input.
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

void roundTripString(WString const& s) {
  XBuffer b;
  b.addWStr(s);
  XBufferC v(b);
  WString again;
  v.getWStr(again);
  check(std::wcscmp(static_cast<wchar_t const*>(s), static_cast<wchar_t const*>(again)) == 0);
  check(v.pos() == v.len());
}

void step(XBufferC& v, uint8_t const* data, size_t size, unsigned op) {
  size_t before = v.pos() < size ? v.pos() : size;
  switch (op % 9) {
    case 0: {
      unsigned long long x = 0;
      v >> x;
      check(x == expectedAt(data, size, before, 8));
      XBuffer b;
      b << x;
      check(static_cast<unsigned long long>(XBufferC(b).getInt32() & 0xFFFFFFFFu) ==
            (x & 0xFFFFFFFFu));
      break;
    }
    case 1: {
      int x = 0;
      v >> x;
      check(static_cast<unsigned>(x) == expectedAt(data, size, before, 4));
      break;
    }
    case 2: {
      bool x = false;
      v >> x;
      check(x == (expectedAt(data, size, before, 4) != 0));
      break;
    }
    case 3: {
      WString s(L"x");
      v.getWStr(s);
      unsigned long long units = expectedAt(data, size, before, 4);
      if (before + 4 + 2 * units > size) {
        check(s.length() == 0 && v.pos() == size);
      } else {
        check(s.length() <= units && v.pos() == before + 4 + 2 * units);
        roundTripString(s);
      }
      break;
    }
    case 4: {
      XBuffer nested;
      nested << 1;
      v >> nested;
      unsigned long long count = expectedAt(data, size, before, 4);
      if (before + 4 + count > size) {
        check(nested.len() == 0 && v.pos() == size);
      } else {
        check(nested.len() == count && nested.pos() == 0 && v.pos() == before + 4 + count);
        check(count == 0 || std::memcmp(nested.at(0), data + before + 4, count) == 0);
      }
      break;
    }
    case 5:
      v.pos(static_cast<unsigned>(expectedAt(data, size, before, 2)));
      break;
    case 6:
      v.fwd(static_cast<unsigned>(expectedAt(data, size, before, 4)));
      break;
    case 7: {
      char c = v.getChar();
      check(before < size ? c == static_cast<char>(data[before]) : c == 0);
      break;
    }
    default: {
      char bytes[3];
      v.get(3, bytes);
      for (unsigned k = 0; k < 3; ++k) {
        check(static_cast<uint8_t>(bytes[k]) == expectedAt(data, size, before + k, 1));
      }
      break;
    }
  }
  if (op % 9 != 7)
    check(v.pos() <= v.len());
}

void run(XBufferC v, uint8_t const* data, size_t size) {
  check(v.len() == size);
  for (unsigned steps = 0; steps < 4096 && v.pos() < v.len(); ++steps) {
    auto op = static_cast<unsigned char>(v.getChar());
    step(v, data, size, op);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size) {
  if (size > (1u << 20))
    return 0;
  long long held = Heapwick::bytesHeld();
  {
    // Directly over the input, and over an XBuffer holding a copy of it.
    run(XBufferC(static_cast<unsigned>(size), data), data, size);
    XBuffer copy;
    copy.add(static_cast<unsigned>(size), data);
    check(copy.len() == size);
    run(XBufferC(copy), data, size);
    // XBuffer's own reads agree with the view's.
    XBufferC view(copy);
    while (copy.pos() + 4 <= copy.len())
      check(copy.getInt32() == view.getInt32());
  }
  check(Heapwick::bytesHeld() == held);
  return 0;
}
