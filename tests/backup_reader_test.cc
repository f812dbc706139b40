// The backup source (header checks, chunk reads, Memo storage) and the reader that drives it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

#include "kestle/kestle.h"
#include "support/backup_writer.h"
#include "support/guards.h"

namespace {
using namespace kestle_test;
using Calls = std::vector<std::wstring>;
using Ops = std::vector<Platform::FileOp>;
using Platform::FileOp;

constexpr std::uint32_t kMask = 0x9E3779B9;

// Records every fault as "code text" (hex code); with stopOnError stops at the first nonzero code.
struct RecordingSink final : ErrorSink {
  explicit RecordingSink(bool stopOnError = true) : stopOnError(stopOnError) {}
  void error(unsigned long code, wchar_t const* text) override {
    wchar_t hex[32];
    std::swprintf(hex, 32, L"%lX ", code);
    lines.push_back(hex + std::wstring(text));
    stopped = stopped || (code != 0 && stopOnError);
  }
  bool ok() const override { return !stopped; }
  bool stopOnError;
  bool stopped = false;
  Calls lines;
};

// The leading block and header of a backup, then these chunks.
Bytes headerAnd(Bytes const& chunks, BackupHeader const& header = BackupHeader()) {
  Bytes out = BackupWriter(header).build().bytes;
  out.resize(256);
  out.insert(out.end(), chunks.begin(), chunks.end());
  return out;
}

struct Session {
  explicit Session(std::wstring const& name, bool stopOnError = true)
      : sink(stopOnError), source(sink, name.c_str()) {}
  bool start() { return source.start(stamp, code); }
  RecordingSink sink;
  BuRdr::Source source;
  Clock::UniversalTime stamp;
  WString code;
  BuRdr::Source::Memo memo;
};

// Records every call of the reader as one line ("unit customers|Customers|info", "data Alice").
class RecordingRestore final : public RecordingPacing<BuRdr::Restore> {
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

// Every file operation is recorded in ops_; fault_ (when set) answers it.
class ReaderTest : public ::testing::Test {
 protected:
  std::wstring put(Bytes const& bytes) {
    writeFile(dir_.file("r.bak"), bytes);
    return dir_.wfile("r.bak");
  }
  void run(BackupImage const& image, RecordingRestore& restore, RecordingSink& sink) {
    BuRdr::reader(put(image.bytes).c_str(), sink, restore);
  }
  static BackupWriter twoUnits() {
    return BackupWriter()
        .unit(L"customers", L"Customer register", Bytes{'i', 'n', 'f', 'o'})
        .data("Alice")
        .data(std::string(1500, 'b'))
        .data("Carol")
        .unit(L"orders", L"Orders")
        .data("#1");
  }

