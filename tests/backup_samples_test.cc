// The committed backups (examples/sample.bak, the backup fuzz seeds) must be exactly what the
// test writer makes here. To rewrite them after a deliberate change of the writer or samples:
//   backup_samples_test --gtest_also_run_disabled_tests --gtest_filter='*WriteCommitted*'
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "kestle/kestle.h"
#include "support/backup_writer.h"

namespace {
namespace fs = std::filesystem;
using namespace kestle_test;

fs::path const kRoot = fs::path(__FILE__).parent_path().parent_path();
fs::path const kSample = kRoot / "examples" / "sample.bak";
fs::path const kCorpus = kRoot / "fuzz" / "corpus" / "backup_fuzz";

// Three small units, one of them without data chunks.
BackupImage sampleBackup() {
  BackupHeader header;
  header.stamp = stampOf(2024, 3, 9, 22, 15, 4, 50, -360000);  // UTC+1
  header.product = utf16(L"KESTLE SAMPLE");
  XBuffer info;
  info << 3;  // records
  BackupWriter w(header);
  w.unit(L"customers", L"Customer register", Bytes(info.at(0), info.at(0) + info.len()))
      .data("1;Alice;Berlin\n")
      .data("2;Bob;Lyon\n")
      .data("3;Carol;Oslo\n");
  w.unit(L"orders", L"Open orders").data("1001;1;3 pcs\n").data("1002;3;1 pcs\n");
  w.unit(L"notes", L"");
  return w.build();
}

// Good, damaged and hostile backups by file name.
std::vector<std::pair<std::string, Bytes>> backupFuzzSeeds() {
  std::vector<std::pair<std::string, Bytes>> seeds;
  BackupImage sample = sampleBackup();
  seeds.emplace_back("sample", sample.bytes);
  seeds.emplace_back("no_units", BackupWriter().build().bytes);
  seeds.emplace_back("empty_file", Bytes{});
  seeds.emplace_back("header_only", Bytes(sample.bytes.begin(), sample.bytes.begin() + 256));
  seeds.emplace_back("truncated", Bytes(sample.bytes.begin(), sample.bytes.end() - 37));
  BackupWriter big;
  big.unit(L"big", L"chunks on the heap").data(patternBytes(1500, 1)).data(patternBytes(40, 2));
  seeds.emplace_back("heap_chunks", big.build().bytes);
  BackupHeader badType;
  badType.type = 12;
  seeds.emplace_back("bad_type", BackupWriter(badType).unit(L"u", L"n").build().bytes);
  BackupImage lying = sample;
  lying.setLength(1, 0x7FFFFFF);
  seeds.emplace_back("largest_length", lying.bytes);
  BackupImage checksum = sample;
  checksum.changeChecksum(2);
  seeds.emplace_back("checksum", checksum.bytes);
  // An empty unit text: a length field changed to 0 turns this header into an end marker.
  BackupImage endMarker = BackupWriter().unit(L"", L"n").data("x").build();
  endMarker.setLength(0, 0);
  seeds.emplace_back("early_end_marker", endMarker.bytes);
  return seeds;
}

TEST(BackupSamplesTest, CommittedFilesAreTheWritersOutput) {
  if (!fs::exists(kSample))
    GTEST_SKIP() << "source tree not found at " << kRoot;
  EXPECT_EQ(readFile(kSample), sampleBackup().bytes);
  for (auto const& [name, bytes] : backupFuzzSeeds())
    EXPECT_EQ(readFile(kCorpus / name), bytes) << name;
}

TEST(BackupSamplesTest, DISABLED_WriteCommittedFiles) {
  sampleBackup().writeTo(kSample);
  fs::create_directories(kCorpus);
  for (auto const& [name, bytes] : backupFuzzSeeds())
    writeFile(kCorpus / name, bytes);
}

}  // namespace
