// The record cipher on every processor tier, the record layer's runs and the backup checksum.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "backup/chunk_format.h"
#include "coding/cipher_format.h"
#include "coding/cipher_reference.h"
#include "fio/record_file.h"
#include "kestle/kestle.h"
#include "support/guards.h"

namespace {
namespace cipher = kestle_detail::cipher;
using Bytes = std::vector<std::uint8_t>;
using Platform::CpuTier;

Bytes RandomBytes(std::mt19937& gen, std::size_t n) {
  Bytes bytes(n);
  for (auto& b : bytes)
    b = static_cast<std::uint8_t>(gen());
  return bytes;
}

Bytes Hex(std::string const& digits) {
  Bytes out;
  for (std::size_t i = 0; i < digits.size(); i += 2)
    out.push_back(static_cast<std::uint8_t>(std::stoi(digits.substr(i, 2), nullptr, 16)));
  return out;
}

Bytes Encipher(Bytes const& plain, std::uint8_t key) {
  Bytes out(plain.size() + 1);
  Coding::Encode(reinterpret_cast<char const*>(plain.data()), reinterpret_cast<char*>(out.data()),
                 static_cast<unsigned>(plain.size()), key);
  return out;
}

// Each test runs once per tier, forced for the whole library; a tier the processor lacks skips.
class CipherTier : public testing::TestWithParam<CpuTier> {
 protected:
  void SetUp() override {
    previous_ = Platform::setCpuTier(GetParam());
    if (Platform::cpuTier() != GetParam())
      GTEST_SKIP() << "the processor lacks this tier";
  }
  void TearDown() override { Platform::setCpuTier(previous_); }
  CpuTier previous_ = CpuTier::Auto;
};
char const* const kTierNames[] = {"Bytes", "Sse2", "Avx2"};

// Files and backups already written hold these bytes; long blocks are held by their FNV-1a hash.
TEST_P(CipherTier, GoldenBlocksNeverChange) {
  std::mt19937 gen(0x4B657374);  // the key table's documented rule
  for (std::size_t i = 0; i < 257; ++i)
    ASSERT_EQ(cipher::kKeyTable[i], static_cast<std::uint8_t>(gen() >> 24)) << "entry " << i;
  std::tuple<char const*, std::uint8_t, char const*> const goldens[] = {
      {"5A", 0, "376C"},
      {"5A", 255, "9315"},
      {"0102", 200, "FCD8FD"},
      {"00010203040506", 253, "944C62E6098F1D53"},
      {"4B6573746C65207265636F7264", 42, "7FB10ED5E3ABFFA0E854868C937E"},
      {"F0F1F2F3F4F5F6F7F8F9FAFBFCFDFEFF", 128, "7B763FE44E28C48E32B73CCF56EADCC788"}};
  for (auto const& [plain, key, enciphered] : goldens)
    EXPECT_EQ(Encipher(Hex(plain), key), Hex(enciphered)) << enciphered;
  Bytes plain(300);
  for (unsigned i = 0; i < 300; ++i)
    plain[i] = static_cast<std::uint8_t>(i * 7 + 3);
  for (auto [key, hash] : {std::pair{0, 0xe25ea455d49ed453}, {255, 0xecacb23195408812}}) {
    std::uint64_t h = 1469598103934665603ull;
    for (auto b : Encipher(plain, static_cast<std::uint8_t>(key)))
      h = (h ^ b) * 1099511628211ull;
    EXPECT_EQ(h, hash) << "key " << key;
  }
}

// All keys (sampled on the byte tier), lengths 1..600: the reference's n + 1 bytes, in place too.
TEST_P(CipherTier, EveryKeyAndLengthMatchesTheReference) {
  constexpr std::size_t kMax = 600;
  constexpr std::uint8_t kGuard = 0xCC;
  std::mt19937 gen(7);
  Bytes expected(kMax + 1), out(kMax + 2), back(kMax + 1);
  int failures = 0;
  for (unsigned key = 0; key < 256 && failures < 5; ++key) {
    auto const k = static_cast<std::uint8_t>(key);
    bool const sampled = key % 16 == 0 || key % 16 == 15 || key < 3 || key > 252;
    if (GetParam() == CpuTier::Bytes && !sampled)
      continue;
    Bytes const pool = RandomBytes(gen, kMax);
    for (std::size_t n = 1; n <= kMax && failures < 5; ++n) {
      auto const* plain = pool.data() + (kMax - n);
      auto const len = static_cast<unsigned>(n);
      auto* outc = reinterpret_cast<char*>(out.data());
      auto* backc = reinterpret_cast<char*>(back.data());
      cipher::ReferenceEncode(plain, expected.data(), n, k);
      std::fill(out.begin(), out.end(), kGuard);
      std::fill(back.begin(), back.end(), kGuard);
      Coding::Encode(reinterpret_cast<char const*>(plain), outc, len, k);
      bool ok = std::memcmp(out.data(), expected.data(), n + 1) == 0 && out[n + 1] == kGuard;
      ok = ok && Coding::Decode(outc, backc, len, k) && std::memcmp(backc, plain, n) == 0 &&
           back[n] == kGuard;
      if (sampled) {
        std::memcpy(backc, plain, n);
        Coding::Encode(backc, backc, len, k);
        ok = ok && std::memcmp(backc, expected.data(), n + 1) == 0 &&
             Coding::Decode(backc, backc, len, k) && std::memcmp(backc, plain, n) == 0;
      }
      out[gen() % (n + 1)] ^= static_cast<std::uint8_t>(1 + gen() % 255);
      ok = ok && !Coding::Decode(outc, backc, len, k);
      if (!ok && ++failures)
        ADD_FAILURE() << "key " << key << " length " << n;
    }
  }
}

// Runs across the key steps at records 257 and 513 equal single records; a broken one stops them.
TEST_P(CipherTier, RecordRunsMatchSingleRecordsAcrossKeySteps) {
  namespace record = kestle_detail::record;
  std::mt19937 gen(29);
  unsigned const first = 250, count = 300;
  for (unsigned const length : {1u, 64u, 100u, 257u}) {
    Bytes const plain = RandomBytes(gen, std::size_t{count} * length);
    Bytes stored(std::size_t{count} * (length + 1)), expected, back(plain.size());
    auto* storedc = reinterpret_cast<char*>(stored.data());
    auto* backc = reinterpret_cast<char*>(back.data());
    record::encipherRecords(first, count, length, reinterpret_cast<char const*>(plain.data()),
                            storedc);
    for (unsigned r = 0; r < count; ++r) {
      Bytes const one(plain.begin() + r * length, plain.begin() + (r + 1) * length);
      Bytes const bytes = Encipher(one, record::recordKey(first + r));
      expected.insert(expected.end(), bytes.begin(), bytes.end());
    }
    EXPECT_EQ(stored, expected) << length;
    EXPECT_EQ(record::decipherRecords(first, count, length, storedc, backc), count);
    EXPECT_EQ(back, plain) << length;
    stored[263 * (length + 1)] ^= 0x40;  // record 513
    EXPECT_EQ(record::decipherRecords(first, count, length, storedc, backc), 263u) << length;
  }
}

TEST_P(CipherTier, BackupChecksumTiersMatchTheWordLoop) {
  namespace fmt = kestle_detail::backup;
  std::mt19937 gen(31);
  auto const tierPass = GetParam() == CpuTier::Avx2   ? &fmt::UnmaskAndSumAvx2
                        : GetParam() == CpuTier::Sse2 ? &fmt::UnmaskAndSumSse2
                                                      : &fmt::UnmaskAndSumScalar;
  for (std::size_t words = 0; words <= 70; ++words) {
    Bytes const bytes = RandomBytes(gen, words * 4 + 3);
    Bytes expected = bytes, actual = bytes;
    std::uint32_t const mask = gen(), start = gen();
    std::size_t const at = words % 4;
    std::uint32_t const sum =
        fmt::UnmaskAndSumScalar(reinterpret_cast<char*>(expected.data() + at), words, mask, start);
    ASSERT_EQ(tierPass(reinterpret_cast<char*>(actual.data() + at), words, mask, start), sum);
    ASSERT_EQ(actual, expected) << words << " words";
  }
}

INSTANTIATE_TEST_SUITE_P(EveryTier, CipherTier,
                         testing::Values(CpuTier::Bytes, CpuTier::Sse2, CpuTier::Avx2),
                         [](auto const& info) { return std::string(kTierNames[info.index]); });

TEST(CipherMisuse, ZeroLengthIsReportedAndTouchesNothing) {
  kestle_test::ReportCapture capture;
  char in[4] = {1, 2, 3, 4};
  char out[4] = {9, 9, 9, 9};
  Coding::Encode(in, out, 0, 5);
  EXPECT_TRUE(Coding::Decode(in, out, 0, 5));
  EXPECT_EQ(std::string(out, 4), std::string(4, '\x09'));
  EXPECT_EQ(capture.lines(),
            (std::vector<std::wstring>{L"PanicMe 0 coding:163 Coding::Encode - 0 - 0 0",
                                       L"PanicMe 0 coding:226 Coding::Decode - 0 - 0 0"}));
}

// Threads that make the first calls after a tier change race to choose it; all must agree.
TEST(CipherThreads, ConcurrentFirstCallsAgree) {
  std::mt19937 gen(23);
  Bytes const plain = RandomBytes(gen, 4096);
  Bytes const expected = Encipher(plain, 99);
  Platform::setCpuTier(CpuTier::Auto);
  std::atomic<int> mismatches{0};
  std::vector<std::jthread> threads;
  for (int i = 0; i < 4; ++i)
    threads.emplace_back([&] {
      for (int round = 0; round < 200; ++round)
        mismatches += Encipher(plain, 99) != expected;
    });
  threads.clear();  // joins
  EXPECT_EQ(mismatches, 0);
}

}  // namespace
