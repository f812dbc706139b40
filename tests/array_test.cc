// SimpleArrayBase<char,1>: capacities, insertion and removal, assignment's cut-down rule, and the
// reports after which nothing outside the storage may be touched.
#include <gtest/gtest.h>

#include <string>

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
  b.setNumber(17);
  EXPECT_EQ(b.capacity(), 32u);
  b.setNumber(100);
  EXPECT_EQ(b.capacity(), 128u);
  b.setNumber(3);  // lowering changes only the number
  EXPECT_EQ(b.capacity(), 128u);
  EXPECT_EQ(b.number(), 3u);
  Array c;
  c.setNumber(16);
  EXPECT_EQ(c.capacity(), 16u);

  Array full = sized(16, 16);
  full.add('!');
  EXPECT_EQ(full.capacity(), 32u);
  EXPECT_EQ(full.number(), 17u);
  EXPECT_EQ(bytes(full), "abcdefghijklmnop!");
  // The new capacity follows the size alone, not the old capacity.
  full.setNumber(1000);
  EXPECT_EQ(full.capacity(), 1024u);
  EXPECT_EQ(bytes(full).substr(0, 17), "abcdefghijklmnop!");
}

TEST(ArrayTest, InsertionAtTheEndsAndBeyond) {
  HeapCheck heap;
  Array a = of("bd");
  a.addAt(0, 'a').addAt(2, 'c').addAt(4, 'e').addAt(99, 'f');
  EXPECT_EQ(bytes(a), "abcdef");
  a.add2At(0, '<', '-').add2At(3, '1', '2').add2At(50, '-', '>');
  EXPECT_EQ(bytes(a), "<-a12bcdef->");

  Array g = sized(16, 15);  // add2At across the capacity keeps everything
  g.add2At(1, 'X', 'Y');
  EXPECT_EQ(g.capacity(), 32u);
  EXPECT_EQ(bytes(g), "aXYbcdefghijklmno");
}

TEST(ArrayTest, RemovalKeepsOrderOrMovesTheLast) {
  HeapCheck heap;
  Array a = of("abcdefg");
  a.removeAt(5, 4);  // from > to: nothing
  EXPECT_EQ(bytes(a), "abcdefg");
  a.removeAt(1, 2);
  EXPECT_EQ(bytes(a), "adefg");
  a.removeAt(0);
  EXPECT_EQ(bytes(a), "defg");
  a.removeAt(3);
  EXPECT_EQ(bytes(a), "def");
  a.removeAt(1, 100);  // a range past the end stops at the end
  EXPECT_EQ(bytes(a), "d");
  a.removeAt(5, 9);  // starting past the end: nothing
  EXPECT_EQ(bytes(a), "d");
  a.removeAt(7);  // beyond the end drops the last
  EXPECT_EQ(a.number(), 0u);
  a.removeAt(0);  // an empty array stays empty (its number must not wrap)
  EXPECT_EQ(a.number(), 0u);

  Array f = of("123");
  f.fastRemove(0);
  EXPECT_EQ(bytes(f), "32");
  f.fastRemove(5);
  EXPECT_EQ(bytes(f), "32");
  f.fastRemove(1);
  EXPECT_EQ(bytes(f), "3");
  EXPECT_EQ(f.capacity(), 16u);  // removal never frees
  EXPECT_EQ(f.pointer(f.number()), nullptr);
  f.clear();
  EXPECT_EQ(f.capacity(), 0u);
  EXPECT_EQ(f.number(), 0u);
}

TEST(ArrayTest, AddManyAtInsertsRangesIncludingFromItself) {
  HeapCheck heap;
  Array a = of("abcd");
  Array other = of("0123456789");
  a.addManyAt(2, other, 3, 5);
  EXPECT_EQ(bytes(a), "ab345cd");
  a.addManyAt(7, other, 0, 0);
  EXPECT_EQ(bytes(a), "ab345cd0");
  a.addManyAt(0, other, 6, 5);  // from > to: nothing
  EXPECT_EQ(bytes(a), "ab345cd0");

  // A range lying after the insertion point moves up before it is read.
  Array self = of("abcd");
  self.addManyAt(0, self, 2, 3);
  EXPECT_EQ(bytes(self), "cdabcd");
  // A range straddling the insertion point.
  Array straddle = of("abcdef");
  straddle.addManyAt(3, straddle, 1, 4);
  EXPECT_EQ(bytes(straddle), "abcbcdedef");
  // The whole array into itself across a growth (16 bytes to 32).
  Array grow = sized(16, 16);
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

  Array ten = of("0123456789");
  copy = ten;
  EXPECT_EQ(copy.capacity(), 16u);
  EXPECT_EQ(bytes(copy), "0123456789");

  Array kilo = sized(1024, 1024);
  kilo = ten;  // 1024 is not above the limit
  EXPECT_EQ(kilo.capacity(), 1024u);
  EXPECT_EQ(bytes(kilo), "0123456789");

  Array half = sized(2048, 0);
  half = sized(1024, 1024);  // exactly half: kept
  EXPECT_EQ(half.capacity(), 2048u);
  Array cut = sized(2048, 0);
  cut = sized(1024, 1000);  // below half: cut to the next power of two
  EXPECT_EQ(cut.capacity(), 1024u);
  EXPECT_EQ(cut.number(), 1000u);

  Array empty;
  Array released = sized(2048, 2048);
  released = empty;
  EXPECT_EQ(released.capacity(), 0u);
  EXPECT_EQ(released.number(), 0u);

  Array small = of("xy");
  small = big;  // growth without keeping the old bytes
  EXPECT_EQ(small.capacity(), 4096u);
  EXPECT_EQ(bytes(small), bytes(big));
}

