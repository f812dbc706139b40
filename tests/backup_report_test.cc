// The XML report of a backup, whole or damaged (under ASan: no access outside buffers). The
// committed sample and backup fuzz seeds are the test writer's output; to rewrite them:
//   backup_report_test --gtest_also_run_disabled_tests --gtest_filter='*WriteCommitted*'
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "backup/report_parts.h"
#include "kestle/kestle.h"
#include "support/backup_writer.h"
#include "support/guards.h"
#include "support/memory_file.h"

namespace {
namespace fs = std::filesystem;
using namespace kestle_test;

class ReportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // An empty unit text starts its header with word 0: a damaged length can make an end marker.
    BackupWriter w;
    w.unit(L"customers", L"Customer register", Bytes{1, 2, 3, 4, 5})
        .data("Alice;Berlin")
        .data(patternBytes(1100, 7))  // heap storage
        .data("Bob");
    w.unit(L"", L"empty").data("x");
    w.unit(L"orders", L"").data("#1001");
    image_ = w.build();
  }

  std::wstring reportOf(Bytes const& bytes) {
    file_.assign(bytes.data(), bytes.size());
    progress_.calls.clear();
    return std::wstring(BuRdr::report(file_.path(), progress_));
  }

  static bool failedCompletely(std::wstring const& doc) {
    return doc.starts_with(L"<backup fname=") && doc.ends_with(L"\n</backup>") &&
           doc.find(L"\n <error") != std::wstring::npos &&
           doc.find(L"<finished") == std::wstring::npos;
  }

  MemoryFile file_;
  HeapCheck heap_;
  BackupImage image_;
  RecordingPacing<BuRdr::Progress> progress_;
};

TEST_F(ReportTest, Documents) {
  std::wstring const size = std::to_wstring(image_.bytes.size());
  std::wstring const head =
      L"<backup fname=\"" + std::wstring(file_.path()) +
      L"\" >\n <start bustart=\"2024-05-17T13:45:30.25Z\" productcode=\"KESTLE TEST\" />"
      L"\n <total size=\"" +
      size + L"\" />";
  EXPECT_EQ(reportOf(image_.bytes), head + L"\n <finished bytesdone=\"" + size +
                                        L"\" unitcount=\"3\" netbytes=\"1121\" />\n</backup>");
  EXPECT_EQ(progress_.calls, std::vector{L"total " + size});
  EXPECT_EQ(reportOf(BackupImage(image_).changeChecksum(1).bytes),  // the first data chunk
            head +
                L"\n <error pf=\"10110\"\n  unit=\"customers\"\n  name=\"Customer register\"\n"
                L"  unitsdone=\"0\">\n  <text>checksum failure</text>\n </error>\n</backup>");
}

// Every truncation and single-byte change after the leading block fails; a length field decides
// how the rest is read, so its bytes are tried with every other value.
TEST_F(ReportTest, EveryTruncationAndSingleByteChangeFails) {
  for (std::size_t keep = 0; keep < image_.bytes.size(); ++keep) {
    std::wstring doc = reportOf(Bytes(image_.bytes.begin(), image_.bytes.begin() + keep));
    ASSERT_TRUE(failedCompletely(doc)) << "kept " << keep << " bytes:\n" << doc;
  }
  std::vector<bool> lengthByte(image_.bytes.size(), false);
  for (auto const& chunk : image_.chunks)
    std::fill_n(lengthByte.begin() + static_cast<long>(chunk.offset), 4, true);
  for (std::size_t at = 128; at < image_.bytes.size(); ++at) {
    for (unsigned bits = 1; bits < 256; ++bits) {
      if (!lengthByte[at] && bits != 0x01 && bits != 0x80 && bits != 0xFF)
        continue;
      Bytes changed = image_.bytes;
      changed[at] ^= static_cast<char>(bits);
      std::wstring doc = reportOf(changed);
      ASSERT_TRUE(failedCompletely(doc)) << "byte " << at << " ^ " << bits << ":\n" << doc;
    }
  }
}

