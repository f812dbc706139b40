// Integer codes: frozen texts, round trips over boundaries and a large sample in either letter
// case, and every kind of invalid text.
#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <cwctype>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "kestle/kestle.h"
#include "support/guards.h"

namespace {

std::wstring CodeOf(int value) {
  return std::wstring(static_cast<wchar_t const*>(Coding::Encode(value)));
}

// Decodes from a heap block of exactly the text's size, so that a read past the terminating zero
// is caught by the address sanitizer.
int DecodeExact(std::wstring const& text) {
  auto buffer = std::make_unique<wchar_t[]>(text.size() + 1);
  std::wmemcpy(buffer.get(), text.c_str(), text.size() + 1);
  return Coding::Decode(buffer.get());
}

// Codes handed out by the first build: later builds must make and accept the same texts. The
// values sit where the number of significant bytes changes (the code's length follows it) and
// where the rotation of those bytes by their bit count moves a bit across a byte (3 -> 0x0C,
// 0x01000080 -> 0x06000000 with the top bit wrapping round).
TEST(IntegerCode, GoldenCodesNeverChange) {
  std::pair<int, wchar_t const*> const goldens[] = {{0, L"9136"},
                                                    {1, L"6F34"},
                                                    {3, L"653A"},
                                                    {255, L"90C9"},
                                                    {256, L"9336FE"},
                                                    {384, L"9736FA"},
                                                    {32768, L"9137FF"},
                                                    {65535, L"6EC902"},
                                                    {65536, L"6F141B36"},
                                                    {16777215, L"92E9E4C9"},
                                                    {16777216, L"93161B36FE"},
                                                    {0x01000080, L"97161B36FA"},
                                                    {123456789, L"5C031C6DBC"},
                                                    {INT_MAX, L"2EE9E4C944"},
                                                    {-1, L"6EE9E4C904"},
                                                    {-256, L"6EE91BC903"},
                                                    {INT_MIN, L"91171B36FF"}};
  for (auto [value, code] : goldens) {
    EXPECT_EQ(CodeOf(value), code) << value;
    EXPECT_EQ(DecodeExact(code), value) << value;
  }
}

// Boundaries (every power of two and its neighbours), a dense range and a random sample; codes
// use upper-case digits and decode in lower and mixed case too.
TEST(IntegerCode, RoundTripsInEitherLetterCase) {
  kestle_test::HeapCheck heap;
  std::vector<int> values = {INT_MIN, -65536, -256, -255, -2};
  for (int bit = 0; bit < 32; ++bit) {
    std::uint32_t const power = std::uint32_t{1} << bit;
    for (std::uint32_t v : {power - 1, power, power + 1})
      values.push_back(static_cast<int>(v));
  }
  std::mt19937 gen(31);
  for (int i = 0; i < 2000; ++i)
    values.push_back(static_cast<int>(gen()));
  for (int v : values) {
    std::wstring const code = CodeOf(v);
    std::wstring lower = code, mixed = code;
    for (std::size_t k = 0; k < code.size(); ++k) {
      ASSERT_TRUE((code[k] >= L'0' && code[k] <= L'9') || (code[k] >= L'A' && code[k] <= L'F'));
      lower[k] = static_cast<wchar_t>(std::towlower(code[k]));
      mixed[k] = k % 2 ? code[k] : lower[k];
    }
    ASSERT_EQ(DecodeExact(code), v);
    ASSERT_EQ(Coding::Decode(lower.c_str()), v);
    ASSERT_EQ(Coding::Decode(mixed.c_str()), v) << "mixed case";
  }
  for (int v = -70000; v <= 70000; ++v)
    ASSERT_EQ(Coding::Decode(Coding::Encode(v)), v);
}

TEST(IntegerCode, CharactersAfterTheTenthAreIgnoredButCountForParity) {
  std::wstring const code = CodeOf(-123456);
  ASSERT_EQ(code.size(), 10u);
  EXPECT_EQ(DecodeExact(code + L"zz"), -123456);
  EXPECT_EQ(DecodeExact(code + std::wstring(1000, L'#')), -123456);
  EXPECT_EQ(DecodeExact(code + L"z"), 0);
  EXPECT_EQ(DecodeExact(code + std::wstring(1001, L'0')), 0);
}

TEST(IntegerCode, InvalidTextsGiveZero) {
  kestle_test::HeapCheck heap;
  EXPECT_EQ(Coding::Decode(nullptr), 0);
  for (wchar_t const* text : {L"", L"0", L"00", L"AB", L"ABC", L"ABCDE", L"G134", L"6F3", L"6F340"})
    EXPECT_EQ(DecodeExact(text), 0) << text;

  std::wstring others = L"0123456789ABCDEFGg -/:@`\x7F\xFF10";
  others += {static_cast<wchar_t>(0x10030), static_cast<wchar_t>(-1)};
  for (int v : {1, 300, 70000, 20000000, -5}) {
    std::wstring const code = CodeOf(v);
    // Any other digit changes one enciphered byte, which the checksum always catches; any
    // other character is no digit.
    for (std::size_t pos = 0; pos < code.size(); ++pos) {
      for (wchar_t other : others) {
        std::wstring changed = code;
        changed[pos] = other;
        ASSERT_EQ(DecodeExact(changed), other == code[pos] ? v : 0) << code << " pos " << pos;
      }
    }
    EXPECT_EQ(DecodeExact(code.substr(1)), 0) << "odd length";
  }
  // A text cut short at a zero is only as long as its part before the zero.
  std::wstring withZero = CodeOf(70000);
  withZero[5] = L'\0';
  EXPECT_EQ(Coding::Decode(withZero.c_str()), 0);
}

}  // namespace
