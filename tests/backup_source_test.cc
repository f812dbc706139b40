// The backup source: opening, header checks, chunk reads, the Memo's storage and the messages.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "kestle/kestle.h"
#include "support/backup_recorders.h"
#include "support/backup_writer.h"
#include "support/guards.h"

namespace {
using kestle_test::appendChunk;
using kestle_test::BackupHeader;
using kestle_test::BackupWriter;
using kestle_test::Bytes;
using kestle_test::FileFaultGuard;
using kestle_test::HeapCheck;
using kestle_test::RecordingSink;
using kestle_test::TempDir;
using Memo = BuRdr::Source::Memo;

constexpr std::uint32_t kMask = 0x9E3779B9;

std::wstring lastText(RecordingSink const& sink) {
  return sink.faults().empty() ? L"" : sink.faults().back().text;
}
unsigned long lastCode(RecordingSink const& sink) {
  return sink.faults().empty() ? 0 : sink.faults().back().code;
}

// A file of a good header followed by `chunks` (already laid out).
Bytes headerAnd(Bytes const& chunks, BackupHeader const& header = BackupHeader()) {
  Bytes out(128, '\0');
  Bytes h = kestle_test::encipheredHeader(header);
  out.insert(out.end(), h.begin(), h.end());
  out.insert(out.end(), chunks.begin(), chunks.end());
  return out;
}

class SourceTest : public ::testing::Test {
 protected:
  std::wstring put(Bytes const& bytes, std::string const& name = "b.bak") {
    kestle_test::writeFile(dir_.file(name), bytes);
    return dir_.wfile(name);
  }
  TempDir dir_;
  HeapCheck heap_;
};

// ---- open and header ---------------------------------------------------------------------

TEST_F(SourceTest, EmptyFileIsRefusedAndStartReadsNothing) {
  std::wstring name = put({});
  std::vector<Platform::FileOp> ops;
  FileFaultGuard guard([&](Platform::FileCall const& c) -> std::optional<Platform::FileFault> {
    ops.push_back(c.op);
    return std::nullopt;
  });
  {
    RecordingSink sink;
    BuRdr::Source source(sink, name.c_str());
    EXPECT_EQ(lastCode(sink), BackupFormatError);
    EXPECT_EQ(lastText(sink), L"BuSource empty file " + name);
    Clock::UniversalTime stamp;
    WString code;
    EXPECT_FALSE(source.start(stamp, code));
    EXPECT_EQ(sink.faults().size(), 1u);
  }
  std::vector<Platform::FileOp> expected{Platform::FileOp::Open, Platform::FileOp::Size,
                                         Platform::FileOp::Close};
  EXPECT_EQ(ops, expected);
}

TEST_F(SourceTest, ShortHeaderReportsTheCountRead) {
  std::wstring name = put(Bytes(200, 'x'));
  RecordingSink sink;
  BuRdr::Source source(sink, name.c_str());
  Clock::UniversalTime stamp;
  WString code;
  EXPECT_FALSE(source.start(stamp, code));
  ASSERT_EQ(sink.faults().size(), 1u);
  EXPECT_EQ(lastCode(sink), BackupFormatError);
  EXPECT_EQ(lastText(sink), L"BuSource read h1 72");
}

TEST_F(SourceTest, GoodHeaderGivesStampProductCodeAndMasks) {
  BackupHeader h;
  h.spare[0] = 1;  // bytes 1 to 3 are not interpreted
  h.spare[1] = 0xFF;
  h.spare[2] = 7;
  h.tail = 0xEE;
  std::wstring name = put(headerAnd({}, h));
  RecordingSink sink;
  BuRdr::Source source(sink, name.c_str());
  Clock::UniversalTime stamp;
  WString code;
  ASSERT_TRUE(source.start(stamp, code));
  EXPECT_TRUE(sink.faults().empty());
  EXPECT_EQ(stamp.date, h.stamp.date);
  EXPECT_EQ(stamp.time, h.stamp.time);
  EXPECT_EQ(stamp.zone, h.stamp.zone);
  EXPECT_STREQ(static_cast<wchar_t const*>(code), L"KESTLE TEST");
  EXPECT_EQ(source.done(), 256u);
  EXPECT_EQ(source.totalbytes(), 256u);

  std::mt19937 expected(h.stamp.date + h.stamp.time + h.stamp.zone);
  for (int i = 0; i < 3; ++i)
    EXPECT_EQ(source.unmask(), static_cast<std::uint32_t>(expected()));
}

TEST_F(SourceTest, HeaderFaults) {
  struct Case {
    char const* what;
    void (*damage)(BackupHeader&);
    std::wstring text;
  };
  std::vector<Case> cases{
      {"type 12", [](BackupHeader& h) { h.type = 12; }, L"BuSource header1 messtype12"},
      {"type 0", [](BackupHeader& h) { h.type = 0; }, L"BuSource header1 messtype0"},
      {"type 255", [](BackupHeader& h) { h.type = 255; }, L"BuSource header1 messtype255"},
      {"no date", [](BackupHeader& h) { h.stamp.date = 0; }, L"BuSource header1 no stamp"},
      {"no time", [](BackupHeader& h) { h.stamp.time = 0; }, L"BuSource header1 no stamp"},
  };
  for (Case const& c : cases) {
    SCOPED_TRACE(c.what);
    BackupHeader h;
    c.damage(h);
    std::wstring name = put(headerAnd({}, h));
    RecordingSink sink;
    BuRdr::Source source(sink, name.c_str());
    Clock::UniversalTime stamp;
    WString code(L"before");
    EXPECT_FALSE(source.start(stamp, code));
    ASSERT_EQ(sink.faults().size(), 1u);
    EXPECT_EQ(lastCode(sink), BackupFormatError);
    EXPECT_EQ(lastText(sink), c.text);
    EXPECT_STREQ(static_cast<wchar_t const*>(code), L"before");  // left as it was
    if (h.type == 13) {  // the stamp read is given back even when refused
      EXPECT_EQ(stamp.date, h.stamp.date);
      EXPECT_EQ(stamp.time, h.stamp.time);
      EXPECT_EQ(stamp.zone, h.stamp.zone);
    }
  }
}

TEST_F(SourceTest, AnyChangedHeaderByteFailsTheCipherCheck) {
  for (std::size_t at : {128u, 131u, 200u, 255u}) {
    Bytes file = headerAnd({});
    file[at] = static_cast<char>(file[at] ^ 0x10);
    std::wstring name = put(file);
    RecordingSink sink;
    BuRdr::Source source(sink, name.c_str());
    Clock::UniversalTime stamp;
    WString code;
    EXPECT_FALSE(source.start(stamp, code)) << at;
    ASSERT_EQ(sink.faults().size(), 1u) << at;
    EXPECT_EQ(lastText(sink), L"BuSource Decode header1") << at;
  }
}

TEST_F(SourceTest, ProductCodeLengthsAndSurrogates) {
  struct Case {
    std::vector<std::uint16_t> units;
    std::wstring expected;
  };
  std::vector<std::uint16_t> forty;
  std::wstring fortyText;
  for (int i = 0; i < 40; ++i) {
    forty.push_back(static_cast<std::uint16_t>(L'A' + i % 26));
    fortyText += static_cast<wchar_t>(L'A' + i % 26);
  }
  std::vector<Case> cases{
      {forty, fortyText},
      {{'A', 'B', 'C'}, L"ABC"},
      {{'A', 0, 'C'}, L"A"},
      {{}, L""},
      {{0xD83D, 0xDE00, 'x'}, L"\U0001F600x"},
      {{0xDC00, 'x'}, std::wstring{static_cast<wchar_t>(0xDC00), L'x'}},
  };
  // A high surrogate in the last unit has no partner inside the field.
  std::vector<std::uint16_t> lastHigh(forty.begin(), forty.end() - 1);
  lastHigh.push_back(0xD800);
  cases.push_back({lastHigh, fortyText.substr(0, 39) + static_cast<wchar_t>(0xD800)});
  for (Case const& c : cases) {
    BackupHeader h;
    h.product = c.units;
    h.tail = 'Z';  // the bytes after the field must not leak into the text
    std::wstring name = put(headerAnd({}, h));
    RecordingSink sink;
    BuRdr::Source source(sink, name.c_str());
    Clock::UniversalTime stamp;
    WString code(L"before");
    ASSERT_TRUE(source.start(stamp, code));
    EXPECT_EQ(std::wstring(static_cast<wchar_t const*>(code)), c.expected);
  }
}

// ---- platform failures -------------------------------------------------------------------

TEST_F(SourceTest, PlatformFailuresAreTrappedWithTheirCodes) {
  Bytes chunks;
  appendChunk(chunks, kMask, "abcdefgh", 8);
  std::wstring name = put(headerAnd(chunks));
  struct Case {
    Platform::FileOp op;
    unsigned long long position;  // for reads
    wchar_t const* text;
  };
  std::vector<Case> cases{
      {Platform::FileOp::Size, 0, L"BuSource size"},
      {Platform::FileOp::SetPos, 0, L"BuSource setpos"},
      {Platform::FileOp::Read, 128, L"BuSource read h1"},
      {Platform::FileOp::Read, 256, L"BuSource read length"},
      {Platform::FileOp::Read, 260, L"BuSource read data"},
  };
  for (Case const& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.op));
    FileFaultGuard guard([&](Platform::FileCall const& call) -> std::optional<Platform::FileFault> {
      if (call.op == c.op && (c.op != Platform::FileOp::Read || call.position == c.position))
        return Platform::FileFault{SysError::IoDevice, -1, {}};
      return std::nullopt;
    });
    RecordingSink sink;
    BuRdr::Source source(sink, name.c_str());
    Clock::UniversalTime stamp;
    WString code;
    Memo memo;
    if (source.start(stamp, code)) {
      EXPECT_FALSE(source.read(kMask, memo, true));
    }
    ASSERT_EQ(sink.faults().size(), 1u);
    EXPECT_EQ(lastCode(sink), SysError::IoDevice);
    EXPECT_EQ(lastText(sink), c.text);
  }
}

