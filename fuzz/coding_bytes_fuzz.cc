// Fuzz target for the record cipher over bytes. Input: key byte, position byte, then the block.
// Checks that enciphering matches the reference loop, that every block reads back (separately
// and in place), that a changed byte is always caught, and that deciphering arbitrary bytes
// agrees with the reference. Any violation traps.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "coding/cipher_reference.h"
#include "kestle/coding.h"

namespace {
void Require(bool condition) {
  if (!condition)
    __builtin_trap();
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size) {
  if (size < 3)
    return 0;
  std::uint8_t const key = data[0];
  std::uint8_t const position = data[1];
  std::uint8_t const* block = data + 2;
  std::size_t const n = size - 2 < (1u << 16) ? size - 2 : (1u << 16);
  auto const len = static_cast<unsigned>(n);
  namespace cipher = kestle_detail::cipher;

  std::vector<std::uint8_t> expected(n + 1), out(n + 1), back(n);
  cipher::ReferenceEncode(block, expected.data(), n, key);
  Coding::Encode(reinterpret_cast<char const*>(block), reinterpret_cast<char*>(out.data()), len,
                 key);
  Require(out == expected);

  Require(Coding::Decode(reinterpret_cast<char const*>(out.data()),
                         reinterpret_cast<char*>(back.data()), len, key));
  Require(std::memcmp(back.data(), block, n) == 0);

  std::vector<std::uint8_t> inPlace(block, block + n);
  inPlace.push_back(0);
  char* raw = reinterpret_cast<char*>(inPlace.data());
  Coding::Encode(raw, raw, len, key);
  Require(inPlace == expected);
  Require(Coding::Decode(raw, raw, len, key));
  Require(std::memcmp(inPlace.data(), block, n) == 0);

  // One changed byte of the enciphered block is always caught.
  std::vector<std::uint8_t> changed = out;
  changed[position % (n + 1)] ^= static_cast<std::uint8_t>(1 + position % 255);
  Require(!Coding::Decode(reinterpret_cast<char const*>(changed.data()),
                          reinterpret_cast<char*>(back.data()), len, key));

  // The input itself taken as an enciphered block of n - 1 plain bytes.
  if (n >= 2) {
    std::vector<std::uint8_t> fast(n - 1), slow(n - 1);
    bool fastOk = Coding::Decode(reinterpret_cast<char const*>(block),
                                 reinterpret_cast<char*>(fast.data()), len - 1, key);
    bool slowOk = cipher::ReferenceDecode(block, slow.data(), n - 1, key);
    Require(fastOk == slowOk && fast == slow);
  }
  return 0;
}
