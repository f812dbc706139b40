// String handles and number formatting: the edge cases that callers' texts depend on.
#include <gtest/gtest.h>

#include <string>

#include "kestle/kestle.h"
#include "support/guards.h"

namespace {
using kestle_test::HeapCheck;

std::wstring str(WString const& s) {
  return static_cast<wchar_t const*>(s);
}

TEST(WStringTest, EmptyStringsAnswerEmptyTextNeverNull) {
  HeapCheck heap;
  WString none, fromNull(static_cast<wchar_t const*>(nullptr)), assigned(L"x");
  assigned = static_cast<wchar_t const*>(nullptr);
  for (WString const* s : {&none, &fromNull, &assigned}) {
    ASSERT_NE(static_cast<wchar_t const*>(*s), nullptr);
    EXPECT_EQ(str(*s), L"");
    EXPECT_FALSE(s->filled());
    EXPECT_EQ(s->length(), 0u);
  }
}

TEST(WStringTest, ConstructorsJoinAndNumber) {
  HeapCheck heap;
  EXPECT_EQ(str(WString(L"a", L"bc", L"", L"d", L"ef")), L"abcdef");
  EXPECT_EQ(str(WString(L"a", nullptr, L"c")), L"ac");  // null stands for an absent text
  EXPECT_EQ(str(WString(nullptr, nullptr)), L"");
  EXPECT_EQ(str(WString(L"n=", 0ULL)), L"n=0");
  EXPECT_EQ(str(WString(L"n=", 18446744073709551615ULL)), L"n=18446744073709551615");
  EXPECT_EQ(str(WString(static_cast<wchar_t const*>(nullptr), 120ULL)), L"120");
}

TEST(WStringTest, InsertPutsTextInFrontAndAppendGrows) {
  HeapCheck heap;
  WString message(L"file not found");
  message.ins(L": ");
  message.ins(L"Fio::open");
  EXPECT_EQ(str(message), L"Fio::open: file not found");

  WString grow;
  std::wstring expect;
  for (int i = 0; i < 50; ++i) {  // crosses the inline storage into the heap
    grow += L"ab";
    expect += L"ab";
  }
  EXPECT_EQ(str(grow), expect);
  EXPECT_EQ(grow.length(), 100u);
  WString copy(grow);
  copy += copy;  // appending a string to itself
  EXPECT_EQ(str(copy), expect + expect);
  copy.ins(static_cast<wchar_t const*>(copy));  // inserting a string's own text
  EXPECT_EQ(copy.length(), 400u);
  WString moved(std::move(copy));
  EXPECT_EQ(moved.length(), 400u);
  copy = moved;
  EXPECT_EQ(copy.length(), 400u);
  WString& self = copy;
  copy = self;  // self-assignment keeps the text
  EXPECT_EQ(copy.length(), 400u);
}

TEST(WStringImplTest, ZeroUnitFormsAndStoredLengths) {
  HeapCheck heap;
  WStringImpl b;
  WStringImpl other;
  other += L'x';
  other += L'y';
  other += L'z';
  b = L's';
  b = L'\0';  // assigning the zero unit empties the string
  EXPECT_EQ(b.length(), 0u);
  EXPECT_FALSE(b.filled());
  b += L'\0';  // appending it adds nothing
  EXPECT_EQ(b.length(), 0u);
  b = L'q';
  b += L'r';
  b.ins(L'p');
  EXPECT_EQ(std::wstring(static_cast<wchar_t const*>(b)), L"pqr");
  b.ins(other);
  b += other;
  EXPECT_EQ(std::wstring(static_cast<wchar_t const*>(b)), L"xyzpqrxyz");
  b = other;
  EXPECT_EQ(std::wstring(static_cast<wchar_t const*>(b)), L"xyz");
  // A body holding a single zero unit within its length is not filled.
  wchar_t const zero[1] = {0};
  b.concat(zero, 1);
  EXPECT_EQ(b.length(), 4u);
  b = L'\0';
  b.concat(zero, 1);
  EXPECT_EQ(b.length(), 1u);
  EXPECT_FALSE(b.filled());
}

TEST(PStringTest, NarrowFormsCountZeroCharacters) {
  HeapCheck heap;
  PString p;
  EXPECT_NE(static_cast<char const*>(p), nullptr);
  EXPECT_FALSE(p.filled());
  p = "abc";
  p += 'd';
  p += '\0';  // a zero narrow character is one more character
  EXPECT_EQ(p.length(), 5u);
  p += "ef";
  p.ins("<<");
  EXPECT_EQ(std::string(static_cast<char const*>(p), p.length()), std::string("<<abcd\0ef", 9));
  PString q;
  q = p;  // copies the stored length, embedded zero included
  EXPECT_EQ(q.length(), 9u);
  q += q;
  EXPECT_EQ(q.length(), 18u);
  PString empty;
  q = empty;
  EXPECT_EQ(q.length(), 0u);
  EXPECT_FALSE(q.filled());
}

TEST(FStringTest, NumbersInEveryRadixWidthAndFill) {
  HeapCheck heap;
  EXPECT_EQ(str(FString::numstr(0, 10, 0, L' ')), L"0");
  EXPECT_EQ(str(FString::numstr(255, 16, 0, L' ')), L"FF");
  EXPECT_EQ(str(FString::numstr(10, 16, 2, L'0')), L"0A");
  EXPECT_EQ(str(FString::numstr(5, 2, 0, L' ')), L"101");
  EXPECT_EQ(str(FString::numstr(5, 2, 8, L'0')), L"00000101");
  EXPECT_EQ(str(FString::numstr(35, 36, 0, L' ')), L"Z");
  EXPECT_EQ(str(FString::numstr(~0ULL, 10, 0, L' ')), L"18446744073709551615");
  EXPECT_EQ(str(FString::numstr(~0ULL, 2, 0, L' ')), std::wstring(64, L'1'));
  EXPECT_EQ(str(FString::numstr(123, 10, 2, L'*')), L"123");  // width is a minimum
  EXPECT_EQ(str(FString::numstr(7, 10, 4, L' ')), L"   7");
  EXPECT_EQ(str(FString::signednumstr(-1, 10, 0, L' ')), L"-1");
  EXPECT_EQ(str(FString::signednumstr(-5, 10, 4, L'0')), L"-005");
  EXPECT_EQ(str(FString::signednumstr(-5, 10, 4, L' ')), L"  -5");
  EXPECT_EQ(str(FString::signednumstr(-9223372036854775807LL - 1, 10, 0, L' ')),
            L"-9223372036854775808");
  EXPECT_EQ(str(FString::signednumstr(-255, 16, 0, L' ')), L"-FF");
}

TEST(ErrorDescriptionTest, EveryCodeHasASentence) {
  for (unsigned long code :
       {2ul, 3ul, 4ul, 5ul, 6ul, 8ul, 19ul, 31ul, 32ul, 33ul, 80ul, 87ul, 112ul, 1117ul,
        NoHandleError, ShortWriteError, BackupReadError, BackupFormatError, BackupAborted}) {
    WString text = ErrorDescription::formatMessage(code);
    EXPECT_TRUE(text.filled()) << code;
    EXPECT_EQ(str(text).find(L"Unknown"), std::wstring::npos) << code;
  }
  EXPECT_EQ(str(ErrorDescription::formatMessage(4242)), L"Unknown error 4242");
}

}  // namespace