// A sink that stays ok lets each step run on: the open failure is followed by the size query on
// no handle and the size check, and a failing data transfer that delivers nothing still ends the
// chunk.
TEST_F(SourceTest, SinkThatStaysOkSeesEveryStepAndReadsStillEnd) {
  {
    std::wstring name = dir_.wfile("missing.bak");
    RecordingSink sink(false);
    BuRdr::Source source(sink, name.c_str());
    ASSERT_EQ(sink.faults().size(), 3u);
    EXPECT_EQ(sink.faults()[0].code, SysError::FileNotFound);
    EXPECT_EQ(sink.faults()[1].code, SysError::InvalidHandle);
    EXPECT_EQ(sink.faults()[1].text, L"BuSource size");
    EXPECT_EQ(sink.faults()[2].text, L"BuSource empty file " + name);
    Memo memo;
    EXPECT_FALSE(source.read(kMask, memo, true));
  }
  Bytes chunks;
  appendChunk(chunks, kMask, "abcdefgh", 8);
  std::wstring name = put(headerAnd(chunks));
  FileFaultGuard guard([&](Platform::FileCall const& call) -> std::optional<Platform::FileFault> {
    if (call.op == Platform::FileOp::Read && call.position == 260)
      return Platform::FileFault{SysError::IoDevice, -1, {}};
    return std::nullopt;
  });
  RecordingSink sink(false);
  BuRdr::Source source(sink, name.c_str());
  Clock::UniversalTime stamp;
  WString code;
  ASSERT_TRUE(source.start(stamp, code));
  Memo memo;
  EXPECT_FALSE(source.read(kMask, memo, true));
  std::vector<std::wstring> expected{L"45D BuSource read data", L"2000277E no data read"};
  EXPECT_EQ(sink.lines(), expected);
}

