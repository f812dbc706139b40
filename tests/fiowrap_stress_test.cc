// Readers beside a writer on one file, through the raw layer and through record files. Every
// block or record's bytes depend only on its number and the writers keep rewriting the same
// bytes, so a write can never make a correct read wrong; a read positioned by another thread, a
// read that fails or a short count shows as a fault. Bounded in operations (well under 2 s).
#include <random>

#include "support/record_support.h"

namespace {

constexpr unsigned kBlock = 4096;
constexpr unsigned kBlocks = 64;

std::string blockBytes(unsigned block) {
  std::string s(kBlock, '\0');
  for (unsigned i = 0; i < kBlock; ++i)
    s[i] = static_cast<char>(block * 37 + i * 11 + (i >> 8));
  return s;
}

// Four readers never find a slot missing, never exceed four at once inside the platform, and
// leave no descriptor behind.
TEST(FiowrapStressTest, FourReadersBesideAWriterNeverFail) {
  kestle_test::HeapCheck heap;
  kestle_test::TempDir dir;
  kestle_test::ReportCapture reports;
  std::string content;
  for (unsigned b = 0; b < kBlocks; ++b)
    content += blockBytes(b);
  kestle_test::writeWholeFile(dir.file("data"), content);
  int const descriptors = kestle_test::openDescriptorCount();
  // Reads inside the platform's transfer at any moment: entered at the hook, left at `alter`.
  std::atomic<int> inside{0}, mostInside{0};
  kestle_test::FileFaultGuard guard(
      [&](Platform::FileCall const& call) -> std::optional<Platform::FileFault> {
        if (call.op != Platform::FileOp::Read)
          return std::nullopt;
        int now = inside.fetch_add(1) + 1;
        for (int seen = mostInside.load(); now > seen;)
          mostInside.compare_exchange_weak(seen, now);
        return Platform::FileFault{0, -1, [&](char*, char*, unsigned) { inside.fetch_sub(1); }};
      });
  Fio::FIOWRAP* wrap = nullptr;
  ASSERT_EQ(Fio::open(dir.wfile("data").c_str(), Access::ReadWrite, Sharing::AllowReadWrite,
                      OpenFlag::OpenExisting, wrap, false),
            0u);
  std::atomic<int> faults{0};
  std::vector<std::thread> threads;
  for (int r = 0; r < 4; ++r) {
    threads.emplace_back([&, r] {
      std::mt19937 random(static_cast<unsigned>(r) + 1);
      std::vector<char> buffer(kBlock);
      for (int n = 0; n < 2000; ++n) {
        unsigned const block = random() % kBlocks;
        unsigned got = 0;
        if (Fio::read(wrap, 1ull * block * kBlock, buffer.data(), kBlock, got) != 0 ||
            std::string(buffer.data(), got) != blockBytes(block))
          faults.fetch_add(1);
      }
    });
  }
  threads.emplace_back([&] {
    std::mt19937 random(99);
    for (int n = 0; n < 600; ++n) {
      unsigned const block = random() % kBlocks;
      unsigned written = 0;
      if (Fio::write(wrap, 1ull * block * kBlock, blockBytes(block).data(), kBlock, written) != 0)
        faults.fetch_add(1);
    }
  });
  for (std::thread& t : threads)
    t.join();
  EXPECT_EQ(faults.load(), 0);
  EXPECT_EQ(reports.count(), 0u);
  EXPECT_LE(mostInside.load(), 4);
  EXPECT_EQ(Fio::close(wrap), 0u);
  EXPECT_EQ(kestle_test::openDescriptorCount(), descriptors);
  EXPECT_EQ(kestle_test::readWholeFile(dir.file("data")), content);
}

// Eight readers of records 1-128 beside one writer of records 129-256 (single, multiple and
// buffered writes, flushes): every read delivers every record asked for, exact, and never ends
// early. Plain, enciphered, and enciphered through the verified read.
class RecordStressTest : public kestle_test::RecordTest,
                         public ::testing::WithParamInterface<int> {};

TEST_P(RecordStressTest, ReadersBesideAWriterGetEveryRecord) {
  constexpr unsigned kLength = 40;
  Platform::setSleepHook({});  // waits for a slot really sleep here (the recorder restores it)
  kestle_test::ReadSwitches switches(false, GetParam() == 2, false);
  makeFile(256, kLength, GetParam() > 0);
  std::atomic<int> faults{0};
  std::vector<std::thread> threads;
  for (int r = 0; r < 8; ++r) {
    threads.emplace_back([&, r] {
      std::mt19937 random(static_cast<unsigned>(r) + 7);
      std::string buffer(16 * kLength, '\0');
      for (int n = 0; n < 300; ++n) {
        unsigned const n1 = 1 + random() % 16;
        unsigned const first = 1 + random() % (129 - n1);
        unsigned nread = 0;
        bool eof = true;
        Fmultiread(file_, first, n1, buffer.data(), nread, eof);
        if (nread != n1 || eof || buffer.substr(0, n1 * kLength) != expected(first, n1))
          faults.fetch_add(1);
      }
    });
  }
  threads.emplace_back([&] {
    for (unsigned n = 0; n < 300; ++n) {
      unsigned const rec = 129 + n % 120;
      unsigned long err = 0;
      std::string run = expected(rec, 8);
      switch (n % 4) {
        case 0:
          Fwrite(file_, rec, run.data());
          break;
        case 1:
          Fmultiwrite(file_, rec, 8, run.data(), err);
          break;
        case 2:
          for (unsigned i = 0; i < 8; ++i)
            Fbufwrite(file_, rec + i, 4, run.data() + i * kLength);
          break;
        default:
          Fflush(file_);
      }
      if (err != 0)
        faults.fetch_add(1);
    }
  });
  for (std::thread& t : threads)
    t.join();
  Fflushbuf(file_);
  EXPECT_EQ(faults.load(), 0);
  EXPECT_EQ(reports_.count(), 0u);
  std::string all(256 * kLength, '\0');
  unsigned nread = 0;
  bool eof = true;
  Fmultiread(file_, 1, 256, all.data(), nread, eof);
  EXPECT_EQ(all, expected(1, 256));
}

INSTANTIATE_TEST_SUITE_P(AllPaths, RecordStressTest, ::testing::Values(0, 1, 2));

}  // namespace
