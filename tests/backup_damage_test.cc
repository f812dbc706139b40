// Damaged backups: every truncation point and every single-byte change after the leading block
// must end in a complete document with an error element and no finished element. Run under
// AddressSanitizer, these loops also prove that no damage makes the reader touch memory outside
// its buffers; the heap check proves that nothing leaks on any path.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "kestle/kestle.h"
#include "support/backup_recorders.h"
#include "support/backup_writer.h"
#include "support/guards.h"
#include "support/memory_file.h"

namespace {
using kestle_test::BackupImage;
using kestle_test::Bytes;

class DamageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // An empty unit text makes the first word of that unit header 0, the case in which a
    // damaged length field can turn the header into something that reads as an end marker.
    kestle_test::BackupWriter w;
    w.unit(L"customers", L"Customer register", Bytes{1, 2, 3, 4, 5})
        .data("Alice;Berlin")
        .data(kestle_test::patternBytes(1100, 7))  // heap storage
        .data("Bob");
    w.unit(L"", L"empty").data("x");
    w.unit(L"orders", L"").data("#1001");
    image_ = w.build();
    good_ = reportOf(image_.bytes);
  }

  std::wstring reportOf(Bytes const& bytes) {
    file_.assign(bytes.data(), bytes.size());
    kestle_test::RecordingProgress progress;
    WString doc = BuRdr::report(file_.path(), progress);
    return static_cast<wchar_t const*>(doc);
  }

  // A complete document that tells of a fault and does not claim the backup was read.
  static bool failedCompletely(std::wstring const& doc) {
    return doc.starts_with(L"<backup fname=") && doc.ends_with(L"\n</backup>") &&
           doc.find(L"\n <error") != std::wstring::npos &&
           doc.find(L"<finished") == std::wstring::npos;
  }

  kestle_test::MemoryFile file_;
  kestle_test::HeapCheck heap_;
  BackupImage image_;
  std::wstring good_;
};

TEST_F(DamageTest, ChangesInsideTheLeadingBlockChangeNothing) {
  EXPECT_NE(good_.find(L"<finished"), std::wstring::npos);
  EXPECT_EQ(good_.find(L"<error"), std::wstring::npos);
  for (std::size_t at = 0; at < 128; ++at) {
    Bytes changed = image_.bytes;
    changed[at] ^= 0xFF;
    ASSERT_EQ(reportOf(changed), good_) << at;
  }
}

TEST_F(DamageTest, EveryTruncationFails) {
  for (std::size_t keep = 0; keep < image_.bytes.size(); ++keep) {
    BackupImage cut = image_;
    cut.truncate(keep);
    std::wstring doc = reportOf(cut.bytes);
    ASSERT_TRUE(failedCompletely(doc)) << "kept " << keep << " bytes:\n" << doc;
  }
}

// Header bytes are guarded by the cipher's check and data, padding and checksum bytes by the
// chunk sum, whatever the new value; a length field decides how the rest is read, so its bytes
// are tried with every other value.
TEST_F(DamageTest, EverySingleByteChangeAfterTheLeadingBlockFails) {
  std::vector<bool> lengthByte(image_.bytes.size(), false);
  for (auto const& chunk : image_.chunks)
    std::fill_n(lengthByte.begin() + static_cast<long>(chunk.offset), 4, true);
  for (std::size_t at = 128; at < image_.bytes.size(); ++at) {
    for (unsigned bits = 1; bits < 256; ++bits) {
      if (!lengthByte[at] && bits != 0x01 && bits != 0x80 && bits != 0xFF)
        continue;
      BackupImage changed = image_;
      changed.flip(at, static_cast<unsigned char>(bits));
      std::wstring doc = reportOf(changed.bytes);
      ASSERT_TRUE(failedCompletely(doc)) << "byte " << at << " ^ " << bits << ":\n" << doc;
    }
  }
}

}  // namespace
