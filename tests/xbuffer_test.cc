// Serialisation buffers: the byte encoding, round trips through XBuffer and XBufferC, the
// differences between the two, and reads of truncated or lying data that must stay inside the
// view (ASan checks the last point in the sanitizer builds).
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "kestle/kestle.h"
#include "support/guards.h"

namespace {
using kestle_test::HeapCheck;
using kestle_test::ReportCapture;

std::vector<unsigned char> content(XBuffer const& b) {
  std::vector<unsigned char> out;
  for (unsigned k = 0; k < b.len(); ++k)
    out.push_back(static_cast<unsigned char>(*b.at(k)));
  return out;
}

std::wstring text(WString const& s) {
  return static_cast<wchar_t const*>(s);
}

// Bytes copied into a heap block of exactly their size, so that ASan sees any read beyond them.
struct Exact {
  explicit Exact(std::vector<unsigned char> const& v)
      : size(static_cast<unsigned>(v.size())), bytes(new unsigned char[v.size() + (v.empty())]) {
    if (!v.empty())
      std::memcpy(bytes.get(), v.data(), v.size());
  }
  XBufferC view() const { return XBufferC(size, bytes.get()); }
  unsigned size;
  std::unique_ptr<unsigned char[]> bytes;
};

std::vector<unsigned char> le32(std::uint32_t v) {
  return {static_cast<unsigned char>(v), static_cast<unsigned char>(v >> 8),
          static_cast<unsigned char>(v >> 16), static_cast<unsigned char>(v >> 24)};
}

TEST(XBufferTest, EncodingIsLittleEndianWithFixedWidths) {
  HeapCheck heap;
  XBuffer b;
  EXPECT_EQ(b.len(), 0u);
  EXPECT_EQ(b.pos(), 0u);
  EXPECT_EQ(b.at(), nullptr);

  b << true << false << 'A' << -2 << 0x01020304u << 0xAABBCCDDEEFF0011UL;
  EXPECT_EQ(content(b),
            (std::vector<unsigned char>{
                1,    0,    0, 0, 0, 0, 0,    0, 'A',  0xFE, 0xFF,
                0xFF, 0xFF, 4, 3, 2, 1, 0x11, 0, 0xFF, 0xEE}));  // unsigned long: 4 bytes
  XBuffer w;
  w << -2LL << 0x0102030405060708ULL;
  EXPECT_EQ(content(w), (std::vector<unsigned char>{0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                                                    8, 7, 6, 5, 4, 3, 2, 1}));
  EXPECT_EQ(b.pos(), 0u);  // writing leaves the position alone
}

TEST(XBufferTest, EveryTypedOperatorRoundTripsThroughBothClasses) {
  HeapCheck heap;
  XBuffer b;
  b << true << 'z' << INT_MIN << UINT_MAX << 0x89ABCDEFUL << LLONG_MIN << ULLONG_MAX << false;

  auto check = [](auto& r) {
    bool t = false, f = true;
    char c = 0;
    int i = 0;
    unsigned u = 0;
    unsigned long ul = 0;
    long long ll = 0;
    unsigned long long ull = 0;
    r >> t >> c >> i >> u >> ul >> ll >> ull >> f;
    EXPECT_TRUE(t);
    EXPECT_EQ(c, 'z');
    EXPECT_EQ(i, INT_MIN);
    EXPECT_EQ(u, UINT_MAX);
    EXPECT_EQ(ul, 0x89ABCDEFUL);
    EXPECT_EQ(ll, LLONG_MIN);
    EXPECT_EQ(ull, ULLONG_MAX);
    EXPECT_FALSE(f);
    EXPECT_EQ(r.pos(), r.len());
  };
  XBufferC view(b);
  check(view);
  check(b);

  // Any nonzero 32-bit value reads as true; getBool reads the same.
  XBuffer n;
  n << 0x100 << 0;
  bool v = false;
  XBufferC nv(n);
  nv >> v;
  EXPECT_TRUE(v);
  EXPECT_FALSE(nv.getBool());
  EXPECT_TRUE(n.getBool());
  EXPECT_EQ(n.getInt32(), 0);
}

TEST(XBufferTest, ViewStartsAtTheBufferPositionAndEmptyBufferGivesNull) {
  HeapCheck heap;
  XBuffer empty;
  XBufferC none(empty);
  EXPECT_EQ(none.len(), 0u);
  EXPECT_EQ(none.at(0), nullptr);
  EXPECT_EQ(none.getInt32(), 0);

  XBuffer b;
  b << 'a' << 'b' << 'c' << 'd' << 'e';
  b.pos(3);
  XBufferC view(b);
  EXPECT_EQ(view.pos(), 3u);
  EXPECT_EQ(view.len(), 5u);
  EXPECT_EQ(view.getChar(), 'd');
  EXPECT_EQ(view.at(0), b.at(0));

  XBufferC null(10, nullptr);  // a null pointer views nothing
  EXPECT_EQ(null.len(), 0u);
  EXPECT_EQ(null.getInt32(), 0);
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
  EXPECT_EQ(capture.reports()[0].line, 320u);
  EXPECT_EQ(capture.reports()[0].file, L"array");
  EXPECT_EQ(capture.reports()[0].text1, L"2");
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
}

TEST(XBufferTest, PositioningStopsAtTheEnd) {
  HeapCheck heap;
  XBuffer b;
  b << 1 << 2;
  b.fwd(4);
  EXPECT_EQ(b.getInt32(), 2);
  b.pos(100);
  EXPECT_EQ(b.pos(), 8u);
  b.pos(4).fwd(UINT_MAX);  // would wrap around to 3
  EXPECT_EQ(b.pos(), 8u);

  XBufferC v(b);
  v.pos(2).fwd(UINT_MAX - 1);
  EXPECT_EQ(v.pos(), 8u);
  v.pos(0).fwd(4);
  EXPECT_EQ(v.getInt32(), 2);
}

TEST(XBufferTest, GetPastTheEndGivesZerosForTheMissingBytes) {
  HeapCheck heap;
  Exact three({0x11, 0x22, 0x33});
  XBufferC v = three.view();
  unsigned long long x = ~0ULL;
  v >> x;
  EXPECT_EQ(x, 0x332211u);
  EXPECT_EQ(v.pos(), 3u);
  int i = -1;
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
  std::vector<unsigned char> expected = le32(5);
  for (unsigned unit : {0x41u, 0xE9u, 0xD83Du, 0xDE00u, 0x7Au}) {
    expected.push_back(static_cast<unsigned char>(unit));
    expected.push_back(static_cast<unsigned char>(unit >> 8));
  }
  for (int k = 0; k < 2; ++k)
    for (unsigned char c : le32(0))
      expected.push_back(c);
  EXPECT_EQ(content(b), expected);

  XBufferC v(b);
  WString s(L"old");
  v.getWStr(s);
  EXPECT_EQ(text(s), L"A\u00e9\U0001F600z");
  v.getWStr(s);
  EXPECT_EQ(text(s), L"");
  EXPECT_EQ(v.pos(), 18u);
}

TEST(XBufferTest, UnpairedSurrogatesAndZeroUnitsReadSafely) {
  HeapCheck heap;
  // A lone low surrogate, a high surrogate followed by a plain unit, a high surrogate last.
  std::vector<unsigned char> raw = le32(4);
  for (unsigned unit : {0xDC01u, 0xD801u, 0x41u, 0xD802u}) {
    raw.push_back(static_cast<unsigned char>(unit));
    raw.push_back(static_cast<unsigned char>(unit >> 8));
  }
  for (unsigned char c : le32(3))
    raw.push_back(c);
  for (unsigned unit : {0x42u, 0u, 0x43u}) {
    raw.push_back(static_cast<unsigned char>(unit));
    raw.push_back(static_cast<unsigned char>(unit >> 8));
  }
  raw.push_back(0x5A);
  Exact bytes(raw);
  XBufferC v = bytes.view();
  WString s;
  v.getWStr(s);
  EXPECT_EQ(text(s), (std::wstring{wchar_t(0xDC01), wchar_t(0xD801), L'A', wchar_t(0xD802)}));
  v.getWStr(s);
  EXPECT_EQ(text(s), L"B");  // the text ends at the zero unit, the position after the string
  EXPECT_EQ(v.getChar(), 0x5A);
}

TEST(XBufferTest, TruncatedOrLyingCountsReadAsEmptyAndStopAtTheEnd) {
  HeapCheck heap;
  std::vector<std::vector<unsigned char>> cases;
  cases.push_back({});                 // nothing at all
  cases.push_back({0x05, 0x00});       // half a count
  cases.push_back(le32(1));            // a count without its unit
  cases.push_back(le32(0xFFFFFFFFu));  // 2 * count wraps in 32 bits
  cases.push_back(le32(0x80000001u));  // 2 * count wraps to 2
  auto three = le32(3);
  three.insert(three.end(), {'a', 0});  // short for 3 units and for 3 bytes
  cases.push_back(three);
  for (auto const& raw : cases) {
    Exact bytes(raw);
    XBufferC v = bytes.view();
    WString s(L"old");
    v.getWStr(s);
    EXPECT_EQ(text(s), L"") << raw.size();
    EXPECT_EQ(v.pos(), v.len());

    XBufferC w = bytes.view();
    XBuffer nested;
    nested << 42;
    nested.fwd(2);
    w >> nested;
    EXPECT_EQ(nested.len(), 0u) << raw.size();
    EXPECT_EQ(nested.pos(), 0u);
    EXPECT_EQ(w.pos(), w.len());
  }
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
  WString name;
  XBuffer got;
  got << 1 << 2 << 3;
  v.getWStr(name) >> got;
  EXPECT_EQ(text(name), L"unit");
  EXPECT_EQ(got.len(), 5u);
  EXPECT_EQ(got.pos(), 0u);
  EXPECT_EQ(got.getInt32(), 7);
  EXPECT_EQ(got.getChar(), 'q');
  EXPECT_EQ(v.getInt32(), 99);
  XBuffer copy;
  v >> copy;
  std::vector<unsigned char> whole = content(outer);
  EXPECT_EQ(content(copy), std::vector<unsigned char>(whole.begin(), whole.begin() + 25));

  // Reading a nested buffer out of a view of the target itself.
  XBuffer self;
  self.addBuffer(inner);
  XBufferC sv(self);
  sv >> self;
  EXPECT_EQ(content(self), content(inner));
}

TEST(XBufferTest, CopiesAndSelfAssignmentKeepContentAndPosition) {
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
}

TEST(XBufferTest, AddFromItsOwnStorageSurvivesGrowth) {
  HeapCheck heap;
  XBuffer b;
  for (char c = 'a'; c < 'a' + 16; ++c)
    b << c;  // exactly full: the next add grows
  b.add(16, b.at(0));
  ASSERT_EQ(b.len(), 32u);
  for (unsigned k = 0; k < 32; ++k)
    EXPECT_EQ(*b.at(k), static_cast<char>('a' + k % 16));
}

}  // namespace
