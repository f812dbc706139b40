// Four readers and one writer on one raw file handle. Every 4 KiB block's bytes depend only on
// the block's number and the writer keeps rewriting the same bytes, so a write can never make a
// correct read wrong, while a read positioned by another thread's positioning shows up as the
// wrong block's bytes. Bounded in operations, not in time.
#include <gtest/gtest.h>

#include <random>

#include "support/fio_support.h"

namespace {

constexpr unsigned kBlock = 4096;
constexpr unsigned kBlocks = 64;
constexpr int kReaders = 4;
constexpr int kReadsPerReader = 5000;
constexpr int kWrites = 1000;

std::string blockBytes(unsigned block) {
  std::string s(kBlock, '\0');
  for (unsigned i = 0; i < kBlock; ++i)
    s[i] = static_cast<char>(block * 37 + i * 11 + (i >> 8));
  return s;
}

TEST(FiowrapStressTest, ReadersAndAWriterNeverMixBlocksLeakOrDeadlock) {
  kestle_test::HeapCheck heap;
  kestle_test::TempDir dir;
  kestle_test::ReportCapture reports;  // no-free-slot reports are allowed; they are counted
  std::vector<std::string> blocks;
  std::string content;
  for (unsigned b = 0; b < kBlocks; ++b)
    content += blocks.emplace_back(blockBytes(b));
  kestle_test::writeWholeFile(dir.file("data"), content);
  int const descriptors = kestle_test::openDescriptorCount();

  // Reads inside the platform's transfer at any moment: entered at the hook, left at `alter`.
  std::atomic<int> inside{0};
  std::atomic<int> mostInside{0};
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

  std::atomic<int> wrongBlocks{0}, failures{0}, noSlot{0};
  std::vector<std::thread> threads;
  for (int r = 0; r < kReaders; ++r) {
    threads.emplace_back([&, r] {
      std::mt19937 random(static_cast<unsigned>(r) + 1);
      std::vector<char> buffer(kBlock);
      for (int n = 0; n < kReadsPerReader; ++n) {
        unsigned block = random() % kBlocks;
        unsigned got = 0;
        unsigned long code;
        // A read that finds every slot busy while the writer holds one fails at once; like the
        // record layer, try again.
        while ((code = Fio::read(wrap, 1ull * block * kBlock, buffer.data(), kBlock, got)) ==
               NoHandleError) {
          noSlot.fetch_add(1);
          std::this_thread::yield();
        }
        if (code != 0 || got != kBlock)
          failures.fetch_add(1);
        else if (std::string(buffer.data(), kBlock) != blocks[block])
          wrongBlocks.fetch_add(1);
      }
    });
  }
  threads.emplace_back([&] {
    std::mt19937 random(99);
    for (int n = 0; n < kWrites; ++n) {
      unsigned block = random() % kBlocks;
      unsigned written = 0;
      if (Fio::write(wrap, 1ull * block * kBlock, blocks[block].data(), kBlock, written) != 0 ||
          written != kBlock)
        failures.fetch_add(1);
    }
  });
  for (std::thread& t : threads)
    t.join();

  EXPECT_EQ(failures.load(), 0);
  EXPECT_EQ(wrongBlocks.load(), 0);
  EXPECT_LE(mostInside.load(), kReaders);
  EXPECT_EQ(inside.load(), 0);
  EXPECT_EQ(reports.count(), static_cast<size_t>(noSlot.load()));
  EXPECT_EQ(Fio::close(wrap), 0u);
  EXPECT_EQ(kestle_test::openDescriptorCount(), descriptors);
  EXPECT_EQ(kestle_test::readWholeFile(dir.file("data")), content);
}

}  // namespace