TEST(ArrayTest, SelfAssignmentKeepsTheContent) {
  HeapCheck heap;
  Array a = sized(4096, 10);  // would be cut down if assigned from another array
  std::string before = bytes(a);
  Array& alias = a;
  a = alias;
  EXPECT_EQ(bytes(a), before);
  EXPECT_EQ(a.capacity(), 4096u);
}

TEST(ArrayTest, IndexReportAnswersAHarmlessByte) {
  HeapCheck heap;
  ReportCapture capture;
  Array a = of("abc");
  EXPECT_EQ(a[2], 'c');
  EXPECT_EQ(capture.count(), 0u);

  char& outside = a[3];
  ASSERT_EQ(capture.count(), 1u);
  Platform::Report r = capture.reports()[0];
  EXPECT_EQ(r.op, Platform::Report::Op::PanicMe);
  EXPECT_FALSE(r.flag);
  EXPECT_EQ(r.file, L"array");
  EXPECT_EQ(r.function, L"SimpleArrayBase<char,1>::operator []");
  EXPECT_EQ(r.line, 320u);
  EXPECT_EQ(r.text1, L"3");
  EXPECT_EQ(r.text2, std::nullopt);
  EXPECT_EQ(r.code, 0u);
  // The reference is not into the storage: writing through it changes nothing there.
  EXPECT_TRUE(&outside < a.pointer(0) || &outside >= a.pointer(0) + a.capacity());
  outside = 'Z';
  EXPECT_EQ(bytes(a), "abc");

  Array none;
  none[4000000000u] = 'q';  // no storage at all: still harmless
  EXPECT_EQ(capture.reports()[1].text1, L"4000000000");
}

TEST(ArrayTest, AddManyAtReportsAndChangesNothing) {
  HeapCheck heap;
  ReportCapture capture;
  Array a = of("abcd");
  Array other = of("xyz");
  a.addManyAt(1, other, 1, 3);  // to past other's end
  ASSERT_EQ(capture.count(), 1u);
  EXPECT_EQ(capture.reports()[0].line, 447u);
  EXPECT_EQ(capture.reports()[0].function, L"SimpleArrayBase<char,1>::addManyAt");
  EXPECT_EQ(capture.reports()[0].text1, std::nullopt);
  EXPECT_EQ(bytes(a), "abcd");

  a.addManyAt(5, other, 0, 1);  // insertion point past the end
  ASSERT_EQ(capture.count(), 2u);
  EXPECT_EQ(capture.reports()[1].line, 448u);
  EXPECT_EQ(bytes(a), "abcd");

  a.addManyAt(9, other, 0, 9);  // both wrong: both reported
  ASSERT_EQ(capture.count(), 4u);
  EXPECT_EQ(capture.reports()[2].line, 447u);
  EXPECT_EQ(capture.reports()[3].line, 448u);
  EXPECT_EQ(bytes(a), "abcd");
  EXPECT_EQ(a.capacity(), 16u);
}

TEST(ArrayTest, GrowthTo2GiBIsReportedAndLeavesTheArray) {
  HeapCheck heap;
  ReportCapture capture;
  Array a = of("abc");
  a.setNumber(0x80000000u);
  ASSERT_EQ(capture.count(), 1u);
  Platform::Report r = capture.reports()[0];
  EXPECT_EQ(r.op, Platform::Report::Op::Panic1Value);
  EXPECT_EQ(r.file, L"array");
  EXPECT_EQ(r.function, L"SimpleArrayBase<char,1>::resize");
  EXPECT_EQ(r.line, 801u);
  EXPECT_EQ(r.value, 0x80000000LL);
  EXPECT_EQ(bytes(a), "abc");
  EXPECT_EQ(a.capacity(), 16u);
  a.setNumber(0xFFFFFFFFu);
  EXPECT_EQ(capture.count(), 2u);
  EXPECT_EQ(bytes(a), "abc");
}

}  // namespace
