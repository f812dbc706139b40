// The record cipher: its frozen output (key table and golden blocks), every exchange tier against
// the plain reference loop, the checksum byte, in-place use, tamper detection and the
// zero-length report.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "coding/cipher_block.h"
#include "coding/cipher_format.h"
#include "coding/cipher_kernels.h"
#include "coding/cipher_reference.h"
#include "kestle/kestle.h"
#include "support/guards.h"

namespace {
namespace cipher = kestle_detail::cipher;
using Bytes = std::vector<std::uint8_t>;

constexpr std::size_t kMaxLength = 600;
constexpr std::uint8_t kGuard = 0xCC;

Bytes RandomBytes(std::mt19937& gen, std::size_t n) {
  Bytes bytes(n);
  for (auto& b : bytes)
    b = static_cast<std::uint8_t>(gen());
  return bytes;
}

Bytes Encipher(Bytes const& plain, std::uint8_t key) {
  Bytes out(plain.size() + 1);
  Coding::Encode(reinterpret_cast<char const*>(plain.data()), reinterpret_cast<char*>(out.data()),
                 static_cast<unsigned>(plain.size()), key);
  return out;
}

bool Decipher(Bytes const& enciphered, Bytes& plain, std::uint8_t key) {
  plain.assign(enciphered.size() - 1, 0);
  return Coding::Decode(reinterpret_cast<char const*>(enciphered.data()),
                        reinterpret_cast<char*>(plain.data()), static_cast<unsigned>(plain.size()),
                        key);
}

std::uint8_t ChecksumOf(Bytes const& plain) {
  std::uint8_t sum = 0;
  for (auto b : plain)
    sum += b;
  return static_cast<std::uint8_t>(0 - sum);
}

TEST(CipherFormat, KeyTableFollowsItsDocumentedRule) {
  std::mt19937 gen(0x4B657374);
  for (std::size_t i = 0; i < 257; ++i) {
    ASSERT_EQ(cipher::kKeyTable[i], static_cast<std::uint8_t>(gen() >> 24)) << "entry " << i;
  }
}

// Blocks enciphered by the first build of the library. Every later build must produce exactly
// these bytes, or the record files and backups already written become unreadable.
TEST(CipherFormat, GoldenBlocksNeverChange) {
  struct Golden {
    Bytes plain;
    std::uint8_t key;
    Bytes enciphered;
  };
  Bytes seven{0, 1, 2, 3, 4, 5, 6};
  Bytes text{'K', 'e', 's', 't', 'l', 'e', ' ', 'r', 'e', 'c', 'o', 'r', 'd'};
  Bytes sixteen;
  for (int i = 0; i < 16; ++i)
    sixteen.push_back(static_cast<std::uint8_t>(0xF0 + i));
  std::vector<Golden> const goldens = {
      {{0x5A}, 0, {0x37, 0x6C}},
      {{0x5A}, 255, {0x93, 0x15}},
      {{1, 2}, 0, {0x93, 0x37, 0xFD}},
      {{1, 2}, 200, {0xFC, 0xD8, 0xFD}},
      {seven, 1, {0xC6, 0xAE, 0x54, 0x6B, 0x61, 0xE7, 0x17, 0x91}},
      {seven, 253, {0x94, 0x4C, 0x62, 0xE6, 0x09, 0x8F, 0x1D, 0x53}},
      {text,
       42,
       {0x7F, 0xB1, 0x0E, 0xD5, 0xE3, 0xAB, 0xFF, 0xA0, 0xE8, 0x54, 0x86, 0x8C, 0x93, 0x7E}},
      {sixteen,
       255,
       {0xCA, 0xE6, 0x60, 0x98, 0xA1, 0x76, 0x69, 0xA2, 0xD1, 0xE4, 0x8B, 0xD9, 0x59, 0xAB, 0x2F,
        0xBF, 0x88}},
      {sixteen,
       128,
       {0x7B, 0x76, 0x3F, 0xE4, 0x4E, 0x28, 0xC4, 0x8E, 0x32, 0xB7, 0x3C, 0xCF, 0x56, 0xEA, 0xDC,
        0xC7, 0x88}},
  };
  for (auto const& g : goldens) {
    SCOPED_TRACE("length " + std::to_string(g.plain.size()) + " key " + std::to_string(g.key));
    EXPECT_EQ(Encipher(g.plain, g.key), g.enciphered);
    Bytes back;
    EXPECT_TRUE(Decipher(g.enciphered, back, g.key));
    EXPECT_EQ(back, g.plain);
  }

  // Long blocks (pair 127 and the wrap of the running index), held by their FNV-1a hash.
  auto fnv = [](Bytes const& bytes) {
    std::uint64_t h = 1469598103934665603ull;
    for (auto b : bytes)
      h = (h ^ b) * 1099511628211ull;
    return h;
  };
  struct LongGolden {
    std::size_t length;
    std::uint8_t key;
    std::uint64_t hash;
  };
  for (auto const& g :
       {LongGolden{300, 0, 0xe25ea455d49ed453}, LongGolden{299, 0, 0x221f71e7e1ad4ec5},
        LongGolden{300, 77, 0x587b67e3e7bfd54f}, LongGolden{299, 77, 0x33671c5da6b94b61},
        LongGolden{300, 255, 0xecacb23195408812}, LongGolden{299, 255, 0xac4125b3062e18ba}}) {
    Bytes plain;
    for (std::size_t i = 0; i < g.length; ++i)
      plain.push_back(static_cast<std::uint8_t>(i * 7 + 3));
    EXPECT_EQ(fnv(Encipher(plain, g.key)), g.hash) << "length " << g.length << " key " << +g.key;
  }
}

// An exchange tier through the block functions, or (null functions) the exported functions.
struct Path {
  char const* name;
  bool everyKey;  // the byte tier, slow under the sanitizers, runs on sampled keys only
  cipher::ExchangeFn sumSource, sumDest;

