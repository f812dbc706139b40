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
using kestle_test::RecordingRestore;
using kestle_test::RecordingSink;
using Calls = std::vector<std::wstring>;

bool startsWith(std::wstring const& text, wchar_t const* prefix) {
  return text.rfind(prefix, 0) == 0;
}

class ReaderTest : public ::testing::Test {
 protected:
  void run(BackupImage const& image, RecordingRestore& restore, RecordingSink& sink) {
    size_ = std::to_wstring(image.bytes.size());
    image.writeTo(dir_.file("r.bak"));
    BuRdr::reader(dir_.wfile("r.bak").c_str(), sink, restore);
  }
  void run(BackupImage const& image) { run(image, restore_, sink_); }
  // The calls of a read without fault, around the calls of its units.
  Calls whole(Calls const& units) const {
    Calls calls{L"start KESTLE TEST", L"total " + size_};
    calls.insert(calls.end(), units.begin(), units.end());
    calls.push_back(L"finished " + size_);
    return calls;
  }
  // Two units: three data chunks and one.
  static BackupWriter twoUnits() {
    BackupWriter w;
    w.unit(L"customers", L"Customer register", Bytes{'i', 'n', 'f', 'o'})
        .data("Alice")
        .data(std::string(1500, 'b'))
        .data("Carol");
    w.unit(L"orders", L"Orders").data("#1");
    return w;
  }

  kestle_test::TempDir dir_;
  kestle_test::HeapCheck heap_;
  RecordingSink sink_;
  RecordingRestore restore_;
  std::wstring size_;
};

// Units without data and with empty texts too; bytes after a unit header's fields are ignored,
// and a unit header too short for its fields gives empty values rather than reading beyond the
// chunk.
TEST_F(ReaderTest, WholeBackupInCallingOrder) {
  Bytes extra = kestle_test::unitHeaderBytes(L"u", L"n", Bytes{'x'});
  extra.insert(extra.end(), {'t', 'a', 'i', 'l'});
  BackupWriter w = twoUnits();
  w.unit(L"", L"");
  w.unit(L"\U0001F600 unit", L"");
  w.rawUnit(extra).data("d");
  w.rawUnit(Bytes{'\xFF', '\xFF', '\xFF', '\x7F', 'a', 0});  // a count far beyond the chunk
  run(w.build());
  EXPECT_EQ(restore_.calls,
            whole({L"unit customers|Customer register|4", L"data 5", L"data 1500", L"data 5",
                   L"data 0", L"unit orders|Orders|0", L"data 2", L"data 0", L"unit ||0", L"data 0",
                   L"unit \U0001F600 unit||0", L"data 0", L"unit u|n|1", L"data 1", L"data 0",
                   L"unit ||0", L"data 0"}));
  EXPECT_TRUE(sink_.lines.empty());
  ASSERT_EQ(restore_.chunks.size(), 11u);
  EXPECT_EQ(restore_.chunks[0], "Alice");
  EXPECT_EQ(restore_.chunks[1], std::string(1500, 'b'));
  EXPECT_EQ(restore_.chunks[4], "#1");
  EXPECT_EQ(restore_.chunks[8], "d");
  EXPECT_EQ(restore_.infos, (std::vector<std::string>{"info", "", "", "", "x", ""}));
  EXPECT_EQ(restore_.stamp.date, kestle_test::BackupHeader().stamp.date);
}

// A header that the source refuses ends the read before start as well; the report's document of
// an empty file shows that.
TEST_F(ReaderTest, StartFalseEndsAtOnce) {
  restore_.startAnswer = false;
  run(twoUnits().build());
  EXPECT_EQ(restore_.calls, Calls{L"start KESTLE TEST"});
  EXPECT_TRUE(sink_.lines.empty());
}

// ---- pacing ------------------------------------------------------------------------------

// With an interval of one tick and each data call letting the clock move on by more than that,
// a progress report follows every data chunk, but never a unit header or a closing chunk. Its
// false stops the reader by itself: even a sink that stays ok hears "aborted" once and nothing
// follows.
TEST_F(ReaderTest, ProgressAfterEveryDataChunkAndItsFalseAbortsOnce) {
  if (SystemTimer::frequency() > 0xFFFFFFFFull)
    GTEST_SKIP() << "timer too fine for a 32-bit rate";
  restore_.rate = kestle_test::finestRate();  // interval 1 tick
  restore_.onData = [](std::uint32_t) { kestle_test::spinTicks(1); };
  restore_.progressAnswers = {true, true, true, true, false};
  BackupWriter w = twoUnits();
  w.unit(L"", L"").data("x").data("never read");
  BackupImage image = w.build();
  RecordingSink staysOk(false);
  run(image, restore_, staysOk);
  auto after = [&](std::size_t chunk) { return std::to_wstring(image.chunks[chunk].end()); };
  EXPECT_EQ(restore_.calls,
            (Calls{L"start KESTLE TEST", L"total " + size_, L"unit customers|Customer register|4",
                   L"data 5", L"progress " + after(1) + L" customers Customer register",
                   L"data 1500", L"progress " + after(2) + L" customers Customer register",
                   L"data 5", L"progress " + after(3) + L" customers Customer register", L"data 0",
                   L"unit orders|Orders|0", L"data 2", L"progress " + after(6) + L" orders Orders",
                   L"data 0", L"unit ||0", L"data 1",
                   L"progress " + after(9) + L"  "}));  // empty texts: one blank between
  EXPECT_EQ(staysOk.lines, Calls{L"200182BA aborted"});
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
    run(twoUnits().build(), restore, sink_);
    EXPECT_EQ(restore.progressCalls, 0u) << rate;
    EXPECT_TRUE(startsWith(restore.calls.back(), L"finished"));
  }
}

