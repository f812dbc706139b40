// Integer codes: their length and frozen text, the bit rotation before enciphering, round trips
// over boundaries and a large sample, letter case, and every kind of invalid text.
#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <cstring>
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

// The bytes a code stands for before enciphering: its hexadecimal pairs, deciphered under key 0.
std::vector<std::uint8_t> PlainBytesOf(std::wstring const& code) {
  std::vector<char> enciphered;
  for (std::size_t i = 0; i + 1 < code.size(); i += 2) {
    enciphered.push_back(static_cast<char>(std::stoi(code.substr(i, 2), nullptr, 16)));
  }
  std::vector<char> plain(enciphered.size() - 1);
  EXPECT_TRUE(
      Coding::Decode(enciphered.data(), plain.data(), static_cast<unsigned>(plain.size()), 0));
  return std::vector<std::uint8_t>(plain.begin(), plain.end());
}

std::wstring Lower(std::wstring text) {
  for (auto& c : text)
    c = static_cast<wchar_t>(std::towlower(c));
  return text;
}

std::vector<int> BoundaryValues() {
  std::vector<int> values = {0,       1,     2,     127,   128,   255,      256,      257,
                             384,     32767, 32768, 65535, 65536, 16777215, 16777216, INT_MAX,
                             INT_MIN, -1,    -2,    -255,  -256,  -65536};
  for (int bit = 0; bit < 32; ++bit) {
    std::uint32_t const power = std::uint32_t{1} << bit;
    for (std::uint32_t v : {power - 1, power, power + 1})
      values.push_back(static_cast<int>(v));
  }
  return values;
}

TEST(IntegerCode, LengthFollowsTheSignificantBytes) {
  struct Case {
    int value;
    std::size_t length;
  };
  for (auto const& c : {Case{0, 4}, Case{1, 4}, Case{255, 4}, Case{256, 6}, Case{65535, 6},
                        Case{65536, 8}, Case{16777215, 8}, Case{16777216, 10}, Case{INT_MAX, 10},
                        Case{-1, 10}, Case{INT_MIN, 10}, Case{-256, 10}}) {
    EXPECT_EQ(CodeOf(c.value).size(), c.length) << c.value;
  }
}

// Codes handed out by the first build; later builds must make and accept the same texts.
TEST(IntegerCode, GoldenCodesNeverChange) {
  struct Golden {
    int value;
    wchar_t const* code;
  };
  for (auto const& g : {Golden{0, L"9136"}, Golden{1, L"6F34"}, Golden{255, L"90C9"},
                        Golden{256, L"9336FE"}, Golden{123456789, L"5C031C6DBC"},
                        Golden{-1, L"6EE9E4C904"}, Golden{INT_MIN, L"91171B36FF"}}) {
    EXPECT_EQ(CodeOf(g.value), g.code) << g.value;
    EXPECT_EQ(DecodeExact(g.code), g.value) << g.value;
  }
}

// Each value's significant bytes are rotated left by their bit count before enciphering.
TEST(IntegerCode, BytesAreRotatedByTheirBitCount) {
  using Bytes = std::vector<std::uint8_t>;
  EXPECT_EQ(PlainBytesOf(CodeOf(1)), (Bytes{0x02}));
  EXPECT_EQ(PlainBytesOf(CodeOf(256)), (Bytes{0x00, 0x02}));
  EXPECT_EQ(PlainBytesOf(CodeOf(384)), (Bytes{0x00, 0x06}));
  EXPECT_EQ(PlainBytesOf(CodeOf(32768)), (Bytes{0x01, 0x00}));
  EXPECT_EQ(PlainBytesOf(CodeOf(0)), (Bytes{0x00}));
  EXPECT_EQ(PlainBytesOf(CodeOf(-1)), (Bytes{0xFF, 0xFF, 0xFF, 0xFF}));  // 32 places: no change
  // 0x00000003: two set bits, one byte: 0000 0011 -> 0000 1100.
  EXPECT_EQ(PlainBytesOf(CodeOf(3)), (Bytes{0x0C}));
  // 0x01000080 (80 00 00 01), two bits over four bytes: the first bit wraps to the end.
  EXPECT_EQ(PlainBytesOf(CodeOf(0x01000080)), (Bytes{0x00, 0x00, 0x00, 0x06}));
}

