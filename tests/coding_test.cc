// The record cipher on every processor tier: its frozen output (key table and golden blocks),
// every key and length against the plain reference loop, tamper detection, runs of records
// through the record layer, and the backup checksum's tiers; then the zero-length report and
// concurrent first calls.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <fstream>
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

bool Decipher(Bytes const& enciphered, Bytes& plain, std::uint8_t key) {
  plain.assign(enciphered.size() - 1, 0);
  return Coding::Decode(reinterpret_cast<char const*>(enciphered.data()),
                        reinterpret_cast<char*>(plain.data()), static_cast<unsigned>(plain.size()),
                        key);
}

TEST(CipherFormat, KeyTableFollowsItsDocumentedRule) {
  std::mt19937 gen(0x4B657374);
  for (std::size_t i = 0; i < 257; ++i)
    ASSERT_EQ(cipher::kKeyTable[i], static_cast<std::uint8_t>(gen() >> 24)) << "entry " << i;
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

// Blocks enciphered by the first build of the library. Every later build must produce exactly
// these bytes, or the record files and backups already written become unreadable.
TEST_P(CipherTier, GoldenBlocksNeverChange) {
  Bytes const seven = Hex("00010203040506"), sixteen = Hex("F0F1F2F3F4F5F6F7F8F9FAFBFCFDFEFF");
  Bytes const text{'K', 'e', 's', 't', 'l', 'e', ' ', 'r', 'e', 'c', 'o', 'r', 'd'};
  struct Golden {
    Bytes plain;
    std::uint8_t key;
    char const* enciphered;
  } const goldens[] = {
      {{0x5A}, 0, "376C"},
      {{0x5A}, 255, "9315"},
      {{1, 2}, 0, "9337FD"},
      {{1, 2}, 200, "FCD8FD"},
      {seven, 1, "C6AE546B61E71791"},
      {seven, 253, "944C62E6098F1D53"},
      {text, 42, "7FB10ED5E3ABFFA0E854868C937E"},
      {sixteen, 255, "CAE66098A17669A2D1E48BD959AB2FBF88"},
      {sixteen, 128, "7B763FE44E28C48E32B73CCF56EADCC788"},
  };
  for (auto const& g : goldens) {
    SCOPED_TRACE("length " + std::to_string(g.plain.size()) + " key " + std::to_string(g.key));
    EXPECT_EQ(Encipher(g.plain, g.key), Hex(g.enciphered));
    Bytes back;
    EXPECT_TRUE(Decipher(Hex(g.enciphered), back, g.key));
    EXPECT_EQ(back, g.plain);
  }
  // Long blocks (pair 127 and the wrap of the running index), held by their FNV-1a hash.
  for (auto [length, key, hash] : {std::tuple{300u, 0, 0xe25ea455d49ed453},
                                   {299u, 0, 0x221f71e7e1ad4ec5},
                                   {300u, 77, 0x587b67e3e7bfd54f},
                                   {299u, 77, 0x33671c5da6b94b61},
                                   {300u, 255, 0xecacb23195408812},
                                   {299u, 255, 0xac4125b3062e18ba}}) {
    Bytes plain;
    for (unsigned i = 0; i < length; ++i)
      plain.push_back(static_cast<std::uint8_t>(i * 7 + 3));
    std::uint64_t h = 1469598103934665603ull;
    for (auto b : Encipher(plain, static_cast<std::uint8_t>(key)))
      h = (h ^ b) * 1099511628211ull;
    EXPECT_EQ(h, hash) << "length " << length << " key " << key;
  }
}

// For every key (sampled for the slow byte tier) and every length 1..600 the exported functions
// give the reference's bytes, write exactly n + 1 (enciphering) or n (deciphering) bytes, and
// work in place; the reference's own decipher is checked too, so that the fast passes and the
// reference loop do not share one mistake.
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
      auto const* plain = pool.data() + (kMax - n);  // a different start each time
      auto const len = static_cast<unsigned>(n);
      cipher::ReferenceEncode(plain, expected.data(), n, k);
      auto check = [&](char const* what, bool ok) {
        if (!ok && ++failures)
          ADD_FAILURE() << what << ": key " << key << " length " << n;
      };
      std::fill(out.begin(), out.end(), kGuard);
      std::fill(back.begin(), back.end(), kGuard);
      Coding::Encode(reinterpret_cast<char const*>(plain), reinterpret_cast<char*>(out.data()), len,
                     k);
      check("encode", std::memcmp(out.data(), expected.data(), n + 1) == 0 && out[n + 1] == kGuard);
      check("decode", Coding::Decode(reinterpret_cast<char const*>(out.data()),
                                     reinterpret_cast<char*>(back.data()), len, k) &&
                          std::memcmp(back.data(), plain, n) == 0 && back[n] == kGuard);
      if (!sampled)
        continue;
      check("reference decode", cipher::ReferenceDecode(expected.data(), back.data(), n, k) &&
                                    std::memcmp(back.data(), plain, n) == 0);
      auto* inPlace = reinterpret_cast<char*>(back.data());
      std::memcpy(inPlace, plain, n);
      Coding::Encode(inPlace, inPlace, len, k);
      check("encode in place", std::memcmp(inPlace, expected.data(), n + 1) == 0);
      check("decode in place",
            Coding::Decode(inPlace, inPlace, len, k) && std::memcmp(inPlace, plain, n) == 0);
    }
  }
}

