// The backup source (opening, header checks, chunk reads, the Memo's storage, the messages) and
// the reader that drives it (calling order, unit headers, pacing of progress, faults, release).
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

#include "kestle/kestle.h"
#include "support/backup_recorders.h"
#include "support/backup_writer.h"
#include "support/guards.h"

namespace {
using namespace kestle_test;
using Calls = std::vector<std::wstring>;
using Platform::FileOp;

constexpr std::uint32_t kMask = 0x9E3779B9;

Calls one(unsigned long code, std::wstring const& text) {
  return {RecordingSink::line(code, text)};
}

Bytes headerAnd(Bytes const& chunks, BackupHeader const& header = BackupHeader()) {
  Bytes out(128, '\0');
  Bytes h = encipheredHeader(header);
  out.insert(out.end(), h.begin(), h.end());
  out.insert(out.end(), chunks.begin(), chunks.end());
  return out;
}

Bytes chunkOf(std::string const& data) {
  Bytes out;
  appendChunk(out, kMask, data.data(), static_cast<std::uint32_t>(data.size()));
  return out;
}

// Fails the platform call `op` (reads only at `position`) with an I/O error.
Platform::FileFaultHook failing(FileOp op, unsigned long long position = 0) {
  return [=](Platform::FileCall const& c) -> std::optional<Platform::FileFault> {
    if (c.op == op && (op != FileOp::Read || c.position == position))
      return Platform::FileFault{SysError::IoDevice, -1, {}};
    return std::nullopt;
  };
}

struct Session {
  explicit Session(std::wstring const& name, bool stopOnError = true, bool stopped = false)
      : sink(stopOnError, stopped), source(sink, name.c_str()) {}
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

class ReaderTest : public ::testing::Test {
 protected:
  std::wstring put(Bytes const& bytes) {
    writeFile(dir_.file("r.bak"), bytes);
    return dir_.wfile("r.bak");
  }
  void run(BackupImage const& image, RecordingRestore& restore, RecordingSink& sink) {
    size_ = std::to_wstring(image.bytes.size());
    BuRdr::reader(put(image.bytes).c_str(), sink, restore);
  }
  void run(BackupImage const& image) { run(image, restore_, sink_); }
  static BackupWriter twoUnits() {
    BackupWriter w;
    w.unit(L"customers", L"Customer register", Bytes{'i', 'n', 'f', 'o'})
        .data("Alice")
        .data(std::string(1500, 'b'))
        .data("Carol");
    w.unit(L"orders", L"Orders").data("#1");
    return w;
  }