TEST_F(SourceTest, StoppedSinkLeavesNoFileOpen) {
  std::wstring name = put(headerAnd({}));
  int opens = 0, closes = 0;
  FileFaultGuard guard([&](Platform::FileCall const& c) -> std::optional<Platform::FileFault> {
    opens += c.op == Platform::FileOp::Open;
    closes += c.op == Platform::FileOp::Close;
    return std::nullopt;
  });
  {
    RecordingSink sink;
    sink.stop();
    BuRdr::Source source(sink, name.c_str());
    Clock::UniversalTime stamp;
    WString code;
    EXPECT_FALSE(source.start(stamp, code));
    EXPECT_EQ(closes, 1);  // closed at once, not at the end
    EXPECT_EQ(source.fileStamp().date, 0u);
  }
  EXPECT_EQ(opens, 1);
  EXPECT_EQ(closes, 1);
}

TEST_F(SourceTest, TrapAndFileStamp) {
  std::wstring name = put(headerAnd({}));
  RecordingSink sink(false);
  BuRdr::Source source(sink, name.c_str());
  source.trap(0, L"nothing");
  EXPECT_TRUE(sink.faults().empty());
  source.trap(5, L"x");
  EXPECT_EQ(lastText(sink), L"BuSource x");
  Clock::UniversalTime now = Clock::UniversalTime::now();
  Clock::UniversalTime file = source.fileStamp();
  EXPECT_TRUE(file.filled());
  EXPECT_LE(file.date, now.date);
  EXPECT_GE(file.date + 1, now.date);
  sink.stop();
  EXPECT_FALSE(source.fileStamp().filled());
}

