// Serialisation buffers: the byte encoding, round trips through XBuffer and XBufferC, the
// differences between the two, and reads of truncated or lying data that must stay inside the
// view (ASan checks the last point in the sanitizer builds).
#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <tuple>
#include <vector>

#include "kestle/kestle.h"
#include "support/guards.h"

namespace {
using kestle_test::HeapCheck;
using kestle_test::ReportCapture;
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

// Builds little-endian bytes: le(4, {a, b})(2, {c}) is a and b in 4 bytes each, then c in 2.
struct le {
  le(unsigned width, std::initializer_list<unsigned long long> values) { (*this)(width, values); }
  le& operator()(unsigned width, std::initializer_list<unsigned long long> values) {
    for (unsigned long long v : values)
      for (unsigned k = 0; k < width; ++k)
        bytes.push_back(static_cast<unsigned char>(v >> (8 * k)));
    return *this;
  }
  Raw bytes;
};

// A view of a vector copied from raw: the copy's block is exactly the bytes' size, so ASan sees
// any read beyond them.
struct Exact {
  explicit Exact(Raw const& raw) : bytes(raw) {}
  XBufferC view() const { return XBufferC(static_cast<unsigned>(bytes.size()), bytes.data()); }
  Raw const bytes;
};

TEST(XBufferTest, EveryTypedOperatorWritesItsFixedWidthAndReadsBackThroughBothClasses) {
  HeapCheck heap;
  XBuffer b;
  EXPECT_EQ(b.at(), nullptr);
  auto const ll = static_cast<long long>(0x8102030405060708ULL);
  b << true << 'A' << -2 << 0x81020304u << 0xAABBCCDDEEFF0011UL << ll << ULLONG_MAX << false
    << 0x100 << 0x100;  // any nonzero 32-bit value reads as true
  // unsigned long: 4 bytes
  EXPECT_EQ(content(b), le(4, {1})(1, {'A'})(4, {0xFFFFFFFE, 0x81020304, 0xEEFF0011})(
                            8, {0x8102030405060708ULL, ~0ULL})(4, {0, 0x100, 0x100})
                            .bytes);
  EXPECT_EQ(b.pos(), 0u);  // writing leaves the position alone

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
  };
  XBufferC view(b);
  check(view);
  check(b);
}

TEST(XBufferTest, ViewsStartAtTheBufferPositionAndPositionsStopAtTheEnd) {
  HeapCheck heap;
  XBuffer empty;
  XBufferC none(empty), null(10, nullptr);  // a null pointer views nothing
  EXPECT_EQ(none.at(0), nullptr);
  for (XBufferC* v : {&none, &null}) {
    EXPECT_EQ(v->len(), 0u);
    EXPECT_EQ(v->getInt32(), 0);
  }

  XBuffer b;
  b << 1 << 2;
  b.pos(4);
  XBufferC view(b);
  EXPECT_EQ(view.pos(), 4u);
  EXPECT_EQ(view.len(), 8u);
  EXPECT_EQ(view.at(0), b.at(0));
  EXPECT_EQ(view.getInt32(), 2);

  b.pos(100);
  EXPECT_EQ(b.pos(), 8u);
  b.pos(4).fwd(UINT_MAX);  // would wrap around to 3
  EXPECT_EQ(b.pos(), 8u);
  view.pos(2).fwd(UINT_MAX - 1);
  EXPECT_EQ(view.pos(), 8u);
  b.pos(0).fwd(4);
  view.pos(0).fwd(4);
  EXPECT_EQ(std::make_pair(b.getInt32(), view.getInt32()), std::make_pair(2, 2));
}

TEST(XBufferTest, AtAndGetCharDifferBetweenTheClasses) {
  HeapCheck heap;
  ReportCapture capture;
  XBuffer b;
  b << 'x' << 'y';
  XBufferC view(b);
  EXPECT_EQ(b.at(2), nullptr);
  EXPECT_EQ(view.at(2), view.at(0) + 2);  // no test
  EXPECT_EQ(view.at(), view.at(0));

  EXPECT_EQ(b.getChar(), 'x');
  EXPECT_EQ(b.getChar(), 'y');
  EXPECT_EQ(b.pos(), 2u);  // the last byte leaves the position at the length
  EXPECT_EQ(b.at(), nullptr);
  EXPECT_EQ(capture.count(), 0u);
  EXPECT_EQ(b.getChar(), 0);
  ASSERT_EQ(capture.count(), 1u);
  Platform::Report const r = capture.reports()[0];
  EXPECT_EQ(std::tie(r.file, r.line, r.text1), std::make_tuple(L"array", 320u, L"2"));
  EXPECT_EQ(b.pos(), 3u);  // advanced although the test failed

  view.pos(1);
  EXPECT_EQ(view.getChar(), 'y');
  EXPECT_EQ(view.getChar(), 0);  // past the end: no report, nothing read
  EXPECT_EQ(view.pos(), 3u);
  EXPECT_EQ(capture.count(), 1u);

  // After getChar ran past the end, typed reads give zeros and come back to the end.
  int i = 7;
  b >> i;
  EXPECT_EQ(i, 0);
  EXPECT_EQ(b.pos(), 2u);

  Exact three({0x11, 0x22, 0x33});  // a get past the end gives zeros for the missing bytes
  XBufferC v = three.view();
  unsigned long long x = ~0ULL;
  v >> x;
  EXPECT_EQ(x, 0x332211u);
  v >> i;
  EXPECT_EQ(i, 0);
  EXPECT_EQ(v.pos(), 3u);
}

