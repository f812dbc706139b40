// The XML report of a backup: whole documents, the error element's attributes and texts, what
// the caller's progress object receives, and damaged backups: every truncation and every
// single-byte change after the leading block must end in a complete document with an error
// element and no finished element. Under AddressSanitizer these loops also prove that no damage
// makes the reader touch memory outside its buffers; the heap check, that nothing leaks.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "backup/report_parts.h"
#include "kestle/kestle.h"
#include "support/backup_recorders.h"
#include "support/backup_writer.h"
#include "support/guards.h"
#include "support/memory_file.h"

namespace {
using kestle_test::Bytes;
using kestle_test::HeapCheck;

std::wstring text(WString const& s) {
  return static_cast<wchar_t const*>(s);
}

class ReportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // An empty unit text makes the first word of that unit header 0: a damaged length field can
    // then turn the header into something that reads as an end marker.
    kestle_test::BackupWriter w;
    w.unit(L"customers", L"Customer register", Bytes{1, 2, 3, 4, 5})
        .data("Alice;Berlin")
        .data(kestle_test::patternBytes(1100, 7))  // heap storage
        .data("Bob");
    w.unit(L"", L"empty").data("x");
    w.unit(L"orders", L"").data("#1001");
    image_ = w.build();
  }

  std::wstring reportOf(Bytes const& bytes, std::wstring const& name = {}) {
    file_.assign(bytes.data(), bytes.size());
    progress_.calls.clear();
    return text(BuRdr::report(name.empty() ? file_.path() : name.c_str(), progress_));
  }

  // A complete document that tells of a fault and does not claim the backup was read.
  static bool failedCompletely(std::wstring const& doc) {
    return doc.starts_with(L"<backup fname=") && doc.ends_with(L"\n</backup>") &&
           doc.find(L"\n <error") != std::wstring::npos &&
           doc.find(L"<finished") == std::wstring::npos;
  }

  kestle_test::MemoryFile file_;
  HeapCheck heap_;
  kestle_test::BackupImage image_;
  kestle_test::RecordingProgress progress_;
};

// Whole documents; the start and total lines appear once the header reads well.
TEST_F(ReportTest, Documents) {
  std::wstring const name = file_.path();
  std::wstring const size = std::to_wstring(image_.bytes.size());
  std::wstring const head =
      L"\n <start bustart=\"2024-05-17T13:45:30.25Z\" productcode=\"KESTLE "
      L"TEST\" />\n <total size=\"" +
      size + L"\" />";
  kestle_test::BackupImage checksum = image_;
  checksum.changeChecksum(1);  // the first data chunk
  struct Case {
    char const* what;
    Bytes bytes;
    std::wstring name;
    std::wstring body;
  } const cases[] = {
      {"three units", image_.bytes, name,
       head + L"\n <finished bytesdone=\"" + size + L"\" unitcount=\"3\" netbytes=\"1121\" />"},
      {"checksum failure in the first data chunk", checksum.bytes, name,
       head + L"\n <error pf=\"10110\"\n  unit=\"customers\"\n  name=\"Customer register\"\n"
              L"  unitsdone=\"0\">\n  <text>checksum failure</text>\n </error>"},
      {"missing file",
       {},
       name + L"x",
       L"\n <error code=\"2\">\n  <text>BuSource open " + name +
           L"x</text>\n  <text>The system cannot find the file specified.</text>\n </error>"},
      {"empty file",
       {},
       name,
       L"\n <error pf=\"19509\">\n  <text>BuSource empty file " + name + L"</text>\n </error>"},
  };
  for (Case const& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(reportOf(c.bytes, c.name),
              L"<backup fname=\"" + c.name + L"\" >" + c.body + L"\n</backup>");
    EXPECT_EQ(progress_.calls, c.body.starts_with(head) ? std::vector{L"total " + size}
                                                        : std::vector<std::wstring>{});
  }
}

// Header bytes are guarded by the cipher's check and data, padding and checksum bytes by the
// chunk sum, whatever the new value; a length field decides how the rest is read, so its bytes
// are tried with every other value.
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

// Notes under code 0, the application bit alone, a description without a text, the aborted error
// without the unit's texts, and counts beyond 32 bits.
TEST_F(ReportTest, ErrorElements) {
  BuRdr::ReportState state;
  bool ok = true;
  auto error = [&](unsigned long code, wchar_t const* text) {
    WString out;
    BuRdr::ReportSink sink(out, state);
    sink.error(code, text);
    ok = sink.ok();
    return std::wstring(static_cast<wchar_t const*>(out));
  };
  EXPECT_EQ(error(0, L""), L"\n <error/>");
  EXPECT_EQ(error(0, nullptr), L"\n <error/>");
  EXPECT_EQ(error(0, L"note"), L"\n <error>\n  <text>note</text>\n </error>");
  EXPECT_TRUE(ok);
  EXPECT_EQ(error(0x20000000, L"t"), L"\n <error pf=\"0\">\n  <text>t</text>\n </error>");
  EXPECT_FALSE(ok);
  EXPECT_EQ(error(5, L""), L"\n <error code=\"5\">\n  <text>" +
                               text(ErrorDescription::formatMessage(5)) + L"</text>\n </error>");
  state.unit_ = L"u";
  state.name_ = L"n";
  state.unitcount_ = 2;
  state.netbytes_ = 20;
  EXPECT_EQ(error(BackupAborted, L"aborted"),
            L"\n <error pf=\"99002\"\n  unitsdone=\"1\"\n  netbytes=\"20\">\n  <text>aborted</text>"
            L"\n </error>");
  state.name_ = L"";
  state.unitcount_ = 3;
  state.netbytes_ = 12345678901ull;
  EXPECT_EQ(
      error(BackupReadError, nullptr),
      L"\n <error pf=\"10110\"\n  unit=\"u\"\n  unitsdone=\"2\"\n  netbytes=\"12345678901\"/>");
}

// The store hands total and progress to the caller's object and passes on its answers.
TEST_F(ReportTest, ProgressReachesTheCaller) {
  BuRdr::ReportState state;
  WString out;
  progress_.rate = 7;
  progress_.answers = {true, false};
  BuRdr::ReportStore store(out, state, progress_);
  EXPECT_EQ(store.total(300), 7u);
  EXPECT_TRUE(store.progress(20, L"u n"));
  EXPECT_FALSE(store.progress(30, L"u n"));
  EXPECT_EQ(progress_.calls,
            (std::vector<std::wstring>{L"total 300", L"progress 20 u n", L"progress 30 u n"}));
  EXPECT_EQ(text(out), L"\n <total size=\"300\" />");
}

}  // namespace
