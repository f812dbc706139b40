// SimpleArrayBase<char,1>: capacities, insertion and removal, assignment's cut-down rule, and the
// reports after which nothing outside the storage may be touched.
#include <gtest/gtest.h>

#include <string>
#include <tuple>

#include "kestle/kestle.h"
#include "support/guards.h"

namespace {
using Array = SimpleArrayBase<char, 1>;
using kestle_test::HeapCheck;
using kestle_test::ReportCapture;

std::string bytes(Array const& a) {
  std::string s;
  for (unsigned k = 0; k < a.number(); ++k)
    s.push_back(a.subscriptor(k));
  return s;
}

Array of(std::string const& s) {
  Array a;
  for (char c : s)
    a.add(c);
  return a;
}

Array sized(unsigned capacity, unsigned number) {
  Array a;
  a.setNumber(capacity);
  for (unsigned k = 0; k < capacity; ++k)
    a.subscriptor(k) = static_cast<char>('a' + k % 26);
  a.setNumber(number);
  return a;
}

TEST(ArrayTest, CapacityGrowsTo16ThenToThePowerOfTwoOfTheSize) {
  HeapCheck heap;
  Array a;
  EXPECT_EQ(a.capacity(), 0u);
  EXPECT_EQ(a.pointer(0), nullptr);
  a.add('x');
  EXPECT_EQ(a.capacity(), 16u);

  Array b;
  for (auto [number, capacity] : {std::pair{16u, 16u}, {17u, 32u}, {100u, 128u}, {3u, 128u}}) {
    b.setNumber(number);  // lowering changes only the number
    EXPECT_EQ(b.capacity(), capacity) << number;
    EXPECT_EQ(b.number(), number);
  }

  Array full = sized(16, 16);
  EXPECT_EQ(bytes(full.add('!')), "abcdefghijklmnop!");
  EXPECT_EQ(full.capacity(), 32u);
  // The new capacity follows the size alone, not the old capacity.
  EXPECT_EQ(full.setNumber(1000).capacity(), 1024u);
  EXPECT_EQ(bytes(full).substr(0, 17), "abcdefghijklmnop!");
}

TEST(ArrayTest, InsertionAndRemovalAtTheEndsAndBeyond) {
  HeapCheck heap;
  Array a = of("bd");
  a.addAt(0, 'a').addAt(2, 'c').addAt(4, 'e').addAt(99, 'f');
  EXPECT_EQ(bytes(a), "abcdef");
  a.add2At(0, '<', '-').add2At(3, '1', '2').add2At(50, '-', '>');
  EXPECT_EQ(bytes(a), "<-a12bcdef->");
  Array g = sized(16, 15);  // add2At across the capacity keeps everything
  EXPECT_EQ(bytes(g.add2At(1, 'X', 'Y')), "aXYbcdefghijklmno");
  EXPECT_EQ(g.capacity(), 32u);

  Array r = of("abcdefg");
  EXPECT_EQ(bytes(r.removeAt(5, 4)), "abcdefg");  // from > to: nothing
  EXPECT_EQ(bytes(r.removeAt(1, 2)), "adefg");
  Array full = sized(16, 16);  // moving the tail of a full block reads nothing past it (ASan)
  EXPECT_EQ(bytes(full.removeAt(2, 13)), "abop");
  EXPECT_EQ(bytes(r.removeAt(0)), "defg");
  EXPECT_EQ(bytes(r.removeAt(3)), "def");
  EXPECT_EQ(bytes(r.removeAt(1, 100)), "d");  // a range past the end stops at the end
  EXPECT_EQ(bytes(r.removeAt(5, 9)), "d");    // starting past the end: nothing
  EXPECT_EQ(bytes(r.removeAt(7)), "");        // a single index beyond the end drops the last
  EXPECT_EQ(r.removeAt(0).number(), 0u);      // an empty array stays empty (no wrap)
  Array f = of("123");
  EXPECT_EQ(bytes(f.fastRemove(0)), "32");
  EXPECT_EQ(bytes(f.fastRemove(5)), "32");
  EXPECT_EQ(bytes(f.fastRemove(1)), "3");
  EXPECT_EQ(f.capacity(), 16u);  // removal never frees
  EXPECT_EQ(f.pointer(f.number()), nullptr);
  EXPECT_EQ(f.clear().capacity(), 0u);
  EXPECT_EQ(f.number(), 0u);
}

TEST(ArrayTest, AddManyAtInsertsRangesIncludingFromItself) {
  HeapCheck heap;
  Array a = of("abcd");
  Array other = of("0123456789");
  a.addManyAt(2, other, 3, 5);
  a.addManyAt(7, other, 0, 0);
  a.addManyAt(0, other, 6, 5);  // from > to: nothing
  EXPECT_EQ(bytes(a), "ab345cd0");

  Array self = of("abcd");  // a range after the insertion point moves up before it is read
  EXPECT_EQ(bytes(self.addManyAt(0, self, 2, 3)), "cdabcd");
  Array straddle = of("abcdef");
  EXPECT_EQ(bytes(straddle.addManyAt(3, straddle, 1, 4)), "abcbcdedef");
  Array grow = sized(16, 16);  // the whole array into itself across a growth
  std::string before = bytes(grow);
  grow.addManyAt(8, grow, 0, 15);
  EXPECT_EQ(bytes(grow), before.substr(0, 8) + before + before.substr(8));
  EXPECT_EQ(grow.capacity(), 32u);
}

TEST(ArrayTest, CopyKeepsCapacityAndAssignmentCutsDownLargeBlocks) {
  HeapCheck heap;
  Array big = sized(4096, 4000);
  Array copy(big);
  EXPECT_EQ(copy.capacity(), 4096u);
  EXPECT_EQ(bytes(copy), bytes(big));

  struct Case {
    unsigned targetCapacity, sourceCapacity, sourceNumber, capacity;
  } const cases[] = {
      {4096, 16, 10, 16},        // cut down to what the content needs
      {1024, 16, 10, 1024},      // 1024 is not above the limit
      {2048, 1024, 1024, 2048},  // exactly half: kept
      {2048, 1024, 1000, 1024},  // below half: the next power of two
      {2048, 0, 0, 0},           // an empty source releases
      {16, 4096, 4000, 4096},    // growth
  };
  for (auto const& c : cases) {
    Array target = sized(c.targetCapacity, c.targetCapacity / 2);
    Array source = sized(c.sourceCapacity, c.sourceNumber);
    target = source;
    EXPECT_EQ(target.capacity(), c.capacity) << c.targetCapacity << " " << c.sourceNumber;
    EXPECT_EQ(bytes(target), bytes(source));
  }

  Array a = sized(4096, 10);  // would be cut down if assigned from another array
  Array& alias = a;
  a = alias;
  EXPECT_EQ(bytes(a), "abcdefghij");
  EXPECT_EQ(a.capacity(), 4096u);
}

// After each report nothing outside the storage is touched and the array is unchanged.
TEST(ArrayTest, ReportsLeaveTheArrayUntouched) {
  HeapCheck heap;
  ReportCapture capture;
  Array a = of("abcd");
  EXPECT_EQ(a[3], 'd');
  EXPECT_EQ(capture.count(), 0u);
  char& outside = a[4];
  // The reference is not into the storage: writing through it changes nothing there.
  EXPECT_TRUE(&outside < a.pointer(0) || &outside >= a.pointer(0) + a.capacity());
  outside = 'Z';
  Array none;
  none[4000000000u] = 'q';  // no storage at all: still harmless

  Array other = of("xyz");
  a.addManyAt(1, other, 1, 3);  // to past other's end
  a.addManyAt(5, other, 0, 1);  // insertion point past the end
  a.addManyAt(9, other, 0, 9);  // both wrong: both reported
  a.setNumber(0x80000000u);
  a.setNumber(0xFFFFFFFFu);
  EXPECT_EQ(bytes(a), "abcd");
  EXPECT_EQ(a.capacity(), 16u);

  using Op = Platform::Report::Op;
  auto const r = capture.reports();
  ASSERT_EQ(r.size(), 8u);
  for (unsigned k : {0u, 1u}) {
    EXPECT_EQ(
        std::tie(r[k].op, r[k].flag, r[k].file, r[k].function, r[k].line, r[k].text2, r[k].code),
        std::make_tuple(Op::PanicMe, false, L"array", L"SimpleArrayBase<char,1>::operator []", 320u,
                        std::nullopt, 0ul));
  }
  EXPECT_EQ(r[0].text1, L"4");
  EXPECT_EQ(r[1].text1, L"4000000000");
  unsigned const lines[] = {447, 448, 447, 448};
  for (unsigned k = 2; k < 6; ++k) {
    EXPECT_EQ(std::tie(r[k].op, r[k].function, r[k].line, r[k].text1),
              std::make_tuple(Op::PanicMe, L"SimpleArrayBase<char,1>::addManyAt", lines[k - 2],
                              std::nullopt));
  }
  for (unsigned k : {6u, 7u}) {
    EXPECT_EQ(std::tie(r[k].op, r[k].file, r[k].function, r[k].line),
              std::make_tuple(Op::Panic1Value, L"array", L"SimpleArrayBase<char,1>::resize", 801u));
  }
  EXPECT_EQ(r[6].value, 0x80000000LL);
}

}  // namespace
