// String handles and number formatting: the edge cases that callers' texts depend on.
#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <tuple>

#include "kestle/kestle.h"
#include "support/guards.h"

namespace {

std::wstring str(WString const& s) {
  return static_cast<wchar_t const*>(s);
}

TEST(WStringTest, EmptyFormsJoinsInsertsAndAppendsFromItself) {
  kestle_test::HeapCheck heap;
  WString none, fromNull(static_cast<wchar_t const*>(nullptr)), assigned(L"x");
  assigned = static_cast<wchar_t const*>(nullptr);
  for (WString const* s : {&none, &fromNull, &assigned})  // empty text, never null (str throws)
    EXPECT_EQ(std::make_tuple(str(*s), s->filled(), s->length()), std::make_tuple(L"", false, 0u));
  EXPECT_EQ(str(WString(L"a", L"bc", L"", L"d", L"ef")) + L"|" + str(WString(L"a", nullptr, L"c")) +
                L"|" + str(WString(nullptr, nullptr)) + L"|" + str(WString(L"n=", 0ULL)) + L"|" +
                str(WString(L"n=", 18446744073709551615ULL)) + L"|" +
                str(WString(static_cast<wchar_t const*>(nullptr), 120ULL)),
            L"abcdef|ac||n=0|n=18446744073709551615|120");
  WString message(L"file not found");
  message.ins(L": ").ins(L"Fio::open");
  EXPECT_EQ(str(message), L"Fio::open: file not found");
  WString grow;
  for (int i = 0; i < 50; ++i)  // crosses the inline storage into the heap
    grow += L"ab";
  WString copy(grow);
  copy += copy;
  copy.ins(static_cast<wchar_t const*>(copy));
  WString moved(std::move(copy));
  copy = moved;
  WString& self = copy;
  copy = self;
  std::wstring ab;
  for (int i = 0; i < 200; ++i)
    ab += L"ab";
  EXPECT_EQ(std::make_pair(str(grow), str(copy)), std::make_pair(ab.substr(0, 100), ab));
}

// A zero wide unit assigned empties and appended adds nothing; a narrow zero is one character.
TEST(WStringImplTest, ZeroUnitsAndStoredLengths) {
  kestle_test::HeapCheck heap;
  WStringImpl b, other;
  other.concat(L"xyz", 3);
  b = L's';
  b = L'\0';
  b += L'\0';
  EXPECT_EQ(std::make_pair(b.length(), b.filled()), std::make_pair(0u, false));
  b = L'q';
  b += L'r';
  b.ins(L'p');
  b.ins(other);
  b += other;
  EXPECT_EQ(std::wstring(static_cast<wchar_t const*>(b)), L"xyzpqrxyz");
  b = other;  // into the longer block, which still holds "qrxyz" after the zero
  b.concat(L"!", 1);
  EXPECT_EQ(std::wstring(static_cast<wchar_t const*>(b)), L"xyz!");
  wchar_t const zero[1] = {0};
  b.concat(zero, 1);
  EXPECT_EQ(b.length(), 5u);
  b = L'\0';
  b.concat(zero, 1);  // a single zero unit within the length is not filled
  EXPECT_EQ(std::make_pair(b.length(), b.filled()), std::make_pair(1u, false));

  PString p("ab"), q, empty;
  EXPECT_EQ(std::make_pair(static_cast<char const*>(empty) != nullptr, empty.filled()),
            std::make_pair(true, false));
  q = "c";
  p += q;
  p += 'd';
  p += '\0';
  p += "ef";
  p.ins("<<");
  q = p;  // the stored length, embedded zero included
  q += q;
  EXPECT_EQ(std::string(static_cast<char const*>(q), q.length()),
            std::string("<<abcd\0ef<<abcd\0ef", 18));
  q = empty;
  EXPECT_EQ(std::make_pair(q.length(), q.filled()), std::make_pair(0u, false));
}

// Numbers in every radix, width and fill; a sentence for every error code.
TEST(FStringTest, NumbersAndErrorSentences) {
  kestle_test::HeapCheck heap;
  auto u = [](unsigned long long v, unsigned radix, unsigned width, wchar_t fill) {
    return str(FString::numstr(v, radix, width, fill)) + L"|";
  };
  auto s = [](long long v, unsigned radix, unsigned width, wchar_t fill) {
    return str(FString::signednumstr(v, radix, width, fill)) + L"|";
  };
  EXPECT_EQ(
      u(0, 10, 0, L' ') + u(255, 16, 0, L' ') + u(10, 16, 2, L'0') + u(5, 2, 8, L'0') +
          u(35, 36, 0, L' ') + u(~0ULL, 10, 0, L' ') + u(123, 10, 2, L'*') + u(7, 10, 4, L' ') +
          s(-5, 10, 4, L'0') + s(-5, 10, 4, L' ') + s(LLONG_MIN, 10, 0, L' ') +
          s(-255, 16, 0, L' '),
      L"0|FF|0A|00000101|Z|18446744073709551615|123|   7|-005|  -5|-9223372036854775808|-FF|");
  EXPECT_EQ(u(~0ULL, 2, 0, L' '), std::wstring(64, L'1') + L"|");

  for (unsigned long code :
       {2ul, 3ul, 4ul, 5ul, 6ul, 8ul, 19ul, 31ul, 32ul, 33ul, 80ul, 87ul, 112ul, 1117ul,
        NoHandleError, ShortWriteError, BackupReadError, BackupFormatError, BackupAborted}) {
    std::wstring const text = str(ErrorDescription::formatMessage(code));
    EXPECT_TRUE(!text.empty() && text.find(L"Unknown") == std::wstring::npos) << code;
  }
  EXPECT_EQ(str(ErrorDescription::formatMessage(4242)), L"Unknown error 4242");
}

}  // namespace
