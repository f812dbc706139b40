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

std::tuple<std::uint32_t, std::uint32_t, std::uint32_t> words(Clock::UniversalTime const& t) {
  return {t.date, t.time, t.zone};
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

// A source on a file with its own sink, and what start() gives back.
struct Session {
  explicit Session(std::wstring const& name, bool stopOnError = true)
      : sink(stopOnError), source(sink, name.c_str()) {}
  bool start() { return source.start(stamp, code); }
  RecordingSink sink;
  BuRdr::Source source;
  Clock::UniversalTime stamp;
  WString code{L"before"};
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

// ---- open and header ---------------------------------------------------------------------

TEST_F(SourceTest, HeaderFaultsAreTrappedOnceAndLeaveTheProductCodeAlone) {
  struct Case {
    Bytes file;
    std::wstring text;
    std::optional<Clock::UniversalTime> stamp;  // given back although refused
  };
  std::vector<Case> cases{{{}, L"BuSource empty file " + dir_.wfile("b.bak"), {}},
                          {Bytes(200, 'x'), L"BuSource read h1 72", {}}};
  for (unsigned type : {12u, 0u, 255u}) {
    BackupHeader h;
    h.type = static_cast<unsigned char>(type);
    cases.push_back({headerAnd({}, h), L"BuSource header1 messtype" + std::to_wstring(type), {}});
  }
  for (bool date : {true, false}) {
    BackupHeader h;
    (date ? h.stamp.date : h.stamp.time) = 0;
    cases.push_back({headerAnd({}, h), L"BuSource header1 no stamp", h.stamp});
  }
  for (std::size_t at : {128u, 131u, 200u, 255u}) {
    Bytes file = headerAnd({});
    file[at] ^= 0x10;
    cases.push_back({file, L"BuSource Decode header1", {}});
  }
  for (Case const& c : cases) {
    SCOPED_TRACE(c.text);
    Session s(put(c.file));
    EXPECT_FALSE(s.start());
    EXPECT_EQ(s.sink.lines, one(BackupFormatError, c.text));
    EXPECT_STREQ(static_cast<wchar_t const*>(s.code), L"before");
    if (c.stamp) {
      EXPECT_EQ(words(s.stamp), words(*c.stamp));
    }
  }
}

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
      EXPECT_EQ(ops.back(), stopped ? FileOp::Close : FileOp::Size);  // closed at once if stopped
      EXPECT_EQ(sink.lines.size(), stopped ? 0u : 1u);
    }
    using Ops = std::vector<FileOp>;
    EXPECT_EQ(ops, (stopped ? Ops{FileOp::Open, FileOp::Close}
                            : Ops{FileOp::Open, FileOp::Size, FileOp::Close}));
  }
}

TEST_F(SourceTest, GoodHeaderGivesStampAndProductCode) {
  struct Case {
    std::vector<std::uint16_t> units;
    std::wstring expected;
  };
  std::wstring forty;
  for (int i = 0; i < 40; ++i)
    forty += static_cast<wchar_t>(L'A' + i % 26);
  std::wstring lastHigh = forty.substr(0, 39) + static_cast<wchar_t>(0xD800);  // no partner
  std::wstring lastPair = forty.substr(0, 38) + L"\U0001F600";                 // units 38, 39
  std::vector<Case> cases{
      {kestle_test::utf16(L"KESTLE TEST"), L"KESTLE TEST"},
      {kestle_test::utf16(forty), forty},
      {{'A', 'B', 'C'}, L"ABC"},
      {{'A', 0, 'C'}, L"A"},
      {{}, L""},
      {{0xD83D, 0xDE00, 'x'}, L"\U0001F600x"},
      {{0xDBFF, 0xDFFF}, L"\U0010FFFF"},  // the highest pair
      {{0xDC00, 'x'}, std::wstring{static_cast<wchar_t>(0xDC00), L'x'}},
      {kestle_test::utf16(lastHigh), lastHigh},
      {kestle_test::utf16(lastPair), lastPair},
  };
  for (Case const& c : cases) {
    BackupHeader h;
    h.product = c.units;
    h.spare[0] = 1;  // bytes 1 to 3 are not interpreted
    h.spare[1] = 0xFF;
    h.tail = 'Z';  // the bytes after the field must not leak into the text
    h.stamp.zone = static_cast<std::uint32_t>(-360000);  // every byte of the zone word counts
    Session s(put(headerAnd({}, h)));
    ASSERT_TRUE(s.start());
    EXPECT_TRUE(s.sink.lines.empty());
    EXPECT_EQ(std::wstring(static_cast<wchar_t const*>(s.code)), c.expected);
    EXPECT_EQ(words(s.stamp), words(h.stamp));
    EXPECT_EQ(s.source.done(), 256u);
    EXPECT_EQ(s.source.totalbytes(), 256u);
  }
}