// ---- chunks ------------------------------------------------------------------------------

class ChunkTest : public SourceTest {
 protected:
  // Opens a file of header and chunks and starts the source.
  void open(Bytes const& chunks, bool stopOnError = true) {
    source_.reset();
    sink_ = std::make_unique<RecordingSink>(stopOnError);
    name_ = put(headerAnd(chunks));
    source_ = std::make_unique<BuRdr::Source>(*sink_, name_.c_str());
    Clock::UniversalTime stamp;
    WString code;
    ASSERT_TRUE(source_->start(stamp, code));
  }
  void TearDown() override {
    source_.reset();
    sink_.reset();
  }
  std::wstring name_;
  std::unique_ptr<RecordingSink> sink_;
  std::unique_ptr<BuRdr::Source> source_;
};

TEST_F(ChunkTest, ChunksOfEveryPaddingReadBackAndConsumeTheWholeFile) {
  Bytes chunks;
  std::vector<Bytes> datas;
  for (std::uint32_t n : {1u, 2u, 3u, 4u, 5u, 8u, 1019u, 1020u, 1021u, 5000u, 0u}) {
    datas.push_back(kestle_test::patternBytes(n, n));
    appendChunk(chunks, kMask, datas.back().data(), n, 0x5C);
  }
  open(chunks);
  Memo memo;
  for (Bytes const& d : datas) {
    ASSERT_TRUE(source_->read(kMask, memo, true)) << d.size();
    ASSERT_EQ(memo.length(), d.size());
    EXPECT_EQ(std::string(memo.data(), d.size()), std::string(d.begin(), d.end())) << d.size();
  }
  EXPECT_TRUE(sink_->faults().empty());
  EXPECT_EQ(source_->done(), source_->totalbytes());
}

TEST_F(ChunkTest, InlineUpTo1020BytesHeapBeyondAndHeapReused) {
  Bytes chunks;
  for (std::uint32_t n : {1020u, 1021u, 1024u, 800u, 3000u, 2000u})
    appendChunk(chunks, kMask, kestle_test::patternBytes(n, 1).data(), n);
  open(chunks);
  Memo memo;
  long long const base = Heapwick::bytesHeld();
  ASSERT_TRUE(source_->read(kMask, memo, true));  // 1020: needs 1024, inline
  EXPECT_EQ(memo.capacity(), 0u);
  EXPECT_EQ(Heapwick::bytesHeld(), base);

  ASSERT_TRUE(source_->read(kMask, memo, true));  // 1021: needs 1028
  EXPECT_EQ(memo.capacity(), 1028u);
  char const* heap = memo.data();
  ASSERT_TRUE(source_->read(kMask, memo, true));  // 1024: needs 1028, fits
  EXPECT_EQ(memo.data(), heap);
  ASSERT_TRUE(source_->read(kMask, memo, true));  // 800: the heap storage serves it too
  EXPECT_EQ(memo.data(), heap);
  EXPECT_EQ(memo.length(), 800u);
  ASSERT_TRUE(source_->read(kMask, memo, true));  // 3000: grows
  EXPECT_EQ(memo.capacity(), 3004u);
  EXPECT_EQ(Heapwick::bytesHeld(), base + 3004 + 8);  // the old block was released
  ASSERT_TRUE(source_->read(kMask, memo, true));      // 2000: kept
  EXPECT_EQ(memo.capacity(), 3004u);

  memo.clear();
  EXPECT_EQ(memo.capacity(), 0u);
  EXPECT_EQ(memo.length(), 0u);
  EXPECT_EQ(Heapwick::bytesHeld(), base);
}

