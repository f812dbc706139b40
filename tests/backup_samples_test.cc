// The backups committed to the tree stay what the test writer makes, and the sample reads
// completely. To rewrite them after a deliberate change of the writer or the samples:
//   backup_samples_test --gtest_also_run_disabled_tests --gtest_filter='*WriteCommitted*'
#include <gtest/gtest.h>

#include <filesystem>

#include "kestle/kestle.h"
#include "support/backup_recorders.h"
#include "support/backup_samples.h"
#include "support/guards.h"

namespace {
namespace fs = std::filesystem;

fs::path const kRoot = fs::path(__FILE__).parent_path().parent_path();
fs::path const kSample = kRoot / "examples" / "sample.bak";
fs::path const kCorpus = kRoot / "fuzz" / "corpus" / "backup_fuzz";

TEST(BackupSamplesTest, CommittedFilesAreTheWritersOutput) {
  if (!fs::exists(kSample))
    GTEST_SKIP() << "source tree not found at " << kRoot;
  EXPECT_EQ(kestle_test::readFile(kSample), kestle_test::sampleBackup().bytes);
  for (auto const& [name, bytes] : kestle_test::backupFuzzSeeds())
    EXPECT_EQ(kestle_test::readFile(kCorpus / name), bytes) << name;
}

TEST(BackupSamplesTest, SampleReadsCompletely) {
  kestle_test::HeapCheck heap;
  kestle_test::TempDir dir;
  kestle_test::sampleBackup().writeTo(dir.file("sample.bak"));
  kestle_test::RecordingProgress progress;
  WString doc = BuRdr::report(dir.wfile("sample.bak").c_str(), progress);
  std::wstring text = static_cast<wchar_t const*>(doc);
  EXPECT_EQ(text.find(L"<error"), std::wstring::npos) << text;
  EXPECT_NE(text.find(L"bustart=\"2024-03-09T22:15:04.50+01:00\" productcode=\"KESTLE SAMPLE\""),
            std::wstring::npos)
      << text;
  EXPECT_NE(text.find(L"unitcount=\"3\" netbytes=\"65\""), std::wstring::npos) << text;
}

TEST(BackupSamplesTest, DISABLED_WriteCommittedFiles) {
  kestle_test::sampleBackup().writeTo(kSample);
  fs::create_directories(kCorpus);
  for (auto const& [name, bytes] : kestle_test::backupFuzzSeeds())
    kestle_test::writeFile(kCorpus / name, bytes);
}

}  // namespace
