// The backup reader: calling order, unit headers, pacing of progress, faults, and the release of
// everything it holds.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <iterator>
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
using kestle_test::RecordingSink;
using Calls = std::vector<std::wstring>;

// Records every call of the reader as one line ("unit customers|Customers|info", "data Alice").
class RecordingRestore final : public kestle_test::RecordingPacing<BuRdr::Restore> {
 public:
  bool start(Clock::UniversalTime const&, wchar_t const* productcode) override {
    calls.push_back(std::wstring(L"start ") + productcode);
    return startAnswer;
  }
  void finished(unsigned long long bytesdone) override {
    calls.push_back(L"finished " + std::to_wstring(bytesdone));
  }
  void unit(wchar_t const* unit, wchar_t const* name, XBuffer& info) override {
    char const* bytes = info.len() > 0 ? info.at(0) : "";
    calls.push_back(std::wstring(L"unit ") + unit + L"|" + name + L"|" +
                    std::wstring(bytes, bytes + info.len()));
    onCall(~0u);
  }
  void data(std::uint32_t length, char const* bytes) override {
    calls.push_back(L"data " + std::wstring(bytes, bytes + length));
    onCall(length);
  }

  bool startAnswer = true;
  std::function<void(std::uint32_t length)> onCall = [](std::uint32_t) {};  // ~0u: a unit
};