// ---- platform failures -------------------------------------------------------------------

TEST_F(SourceTest, PlatformFailuresAreTrappedWithTheirCodes) {
  std::wstring name = put(headerAnd(chunkOf("abcdefgh")));
  struct Case {
    FileOp op;
    unsigned long long position;  // for reads
    wchar_t const* text;
  };
  std::vector<Case> cases{
      {FileOp::Size, 0, L"BuSource size"},        {FileOp::SetPos, 0, L"BuSource setpos"},
      {FileOp::Read, 128, L"BuSource read h1"},   {FileOp::Read, 256, L"BuSource read length"},
      {FileOp::Read, 260, L"BuSource read data"},
  };
  for (Case const& c : cases) {
    SCOPED_TRACE(c.text);
    FileFaultGuard guard([&](Platform::FileCall const& call) -> std::optional<Platform::FileFault> {
      if (call.op == c.op && (c.op != FileOp::Read || call.position == c.position))
        return Platform::FileFault{SysError::IoDevice, -1, {}};
      return std::nullopt;
    });
    Session s(name);
    Memo memo;
    if (s.start()) {
      EXPECT_FALSE(s.source.read(kMask, memo, true));
    }
    EXPECT_EQ(s.sink.lines, one(SysError::IoDevice, c.text));
  }
}

// A sink that stays ok lets each step run on: the open failure is followed by the size query on
// no handle and the size check, and a failing transfer that delivers nothing still ends the
// chunk.
TEST_F(SourceTest, SinkThatStaysOkSeesEveryStepAndReadsStillEnd) {
  {
    std::wstring name = dir_.wfile("missing.bak");
    Session s(name, false);
    EXPECT_EQ(s.sink.lines,
              (Lines{RecordingSink::line(SysError::FileNotFound, L"BuSource open " + name),
                     RecordingSink::line(SysError::InvalidHandle, L"BuSource size"),
                     RecordingSink::line(BackupFormatError, L"BuSource empty file " + name)}));
    Memo memo;
    EXPECT_FALSE(s.source.read(kMask, memo, true));
  }
  std::wstring name = put(headerAnd(chunkOf("abcdefgh")));
  std::pair<unsigned long long, Lines> const failures[] = {
      {256, {L"45D BuSource read length", L"2000277E length read 0"}},
      {260, {L"45D BuSource read data", L"2000277E no data read"}}};
  for (auto const& [position, lines] : failures) {
    unsigned long long const at = position;  // a binding that the lambda can capture
    FileFaultGuard guard([&](Platform::FileCall const& c) -> std::optional<Platform::FileFault> {
      if (c.op == FileOp::Read && c.position == at)
        return Platform::FileFault{SysError::IoDevice, -1, {}};
      return std::nullopt;
    });
    Session s(name, false);
    ASSERT_TRUE(s.start());
    Memo memo;
    EXPECT_FALSE(s.source.read(kMask, memo, true));
    EXPECT_EQ(s.sink.lines, lines);
  }
}

