// Serialisation buffers: the byte encoding, round trips, and reads that stay inside the view.
#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <tuple>
#include <vector>

#include "kestle/kestle.h"
#include "support/guards.h"

namespace {
using kestle_test::HeapCheck;
using Raw = std::vector<unsigned char>;

Raw content(XBuffer const& b) {
  Raw out;
  for (unsigned k = 0; k < b.len(); ++k)
    out.push_back(static_cast<unsigned char>(*b.at(k)));
  return out;
}

// The next wide string of v, read into a text that held something else before.
std::wstring nextText(XBufferC& v) {
  WString s(L"old");
  v.getWStr(s);
  return static_cast<wchar_t const*>(s);
}

Raw hex(std::string digits) {
  std::erase(digits, ' ');
  Raw out;
  for (std::size_t i = 0; i < digits.size(); i += 2)
    out.push_back(static_cast<unsigned char>(std::stoi(digits.substr(i, 2), nullptr, 16)));
  return out;
}

// The values cross the first storage's end (16 bytes); the last read back is 3 bytes short.
TEST(XBufferTest, EveryTypedOperatorWritesItsFixedWidthAndReadsBackThroughBothClasses) {
  HeapCheck heap;
  XBuffer b;
  EXPECT_EQ(b.at(), nullptr);
  auto const ll = static_cast<long long>(0x8102030405060708ULL);
  b << true << 'A' << -2 << 0x81020304u << 0xAABBCCDDEEFF0011UL << ll << ULLONG_MAX << false
    << 0x100 << 0x100;  // any nonzero 32-bit value reads as true
  EXPECT_EQ(content(b), hex("01000000 41 FEFFFFFF 04030281 1100FFEE 0807060504030281 "
                            "FFFFFFFFFFFFFFFF 00000000 00010000 00010000"));

  auto check = [ll](auto& r) {
    bool t = false, f = true, nonzero = false;
    char c = 0;
    int i = 0;
    unsigned u = 0;
    unsigned long ul = 0;
    long long l = 0;
    unsigned long long ull = 0;
    r >> t >> c >> i >> u >> ul >> l >> ull >> f >> nonzero;
    EXPECT_TRUE(t && !f && nonzero && r.getBool());
    EXPECT_EQ(std::tie(c, i, u, ul, l, ull),
              std::make_tuple('A', -2, 0x81020304u, 0xEEFF0011UL, ll, ULLONG_MAX));
    EXPECT_EQ(r.pos(), r.len());
    r.pos(r.len() - 3);
    unsigned long long x = ~0ULL;
    r >> x;  // zeros for the missing bytes, the position at the end
    EXPECT_EQ(std::make_pair(x, r.pos()), std::make_pair(1ULL, r.len()));
  };
  XBufferC view(b);
  check(view);
  check(b);
}

TEST(XBufferTest, PositionsStopAtTheEndAndAtAndGetCharDifferBetweenTheClasses) {
  HeapCheck heap;
  kestle_test::ReportCapture capture;
  XBuffer empty;
  XBufferC none(empty), null(10, nullptr);  // a null pointer views nothing
  EXPECT_EQ(std::make_tuple(none.at(0) == nullptr, none.len(), none.getInt32(), null.len(),
                            null.getInt32()),
            std::make_tuple(true, 0u, 0, 0u, 0));
  XBuffer b;
  b << 'x' << 'y' << 2;
  b.pos(2);
  XBufferC view(b);  // starts at the buffer's position
  EXPECT_EQ(std::make_tuple(view.pos(), view.len(), view.at(0)), std::make_tuple(2u, 6u, b.at(0)));
  EXPECT_EQ(b.pos(100).pos(), 6u);
  b.pos(4).fwd(UINT_MAX);  // would wrap around to 3
  view.pos(2).fwd(UINT_MAX - 1);
  EXPECT_EQ(std::make_pair(b.pos(), view.pos()), std::make_pair(6u, 6u));
  EXPECT_EQ(std::make_pair(b.pos(0).fwd(2).getInt32(), view.pos(0).fwd(2).getInt32()),
            std::make_pair(2, 2));
  // XBufferC::at does not test; XBuffer::at and getChar do, and getChar reports past the end.
  EXPECT_EQ(std::make_tuple(b.at(6) == nullptr, view.at(6), view.at()),
            std::make_tuple(true, view.at(0) + 6, view.at(0) + 6));
  EXPECT_EQ(b.pos(5).getChar(), 0);  // the last byte leaves the position at the length
  EXPECT_EQ(std::make_pair(b.pos(), b.at() == nullptr), std::make_pair(6u, true));
  EXPECT_EQ(b.getChar(), 0);
  EXPECT_EQ(b.pos(), 7u);  // advanced although the test failed
  int i = 7;
  b >> i;  // beyond the end: zeros, and back to the end
  EXPECT_EQ(std::make_pair(i, b.pos()), std::make_pair(0, 6u));
  EXPECT_EQ(view.pos(6).getChar(), 0);  // past the end: no report, nothing read
  EXPECT_EQ(view.pos(), 7u);
  EXPECT_EQ(capture.lines(),
            std::vector<std::wstring>{
                L"PanicMe 0 array:320 SimpleArrayBase<char,1>::operator [] - 6 - 0 0"});
}

TEST(XBufferTest, WideStringsUseUtf16UnitsAndSurrogatePairs) {
  HeapCheck heap;
  XBuffer b;
  b.addWStr(L"A\u00e9\U0001F600z");
  b.addWStr(L"");
  b.addWStr(nullptr);
  EXPECT_EQ(content(b), hex("05000000 4100 E900 3DD8 00DE 7A00 00000000 00000000"));
  XBufferC v(b);
  EXPECT_EQ(nextText(v), L"A\u00e9\U0001F600z");
  EXPECT_EQ(nextText(v), L"");

  // Unpaired surrogates stay as they are; a zero unit ends the text but not its units.
  Raw const odd = hex("04000000 01DC 01D8 4100 02D8 03000000 4200 0000 4300 5A");
  XBufferC w(static_cast<unsigned>(odd.size()), odd.data());  // ASan sees a read past its end
  EXPECT_EQ(nextText(w), (std::wstring{wchar_t(0xDC01), wchar_t(0xD801), L'A', wchar_t(0xD802)}));
  EXPECT_EQ(nextText(w), L"B");
  EXPECT_EQ(w.getChar(), 0x5A);
}

// A view of the front of longer memory: counts reaching past its end read empty, bytes as zeros.
TEST(XBufferTest, ViewsOfTheFrontOfLongerMemoryStopAtTheirEnd) {
  HeapCheck heap;
  Raw const memory{2, 0, 0, 0, 'a', 0, 'b', 'c'};
  XBufferC text(6, memory.data()), bytes(7, memory.data());
  XBuffer nested;
  nested << 42;
  XBufferC(5, memory.data()) >> nested;
  char got[4] = {1, 1, 1, 1};
  bytes.pos(4).get(4, got);
  EXPECT_EQ(std::make_tuple(nextText(text), nested.len(), Raw(got, got + 4), bytes.pos()),
            std::make_tuple(L"", 0u, Raw{'a', 0, 'b', 0}, 7u));
  EXPECT_EQ(bytes.getChar(), 0);
}

// Nested buffers, copies and adds that take their bytes from the target itself.
TEST(XBufferTest, NestedBuffersCopiesAndAddsFromItselfKeepTheBytes) {
  HeapCheck heap;
  XBuffer inner, outer;
  inner << 7 << 'q';
  outer.addWStr(L"unit");
  outer.addBuffer(inner);
  outer << 99;
  outer.addBuffer(outer);  // itself, as it stood: 4 + 25 bytes
  EXPECT_EQ(outer.len(), 12u + 9u + 4u + 4u + 25u);

  XBufferC v(outer);
  XBuffer got, copy;
  EXPECT_EQ(nextText(v), L"unit");
  EXPECT_EQ((v >> got).getInt32(), 99);
  v >> copy;
  Raw const whole = content(outer);
  EXPECT_EQ(std::make_pair(content(got), content(copy)),
            std::make_pair(content(inner), Raw(whole.begin(), whole.begin() + 25)));

  XBuffer self;  // reading a nested buffer out of a view of the target itself
  self.addBuffer(inner);
  XBufferC sv(self);
  sv >> self;
  EXPECT_EQ(content(self), content(inner));

  XBuffer b, full;
  for (int k = 0; k < 600; ++k)
    b << k;  // 2400 bytes in a 4096-byte block
  b.pos(12);
  XBuffer moved(std::move(b));  // moving copies
  XBuffer& alias = moved;
  moved = alias;  // would be cut down (and lose its bytes) if taken from another buffer
  EXPECT_EQ(std::make_tuple(b.len(), moved.len(), moved.pos()), std::make_tuple(2400u, 2400u, 12u));
  EXPECT_EQ(moved.getInt32(), 3);
  for (char c = 'a'; c < 'a' + 16; ++c)
    full << c;  // exactly full: the next add grows
  full.add(16, full.at(0));
  EXPECT_EQ(std::string(full.at(0), full.len()), "abcdefghijklmnopabcdefghijklmnop");
}

}  // namespace