  TempDir dir_;
  HeapCheck heap_;
  RecordingSink sink_;
  RecordingRestore restore_;
  std::wstring size_;
};

// An empty file is read no further than its size; a sink that is not ok at the open has the
// file closed at once. Either way the file is closed exactly once.
TEST_F(ReaderTest, FaultAtTheOpenTouchesTheFileNoMore) {
  for (bool stopped : {false, true}) {
    std::wstring name = put(stopped ? headerAnd({}) : Bytes{});
    std::vector<FileOp> ops;
    FileFaultGuard guard([&](Platform::FileCall const& c) -> std::optional<Platform::FileFault> {
      ops.push_back(c.op);
      return std::nullopt;
    });
    {
      Session s(name, true, stopped);
      EXPECT_FALSE(s.start());
      using Ops = std::vector<FileOp>;
      EXPECT_EQ(ops,
                (stopped ? Ops{FileOp::Open, FileOp::Close} : Ops{FileOp::Open, FileOp::Size}));
    }
    EXPECT_EQ(ops.size(), stopped ? 2u : 3u);
  }
}

// Product codes end at the first zero unit or after 40 units, joining surrogate pairs. The tail
// after the field must not leak; every byte of the zone counts. trap() reports nonzero codes only.
TEST_F(ReaderTest, GoodHeaderTrapAndFileStamp) {
  std::wstring const lastPair =
      L"ABCDEFGHIJKLMNOPQRSTUVWXYZABCDEFGHIJKL\U0001F600";  // the pair is units 38 and 39
  std::pair<std::vector<std::uint16_t>, std::wstring> const cases[] = {
      {utf16(lastPair), lastPair}, {{0xDBFF, 0xDFFF, 0, 'C'}, L"\U0010FFFF"}};
  for (auto const& [units, expected] : cases) {
    BackupHeader h;
    h.product = units;
    h.tail = 'Z';
    h.stamp.zone = static_cast<std::uint32_t>(-360000);
    Session s(put(headerAnd({}, h)));
    ASSERT_TRUE(s.start());
    EXPECT_EQ(std::wstring(static_cast<wchar_t const*>(s.code)), expected);
    EXPECT_EQ(std::tie(s.stamp.date, s.stamp.time, s.stamp.zone),
              std::tie(h.stamp.date, h.stamp.time, h.stamp.zone));
    EXPECT_EQ(std::pair(s.source.done(), s.source.totalbytes()), std::pair(256ull, 256ull));
    EXPECT_LE(Clock::UniversalTime::now().date - s.source.fileStamp().date, 1u);
    s.source.trap(0, L"nothing");
    s.source.trap(5, L"x");  // stops the sink, which ends every further step
    EXPECT_EQ(s.sink.lines, one(5, L"BuSource x"));
    EXPECT_FALSE(s.source.fileStamp().filled());
    EXPECT_FALSE(s.source.read(kMask, s.memo, true));
  }
}

// Every word count around the vector steps' widths, a mask and padding fill per chunk, on every
// processor tier; every transfer moves at most 7 bytes, so each one ends short and is continued.
TEST_F(ReaderTest, ChunksOfEveryLengthReadBackThroughShortTransfersOnEveryTier) {
  std::vector<std::uint32_t> lengths;
  for (std::uint32_t n = 1; n <= 164; ++n)
    lengths.push_back(n);
  lengths.insert(lengths.end(), {1019, 1020, 1021, 5000, 0});
  Bytes chunks;
  for (std::uint32_t n : lengths)
    appendChunk(chunks, kMask * (n + 1), patternBytes(n, n).data(), n,
                static_cast<unsigned char>(n * 37 + 1));
  std::wstring const name = put(headerAnd(chunks));
  FileFaultGuard guard([&](Platform::FileCall const& c) -> std::optional<Platform::FileFault> {
    if (c.op != FileOp::Read || c.position < 256)
      return std::nullopt;
    return Platform::FileFault{0, 7, {}};
  });
  // A tier the processor lacks runs the widest it has.
  for (auto tier : {Platform::CpuTier::Bytes, Platform::CpuTier::Sse2, Platform::CpuTier::Avx2}) {
    Platform::setCpuTier(tier);
    Session s(name);
    ASSERT_TRUE(s.start());
    for (std::uint32_t n : lengths) {
      ASSERT_TRUE(s.source.read(kMask * (n + 1), s.memo, true)) << n;
      ASSERT_EQ(Bytes(s.memo.data(), s.memo.data() + s.memo.length()), patternBytes(n, n));
    }
    EXPECT_TRUE(s.sink.lines.empty());
    EXPECT_EQ(s.source.done(), s.source.totalbytes());
  }
  Platform::setCpuTier(Platform::CpuTier::Auto);
}

// Up to 1020 data bytes inline; beyond, a heap block that grows only when too small.
TEST_F(ReaderTest, InlineUpTo1020BytesHeapBeyondAndHeapReused) {
  std::pair<std::uint32_t, std::uint32_t> const steps[] = {{1020, 0},   {1021, 1028}, {1024, 1028},
                                                           {800, 1028}, {3000, 3004}, {2000, 3004}};
  Bytes chunks;
  for (auto [n, capacity] : steps)
    appendChunk(chunks, kMask, patternBytes(n, 1).data(), n);
  Session s(put(headerAnd(chunks)));
  ASSERT_TRUE(s.start());
  long long const base = Heapwick::bytesHeld();
  for (auto [n, capacity] : steps) {
    ASSERT_TRUE(s.source.read(kMask, s.memo, true));
    EXPECT_EQ(std::pair(s.memo.length(), s.memo.capacity()), std::pair(n, capacity));
    EXPECT_EQ(Heapwick::bytesHeld(), base + (capacity != 0 ? capacity + 8 : 0)) << n;
  }
  s.memo.clear();
  EXPECT_EQ(std::pair(s.memo.length(), s.memo.capacity()), std::pair(0u, 0u));
  EXPECT_EQ(Heapwick::bytesHeld(), base);
}

// Refused headers, failing platform calls, cut, damaged or implausible chunks. Only an empty chunk
// may lack its checksum word, and only when not strict; a length field of 0x8000000 is refused
// before anything is allocated.
TEST_F(ReaderTest, FaultsOfStartAndRead) {
  auto header = [](auto change) {
    BackupHeader h;
    change(h);
    return headerAnd({}, h);
  };
  Bytes flipped = headerAnd({});
  flipped[255] ^= 0x10;
  auto cut = [](std::string const& data, std::size_t keep) {
    Bytes b = headerAnd(chunkOf(data));
    b.resize(256 + keep);
    return b;
  };
  auto announcing = [](std::uint32_t length) {
    Bytes b = headerAnd(chunkOf("abcd"));
    std::uint32_t const field = length ^ kMask;
    std::memcpy(b.data() + 256, &field, 4);
    return b;
  };
  Bytes const eight = headerAnd(chunkOf("abcdefgh"));
  Calls const noData = one(BackupReadError, L"no data read");
  auto format = [](std::wstring const& text) { return one(BackupFormatError, text); };
  auto io = [](std::wstring const& text) { return one(SysError::IoDevice, text); };
  auto ioThen = [](std::wstring const& text, std::wstring const& then) {  // under an ok sink
    return Calls{RecordingSink::line(SysError::IoDevice, text), then};
  };
  struct Case {
    char const* what;
    Bytes file;
    Calls faults;  // none: the read succeeds with an empty chunk; two: the sink stays ok
    unsigned long long done;
    Platform::FileFaultHook hook = nullptr;
    bool strict = true;
    std::uint32_t capacity = 0;
    std::uint32_t mask = kMask;
  };
  Case const cases[] = {
      {"empty file", Bytes(), format(L"BuSource empty file " + dir_.wfile("r.bak")), 0},
      {"short header", Bytes(200, 'x'), format(L"BuSource read h1 72"), 128},
      {"type", header([](BackupHeader& h) { h.type = 12; }), format(L"BuSource header1 messtype12"),
       256},
      {"no date", header([](BackupHeader& h) { h.stamp.date = 0; }),
       format(L"BuSource header1 no stamp"), 256},
      {"no time", header([](BackupHeader& h) { h.stamp.time = 0; }),
       format(L"BuSource header1 no stamp"), 256},
      {"last byte", flipped, format(L"BuSource Decode header1"), 256},
      {"size", eight, io(L"BuSource size"), 0, failing(FileOp::Size)},
      {"setpos", eight, io(L"BuSource setpos"), 128, failing(FileOp::SetPos)},
      {"read h1", eight, io(L"BuSource read h1"), 128, failing(FileOp::Read, 128)},
      {"read length", eight, io(L"BuSource read length"), 256, failing(FileOp::Read, 256)},
      {"read length, sink stays ok", eight,
       ioThen(L"BuSource read length", L"2000277E length read 0"), 256, failing(FileOp::Read, 256)},
      {"read data", eight, io(L"BuSource read data"), 260, failing(FileOp::Read, 260)},
      {"read data, sink stays ok", eight, ioThen(L"BuSource read data", L"2000277E no data read"),
       260, failing(FileOp::Read, 260)},
      {"empty chunk", cut("", 8), Calls(), 264},
      {"end after length 0, lenient", cut("", 4), Calls(), 260, nullptr, false},
      {"end after length 0, strict", cut("", 4), noData, 260},
      {"data chunk cut, lenient", cut("abcdefgh", 8), noData, 264, nullptr, false},
      {"length cut", cut("abcd", 1), one(BackupReadError, L"length read 1"), 256},
      {"length 0x8000000", announcing(0x8000000), format(L"unplausible length 134217728"), 260},
      {"length 0x7FFFFFF, then the file ends", announcing(0x7FFFFFF), noData, 268, nullptr, true,
       0x8000004},
      {"wrong mask", headerAnd(chunkOf("0123456789")), one(BackupReadError, L"checksum failure"),
       276, nullptr, true, 0, kMask ^ 1},
  };
  for (Case const& c : cases) {
    SCOPED_TRACE(c.what);
    std::wstring const name = put(c.file);
    FileFaultGuard guard(c.hook);
    Session s(name, c.faults.size() < 2);
    if (s.start()) {
      EXPECT_EQ(s.source.read(c.mask, s.memo, c.strict), c.faults.empty());
    }
    EXPECT_EQ(s.sink.lines, c.faults);
    EXPECT_EQ(std::tuple(s.source.done(), s.memo.capacity(), s.memo.length()),
              std::tuple(c.done, c.capacity, 0u));
  }
}

// Bytes after a unit header's fields are ignored; a unit header too short for its fields gives
// empty values. A unit's heap storage is gone before the next unit begins.
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
  run(w.build());
  EXPECT_EQ(
      restore_.calls,
      (Calls{L"start KESTLE TEST", L"total " + size_, L"unit customers|Customer register|info",
             L"data Alice", L"data " + std::wstring(1500, L'b'), L"data Carol", L"data ",
             L"unit orders|Orders|", L"data #1", L"data ", L"unit u|n|x", L"data d", L"data ",
             L"unit ||", L"data ", L"finished " + size_}));
  for (long long h : held)
    EXPECT_LT(h, held.at(0) + 1000);  // the 1500-byte chunk's heap block is gone
  RecordingRestore refusing;          // its start answers false: nothing more is read
  refusing.startAnswer = false;
  run(w.build(), refusing, sink_);
  EXPECT_EQ(refusing.calls, Calls{L"start KESTLE TEST"});
  EXPECT_TRUE(sink_.lines.empty());
}

// A callback that throws (in a unit, inside a heap-held chunk, at a unit's end) leaves the file
// closed and no heap block behind (the fixture's HeapCheck).
TEST_F(ReaderTest, ExceptionFromACallbackClosesTheFile) {
  int opens = 0, closes = 0;
  FileFaultGuard guard([&](Platform::FileCall const& c) -> std::optional<Platform::FileFault> {
    opens += c.op == Platform::FileOp::Open;
    closes += c.op == Platform::FileOp::Close;
    return std::nullopt;
  });
  for (std::uint32_t at : {~0u, 1500u, 0u}) {
    RecordingRestore restore;
    restore.onCall = [at](std::uint32_t length) {
      if (length == at)
        throw std::runtime_error("callback");
    };
    EXPECT_THROW(run(twoUnits().build(), restore, sink_), std::runtime_error);
    EXPECT_EQ(closes, opens);
  }
  EXPECT_EQ(opens, 3);
}

// The clock moves by `step` at every unit and data call. Progress follows a data chunk once the
// interval has passed since the last report; its false stops even a sink that stays ok.
TEST_F(ReaderTest, ProgressPacing) {
  unsigned long long ticks = 0;
  ClockGuard clock([&] { return ticks; });
  unsigned long long const f = SystemTimer::frequency();
  BackupImage const image = twoUnits().build();
  auto at = [&](std::size_t chunk, wchar_t const* what) {
    return L"progress " + std::to_wstring(image.chunks[chunk].end()) + what;
  };
  Calls const every{at(1, L" customers Customer register"), at(2, L" customers Customer register"),
                    at(3, L" customers Customer register"), at(6, L" orders Orders")};
  struct Case {
    unsigned long long step;
    std::vector<bool> answers;
    Calls progress;
    Calls faults;
  };
  Case const cases[] = {
      {f * 6 / 10000, {}, {every[0], every[2], every[3]}, {}},  // restarts at each report
      {f * 12 / 10000, {true, false}, {every[0], every[1]}, {L"200182BA aborted"}},
  };
  for (Case const& c : cases) {
    SCOPED_TRACE(c.step);
    RecordingRestore restore;
    RecordingSink staysOk(false);
    restore.rate = 1000;
    restore.answers = c.answers;
    restore.onCall = [&](std::uint32_t) { ticks += c.step; };
    run(image, restore, staysOk);
    Calls progress = restore.calls;
    std::erase_if(progress,
                  [](std::wstring const& call) { return !call.starts_with(L"progress"); });
    EXPECT_EQ(progress, c.progress);
    EXPECT_EQ(staysOk.lines, c.faults);
    EXPECT_EQ(restore.calls.back(), c.faults.empty() ? L"finished " + size_ : c.progress.back());
  }
}

// Under a sink that stays ok a source fault adds the reader's own message. An end marker before
// the end of the file is a fault (else a damaged unit header could end the backup early).
TEST_F(ReaderTest, ReadersOwnMessages) {
  for (bool unitHeader : {true, false}) {
    for (bool staysOk : {false, true}) {
      BackupImage image = twoUnits().build();
      image.changeChecksum(unitHeader ? 5 : 1);  // the second unit's header, the first data
      RecordingSink sink(!staysOk);
      RecordingRestore restore;
      run(image, restore, sink);
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
  run(image);
  EXPECT_EQ(sink_.lines, Calls{L"20004C35 data after end of backup 2"});
  EXPECT_EQ(restore_.calls.back(), L"data ");
}

}  // namespace