  void encode(std::uint8_t const* in, std::uint8_t* out, std::size_t n, std::uint8_t k) const {
    if (sumSource)
      return cipher::EncodeBlock(in, out, n, k, sumSource);
    Coding::Encode(reinterpret_cast<char const*>(in), reinterpret_cast<char*>(out),
                   static_cast<unsigned>(n), k);
  }
  bool decode(std::uint8_t const* in, std::uint8_t* out, std::size_t n, std::uint8_t k) const {
    return sumDest ? cipher::DecodeBlock(in, out, n, k, sumDest)
                   : Coding::Decode(reinterpret_cast<char const*>(in), reinterpret_cast<char*>(out),
                                    static_cast<unsigned>(n), k);
  }
};

std::vector<Path> Paths() {
  std::vector<Path> paths = {
      {"scalar", false, &cipher::ExchangeScalar<true>, &cipher::ExchangeScalar<false>},
      {"sse2", true, &cipher::ExchangeSse2<true>, &cipher::ExchangeSse2<false>},
      {"exported", true, nullptr, nullptr}};
  __builtin_cpu_init();
  if (__builtin_cpu_supports("avx2"))
    paths.push_back({"avx2", true, &cipher::ExchangeAvx2<true>, &cipher::ExchangeAvx2<false>});
  return paths;
}

// For every key and every length 1..600 each path gives the reference's bytes, writes exactly
// n + 1 (enciphering) or n (deciphering) bytes, and reads back. On sampled keys each path also
// runs in place, and the reference's own decipher is checked, so that the fast passes and the
// reference loop do not share one mistake.
TEST(CipherTiers, EveryPathMatchesTheReferenceForEveryKeyAndLength) {
  kestle_test::HeapCheck heap;
  auto const paths = Paths();
  std::mt19937 gen(7);
  Bytes expected(kMaxLength + 1), out(kMaxLength + 2), back(kMaxLength + 1);
  int failures = 0;
  for (unsigned key = 0; key < 256 && failures < 5; ++key) {
    auto const k = static_cast<std::uint8_t>(key);
    bool const sampled = key % 16 == 0 || key % 16 == 15 || key < 3 || key > 252;
    Bytes const pool = RandomBytes(gen, kMaxLength);
    for (std::size_t n = 1; n <= kMaxLength && failures < 5; ++n) {
      std::uint8_t const* plain = pool.data() + (kMaxLength - n);  // a different start each time
      cipher::ReferenceEncode(plain, expected.data(), n, k);
      auto check = [&](char const* name, char const* what, bool ok) {
        if (!ok && ++failures)
          ADD_FAILURE() << name << " " << what << ": key " << key << " length " << n;
      };
      auto same = [](Bytes const& a, std::uint8_t const* b, std::size_t m) {  // m bytes, no more
        return std::memcmp(a.data(), b, m) == 0 && a[m] == kGuard;
      };
      if (sampled) {
        check("reference", "decode",
              cipher::ReferenceDecode(expected.data(), back.data(), n, k) &&
                  std::memcmp(back.data(), plain, n) == 0);
      }
      for (auto const& path : paths) {
        if (!path.everyKey && !sampled)
          continue;
        std::fill(out.begin(), out.end(), kGuard);
        std::fill(back.begin(), back.end(), kGuard);
        path.encode(plain, out.data(), n, k);
        check(path.name, "encode", same(out, expected.data(), n + 1));
        check(path.name, "decode",
              path.decode(out.data(), back.data(), n, k) && same(back, plain, n));
        if (!sampled)
          continue;
        std::copy(plain, plain + n, back.begin());
        path.encode(back.data(), back.data(), n, k);
        check(path.name, "encode in place", std::memcmp(back.data(), expected.data(), n + 1) == 0);
        check(
            path.name, "decode in place",
            path.decode(back.data(), back.data(), n, k) && std::memcmp(back.data(), plain, n) == 0);
      }
    }
  }
}

TEST(CipherBlock, EvenLengthsEndInTheUnmaskedChecksum) {
  std::mt19937 gen(3);
  for (std::size_t n = 2; n <= 64; n += 2) {
    Bytes const plain = n == 2 ? Bytes{1, 2} : RandomBytes(gen, n);  // 1 and 2 give 253
    for (unsigned key = 0; key < 256; ++key) {
      ASSERT_EQ(Encipher(plain, static_cast<std::uint8_t>(key)).back(),
                n == 2 ? 253 : ChecksumOf(plain))
          << "length " << n << " key " << key;
    }
  }
}

// The running index comes back to the key at pair 127, whose masks then cancel.
TEST(CipherBlock, Pair127IsOnlyExchanged) {
  std::mt19937 gen(5);
  for (std::size_t n : {255u, 256u, 300u, 599u}) {
    Bytes logical = RandomBytes(gen, n);
    Bytes const plain = logical;
    if (n % 2 == 1)
      logical.push_back(ChecksumOf(plain));
    std::size_t const m = logical.size();
    for (unsigned key = 0; key < 256; ++key) {
      Bytes const out = Encipher(plain, static_cast<std::uint8_t>(key));
      ASSERT_EQ(out[127], logical[m - 1 - 127]) << "length " << n << " key " << key;
      ASSERT_EQ(out[m - 1 - 127], logical[127]) << "length " << n << " key " << key;
    }
  }
}

// Any one changed byte alters exactly one deciphered value, so the sum cannot hold.
TEST(CipherBlock, AnySingleChangedByteFailsTheCheck) {
  std::mt19937 gen(13);
  Bytes back;
  for (int round = 0; round < 300; ++round) {
    std::size_t const n = 1 + gen() % kMaxLength;
    auto const key = static_cast<std::uint8_t>(gen());
    Bytes const plain = RandomBytes(gen, n);
    Bytes const good = Encipher(plain, key);
    for (std::size_t pos = 0; pos <= n; ++pos) {
      Bytes bad = good;
      bad[pos] ^= static_cast<std::uint8_t>(1 + gen() % 255);
      ASSERT_FALSE(Decipher(bad, back, key)) << "length " << n << " key " << +key << " pos " << pos;
    }
    ASSERT_TRUE(Decipher(good, back, key));
  }
}

TEST(CipherMisuse, ZeroLengthIsReportedAndTouchesNothing) {
  kestle_test::ReportCapture capture;
  char in[4] = {1, 2, 3, 4};
  char out[4] = {9, 9, 9, 9};
  Coding::Encode(in, out, 0, 5);
  EXPECT_TRUE(Coding::Decode(in, out, 0, 5));
  EXPECT_EQ(std::string(out, 4), std::string(4, '\x09'));

  auto const reports = capture.reports();
  ASSERT_EQ(reports.size(), 2u);
  for (int i = 0; i < 2; ++i) {
    auto const& r = reports[i];
    EXPECT_EQ(std::tie(r.op, r.flag, r.file, r.function, r.line, r.text1, r.text2, r.code),
              std::make_tuple(Platform::Report::Op::PanicMe, false, L"coding",
                              i == 0 ? L"Coding::Encode" : L"Coding::Decode", i == 0 ? 163u : 226u,
                              L"0", std::nullopt, 0ul));
  }
}

TEST(CipherThreads, ConcurrentCallersAgree) {
  std::mt19937 gen(23);
  Bytes const plain = RandomBytes(gen, 4096);
  Bytes const expected = Encipher(plain, 99);
  std::vector<std::thread> threads;
  std::vector<int> mismatches(4, 0);
  for (int i = 0; i < 4; ++i) {
    threads.emplace_back([&, i] {
      Bytes back;
      for (int round = 0; round < 200; ++round) {
        Bytes out = Encipher(plain, 99);
        if (out != expected || !Decipher(out, back, 99) || back != plain)
          ++mismatches[i];
      }
    });
  }
  for (auto& t : threads)
    t.join();
  EXPECT_EQ(mismatches, std::vector<int>(4, 0));
}

}  // namespace
