// The backup source: opening, header checks, chunk reads, the Memo's storage and the messages.
#include <gtest/gtest.h>

#include <cstring>
#include <numeric>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "kestle/kestle.h"
#include "support/backup_recorders.h"
#include "support/backup_writer.h"
#include "support/guards.h"

namespace {
using kestle_test::appendChunk;
using kestle_test::BackupHeader;
using kestle_test::Bytes;
using kestle_test::FileFaultGuard;
using kestle_test::RecordingSink;
using Memo = BuRdr::Source::Memo;
using Lines = std::vector<std::wstring>;
using Platform::FileOp;

constexpr std::uint32_t kMask = 0x9E3779B9;

Lines one(unsigned long code, std::wstring const& text) {
  return {RecordingSink::line(code, text)};
}

// A file of a good header followed by `chunks` (already laid out).
Bytes headerAnd(Bytes const& chunks, BackupHeader const& header = BackupHeader()) {
  Bytes out(128, '\0');
  Bytes h = kestle_test::encipheredHeader(header);
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

// A source on a file with its own sink, and what start() gives back.
struct Session {
  explicit Session(std::wstring const& name, bool stopOnError = true)
      : sink(stopOnError), source(sink, name.c_str()) {}
  bool start() { return source.start(stamp, code); }
  RecordingSink sink;
  BuRdr::Source source;
  Clock::UniversalTime stamp;
  WString code;
  Memo memo;
};

class SourceTest : public ::testing::Test {
 protected:
  std::wstring put(Bytes const& bytes) {
    kestle_test::writeFile(dir_.file("b.bak"), bytes);
    return dir_.wfile("b.bak");
  }
  kestle_test::TempDir dir_;
  kestle_test::HeapCheck heap_;
};

// An empty file is read no further than its size; a sink that is not ok at the open has the
// file closed at once. Either way the file is closed exactly once.
TEST_F(SourceTest, FaultAtTheOpenTouchesTheFileNoMore) {
  for (bool stopped : {false, true}) {
    std::wstring name = put(stopped ? headerAnd({}) : Bytes{});
    std::vector<FileOp> ops;
    FileFaultGuard guard([&](Platform::FileCall const& c) -> std::optional<Platform::FileFault> {
      ops.push_back(c.op);
      return std::nullopt;
    });
    {
      RecordingSink sink;
      if (stopped)
        sink.stop();
      BuRdr::Source source(sink, name.c_str());
      Clock::UniversalTime stamp;
      WString code;
      EXPECT_FALSE(source.start(stamp, code));
      using Ops = std::vector<FileOp>;
      EXPECT_EQ(ops,
                (stopped ? Ops{FileOp::Open, FileOp::Close} : Ops{FileOp::Open, FileOp::Size}));
    }
    EXPECT_EQ(ops.size(), stopped ? 2u : 3u);
  }
}

// Product codes end at the first zero unit or after 40 units; surrogate pairs join, lone ones
// stay as their unit. The tail after the field must not leak; every byte of the zone counts.
TEST_F(SourceTest, GoodHeaderGivesStampAndProductCode) {
  std::wstring forty;
  for (int i = 0; i < 40; ++i)
    forty += static_cast<wchar_t>(L'A' + i % 26);
  std::wstring lastHigh = forty.substr(0, 39) + static_cast<wchar_t>(0xD800);  // no partner
  std::wstring lastPair = forty.substr(0, 38) + L"\U0001F600";                 // units 38, 39
  std::pair<std::vector<std::uint16_t>, std::wstring> const cases[] = {
      {kestle_test::utf16(forty), forty},       {{'A', 0, 'C'}, L"A"},
      {{0xDBFF, 0xDFFF}, L"\U0010FFFF"},        {kestle_test::utf16(lastHigh), lastHigh},
      {kestle_test::utf16(lastPair), lastPair},
  };
  for (auto const& [units, expected] : cases) {
    BackupHeader h;
    h.product = units;
    h.tail = 'Z';
    h.stamp.zone = static_cast<std::uint32_t>(-360000);
    Session s(put(headerAnd({}, h)));
    ASSERT_TRUE(s.start());
    EXPECT_TRUE(s.sink.lines.empty());
    EXPECT_EQ(std::wstring(static_cast<wchar_t const*>(s.code)), expected);
    EXPECT_EQ(std::tie(s.stamp.date, s.stamp.time, s.stamp.zone),
              std::tie(h.stamp.date, h.stamp.time, h.stamp.zone));
    EXPECT_EQ(s.source.done(), 256u);
    EXPECT_EQ(s.source.totalbytes(), 256u);
  }
}

// A sink that stays ok lets each step run on: the open failure is followed by the size query on
// no handle and the size check. A stopped sink ends every further step.
TEST_F(SourceTest, TrapFileStampAndSinkThatStaysOk) {
  std::wstring const missing = dir_.wfile("missing.bak");
  Session m(missing, false);
  EXPECT_EQ(m.sink.lines,
            (Lines{RecordingSink::line(SysError::FileNotFound, L"BuSource open " + missing),
                   RecordingSink::line(SysError::InvalidHandle, L"BuSource size"),
                   RecordingSink::line(BackupFormatError, L"BuSource empty file " + missing)}));
  EXPECT_FALSE(m.source.read(kMask, m.memo, true));

  Session s(put(headerAnd({})), false);
  s.source.trap(0, L"nothing");
  s.source.trap(5, L"x");
  EXPECT_EQ(s.sink.lines, one(5, L"BuSource x"));
  EXPECT_LE(Clock::UniversalTime::now().date - s.source.fileStamp().date, 1u);
  s.sink.stop();
  EXPECT_FALSE(s.source.fileStamp().filled());
  EXPECT_FALSE(s.source.read(kMask, s.memo, true));
}

// Every word count and padding around the vector steps' widths, inline and heap lengths, and a
// different mask and padding fill per chunk, under every processor tier; every transfer moves at
// most 7 bytes, so each one ends short and is continued. The whole file is consumed.
TEST_F(SourceTest, ChunksOfEveryLengthReadBackThroughShortTransfersOnEveryTier) {
  std::vector<std::uint32_t> lengths(164);
  std::iota(lengths.begin(), lengths.end(), 1u);
  lengths.insert(lengths.end(), {1019, 1020, 1021, 5000, 0});
  Bytes chunks;
  for (std::uint32_t n : lengths)
    appendChunk(chunks, kMask * (n + 1), kestle_test::patternBytes(n, n).data(), n,
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
      ASSERT_EQ(Bytes(s.memo.data(), s.memo.data() + s.memo.length()),
                kestle_test::patternBytes(n, n));
    }
    EXPECT_TRUE(s.sink.lines.empty());
    EXPECT_EQ(s.source.done(), s.source.totalbytes());
  }
  Platform::setCpuTier(Platform::CpuTier::Auto);
}

// Up to 1020 data bytes (1024 with the checksum) inline; beyond, a heap block that serves smaller
// chunks too, grows when too small (the old one released) and goes with clear().
TEST_F(SourceTest, InlineUpTo1020BytesHeapBeyondAndHeapReused) {
  std::pair<std::uint32_t, std::uint32_t> const steps[] = {{1020, 0},   {1021, 1028}, {1024, 1028},
                                                           {800, 1028}, {3000, 3004}, {2000, 3004}};
  Bytes chunks;
  for (auto [n, capacity] : steps)
    appendChunk(chunks, kMask, kestle_test::patternBytes(n, 1).data(), n);
  Session s(put(headerAnd(chunks)));
  ASSERT_TRUE(s.start());
  EXPECT_EQ(s.memo.length(), 0u);
  long long const base = Heapwick::bytesHeld();
  for (auto [n, capacity] : steps) {
    ASSERT_TRUE(s.source.read(kMask, s.memo, true));
    EXPECT_EQ(s.memo.length(), n);
    EXPECT_EQ(s.memo.capacity(), capacity);
    EXPECT_EQ(Heapwick::bytesHeld(), base + (capacity != 0 ? capacity + 8 : 0)) << n;
  }
  s.memo.clear();
  EXPECT_EQ(s.memo.capacity(), 0u);
  EXPECT_EQ(s.memo.length(), 0u);
  EXPECT_EQ(Heapwick::bytesHeld(), base);
}

// A refused header, a failing platform call or a cut, damaged or implausible chunk: the faults,
// where the source then stands and the heap storage it took. A sink that stays ok lets a failing
// transfer that delivers nothing still end the chunk with the source's own fault. Only an empty
// chunk may lack its checksum word, and only when not strict; a length field of 0x8000000 is
// refused before anything is allocated.
TEST_F(SourceTest, FaultsOfStartAndRead) {
  auto header = [](auto change) {
    BackupHeader h;
    change(h);
    return headerAnd({}, h);
  };
  auto flipped = [](std::size_t at) {
    Bytes b = headerAnd({});
    b[at] ^= 0x10;
    return b;
  };
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
  Lines const noData = one(BackupReadError, L"no data read");
  auto format = [](std::wstring const& text) { return one(BackupFormatError, text); };
  auto io = [](std::wstring const& text) { return one(SysError::IoDevice, text); };
  struct Case {
    char const* what;
    Bytes file;
    Lines faults;  // none: the read succeeds with an empty chunk
    unsigned long long done;
    Platform::FileFaultHook hook = {};
    bool staysOk = false;
    bool strict = true;
    std::uint32_t capacity = 0;
    std::uint32_t mask = kMask;
  };
  Case const cases[] = {
      {"empty file", {}, format(L"BuSource empty file " + dir_.wfile("b.bak")), 0},
      {"short header", Bytes(200, 'x'), format(L"BuSource read h1 72"), 128},
      {"type", header([](BackupHeader& h) { h.type = 12; }), format(L"BuSource header1 messtype12"),
       256},
      {"no date", header([](BackupHeader& h) { h.stamp.date = 0; }),
       format(L"BuSource header1 no stamp"), 256},
      {"no time", header([](BackupHeader& h) { h.stamp.time = 0; }),
       format(L"BuSource header1 no stamp"), 256},
      {"first byte", flipped(128), format(L"BuSource Decode header1"), 256},
      {"last byte", flipped(255), format(L"BuSource Decode header1"), 256},
      {"size", eight, io(L"BuSource size"), 0, failing(FileOp::Size)},
      {"setpos", eight, io(L"BuSource setpos"), 128, failing(FileOp::SetPos)},
      {"read h1", eight, io(L"BuSource read h1"), 128, failing(FileOp::Read, 128)},
      {"read length", eight, io(L"BuSource read length"), 256, failing(FileOp::Read, 256)},
      {"read length, sink stays ok",
       eight,
       {L"45D BuSource read length", L"2000277E length read 0"},
       256,
       failing(FileOp::Read, 256),
       true},
      {"read data", eight, io(L"BuSource read data"), 260, failing(FileOp::Read, 260)},
      {"read data, sink stays ok",
       eight,
       {L"45D BuSource read data", L"2000277E no data read"},
       260,
       failing(FileOp::Read, 260),
       true},
      {"empty chunk", cut("", 8), {}, 264},
      {"end after length 0, lenient", cut("", 4), {}, 260, {}, false, false},
      {"end after length 0, strict", cut("", 4), noData, 260},
      {"data chunk cut, lenient", cut("abcdefgh", 8), noData, 264, {}, false, false},
      {"length cut", cut("abcd", 1), one(BackupReadError, L"length read 1"), 256},
      {"length 0x8000000", announcing(0x8000000), format(L"unplausible length 134217728"), 260},
      {"length 0x7FFFFFF, then the file ends",
       announcing(0x7FFFFFF),
       noData,
       268,
       {},
       false,
       true,
       0x8000004},
      {"wrong mask",
       headerAnd(chunkOf("0123456789")),
       one(BackupReadError, L"checksum failure"),
       276,
       {},
       false,
       true,
       0,
       kMask ^ 1},
  };
  for (Case const& c : cases) {
    SCOPED_TRACE(c.what);
    std::wstring const name = put(c.file);
    FileFaultGuard guard(c.hook);
    Session s(name, !c.staysOk);
    if (s.start()) {
      EXPECT_EQ(s.source.read(c.mask, s.memo, c.strict), c.faults.empty());
    }
    EXPECT_EQ(s.sink.lines, c.faults);
    EXPECT_EQ(s.source.done(), c.done);
    EXPECT_EQ(s.memo.capacity(), c.capacity);
    EXPECT_EQ(s.memo.length(), 0u);
  }
}

}  // namespace