TEST_F(ChunkTest, PlausibilityLimit) {
  {
    Bytes chunks;
    appendChunk(chunks, kMask, nullptr, 0);
    std::uint32_t const field = 0x8000000u ^ kMask;
    std::memcpy(chunks.data(), &field, 4);
    open(chunks);
    Memo memo;
    long long const base = Heapwick::bytesHeld();
    EXPECT_FALSE(source_->read(kMask, memo, true));
    EXPECT_EQ(lastCode(*sink_), BackupFormatError);
    EXPECT_EQ(lastText(*sink_), L"unplausible length 134217728");
    EXPECT_EQ(Heapwick::bytesHeld(), base);  // refused before allocating
    EXPECT_EQ(source_->done(), 260u);
  }
  {
    // 0x7FFFFFF passes the test; the file then ends inside the announced data.
    Bytes chunks;
    appendChunk(chunks, kMask, "abcd", 4);
    std::uint32_t const field = 0x7FFFFFFu ^ kMask;
    std::memcpy(chunks.data(), &field, 4);
    open(chunks);
    Memo memo;
    EXPECT_FALSE(source_->read(kMask, memo, true));
    EXPECT_EQ(lastCode(*sink_), BackupReadError);
    EXPECT_EQ(lastText(*sink_), L"no data read");
    EXPECT_EQ(memo.capacity(), 0x8000004u);  // bounded by the limit
    EXPECT_EQ(source_->done(), source_->totalbytes());
  }
}

TEST_F(ChunkTest, EmptyChunkAndTheFileEndingAfterALengthOfZero) {
  {
    Bytes chunks;
    appendChunk(chunks, kMask, nullptr, 0);
    open(chunks);
    Memo memo;
    ASSERT_TRUE(source_->read(kMask, memo, true));
    EXPECT_EQ(memo.length(), 0u);
    EXPECT_EQ(source_->done(), 264u);
  }
  for (bool strict : {false, true}) {
    SCOPED_TRACE(strict);
    Bytes chunks;
    appendChunk(chunks, kMask, nullptr, 0);
    chunks.resize(4);  // the length field alone
    open(chunks);
    Memo memo;
    EXPECT_EQ(source_->read(kMask, memo, strict), !strict);
    EXPECT_EQ(memo.length(), 0u);
    if (strict) {
      EXPECT_EQ(lastCode(*sink_), BackupReadError);
      EXPECT_EQ(lastText(*sink_), L"no data read");
    } else {
      EXPECT_TRUE(sink_->faults().empty());
    }
  }
  {
    // Lenience is only for an empty chunk: a data chunk ending early is a fault either way.
    Bytes chunks;
    appendChunk(chunks, kMask, "abcdefgh", 8);
    chunks.resize(8);
    open(chunks);
    Memo memo;
    EXPECT_FALSE(source_->read(kMask, memo, false));
    EXPECT_EQ(lastText(*sink_), L"no data read");
    EXPECT_EQ(source_->done(), 264u);
  }
}

