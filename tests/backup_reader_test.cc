// The backup reader: calling order, unit headers, pacing of progress, abort, faults, and the
// release of everything it holds.
#include <gtest/gtest.h>

#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "kestle/kestle.h"
#include "support/backup_recorders.h"
#include "support/backup_writer.h"
#include "support/guards.h"

namespace {
using kestle_test::BackupImage;
using kestle_test::BackupWriter;
using kestle_test::Bytes;
using kestle_test::ChunkPlace;
using kestle_test::FileFaultGuard;
using kestle_test::HeapCheck;
using kestle_test::RecordingRestore;
using kestle_test::RecordingSink;
using kestle_test::TempDir;
using Calls = std::vector<std::wstring>;

class ReaderTest : public ::testing::Test {
 protected:
  std::wstring put(BackupImage const& image) {
    image.writeTo(dir_.file("r.bak"));
    return dir_.wfile("r.bak");
  }
  void run(BackupImage const& image) {
    size_ = image.bytes.size();
    std::wstring name = put(image);
    BuRdr::reader(name.c_str(), sink_, restore_);
  }
  // A writer with two units: three data chunks and one.
  static BackupWriter twoUnits() {
    BackupWriter w;
    w.unit(L"customers", L"Customer register", Bytes{'i', 'n', 'f', 'o'})
        .data("Alice")
        .data(std::string(1500, 'b'))
        .data("Carol");
    w.unit(L"orders", L"Orders").data("#1");
    return w;
  }
  std::wstring sizeText() const { return std::to_wstring(size_); }