class ReaderTest : public ::testing::Test {
 protected:
  void run(BackupImage const& image, RecordingRestore& restore, RecordingSink& sink) {
    size_ = std::to_wstring(image.bytes.size());
    image.writeTo(dir_.file("r.bak"));
    BuRdr::reader(dir_.wfile("r.bak").c_str(), sink, restore);
  }
  void run(BackupImage const& image) { run(image, restore_, sink_); }
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
// and a unit header too short for its fields gives empty values rather than reading beyond it.
// The heap storage of a unit's chunks is gone before the next unit begins.
TEST_F(ReaderTest, WholeBackupInCallingOrder) {
  std::vector<long long> held;
  restore_.onCall = [&](std::uint32_t length) {
    if (length == ~0u)
      held.push_back(Heapwick::bytesHeld());
  };
  Bytes extra = kestle_test::unitHeaderBytes(L"u", L"n", Bytes{'x'});
  extra.insert(extra.end(), {'t', 'a', 'i', 'l'});
  BackupWriter w = twoUnits();
  w.unit(L"", L"");
  w.unit(L"\U0001F600 unit", L"");
  w.rawUnit(extra).data("d");
  w.rawUnit(Bytes{'\xFF', '\xFF', '\xFF', '\x7F', 'a', 0});  // a count far beyond the chunk
  run(w.build());
  EXPECT_EQ(restore_.calls, (Calls{L"start KESTLE TEST",
                                   L"total " + size_,
                                   L"unit customers|Customer register|info",
                                   L"data Alice",
                                   L"data " + std::wstring(1500, L'b'),
                                   L"data Carol",
                                   L"data ",
                                   L"unit orders|Orders|",
                                   L"data #1",
                                   L"data ",
                                   L"unit ||",
                                   L"data ",
                                   L"unit \U0001F600 unit||",
                                   L"data ",
                                   L"unit u|n|x",
                                   L"data d",
                                   L"data ",
                                   L"unit ||",
                                   L"data ",
                                   L"finished " + size_}));
  EXPECT_TRUE(sink_.lines.empty());
  for (long long h : held)
    EXPECT_LT(h, held.at(0) + 1000);  // the 1500-byte chunk's heap block is gone
}

TEST_F(ReaderTest, StartFalseEndsAtOnce) {
  restore_.startAnswer = false;
  run(twoUnits().build());
  EXPECT_EQ(restore_.calls, Calls{L"start KESTLE TEST"});
  EXPECT_TRUE(sink_.lines.empty());
}

// The clock moves by `step` at every unit and data call. Progress may follow a data chunk (never
// a unit header or a closing chunk) once the interval has passed since the last report; its false
// stops the reader even under a sink that stays ok.
TEST_F(ReaderTest, ProgressPacing) {
  unsigned long long ticks = 0;
  kestle_test::ClockGuard clock([&] { return ticks; });
  unsigned long long const f = SystemTimer::frequency();
  BackupImage const image = twoUnits().build();
  auto at = [&](std::size_t chunk, wchar_t const* what) {
    return L"progress " + std::to_wstring(image.chunks[chunk].end()) + what;
  };
  Calls const every{at(1, L" customers Customer register"), at(2, L" customers Customer register"),
                    at(3, L" customers Customer register"), at(6, L" orders Orders")};
  struct Case {
    std::uint32_t rate;
    unsigned long long step;
    std::vector<bool> answers;
    Calls progress;
    Calls faults;
  };
  Case const cases[] = {
      {1000, f * 12 / 10000, {}, every, {}},
      {1000, f * 6 / 10000, {}, {every[0], every[2], every[3]}, {}},  // restarts at each report
      {1000, f * 12 / 10000, {true, false}, {every[0], every[1]}, {L"200182BA aborted"}},
      {0, f, {}, {}, {}},
  };
  for (Case const& c : cases) {
    SCOPED_TRACE(c.rate);
    RecordingRestore restore;
    RecordingSink staysOk(false);
    restore.rate = c.rate;
    restore.answers = c.answers;
    restore.onCall = [&](std::uint32_t) { ticks += c.step; };
    run(image, restore, staysOk);
    Calls progress;
    std::copy_if(restore.calls.begin(), restore.calls.end(), std::back_inserter(progress),
                 [](std::wstring const& call) { return call.starts_with(L"progress"); });
    EXPECT_EQ(progress, c.progress);
    EXPECT_EQ(staysOk.lines, c.faults);
    EXPECT_EQ(restore.calls.back(), c.faults.empty() ? L"finished " + size_ : c.progress.back());
  }
}

TEST_F(ReaderTest, ReadersOwnMessagesOnlyWhileTheSinkIsOk) {
  for (bool unitHeader : {true, false}) {
    for (bool staysOk : {false, true}) {
      BackupImage image = twoUnits().build();
      image.changeChecksum(unitHeader ? image.find(ChunkPlace::Kind::UnitHeader, 1)
                                      : image.find(ChunkPlace::Kind::Data));
      RecordingSink sink(!staysOk);
      RecordingRestore restore;
      run(image, restore, sink);
      Calls expected{L"2000277E checksum failure"};
      if (staysOk)
        expected.push_back(unitHeader ? L"20004C35 unknown read problem 0"
                                      : L"20004C35 unknown read problem 1");
      EXPECT_EQ(sink.lines, expected);
      EXPECT_EQ(restore.calls.back(),
                unitHeader ? L"data " : L"unit customers|Customer register|info");
    }
  }
}

// An end marker before the end of the file is a fault, or a damaged unit header that reads as an
// empty chunk would pass as a complete backup.
TEST_F(ReaderTest, EndMarkerBeforeTheEndOfTheFileIsAFault) {
  BackupImage image = twoUnits().build();
  image.bytes.insert(image.bytes.end(), {'x', 'y'});
  run(image);
  EXPECT_EQ(sink_.lines, Calls{L"20004C35 data after end of backup 2"});
  EXPECT_EQ(restore_.calls.back(), L"data ");
}

TEST_F(ReaderTest, ExceptionFromACallbackReleasesEverythingAndClosesTheFile) {
  int closes = 0;
  kestle_test::FileFaultGuard guard(
      [&](Platform::FileCall const& c) -> std::optional<Platform::FileFault> {
        closes += c.op == Platform::FileOp::Close;
        return std::nullopt;
      });
  restore_.onCall = [](std::uint32_t length) {
    if (length == 5)  // "Carol", with the heap storage of the chunk before
      throw std::runtime_error("callback");
  };
  EXPECT_THROW(run(twoUnits().build()), std::runtime_error);
  EXPECT_EQ(closes, 1);
}

}  // namespace
