// Integer codes: frozen texts, round trips in either letter case, and invalid texts.
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

// From a heap block of exactly the text's size: ASan sees a read past the terminating zero.
int DecodeExact(std::wstring const& text) {
  auto buffer = std::make_unique<wchar_t[]>(text.size() + 1);
  std::wmemcpy(buffer.get(), text.c_str(), text.size() + 1);
  return Coding::Decode(buffer.get());
}

// Codes handed out: where the length changes and the rotation crosses a byte (3, 0x01000080).
TEST(IntegerCode, GoldenCodesNeverChange) {
  int const values[] = {0,         1,       3,     255,      256,      384,
                        32768,     65535,   65536, 16777215, 16777216, 0x01000080,
                        123456789, INT_MAX, -1,    -256,     INT_MIN};
  std::wstring const codes[] = {
      L"9136",       L"6F34",       L"653A",       L"90C9",       L"9336FE",     L"9736FA",
      L"9137FF",     L"6EC902",     L"6F141B36",   L"92E9E4C9",   L"93161B36FE", L"97161B36FA",
      L"5C031C6DBC", L"2EE9E4C944", L"6EE9E4C904", L"6EE91BC903", L"91171B36FF"};
  for (std::size_t i = 0; i < std::size(values); ++i)
    EXPECT_EQ(std::make_pair(CodeOf(values[i]), DecodeExact(codes[i])),
              std::make_pair(codes[i], values[i]));
}

TEST(IntegerCode, RoundTripsInEitherLetterCase) {
  kestle_test::HeapCheck heap;
  std::vector<int> values = {INT_MIN, -65536, -256, -255, -2};
  for (std::uint32_t bit = 0; bit < 32; ++bit)
    for (std::uint32_t v : {(1u << bit) - 1, 1u << bit, (1u << bit) + 1})
      values.push_back(static_cast<int>(v));
  std::mt19937 gen(31);
  for (int i = 0; i < 2000; ++i)
    values.push_back(static_cast<int>(gen()));
  for (int v : values) {
    std::wstring const code = CodeOf(v);
    std::wstring mixed = code;  // lower case in the first digit of each pair
    for (std::size_t k = 0; k < code.size(); k += 2)
      mixed[k] = static_cast<wchar_t>(std::towlower(code[k]));
    ASSERT_EQ(std::make_pair(DecodeExact(code), Coding::Decode(mixed.c_str())),
              std::make_pair(v, v));
  }
}

// Characters after the tenth count only for the even length; any changed character gives zero.
TEST(IntegerCode, InvalidTextsGiveZero) {
  kestle_test::HeapCheck heap;
  std::wstring const ten = CodeOf(-123456);
  std::wstring withZero = CodeOf(70000);
  withZero[5] = L'\0';  // only as long as its part before the zero
  EXPECT_EQ(std::make_tuple(DecodeExact(ten + L"zz"), DecodeExact(ten + std::wstring(1000, L'#')),
                            DecodeExact(ten + L"z"), DecodeExact(ten + std::wstring(1001, L'0')),
                            Coding::Decode(withZero.c_str()), Coding::Decode(nullptr)),
            std::make_tuple(-123456, -123456, 0, 0, 0, 0));
  for (wchar_t const* text : {L"", L"0", L"00", L"AB", L"ABC", L"ABCDE", L"G134", L"6F3", L"6F340"})
    EXPECT_EQ(DecodeExact(text), 0) << text;
  std::wstring others = L"0123456789ABCDEFGg -/:@`\x7F\xFF10";
  others += {static_cast<wchar_t>(0x10030), static_cast<wchar_t>(-1)};
  for (int v : {1, 300, 70000, 20000000, -5}) {
    std::wstring const code = CodeOf(v);
    for (std::size_t pos = 0; pos < code.size(); ++pos) {
      for (wchar_t other : others) {
        std::wstring changed = code;
        changed[pos] = other;
        ASSERT_EQ(DecodeExact(changed), other == code[pos] ? v : 0) << code << " pos " << pos;
      }
    }
    EXPECT_EQ(DecodeExact(code.substr(1)), 0) << "odd length";
  }
}

}  // namespace