  TempDir dir_;
  HeapCheck heap_;
  RecordingSink sink_;
  RecordingRestore restore_;
  std::size_t size_ = 0;
};

TEST_F(ReaderTest, WholeBackupInCallingOrder) {
  run(twoUnits().build());
  Calls expected{L"start KESTLE TEST",
                 L"total " + sizeText(),
                 L"unit customers|Customer register|4",
                 L"data 5",
                 L"data 1500",
                 L"data 5",
                 L"data 0",
                 L"unit orders|Orders|0",
                 L"data 2",
                 L"data 0",
                 L"finished " + sizeText()};
  EXPECT_EQ(restore_.calls, expected);
  EXPECT_TRUE(sink_.faults().empty());
  ASSERT_EQ(restore_.chunks.size(), 6u);
  EXPECT_EQ(restore_.chunks[0], "Alice");
  EXPECT_EQ(restore_.chunks[1], std::string(1500, 'b'));
  EXPECT_EQ(restore_.chunks[4], "#1");
  EXPECT_EQ(restore_.infos[0], "info");
  EXPECT_EQ(restore_.stamp.date, kestle_test::BackupHeader().stamp.date);
}

TEST_F(ReaderTest, UnitsWithoutDataAndWithEmptyTexts) {
  BackupWriter w;
  w.unit(L"", L"");
  w.unit(L"\U0001F600 unit", L"");
  run(w.build());
  Calls expected{L"start KESTLE TEST",
                 L"total " + sizeText(),
                 L"unit ||0",
                 L"data 0",
                 L"unit \U0001F600 unit||0",
                 L"data 0",
                 L"finished " + sizeText()};
  EXPECT_EQ(restore_.calls, expected);
}

// Bytes after the wide strings and the nested buffer are ignored; a unit header too short for
// its fields gives empty values rather than reading beyond the chunk.
TEST_F(ReaderTest, UnitHeaderExtraAndMissingBytes) {
  Bytes extra = kestle_test::unitHeaderBytes(L"u", L"n", Bytes{'x'});
  extra.insert(extra.end(), {'t', 'a', 'i', 'l'});
  Bytes lying{'\xFF', '\xFF', '\xFF', '\x7F', 'a', 0};  // a count far beyond the chunk
  BackupWriter w;
  w.rawUnit(extra).data("d");
  w.rawUnit(lying);
  run(w.build());
  Calls expected{L"start KESTLE TEST",
                 L"total " + sizeText(),
                 L"unit u|n|1",
                 L"data 1",
                 L"data 0",
                 L"unit ||0",
                 L"data 0",
                 L"finished " + sizeText()};
  EXPECT_EQ(restore_.calls, expected);
}

TEST_F(ReaderTest, StartFalseEndsAtOnceWithoutAMessage) {
  restore_.startAnswer = false;
  run(twoUnits().build());
  EXPECT_EQ(restore_.calls, Calls{L"start KESTLE TEST"});
  EXPECT_TRUE(sink_.faults().empty());
}

TEST_F(ReaderTest, BadHeaderCallsNothing) {
  BackupImage image = twoUnits().build();
  image.flip(140);
  run(image);
  EXPECT_TRUE(restore_.calls.empty());
  ASSERT_EQ(sink_.faults().size(), 1u);
  EXPECT_EQ(sink_.faults()[0].text, L"BuSource Decode header1");
}

// ---- pacing ------------------------------------------------------------------------------

// With an interval of one tick and each data call letting the clock move on by more than that,
// a progress report follows every data chunk, but never a unit header or a closing chunk.
TEST_F(ReaderTest, ProgressAfterEveryDataChunkAtTheFinestInterval) {
  unsigned long long const frequency = SystemTimer::frequency();
  if (frequency > 0xFFFFFFFFull)
    GTEST_SKIP() << "timer too fine for a 32-bit rate";
  restore_.rate = static_cast<std::uint32_t>(frequency);  // interval 1 tick
  restore_.onData = [](std::uint32_t) { kestle_test::spinTicks(1); };
  BackupWriter w = twoUnits();
  w.unit(L"", L"").data("x");
  BackupImage image = w.build();
  run(image);
  std::vector<std::wstring> progress;
  for (std::size_t i = 0; i < restore_.calls.size(); ++i) {
    if (restore_.calls[i].rfind(L"progress", 0) == 0) {
      progress.push_back(restore_.calls[i]);
      ASSERT_GT(i, 0u);
      EXPECT_TRUE(restore_.calls[i - 1].rfind(L"data ", 0) == 0);
      EXPECT_NE(restore_.calls[i - 1], L"data 0");
    }
  }
  auto doneAfter = [&](std::size_t chunk) { return std::to_wstring(image.chunks[chunk].end()); };
  std::vector<std::wstring> expected{
      L"progress " + doneAfter(1) + L" customers Customer register",
      L"progress " + doneAfter(2) + L" customers Customer register",
      L"progress " + doneAfter(3) + L" customers Customer register",
      L"progress " + doneAfter(6) + L" orders Orders",
      L"progress " + doneAfter(9) + L"  ",  // empty unit and name texts: one blank between
  };
  EXPECT_EQ(progress, expected);
  EXPECT_EQ(restore_.calls.back(), L"finished " + sizeText());
}

TEST_F(ReaderTest, NoProgressAtRateZeroOrBeyondTheTimerResolution) {
  unsigned long long const frequency = SystemTimer::frequency();
  std::vector<std::uint32_t> rates{0};
  if (frequency < 0xFFFFFFFFull)
    rates.push_back(static_cast<std::uint32_t>(frequency + 1));  // interval 0
  for (std::uint32_t rate : rates) {
    RecordingRestore restore;
    restore.rate = rate;
    restore.onData = [](std::uint32_t) { kestle_test::spinTicks(1000); };
    std::wstring name = put(twoUnits().build());
    BuRdr::reader(name.c_str(), sink_, restore);
    EXPECT_EQ(restore.progressCalls, 0u) << rate;
    EXPECT_EQ(restore.calls.back().rfind(L"finished", 0), 0u);
  }
}

TEST_F(ReaderTest, ProgressFalseAbortsOnce) {
  restore_.rate = 0xFFFFFFFF > SystemTimer::frequency()
                      ? static_cast<std::uint32_t>(SystemTimer::frequency())
                      : 0xFFFFFFFFu;
  restore_.onData = [](std::uint32_t) { kestle_test::spinTicks(1); };
  restore_.progressAnswers = {false};
  run(twoUnits().build());
  ASSERT_EQ(restore_.progressCalls, 1u);
  EXPECT_EQ(restore_.calls.back().rfind(L"progress", 0), 0u);  // nothing after it
  ASSERT_EQ(sink_.faults().size(), 1u);
  EXPECT_EQ(sink_.faults()[0].code, BackupAborted);
  EXPECT_EQ(sink_.faults()[0].text, L"aborted");
}

// ---- faults ------------------------------------------------------------------------------

TEST_F(ReaderTest, SinkThatStaysOkHearsTheReadersOwnMessages) {
  {
    BackupImage image = twoUnits().build();
    image.changeChecksum(image.find(ChunkPlace::Kind::UnitHeader, 5));  // second unit's header
    RecordingSink sink(false);
    RecordingRestore restore;
    std::wstring name = put(image);
    BuRdr::reader(name.c_str(), sink, restore);
    EXPECT_EQ(sink.lines(),
              (Calls{L"2000277E checksum failure", L"20004C35 unknown read problem 0"}));
    EXPECT_EQ(restore.calls.back(), L"data 0");
  }
  {
    BackupImage image = twoUnits().build();
    image.changeChecksum(image.find(ChunkPlace::Kind::Data));
    RecordingSink sink(false);
    RecordingRestore restore;
    std::wstring name = put(image);
    BuRdr::reader(name.c_str(), sink, restore);
    EXPECT_EQ(sink.lines(),
              (Calls{L"2000277E checksum failure", L"20004C35 unknown read problem 1"}));
    EXPECT_EQ(restore.calls.back(), L"unit customers|Customer register|4");
  }
  {
    RecordingSink sink(false);
    RecordingRestore restore;
    restore.rate = static_cast<std::uint32_t>(
        std::min<unsigned long long>(SystemTimer::frequency(), 0xFFFFFFFFull));
    restore.onData = [](std::uint32_t) { kestle_test::spinTicks(1); };
    restore.progressAnswers = {true, false};
    std::wstring name = put(twoUnits().build());
    BuRdr::reader(name.c_str(), sink, restore);
    EXPECT_EQ(sink.lines(), Calls{L"200182BA aborted"});
    EXPECT_EQ(restore.progressCalls, 2u);
  }
}

// A backup whose end marker comes before the end of the file is not complete: a damaged unit
// header that happens to read as an empty chunk must not pass as the end of the backup.
TEST_F(ReaderTest, EndMarkerBeforeTheEndOfTheFileIsAFault) {
  BackupWriter w;
  w.unit(L"", L"n").data("lost");  // the header's first word (the unit text's count) is 0
  BackupImage image = w.build();
  image.setLength(0, 0);  // now the unit header reads as a valid empty chunk
  run(image);
  Calls expected{L"start KESTLE TEST", L"total " + sizeText()};
  EXPECT_EQ(restore_.calls, expected);
  std::size_t const trailing = image.bytes.size() - 264;
  EXPECT_EQ(sink_.lines(),
            Calls{L"20004C35 data after end of backup " + std::to_wstring(trailing)});

  BackupImage appended = BackupWriter().build();
  appended.bytes.push_back('x');
  RecordingSink sink;
  RecordingRestore restore;
  std::wstring name = put(appended);
  BuRdr::reader(name.c_str(), sink, restore);
  EXPECT_EQ(sink.lines(), Calls{L"20004C35 data after end of backup 1"});
}

// ---- resources ---------------------------------------------------------------------------

TEST_F(ReaderTest, HeapStorageIsReleasedAtEachUnitsEnd) {
  BackupWriter w;
  for (int i = 0; i < 3; ++i)
    w.unit(L"same", L"texts").data(std::string(5000, 'z')).data("small");
  std::vector<long long> held;
  restore_.onUnit = [&] { held.push_back(Heapwick::bytesHeld()); };
  run(w.build());
  ASSERT_EQ(held.size(), 3u);
  EXPECT_EQ(held[1], held[0]);
  EXPECT_EQ(held[2], held[0]);
  EXPECT_EQ(restore_.calls.back(), L"finished " + sizeText());
}

TEST_F(ReaderTest, ExceptionFromACallbackReleasesEverythingAndClosesTheFile) {
  int opens = 0, closes = 0;
  FileFaultGuard guard([&](Platform::FileCall const& c) -> std::optional<Platform::FileFault> {
    opens += c.op == Platform::FileOp::Open;
    closes += c.op == Platform::FileOp::Close;
    return std::nullopt;
  });
  for (int at = 0; at < 3; ++at) {
    RecordingRestore restore;
    if (at == 0)
      restore.onUnit = [] { throw std::runtime_error("unit"); };
    else
      restore.onData = [at](std::uint32_t length) {
        if (length == (at == 1 ? 1500u : 0u))
          throw std::runtime_error("data");
      };
    std::wstring name = put(twoUnits().build());
    EXPECT_THROW(BuRdr::reader(name.c_str(), sink_, restore), std::runtime_error);
    EXPECT_EQ(closes, opens);
  }
  EXPECT_EQ(opens, 3);
}

}  // namespace