TEST_F(SourceTest, TrapAndFileStamp) {
  Session s(put(headerAnd({})), false);
  s.source.trap(0, L"nothing");
  EXPECT_TRUE(s.sink.lines.empty());
  s.source.trap(5, L"x");
  EXPECT_EQ(s.sink.lines, one(5, L"BuSource x"));
  Clock::UniversalTime now = Clock::UniversalTime::now();
  Clock::UniversalTime file = s.source.fileStamp();
  EXPECT_TRUE(file.filled());
  EXPECT_LE(file.date, now.date);
  EXPECT_GE(file.date + 1, now.date);
  s.sink.stop();  // a stopped sink ends every further step
  EXPECT_FALSE(s.source.fileStamp().filled());
  Memo memo;
  EXPECT_FALSE(s.source.read(kMask, memo, true));
}

// ---- chunks ------------------------------------------------------------------------------

// Every word count and padding around the vector steps' widths, inline and heap lengths, and a
// different mask and padding fill per chunk; every transfer moves at most 7 bytes, so each one
// ends short and is continued. The whole file is consumed.
TEST_F(SourceTest, ChunksOfEveryLengthReadBackThroughShortTransfers) {
  std::vector<std::uint32_t> lengths(164);
  std::iota(lengths.begin(), lengths.end(), 1u);
  lengths.insert(lengths.end(), {1019, 1020, 1021, 5000, 0});
  Bytes chunks;
  int expectedReads = 0;
  for (std::uint32_t n : lengths) {
    appendChunk(chunks, kMask * (n + 1), kestle_test::patternBytes(n, n).data(), n,
                static_cast<unsigned char>(n * 37 + 1));
    expectedReads += 1 + static_cast<int>((((n + 3) & ~3u) + 4 + 6) / 7);
  }
  int reads = 0;
  FileFaultGuard guard([&](Platform::FileCall const& c) -> std::optional<Platform::FileFault> {
    if (c.op != FileOp::Read || c.position < 256)
      return std::nullopt;
    ++reads;
    return Platform::FileFault{0, 7, {}};
  });
  Session s(put(headerAnd(chunks)));
  ASSERT_TRUE(s.start());
  Memo memo;
  for (std::uint32_t n : lengths) {
    ASSERT_TRUE(s.source.read(kMask * (n + 1), memo, true)) << n;
    ASSERT_EQ(Bytes(memo.data(), memo.data() + memo.length()), kestle_test::patternBytes(n, n));
  }
  EXPECT_TRUE(s.sink.lines.empty());
  EXPECT_EQ(reads, expectedReads);
  EXPECT_EQ(s.source.done(), s.source.totalbytes());
}

TEST_F(SourceTest, InlineUpTo1020BytesHeapBeyondAndHeapReused) {
  Bytes chunks;
  for (std::uint32_t n : {1020u, 1021u, 1024u, 800u, 3000u, 2000u})
    appendChunk(chunks, kMask, kestle_test::patternBytes(n, 1).data(), n);
  Session s(put(headerAnd(chunks)));
  ASSERT_TRUE(s.start());
  Memo memo;
  EXPECT_EQ(memo.length(), 0u);
  long long const base = Heapwick::bytesHeld();
  ASSERT_TRUE(s.source.read(kMask, memo, true));  // 1020: needs 1024, inline
  EXPECT_EQ(memo.capacity(), 0u);
  EXPECT_EQ(Heapwick::bytesHeld(), base);
  ASSERT_TRUE(s.source.read(kMask, memo, true));  // 1021: needs 1028
  EXPECT_EQ(memo.capacity(), 1028u);
  char const* heap = memo.data();
  ASSERT_TRUE(s.source.read(kMask, memo, true));  // 1024: needs 1028, fits
  EXPECT_EQ(memo.data(), heap);
  ASSERT_TRUE(s.source.read(kMask, memo, true));  // 800: the heap storage serves it too
  EXPECT_EQ(memo.data(), heap);
  EXPECT_EQ(memo.length(), 800u);
  ASSERT_TRUE(s.source.read(kMask, memo, true));  // 3000: grows
  EXPECT_EQ(memo.capacity(), 3004u);
  EXPECT_EQ(Heapwick::bytesHeld(), base + 3004 + 8);  // the old block was released
  ASSERT_TRUE(s.source.read(kMask, memo, true));      // 2000: kept
  EXPECT_EQ(memo.capacity(), 3004u);
  memo.clear();
  EXPECT_EQ(memo.capacity(), 0u);
  EXPECT_EQ(memo.length(), 0u);
  EXPECT_EQ(Heapwick::bytesHeld(), base);
}