TEST(XBufferTest, WideStringsUseUtf16UnitsAndSurrogatePairs) {
  HeapCheck heap;
  XBuffer b;
  b.addWStr(L"A\u00e9\U0001F600z");
  b.addWStr(L"");
  b.addWStr(nullptr);
  EXPECT_EQ(content(b), le(4, {5})(2, {0x41, 0xE9, 0xD83D, 0xDE00, 0x7A})(4, {0, 0}).bytes);
  XBufferC v(b);
  EXPECT_EQ(nextText(v), L"A\u00e9\U0001F600z");
  EXPECT_EQ(nextText(v), L"");
  EXPECT_EQ(v.pos(), 18u);

  // A lone low surrogate, a high surrogate before a plain unit, a high surrogate last; then a
  // text that ends at its zero unit, the position going on after the whole string.
  Exact odd(
      le(4, {4})(2, {0xDC01, 0xD801, 0x41, 0xD802})(4, {3})(2, {0x42, 0, 0x43})(1, {0x5A}).bytes);
  XBufferC w = odd.view();
  EXPECT_EQ(nextText(w), (std::wstring{wchar_t(0xDC01), wchar_t(0xD801), L'A', wchar_t(0xD802)}));
  EXPECT_EQ(nextText(w), L"B");
  EXPECT_EQ(w.getChar(), 0x5A);
}

TEST(XBufferTest, TruncatedOrLyingCountsReadAsEmptyAndStopAtTheEnd) {
  HeapCheck heap;
  Raw cases[] = {
      {},                        // nothing at all
      {0x05, 0x00},              // half a count
      {1, 0, 0, 0},              // a count without its unit
      {0xFF, 0xFF, 0xFF, 0xFF},  // 2 * count wraps in 32 bits
      {1, 0, 0, 0x80},           // 2 * count wraps to 2
      {3, 0, 0, 0, 'a', 0},      // short for 3 units and for 3 bytes
  };
  for (auto const& raw : cases) {
    Exact bytes(raw);
    XBufferC v = bytes.view(), w = bytes.view();
    EXPECT_EQ(nextText(v), L"") << raw.size();
    EXPECT_EQ(v.pos(), v.len());
    XBuffer nested;
    nested << 42;
    nested.fwd(2);
    w >> nested;
    EXPECT_EQ(nested.len(), 0u) << raw.size();
    EXPECT_EQ(nested.pos(), 0u);
    EXPECT_EQ(w.pos(), w.len());
  }
}

// Views of the front of longer memory: nothing beyond a view's end may show, though bytes lie
// there. A count of 2 is two units or two bytes; each view holds less.
TEST(XBufferTest, ReadsOfAViewNeverReachPastItsEnd) {
  Raw const memory{2, 0, 0, 0, 'a', 0, 'b', 'c'};
  XBufferC text(6, memory.data()), bytes(7, memory.data());
  EXPECT_EQ(nextText(text), L"");
  XBuffer nested;
  XBufferC(5, memory.data()) >> nested;
  EXPECT_EQ(nested.len(), 0u);
  char got[4] = {1, 1, 1, 1};
  bytes.pos(4).get(4, got);
  EXPECT_EQ(Raw(got, got + 4), (Raw{'a', 0, 'b', 0}));
  EXPECT_EQ(bytes.pos(), 7u);
  EXPECT_EQ(bytes.getChar(), 0);
}

TEST(XBufferTest, NestedBuffersRoundTripAndReplaceTheTarget) {
  HeapCheck heap;
  XBuffer inner;
  inner << 7 << 'q';
  XBuffer outer;
  outer.addWStr(L"unit");
  outer.addBuffer(inner);
  outer << 99;
  outer.addBuffer(outer);  // itself, as it stood: 4 + 13 + 4 bytes
  EXPECT_EQ(outer.len(), 12u + 9u + 4u + 4u + 25u);

  XBufferC v(outer);
  XBuffer got, copy;
  got << 1 << 2 << 3;
  EXPECT_EQ(nextText(v), L"unit");
  v >> got;
  EXPECT_EQ(content(got), content(inner));
  EXPECT_EQ(got.pos(), 0u);
  EXPECT_EQ(v.getInt32(), 99);
  v >> copy;
  Raw whole = content(outer);
  EXPECT_EQ(content(copy), Raw(whole.begin(), whole.begin() + 25));

  XBuffer self;  // reading a nested buffer out of a view of the target itself
  self.addBuffer(inner);
  XBufferC sv(self);
  sv >> self;
  EXPECT_EQ(content(self), content(inner));
}

TEST(XBufferTest, CopiesSelfAssignmentAndAddsFromItselfKeepTheBytes) {
  HeapCheck heap;
  XBuffer b;
  for (int k = 0; k < 600; ++k)
    b << k;  // 2400 bytes in a 4096-byte block
  b.pos(12);
  XBuffer moved(std::move(b));  // moving copies
  EXPECT_EQ(b.len(), 2400u);
  XBuffer& alias = moved;
  moved = alias;  // would be cut down (and lose its bytes) if taken from another buffer
  EXPECT_EQ(moved.len(), 2400u);
  EXPECT_EQ(moved.pos(), 12u);
  EXPECT_EQ(moved.getInt32(), 3);

  XBuffer full;
  for (char c = 'a'; c < 'a' + 16; ++c)
    full << c;  // exactly full: the next add grows
  full.add(16, full.at(0));
  ASSERT_EQ(full.len(), 32u);
  for (unsigned k = 0; k < 32; ++k)
    EXPECT_EQ(*full.at(k), static_cast<char>('a' + k % 16));
}

}  // namespace
