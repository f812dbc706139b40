// Readers beside a writer on one file, through the raw layer and through record files. Every
// block or record's bytes depend only on its number and the writers keep rewriting the same
// bytes, so a write can never make a correct read wrong; a read positioned by another thread, a
// read that fails, a short count or a false end of file shows as a fault. Bounded in operations.
#include <random>

#include "support/fio_support.h"

namespace {

using namespace kestle_test;

TEST(FiowrapStressTest, FourReadersBesideAWriterNeverFail) {
  HeapCheck heap;
  TempDir dir;
  ReportCapture reports;
  std::string const content = recordBytes(64, 4096);
  writeWholeFile(dir.file("data"), content);
  int const descriptors = openDescriptorCount();
  Fio::FIOWRAP* wrap = nullptr;
  ASSERT_EQ(Fio::open(dir.wfile("data").c_str(), Access::ReadWrite, Sharing::AllowReadWrite,
                      OpenFlag::OpenExisting, wrap, false),
            0u);
  std::atomic<int> faults{0};
  std::vector<std::thread> threads;
  for (unsigned r = 0; r < 5; ++r) {
    threads.emplace_back([&, r] {
      std::mt19937 random(r + 1);
      std::string buffer(4096, '\0');
      for (int n = 0; n < (r < 4 ? 2000 : 600); ++n) {
        unsigned const block = random() % 64;
        std::string const want = content.substr(block * 4096, 4096);
        unsigned done = 0;
        unsigned long const code = r < 4 ? Fio::read(wrap, block * 4096, buffer.data(), 4096, done)
                                         : Fio::write(wrap, block * 4096, want.data(), 4096, done);
        faults.fetch_add(code != 0 || done != 4096 || (r < 4 && buffer != want));
      }
    });
  }
  for (std::thread& t : threads)
    t.join();
  EXPECT_EQ(faults.load(), 0);
  EXPECT_EQ(reports.count(), 0u);
  EXPECT_EQ(Fio::close(wrap), 0u);
  EXPECT_EQ(openDescriptorCount(), descriptors);
  EXPECT_EQ(readWholeFile(dir.file("data")), content);
}

// Eight readers of records 1-128 beside one writer of records 129-256 (single, multiple and
// buffered writes, flushes); plain, enciphered, and enciphered through the verified read.
class RecordStressTest : public RecordTest, public ::testing::WithParamInterface<int> {};

TEST_P(RecordStressTest, ReadersBesideAWriterGetEveryRecord) {
  constexpr unsigned kLength = 40;
  Platform::setSleepHook({});  // waits for a slot really sleep here (the recorder restores it)
  ReadSwitches switches(false, GetParam() == 2, false);
  makeFile(256, kLength, GetParam() > 0);
  std::atomic<int> faults{0};
  std::vector<std::thread> threads;
  for (unsigned r = 0; r < 8; ++r) {
    threads.emplace_back([&, r] {
      std::mt19937 random(r + 7);
      for (int n = 0; n < 300; ++n) {
        unsigned const count = 1 + random() % 16, first = 1 + random() % (129 - count);
        faults.fetch_add(readRecords(first, count) != delivered(first, count, false));
      }
    });
  }
  for (unsigned n = 0; n < 300; ++n) {
    unsigned const rec = 129 + n % 120;
    unsigned long err = 0;
    std::string run = expected(rec, 8);
    if (n % 4 == 0)
      Fwrite(file_, rec, run.data());
    else if (n % 4 == 1)
      Fmultiwrite(file_, rec, 8, run.data(), err);
    else if (n % 4 == 2)
      for (unsigned i = 0; i < 8; ++i)
        Fbufwrite(file_, rec + i, 4, run.data() + i * kLength);
    else
      Fflush(file_);
    faults.fetch_add(err != 0);
  }
  for (std::thread& t : threads)
    t.join();
  Fflushbuf(file_);
  EXPECT_EQ(faults.load(), 0);
  EXPECT_EQ(reports_.count(), 0u);
  EXPECT_EQ(readRecords(1, 256), delivered(1, 256, false));
}

INSTANTIATE_TEST_SUITE_P(AllPaths, RecordStressTest, ::testing::Values(0, 1, 2));

}  // namespace