// One read of a cut, damaged or implausible chunk: its result and fault, where the source then
// stands and the heap storage it took. Only an empty chunk may lack its checksum word, and only
// when not strict; a length field of 0x8000000 is refused before anything is allocated.
TEST_F(SourceTest, ReadsOfOneFaultyChunk) {
  Bytes ten;
  appendChunk(ten, kMask, "0123456789", 10, 0x33);  // 12 data bytes: 2 of them padding
  auto changed = [&](std::size_t at) {
    Bytes b = ten;
    b[at] ^= 1;
    return b;
  };
  auto cut = [](std::string const& data, std::size_t keep) {
    Bytes b = chunkOf(data);
    b.resize(keep);
    return b;
  };
  auto announcing = [](std::uint32_t length) {
    Bytes b = chunkOf("abcd");
    std::uint32_t const field = length ^ kMask;
    std::memcpy(b.data(), &field, 4);
    return b;
  };
  Lines const noData = one(BackupReadError, L"no data read");
  Lines const checksum = one(BackupReadError, L"checksum failure");
  struct Case {
    char const* what;
    Bytes chunk;
    bool strict;
    Lines faults;  // none: the read succeeds with an empty chunk
    unsigned long long done;
    std::uint32_t capacity = 0;
    std::uint32_t mask = kMask;
  };
  std::vector<Case> cases{
      {"empty chunk", cut("", 8), true, {}, 264},
      {"end after length 0, lenient", cut("", 4), false, {}, 260},
      {"end after length 0, strict", cut("", 4), true, noData, 260},
      {"data chunk cut, lenient", cut("abcdefgh", 8), false, noData, 264},
      {"length cut", cut("abcd", 0), false, one(BackupReadError, L"length read 0"), 256},
      {"length cut", cut("abcd", 1), false, one(BackupReadError, L"length read 1"), 256},
      {"length cut", cut("abcd", 3), true, one(BackupReadError, L"length read 3"), 256},
      {"length 0x8000000", announcing(0x8000000), true,
       one(BackupFormatError, L"unplausible length 134217728"), 260},
      {"length 0x7FFFFFF, then the file ends", announcing(0x7FFFFFF), true, noData, 268, 0x8000004},
      {"data", changed(4 + 1), true, checksum, 276},
      {"padding", changed(4 + 11), true, checksum, 276},
      {"checksum", changed(4 + 12 + 2), true, checksum, 276},
      {"length 10 to 11, same padded size", changed(0), true, checksum, 276},
      {"wrong mask", ten, true, checksum, 276, 0, kMask + 1},
  };
  for (Case const& c : cases) {
    SCOPED_TRACE(c.what);
    Session s(put(headerAnd(c.chunk)));
    ASSERT_TRUE(s.start());
    Memo memo;
    EXPECT_EQ(s.source.read(c.mask, memo, c.strict), c.faults.empty());
    EXPECT_EQ(s.sink.lines, c.faults);
    EXPECT_EQ(s.source.done(), c.done);
    EXPECT_EQ(memo.capacity(), c.capacity);
    if (c.faults.empty()) {
      EXPECT_EQ(memo.length(), 0u);
    }
  }
}

}  // namespace