TEST_F(ChunkTest, ShortLengthFieldReportsTheCount) {
  for (std::size_t keep : {0u, 1u, 3u}) {
    Bytes chunks;
    appendChunk(chunks, kMask, "abcd", 4);
    chunks.resize(keep);
    open(chunks);
    Memo memo;
    EXPECT_FALSE(source_->read(kMask, memo, false));
    ASSERT_EQ(sink_->faults().size(), 1u);
    EXPECT_EQ(lastCode(*sink_), BackupReadError);
    EXPECT_EQ(lastText(*sink_), L"length read " + std::to_wstring(keep));
    EXPECT_EQ(source_->done(), 256u);
  }
}

TEST_F(ChunkTest, DamagedWordsFailTheChecksum) {
  Bytes good;
  appendChunk(good, kMask, "0123456789", 10, 0x33);  // 12 data bytes: 2 of them padding
  struct Case {
    char const* what;
    std::size_t offset;
  };
  for (Case c : {Case{"data", 4 + 1}, Case{"padding", 4 + 11}, Case{"checksum", 4 + 12 + 2}}) {
    SCOPED_TRACE(c.what);
    Bytes chunks = good;
    chunks[c.offset] = static_cast<char>(chunks[c.offset] + 1);
    open(chunks);
    Memo memo;
    EXPECT_FALSE(source_->read(kMask, memo, true));
    ASSERT_EQ(sink_->faults().size(), 1u);
    EXPECT_EQ(lastCode(*sink_), BackupReadError);
    EXPECT_EQ(lastText(*sink_), L"checksum failure");
  }
  // A length field changed within the same padded size changes the sum.
  Bytes chunks = good;
  chunks[0] = static_cast<char>(chunks[0] ^ 1);  // L 10 -> 11
  open(chunks);
  Memo memo;
  EXPECT_FALSE(source_->read(kMask, memo, true));
  EXPECT_EQ(lastText(*sink_), L"checksum failure");
  // The wrong mask fails too.
  open(good);
  EXPECT_FALSE(source_->read(kMask + 1, memo, true));
}

// The unmasking must agree with a word-by-word reference for every length and alignment of the
// vector steps: lengths around multiples of 8 and 16 words.
TEST_F(ChunkTest, VectorUnmaskingAgreesForEveryWordCount) {
  struct Written {
    std::uint32_t mask;
    Bytes data;
  };
  std::vector<Written> written;
  Bytes chunks;
  for (std::uint32_t words = 1; words <= 40; ++words) {
    std::uint32_t const n = words * 4 - (words % 3 == 1 ? 3 : 0);  // some end in padding
    written.push_back(Written{kMask * words, kestle_test::patternBytes(n, words + 100)});
    appendChunk(chunks, written.back().mask, written.back().data.data(), n,
                static_cast<unsigned char>(words));
  }
  open(chunks);
  Memo memo;
  for (Written const& w : written) {
    ASSERT_TRUE(source_->read(w.mask, memo, true)) << w.data.size();
    ASSERT_EQ(memo.length(), w.data.size());
    EXPECT_EQ(std::memcmp(memo.data(), w.data.data(), w.data.size()), 0) << w.data.size();
  }
}

TEST_F(ChunkTest, ShortTransfersAreContinuedAndCounted) {
  Bytes chunks;
  Bytes big = kestle_test::patternBytes(3000, 9);
  appendChunk(chunks, kMask, big.data(), 3000);
  appendChunk(chunks, kMask, nullptr, 0);
  int reads = 0;
  FileFaultGuard guard([&](Platform::FileCall const& c) -> std::optional<Platform::FileFault> {
    if (c.op != Platform::FileOp::Read || c.position < 256)
      return std::nullopt;
    ++reads;
    return Platform::FileFault{0, 7, {}};  // at most 7 bytes per transfer
  });
  open(chunks);
  Memo memo;
  ASSERT_TRUE(source_->read(kMask, memo, true));
  EXPECT_EQ(memo.length(), 3000u);
  EXPECT_EQ(std::memcmp(memo.data(), big.data(), big.size()), 0);
  EXPECT_EQ(reads, 1 + (3004 + 6) / 7);
  ASSERT_TRUE(source_->read(kMask, memo, true));
  EXPECT_EQ(memo.length(), 0u);
  EXPECT_EQ(source_->done(), source_->totalbytes());
}

}  // namespace