// Error elements: code 0, the application bit alone, a description, the aborted error without the
// unit's texts, counts beyond 32 bits; the store forwards total and progress to the caller.
TEST_F(ReportTest, ErrorElementsAndProgress) {
  BuRdr::ReportState state;
  auto error = [&](unsigned long code, wchar_t const* what) {
    WString out;
    BuRdr::ReportSink(out, state).error(code, what);
    return std::wstring(out);
  };
  EXPECT_EQ(error(0, nullptr), L"\n <error/>");
  EXPECT_EQ(error(0, L"note"), L"\n <error>\n  <text>note</text>\n </error>");
  EXPECT_EQ(error(0x20000000, L"t"), L"\n <error pf=\"0\">\n  <text>t</text>\n </error>");
  EXPECT_EQ(error(5, L""), L"\n <error code=\"5\">\n  <text>" +
                               std::wstring(ErrorDescription::formatMessage(5)) +
                               L"</text>\n </error>");
  state = {2, 20, L"u", L"n"};  // units begun, data bytes, unit, name
  EXPECT_EQ(error(BackupAborted, L"aborted"),
            L"\n <error pf=\"99002\"\n  unitsdone=\"1\"\n  netbytes=\"20\">\n  <text>aborted</text>"
            L"\n </error>");
  state = {3, 12345678901ull, L"u", L""};
  EXPECT_EQ(
      error(BackupReadError, nullptr),
      L"\n <error pf=\"10110\"\n  unit=\"u\"\n  unitsdone=\"2\"\n  netbytes=\"12345678901\"/>");
  WString out;
  progress_.rate = 7;
  progress_.answers = {true, false};
  BuRdr::ReportStore store(out, state, progress_);
  EXPECT_EQ((std::tuple{store.total(300), store.progress(20, L"u n"), store.progress(30, L"u n")}),
            std::tuple(7u, true, false));
  EXPECT_EQ(progress_.calls,
            (std::vector<std::wstring>{L"total 300", L"progress 20 u n", L"progress 30 u n"}));
}

fs::path const kRoot = fs::path(__FILE__).parent_path().parent_path();
fs::path const kSample = kRoot / "examples" / "sample.bak";
fs::path const kCorpus = kRoot / "fuzz" / "corpus" / "backup_fuzz";

BackupImage sampleBackup() {
  // Made at UTC+1; the customers' info is their count as a 32-bit word.
  BackupWriter w({13, stampOf(2024, 3, 9, 22, 15, 4, 50, -360000), u"KESTLE SAMPLE"});
  w.unit(L"customers", L"Customer register", Bytes{3, 0, 0, 0})
      .data("1;Alice;Berlin\n")
      .data("2;Bob;Lyon\n")
      .data("3;Carol;Oslo\n");
  w.unit(L"orders", L"Open orders").data("1001;1;3 pcs\n").data("1002;3;1 pcs\n");
  w.unit(L"notes", L"");
  return w.build();
}

std::vector<std::pair<std::string, Bytes>> backupFuzzSeeds() {
  BackupImage const sample = sampleBackup();
  BackupWriter big;
  big.unit(L"big", L"chunks on the heap").data(patternBytes(1500, 1)).data(patternBytes(40, 2));
  // An empty unit text: a length field changed to 0 turns this header into an end marker.
  BackupImage const endMarker = BackupWriter().unit(L"", L"n").data("x").build().setLength(0, 0);
  return {{"sample", sample.bytes},
          {"no_units", BackupWriter().build().bytes},
          {"empty_file", {}},
          {"header_only", Bytes(sample.bytes.begin(), sample.bytes.begin() + 256)},
          {"truncated", Bytes(sample.bytes.begin(), sample.bytes.end() - 37)},
          {"heap_chunks", big.build().bytes},
          {"bad_type", BackupWriter({12}).unit(L"u", L"n").build().bytes},
          {"largest_length", BackupImage(sample).setLength(1, 0x7FFFFFF).bytes},
          {"checksum", BackupImage(sample).changeChecksum(2).bytes},
          {"early_end_marker", endMarker.bytes}};
}

TEST(BackupSamplesTest, CommittedFilesAreTheWritersOutput) {
  EXPECT_EQ(readFile(kSample), sampleBackup().bytes);
  for (auto const& [name, bytes] : backupFuzzSeeds())
    EXPECT_EQ(readFile(kCorpus / name), bytes) << name;
}

TEST(BackupSamplesTest, DISABLED_WriteCommittedFiles) {
  writeFile(kSample, sampleBackup().bytes);
  fs::create_directories(kCorpus);
  for (auto const& [name, bytes] : backupFuzzSeeds())
    writeFile(kCorpus / name, bytes);
}

}  // namespace