  TempDir dir_;
  HeapCheck heap_;
  RecordingSink sink_;
  RecordingRestore restore_;
  Ops ops_;
  Platform::FileFaultHook fault_;
  FileFaultGuard guard_{[this](Platform::FileCall const& c) -> std::optional<Platform::FileFault> {
    ops_.push_back(c.op);
    return fault_ ? fault_(c) : std::nullopt;
  }};
};

// Codes stop at a zero unit or 40 units, joining pairs; no tail leaks; trap() skips code 0.
TEST_F(ReaderTest, GoodHeaderTrapAndFileStamp) {
  std::pair<std::u16string, std::wstring> const cases[] = {
      {u"ABCDEFGHIJKLMNOPQRSTUVWXYZABCDEFGHIJKL\U0001F600",  // the pair is units 38 and 39
       L"ABCDEFGHIJKLMNOPQRSTUVWXYZABCDEFGHIJKL\U0001F600"},
      {{0xDBFF, 0xDFFF, 0, 'C'}, L"\U0010FFFF"}};
  for (auto const& [units, expected] : cases) {
    BackupHeader h;
    h.product = units;
    h.tail = 'Z';
    h.stamp.zone = static_cast<std::uint32_t>(-360000);
    Session s(put(headerAnd({}, h)));
    ASSERT_TRUE(s.start());
    EXPECT_EQ(std::tuple(std::wstring(s.code), s.stamp.date, s.stamp.time, s.stamp.zone,
                         s.source.done(), s.source.totalbytes()),
              std::tuple(expected, h.stamp.date, h.stamp.time, h.stamp.zone, 256ull, 256ull));
    EXPECT_LE(Clock::UniversalTime::now().date - s.source.fileStamp().date, 1u);
    s.source.trap(0, L"nothing");
    s.source.trap(5, L"x");  // stops the sink, which ends every further step
    EXPECT_EQ(s.sink.lines, Calls{L"5 BuSource x"});
    EXPECT_FALSE(s.source.fileStamp().filled());
    EXPECT_FALSE(s.source.read(kMask, s.memo, true));
  }
}

// Lengths around each tier's step widths, 7-byte reads; past 1020 bytes a heap block, grown lazily.
TEST_F(ReaderTest, ChunksOfEveryLengthOnEveryTierInlineOrOnTheHeap) {
  // Chunk lengths and the Memo's capacity after each.
  std::vector<std::pair<std::uint32_t, std::uint32_t>> steps = {
      {1019, 0},   {1020, 0},    {1021, 1028}, {1024, 1028},
      {800, 1028}, {5000, 5004}, {2000, 5004}, {0, 5004}};
  for (std::uint32_t n = 164; n > 0; --n)  // every length up to 164 first
    steps.insert(steps.begin(), {n, 0});
  Bytes chunks;
  for (auto [n, capacity] : steps)
    appendChunk(chunks, kMask * (n + 1), patternBytes(n, n).data(), n,
                static_cast<unsigned char>(n * 37 + 1));
  std::wstring const name = put(headerAnd(chunks));
  fault_ = [](Platform::FileCall const& c) {
    bool const chunkRead = c.op == FileOp::Read && c.position >= 256;
    return chunkRead ? std::optional(Platform::FileFault{0, 7, {}}) : std::nullopt;
  };
  // A tier the processor lacks runs the widest it has.
  for (auto tier : {Platform::CpuTier::Bytes, Platform::CpuTier::Sse2, Platform::CpuTier::Avx2}) {
    Platform::setCpuTier(tier);
    Session s(name);
    ASSERT_TRUE(s.start());
    long long const base = Heapwick::bytesHeld();
    for (auto [n, capacity] : steps) {
      ASSERT_TRUE(s.source.read(kMask * (n + 1), s.memo, true)) << n;
      ASSERT_EQ(Bytes(s.memo.data(), s.memo.data() + s.memo.length()), patternBytes(n, n));
      EXPECT_EQ(std::pair(s.memo.capacity(), Heapwick::bytesHeld() - base),
                std::pair(capacity, capacity != 0 ? capacity + 8ll : 0ll))
          << n;
    }
    EXPECT_TRUE(s.sink.lines.empty());
    EXPECT_EQ(s.source.done(), s.source.totalbytes());
    s.memo.clear();
    EXPECT_EQ(std::tuple(s.memo.length(), s.memo.capacity(), Heapwick::bytesHeld()),
              std::tuple(0u, 0u, base));
  }
  Platform::setCpuTier(Platform::CpuTier::Auto);
}

// Refused headers, failing platform calls, cut chunks (lenient: an empty one), implausible lengths.
TEST_F(ReaderTest, FaultsOfStartAndRead) {
  auto header = [](auto change) {
    BackupHeader h;
    change(h);
    return headerAnd({}, h);
  };
  Bytes flipped = headerAnd({});
  flipped[255] ^= 0x10;
  auto cut = [](std::string const& data, std::size_t keep) {  // the first `keep` chunk bytes
    Bytes chunk;
    appendChunk(chunk, kMask, data.data(), static_cast<std::uint32_t>(data.size()));
    Bytes b = headerAnd(chunk);
    b.resize(256 + keep);
    return b;
  };
  auto announcing = [&](std::uint32_t length) {
    Bytes b = cut("abcd", 12);
    std::uint32_t const field = length ^ kMask;
    std::memcpy(b.data() + 256, &field, 4);
    return b;
  };
  Bytes const eight = cut("abcdefgh", 16);
  std::wstring const noData = L"2000277E no data read";
  auto lines = [](auto const&... texts) { return Calls{std::wstring(texts)...}; };
  struct Case {
    char const* what;
    Bytes file;
    Calls faults;  // none: the read succeeds with an empty chunk; two: the sink stays ok
    unsigned long long done;
    std::optional<FileOp> failing = std::nullopt;
    unsigned long long position = 0;  // of a failing read
    bool strict = true;
    std::uint32_t capacity = 0;
  };
  Case const cases[] = {
      {"empty file", Bytes(), lines(L"20004C35 BuSource empty file " + dir_.wfile("r.bak")), 0},
      {"short header", Bytes(200, 'x'), lines(L"20004C35 BuSource read h1 72"), 128},
      {"type", header([](BackupHeader& h) { h.type = 12; }),
       lines(L"20004C35 BuSource header1 messtype12"), 256},
      {"no date", header([](BackupHeader& h) { h.stamp.date = 0; }),
       lines(L"20004C35 BuSource header1 no stamp"), 256},
      {"no time", header([](BackupHeader& h) { h.stamp.time = 0; }),
       lines(L"20004C35 BuSource header1 no stamp"), 256},
      {"last byte", flipped, lines(L"20004C35 BuSource Decode header1"), 256},
      {"size", eight, lines(L"45D BuSource size"), 0, FileOp::Size},
      {"setpos", eight, lines(L"45D BuSource setpos"), 128, FileOp::SetPos},
      {"read h1", eight, lines(L"45D BuSource read h1"), 128, FileOp::Read, 128},
      {"read length", eight, lines(L"45D BuSource read length"), 256, FileOp::Read, 256},
      {"read length, sink stays ok", eight,
       lines(L"45D BuSource read length", L"2000277E length read 0"), 256, FileOp::Read, 256},
      {"read data", eight, lines(L"45D BuSource read data"), 260, FileOp::Read, 260},
      {"read data, sink stays ok", eight, lines(L"45D BuSource read data", noData), 260,
       FileOp::Read, 260},
      {"end after length 0, lenient", cut("", 4), lines(), 260, std::nullopt, 0, false},
      {"end after length 0, strict", cut("", 4), lines(noData), 260},
      {"data chunk cut, lenient", cut("abcdefgh", 8), lines(noData), 264, std::nullopt, 0, false},
      {"length cut", cut("abcd", 1), lines(L"2000277E length read 1"), 256},
      {"length 0x8000000", announcing(0x8000000), lines(L"20004C35 unplausible length 134217728"),
       260},
      {"length 0x7FFFFFF, then the file ends", announcing(0x7FFFFFF), lines(noData), 268,
       std::nullopt, 0, true, 0x8000004},
  };
  for (Case const& c : cases) {
    SCOPED_TRACE(c.what);
    std::wstring const name = put(c.file);
    fault_ = [&](Platform::FileCall const& call) {
      bool const fails =
          call.op == c.failing && (call.op != FileOp::Read || call.position == c.position);
      return fails ? std::optional(Platform::FileFault{SysError::IoDevice, -1, {}}) : std::nullopt;
    };
    Session s(name, c.faults.size() < 2);
    if (s.start()) {
      EXPECT_EQ(s.source.read(kMask, s.memo, c.strict), c.faults.empty());
    }
    EXPECT_EQ(s.sink.lines, c.faults);
    EXPECT_EQ(std::tuple(s.source.done(), s.memo.capacity(), s.memo.length()),
              std::tuple(c.done, c.capacity, 0u));
  }
}

// A unit header's extra bytes are ignored, a short one gives empty texts; heap freed per unit.
TEST_F(ReaderTest, WholeBackupInCallingOrder) {
  std::vector<long long> held;
  restore_.onCall = [&](std::uint32_t length) {
    if (length == ~0u)
      held.push_back(Heapwick::bytesHeld());
  };
  Bytes extra = unitHeaderBytes(L"u", L"n", Bytes{'x'});
  extra.insert(extra.end(), {'t', 'a', 'i', 'l'});
  BackupWriter w = twoUnits();
  w.rawUnit(extra).data("d");
  w.rawUnit(Bytes{'\xFF', '\xFF', '\xFF', '\x7F', 'a', 0});  // a count far beyond the chunk
  BackupImage const image = w.build();
  std::wstring const size = std::to_wstring(image.bytes.size());
  run(image, restore_, sink_);
  EXPECT_EQ(restore_.calls,
            (Calls{L"start KESTLE TEST", L"total " + size, L"unit customers|Customer register|info",
                   L"data Alice", L"data " + std::wstring(1500, L'b'), L"data Carol", L"data ",
                   L"unit orders|Orders|", L"data #1", L"data ", L"unit u|n|x", L"data d", L"data ",
                   L"unit ||", L"data ", L"finished " + size}));
  EXPECT_LT(std::ranges::max(held), held.at(0) + 1000);  // the 1500-byte chunk's block is gone
  RecordingRestore refusing;  // its start answers false: nothing more is read
  refusing.startAnswer = false;
  run(image, refusing, sink_);
  EXPECT_EQ(refusing.calls, Calls{L"start KESTLE TEST"});
  EXPECT_TRUE(sink_.lines.empty());
}

// A fault at the open (an empty file, a stopped sink) leaves the file untouched but for its close;
// a callback that throws (unit, heap-held chunk, unit end) leaves it closed and no heap.
TEST_F(ReaderTest, TheFileIsClosedOnceWhateverEndsTheRead) {
  for (bool stopped : {false, true}) {
    std::wstring const name = put(stopped ? headerAnd({}) : Bytes{});
    sink_.stopped = stopped;
    ops_.clear();
    BuRdr::reader(name.c_str(), sink_, restore_);
    EXPECT_EQ(ops_, (stopped ? Ops{FileOp::Open, FileOp::Close}
                             : Ops{FileOp::Open, FileOp::Size, FileOp::Close}));
  }
  EXPECT_TRUE(restore_.calls.empty());
  sink_.stopped = false;
  for (std::uint32_t at : {~0u, 1500u, 0u}) {
    restore_.onCall = [at](std::uint32_t length) {
      if (length == at)
        throw std::runtime_error("callback");
    };
    ops_.clear();
    EXPECT_THROW(run(twoUnits().build(), restore_, sink_), std::runtime_error);
    EXPECT_EQ(std::ranges::count(ops_, FileOp::Close), 1) << at;
  }
}

// Progress follows a data chunk once the interval has passed; its false stops even an ok sink.
TEST_F(ReaderTest, ProgressPacing) {
  unsigned long long ticks = 0;
  ClockGuard clock([&] { return ticks; });
  BackupImage const image = twoUnits().build();
  // The progress and finished calls of a read under a sink that stays ok, which logs `faults`.
  auto pacing = [&](unsigned long long step, std::vector<bool> answers, Calls const& faults) {
    RecordingRestore restore;
    RecordingSink staysOk(false);
    restore.rate = 1000;
    restore.answers = answers;
    restore.onCall = [&](std::uint32_t) { ticks += step; };
    run(image, restore, staysOk);
    EXPECT_EQ(staysOk.lines, faults);
    std::erase_if(restore.calls, [](std::wstring const& call) {
      return !call.starts_with(L"progress") && !call.starts_with(L"finished");
    });
    return restore.calls;
  };
  auto at = [&](std::size_t chunk, std::wstring const& what) {
    return L"progress " + std::to_wstring(image.chunks[chunk].checksum + 4) + L" " + what;
  };
  std::wstring const customers = L"customers Customer register";
  unsigned long long const f = SystemTimer::frequency();
  EXPECT_EQ(pacing(f * 6 / 10000, {}, {}),  // the interval restarts at each report
            (Calls{at(1, customers), at(3, customers), at(6, L"orders Orders"),
                   L"finished " + std::to_wstring(image.bytes.size())}));
  EXPECT_EQ(pacing(f * 12 / 10000, {true, false}, {L"200182BA aborted"}),
            (Calls{at(1, customers), at(2, customers)}));
}

// Under an ok sink a source fault adds the reader's message; an early end marker is a fault.
TEST_F(ReaderTest, ReadersOwnMessages) {
  for (bool unitHeader : {true, false}) {
    for (bool staysOk : {false, true}) {
      RecordingSink sink(!staysOk);
      RecordingRestore restore;  // damaged: the second unit's header, or the first data
      run(twoUnits().build().changeChecksum(unitHeader ? 5 : 1), restore, sink);
      Calls expected{L"2000277E checksum failure"};
      if (staysOk)
        expected.push_back(L"20004C35 unknown read problem " + std::to_wstring(!unitHeader));
      EXPECT_EQ(sink.lines, expected);
      EXPECT_EQ(restore.calls.back(),
                unitHeader ? L"data " : L"unit customers|Customer register|info");
    }
  }
  BackupImage image = twoUnits().build();
  image.bytes.insert(image.bytes.end(), {'x', 'y'});
  run(image, restore_, sink_);
  EXPECT_EQ(sink_.lines, Calls{L"20004C35 data after end of backup 2"});
  EXPECT_EQ(restore_.calls.back(), L"data ");
}

}  // namespace