// Any one changed byte alters exactly one deciphered value, so the sum cannot hold.
TEST_P(CipherTier, AnySingleChangedByteFailsTheCheck) {
  std::mt19937 gen(13);
  Bytes back;
  for (int round = 0; round < 60; ++round) {
    std::size_t const n = 1 + gen() % 600;
    auto const key = static_cast<std::uint8_t>(gen());
    Bytes const good = Encipher(RandomBytes(gen, n), key);
    for (std::size_t pos = 0; pos <= n; ++pos) {
      Bytes bad = good;
      bad[pos] ^= static_cast<std::uint8_t>(1 + gen() % 255);
      ASSERT_FALSE(Decipher(bad, back, key)) << "length " << n << " key " << +key << " pos " << pos;
    }
    ASSERT_TRUE(Decipher(good, back, key));
  }
}

// The record layer enciphers a transfer in one pass per run of following keys: across the key
// steps at records 257 and 513 every record in the file is Coding::Encode's bytes under its own
// record key, and it reads back; a broken record stops the delivery exactly there.
TEST_P(CipherTier, RecordRunsMatchSingleRecordsAcrossKeySteps) {
  kestle_test::TempDir dir;
  kestle_test::ReportCapture reports;
  kestle_test::LogCapture log;
  kestle_test::SleepRecorder sleeps;
  std::mt19937 gen(29);
  for (unsigned const length : {1u, 64u, 100u, 257u}) {
    SCOPED_TRACE("record length " + std::to_string(length));
    FioFile* file = nullptr;
    std::wstring const name = dir.wfile("run" + std::to_string(length));
    ASSERT_EQ(FopenName(name.c_str(), length, true, Sharing::AllowReadWrite, Access::ReadWrite,
                        OpenFlag::CreateOrTruncate, file, false),
              0u);
    unsigned const first = 250, count = 300;
    Bytes const plain = RandomBytes(gen, std::size_t{count} * length);
    unsigned long err = 1;
    Fmultiwrite(file, first, count, const_cast<std::uint8_t*>(plain.data()), err);
    ASSERT_EQ(err, 0u);
    std::fstream raw(dir.file("run" + std::to_string(length)),
                     std::ios::in | std::ios::out | std::ios::binary);
    Bytes stored(std::size_t{count} * (length + 1));
    raw.seekg(std::streamoff{first - 1} * (length + 1));
    raw.read(reinterpret_cast<char*>(stored.data()), static_cast<std::streamsize>(stored.size()));
    ASSERT_TRUE(raw.good());
    for (unsigned r = 0; r < count; ++r) {
      Bytes const one(plain.begin() + r * length, plain.begin() + (r + 1) * length);
      ASSERT_TRUE(std::equal(stored.begin() + r * (length + 1),
                             stored.begin() + (r + 1) * (length + 1),
                             Encipher(one, kestle_detail::record::recordKey(first + r)).begin()))
          << "record " << first + r;
    }
    Bytes back(plain.size());
    unsigned nread = 0;
    bool eof = true;
    Fmultiread(file, first, count, back.data(), nread, eof);
    EXPECT_EQ(nread, count);
    EXPECT_FALSE(eof);
    EXPECT_EQ(back, plain);

    raw.seekp(std::streamoff{first + 263 - 1} * (length + 1));  // record 513 breaks
    raw.put(static_cast<char>(stored[263 * (length + 1)] ^ 0x40));
    raw.close();
    Fmultiread(file, first, count, back.data(), nread, eof);
    EXPECT_EQ(nread, 263u);
    Fclose(file);
  }
  EXPECT_EQ(reports.count(), 4u);  // the fourth read of each file gives up on record 513
}

// The backup checksum's tiers against its word loop, at every word count up to 70 and at
// unaligned addresses.
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
                         [](auto const& info) {
                           return std::string(info.param == CpuTier::Bytes  ? "Bytes"
                                              : info.param == CpuTier::Sse2 ? "Sse2"
                                                                            : "Avx2");
                         });

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

// Threads that make the first calls after a tier change race to choose it; all must agree.
TEST(CipherThreads, ConcurrentFirstCallsAgree) {
  std::mt19937 gen(23);
  Bytes const plain = RandomBytes(gen, 4096);
  Bytes const expected = Encipher(plain, 99);
  Platform::setCpuTier(CpuTier::Auto);
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