TEST(IntegerCode, RoundTripsForBoundariesAndASample) {
  kestle_test::HeapCheck heap;
  for (int v : BoundaryValues()) {
    std::wstring const code = CodeOf(v);
    EXPECT_EQ(DecodeExact(code), v) << v;
    EXPECT_EQ(Coding::Decode(Lower(code).c_str()), v) << v;
  }
  for (int v = -70000; v <= 70000; ++v) {
    ASSERT_EQ(Coding::Decode(Coding::Encode(v)), v);
  }
  std::mt19937 gen(29);
  for (int i = 0; i < 200000; ++i) {
    auto const v = static_cast<int>(gen());
    ASSERT_EQ(Coding::Decode(Coding::Encode(v)), v) << v;
  }
}

TEST(IntegerCode, DigitsAreUpperCaseAndEitherCaseDecodes) {
  std::mt19937 gen(31);
  for (int i = 0; i < 2000; ++i) {
    auto const v = static_cast<int>(gen());
    std::wstring code = CodeOf(v);
    for (wchar_t c : code)
      ASSERT_TRUE((c >= L'0' && c <= L'9') || (c >= L'A' && c <= L'F')) << v;
    ASSERT_EQ(Coding::Decode(Lower(code).c_str()), v);
    for (std::size_t k = 0; k < code.size(); k += 2)
      code[k] = static_cast<wchar_t>(std::towlower(code[k]));
    ASSERT_EQ(Coding::Decode(code.c_str()), v) << "mixed case";
  }
}

TEST(IntegerCode, CharactersAfterTheTenthAreIgnoredButCountForParity) {
  std::wstring const code = CodeOf(-123456);
  ASSERT_EQ(code.size(), 10u);
  EXPECT_EQ(DecodeExact(code + L"zz"), -123456);
  EXPECT_EQ(DecodeExact(code + std::wstring(1000, L'#')), -123456);
  EXPECT_EQ(DecodeExact(code + L"z"), 0);
  EXPECT_EQ(DecodeExact(code + L"0"), 0);
  EXPECT_EQ(DecodeExact(code + std::wstring(1001, L'0')), 0);
}

TEST(IntegerCode, InvalidTextsGiveZero) {
  kestle_test::HeapCheck heap;
  EXPECT_EQ(Coding::Decode(nullptr), 0);
  for (wchar_t const* text :
       {L"", L"0", L"00", L"AB", L"ABC", L"ABCDE", L"G134", L"6F3", L"6F340"}) {
    EXPECT_EQ(DecodeExact(text), 0) << text;
  }

  std::mt19937 gen(37);
  wchar_t const hex[] = L"0123456789ABCDEF";
  wchar_t const strangers[] = {L'G',
                               L'g',
                               L' ',
                               L'-',
                               L'/',
                               L':',
                               L'@',
                               L'`',
                               L'\x7F',
                               L'\xFF10',
                               static_cast<wchar_t>(0x10030),
                               static_cast<wchar_t>(-1)};
  for (int v : {1, 300, 70000, 20000000, -5}) {
    std::wstring const code = CodeOf(v);
    ASSERT_EQ(DecodeExact(code), v);
    for (std::size_t pos = 0; pos < code.size(); ++pos) {
      // Any other digit changes one enciphered byte, which the checksum always catches.
      for (wchar_t digit : std::wstring(hex)) {
        if (digit == code[pos])
          continue;
        std::wstring changed = code;
        changed[pos] = digit;
        ASSERT_EQ(DecodeExact(changed), 0) << code << " pos " << pos;
      }
      for (wchar_t stranger : strangers) {
        std::wstring changed = code;
        changed[pos] = stranger;
        ASSERT_EQ(DecodeExact(changed), 0) << code << " pos " << pos;
      }
    }
    EXPECT_EQ(DecodeExact(code.substr(1)), 0) << "odd length";
    EXPECT_EQ(DecodeExact(code.substr(0, 2)), 0) << "two characters";
  }
  // A text cut short at a zero is only as long as its part before the zero.
  std::wstring withZero = CodeOf(70000);
  withZero[5] = L'\0';
  EXPECT_EQ(Coding::Decode(withZero.c_str()), 0);
}

}  // namespace