// The interval restarts at each report: data chunks 0.6 intervals apart bring one every second.
TEST_F(ReaderTest, ProgressIntervalRestartsAfterEachReport) {
  unsigned long long ticks = 0;
  kestle_test::ClockGuard clock([&] { return ticks; });
  restore_.rate = 1000;
  restore_.onData = [&](std::uint32_t n) {
    ticks += n != 0 ? SystemTimer::frequency() * 6 / 10000 : 0;
  };
  BackupImage image = twoUnits().build();
  run(image);
  Calls progress;
  for (auto const& call : restore_.calls) {
    if (startsWith(call, L"progress"))
      progress.push_back(call);
  }
  auto after = [&](std::size_t chunk) { return std::to_wstring(image.chunks[chunk].end()); };
  EXPECT_EQ(progress, (Calls{L"progress " + after(2) + L" customers Customer register",
                             L"progress " + after(6) + L" orders Orders"}));
}

// ---- faults ------------------------------------------------------------------------------

TEST_F(ReaderTest, ReadersOwnMessagesOnlyWhileTheSinkIsOk) {
  struct Case {
    bool unitHeader;  // else the first data chunk
    wchar_t const* problem;
    wchar_t const* lastCall;
  };
  for (Case c :
       {Case{true, L"20004C35 unknown read problem 0", L"data 0"},
        Case{false, L"20004C35 unknown read problem 1", L"unit customers|Customer register|4"}}) {
    for (bool staysOk : {false, true}) {
      BackupImage image = twoUnits().build();
      image.changeChecksum(c.unitHeader ? image.find(ChunkPlace::Kind::UnitHeader, 1)
                                        : image.find(ChunkPlace::Kind::Data));
      RecordingSink sink(!staysOk);
      RecordingRestore restore;
      run(image, restore, sink);
      Calls expected{L"2000277E checksum failure"};
      if (staysOk)
        expected.push_back(c.problem);
      EXPECT_EQ(sink.lines, expected);
      EXPECT_EQ(restore.calls.back(), c.lastCall);
    }
  }
}

// A damaged unit header that happens to read as an empty chunk must not pass as the end of the
// backup: an end marker before the end of the file is a fault.
TEST_F(ReaderTest, EndMarkerBeforeTheEndOfTheFileIsAFault) {
  BackupWriter w;
  w.unit(L"", L"n").data("lost");  // the header's first word (the unit text's count) is 0
  BackupImage image = w.build();
  image.setLength(0, 0);  // now the unit header reads as a valid empty chunk
  run(image);
  EXPECT_EQ(restore_.calls, (Calls{L"start KESTLE TEST", L"total " + size_}));
  EXPECT_EQ(sink_.lines, Calls{L"20004C35 data after end of backup " +
                               std::to_wstring(image.bytes.size() - 264)});

  image = BackupWriter().build();
  image.bytes.push_back('x');
  RecordingSink sink;
  RecordingRestore restore;
  run(image, restore, sink);
  EXPECT_EQ(sink.lines, Calls{L"20004C35 data after end of backup 1"});
}

// ---- resources ---------------------------------------------------------------------------

TEST_F(ReaderTest, HeapStorageIsReleasedAtEachUnitsEnd) {
  BackupWriter w;
  for (int i = 0; i < 3; ++i)
    w.unit(L"same", L"texts").data(std::string(5000, 'z')).data("small");
  std::vector<long long> held;
  restore_.onUnit = [&] { held.push_back(Heapwick::bytesHeld()); };
  run(w.build());
  EXPECT_EQ(held, std::vector<long long>(3, held.at(0)));
  EXPECT_EQ(restore_.calls.back(), L"finished " + size_);
}

TEST_F(ReaderTest, ExceptionFromACallbackReleasesEverythingAndClosesTheFile) {
  int opens = 0, closes = 0;
  kestle_test::FileFaultGuard guard(
      [&](Platform::FileCall const& c) -> std::optional<Platform::FileFault> {
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
    EXPECT_THROW(run(twoUnits().build(), restore, sink_), std::runtime_error);
    EXPECT_EQ(closes, opens);
  }
  EXPECT_EQ(opens, 3);
}

}  // namespace
