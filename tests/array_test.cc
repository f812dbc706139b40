// SimpleArrayBase<char,1>: capacities, insertion and removal, assignment's cut-down rule, reports.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "kestle/kestle.h"
#include "support/guards.h"

namespace {
using Array = SimpleArrayBase<char, 1>;
using kestle_test::HeapCheck;

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

// Capacity grows to 16, then to the size's power of two; copies keep it, assignment cuts it down.
TEST(ArrayTest, CapacityFollowsPowersOfTwoAndAssignmentCutsDownLargeBlocks) {
  HeapCheck heap;
  Array a;
  EXPECT_EQ(std::make_pair(a.capacity(), a.pointer(0) == nullptr), std::make_pair(0u, true));
  EXPECT_EQ(a.add('x').capacity(), 16u);
  for (auto [number, capacity] : {std::pair{16u, 16u}, {17u, 32u}, {100u, 128u}, {3u, 128u}})
    EXPECT_EQ(a.setNumber(number).capacity(), capacity) << number;  // lowering keeps the capacity
  Array full = sized(16, 16);
  EXPECT_EQ(bytes(full.add('!')), "abcdefghijklmnop!");
  EXPECT_EQ(full.capacity(), 32u);
  EXPECT_EQ(full.setNumber(1000).capacity(), 1024u);  // follows the size, not the old capacity
  EXPECT_EQ(bytes(full).substr(0, 17), "abcdefghijklmnop!");

  Array big = sized(4096, 4000);
  Array copy(big);
  EXPECT_EQ(std::make_pair(copy.capacity(), bytes(copy)), std::make_pair(4096u, bytes(big)));
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
    EXPECT_EQ(std::make_pair(target.capacity(), bytes(target)),
              std::make_pair(c.capacity, bytes(source)))
        << c.targetCapacity << " " << c.sourceNumber;
  }
  Array kept = sized(4096, 10);  // would be cut down if assigned from another array
  Array& alias = kept;
  kept = alias;
  EXPECT_EQ(std::make_pair(kept.capacity(), bytes(kept)),
            std::make_pair(4096u, std::string("abcdefghij")));
}

TEST(ArrayTest, InsertionAndRemovalAtTheEndsBeyondAndFromItself) {
  HeapCheck heap;
  Array a = of("bd");
  a.addAt(0, 'a').addAt(2, 'c').addAt(4, 'e').addAt(99, 'f');
  EXPECT_EQ(bytes(a.add2At(0, '<', '-').add2At(5, '1', '2').add2At(50, '-', '>')), "<-abc12def->");
  Array g = sized(16, 15);  // add2At across the capacity keeps everything
  EXPECT_EQ(bytes(g.add2At(1, 'X', 'Y')), "aXYbcdefghijklmno");
  EXPECT_EQ(g.capacity(), 32u);
  Array full = sized(16, 16);  // moving the tail of a full block reads nothing past it (ASan)
  EXPECT_EQ(bytes(full.removeAt(2, 13)), "abop");

  Array r = of("abcdefg");
  // from > to, range, first, last, past the end, from past it, one beyond (drops the last), empty.
  std::pair<unsigned, unsigned> const removals[] = {{5, 4},   {1, 2}, {0, 0}, {3, 3},
                                                    {1, 100}, {5, 9}, {7, 7}, {0, 0}};
  std::string got;
  for (auto [from, to] : removals)
    got += bytes(from == to ? r.removeAt(from) : r.removeAt(from, to)) + "|";
  EXPECT_EQ(got, "abcdefg|adefg|defg|def|d|d|||");
  Array f = of("123");
  std::string removed;
  for (unsigned at : {0u, 5u, 1u})
    removed += bytes(f.fastRemove(at)) + "|";
  EXPECT_EQ(removed, "32|32|3|");
  EXPECT_EQ(std::make_pair(f.capacity(), f.pointer(f.number()) == nullptr),
            std::make_pair(16u, true));
  EXPECT_EQ(f.clear().capacity(), 0u);
  EXPECT_EQ(f.number(), 0u);

  Array many = of("abcd"), other = of("0123456789");
  many.addManyAt(2, other, 3, 5).addManyAt(7, other, 0, 0).addManyAt(0, other, 6, 5);
  EXPECT_EQ(bytes(many), "ab345cd0");
  Array self = of("abcd");  // a range after the insertion point moves up before it is read
  EXPECT_EQ(bytes(self.addManyAt(0, self, 2, 3)), "cdabcd");
  Array straddle = of("abcdef");
  EXPECT_EQ(bytes(straddle.addManyAt(3, straddle, 1, 4)), "abcbcdedef");
  Array grow = sized(16, 16);  // the whole array into itself across a growth
  std::string const before = bytes(grow);
  EXPECT_EQ(bytes(grow.addManyAt(8, grow, 0, 15)), before.substr(0, 8) + before + before.substr(8));
  EXPECT_EQ(grow.capacity(), 32u);
}

// After each report nothing outside the storage is touched and the array is unchanged.
TEST(ArrayTest, ReportsLeaveTheArrayUntouched) {
  HeapCheck heap;
  kestle_test::ReportCapture capture;
  Array a = of("abcd");
  EXPECT_EQ(a[3], 'd');  // in range: no report
  char& outside = a[4];
  EXPECT_TRUE(&outside < a.pointer(0) || &outside >= a.pointer(0) + a.capacity());
  outside = 'Z';
  Array none;
  none[4000000000u] = 'q';  // no storage at all: still harmless
  Array other = of("xyz");
  a.addManyAt(1, other, 1, 3).addManyAt(5, other, 0, 1).addManyAt(9, other, 0, 9);
  a.setNumber(0x80000000u).setNumber(0xFFFFFFFFu);
  EXPECT_EQ(std::make_pair(a.capacity(), bytes(a)), std::make_pair(16u, std::string("abcd")));

  std::wstring const index = L"PanicMe 0 array:320 SimpleArrayBase<char,1>::operator [] - ";
  std::wstring const many = L" SimpleArrayBase<char,1>::addManyAt - - - 0 0";
  std::wstring const resize = L"Panic1Value 0 array:801 SimpleArrayBase<char,1>::resize - - - 0 ";
  EXPECT_EQ(capture.lines(),
            (std::vector<std::wstring>{index + L"4 - 0 0", index + L"4000000000 - 0 0",
                                       L"PanicMe 0 array:447" + many, L"PanicMe 0 array:448" + many,
                                       L"PanicMe 0 array:447" + many, L"PanicMe 0 array:448" + many,
                                       resize + L"2147483648", resize + L"4294967295"}));
}

}  // namespace
