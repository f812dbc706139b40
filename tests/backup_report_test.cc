// The XML report of a backup: whole documents compared line by line, the error element's
// attributes and texts, and what the caller's progress object receives.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "backup/report_parts.h"
#include "kestle/kestle.h"
#include "support/backup_recorders.h"
#include "support/backup_writer.h"
#include "support/guards.h"

namespace {
using kestle_test::BackupImage;
using kestle_test::BackupWriter;
using kestle_test::Bytes;
using kestle_test::ChunkPlace;
using kestle_test::FileFaultGuard;
using kestle_test::HeapCheck;
using Lines = std::vector<std::wstring>;

Lines split(std::wstring const& text) {
  Lines lines;
  for (std::wstring::size_type start = 0;;) {
    auto lf = text.find(L'\n', start);
    lines.push_back(text.substr(start, lf == std::wstring::npos ? lf : lf - start));
    if (lf == std::wstring::npos)
      return lines;
    start = lf + 1;
  }
}

// The report has no data hook: to let the clock pass a one-tick interval between two chunks,
// every file call spins.
std::optional<Platform::FileFault> spin(Platform::FileCall const&) {
  kestle_test::spinTicks(1);
  return std::nullopt;
}

class ReportTest : public ::testing::Test {
 protected:
  std::wstring put(BackupImage const& image) {
    image.writeTo(dir_.file("report.bak"));
    size_ = std::to_wstring(image.bytes.size());
    return dir_.wfile("report.bak");
  }
  Lines report(std::wstring const& name) {
    WString doc = BuRdr::report(name.c_str(), progress_);
    return split(static_cast<wchar_t const*>(doc));  // a line feed at the end adds a line
  }
  // A document of a backup whose header read well: the opening, start and total lines, then
  // `body` and the closing line.
  Lines document(std::wstring const& name, Lines const& body) const {
    Lines lines{L"<backup fname=\"" + name + L"\" >",
                L" <start bustart=\"2024-05-17T13:45:30.25Z\" productcode=\"KESTLE TEST\" />",
                L" <total size=\"" + size_ + L"\" />"};
    lines.insert(lines.end(), body.begin(), body.end());
    lines.push_back(L"</backup>");
    return lines;
  }
  static BackupWriter small() {
    BackupWriter w;
    w.unit(L"customers", L"Customer register", Bytes{1, 2, 3}).data("Alice;Berlin").data("Bob");
    w.unit(L"orders", L"").data("#1001");
    return w;
  }

  kestle_test::TempDir dir_;
  HeapCheck heap_;
  kestle_test::RecordingProgress progress_;
  std::wstring size_;
};

// The progress object sees the current unit, a blank and the name, with the bytes done so far;
// at rate 0 it sees only the total.
TEST_F(ReportTest, SmallBackupDocumentAndItsProgress) {
  BackupImage image = small().build();
  std::wstring name = put(image);
  Lines expected = document(
      name, {L" <finished bytesdone=\"" + size_ + L"\" unitcount=\"2\" netbytes=\"20\" />"});
  EXPECT_EQ(report(name), expected);
  EXPECT_EQ(progress_.calls, Lines{L"total " + size_});

  progress_.calls.clear();
  progress_.rate = kestle_test::finestRate();
  FileFaultGuard guard(spin);
  EXPECT_EQ(report(name), expected);
  Lines calls{
      L"total " + size_,
      L"progress " + std::to_wstring(image.chunks[1].end()) + L" customers Customer register",
      L"progress " + std::to_wstring(image.chunks[2].end()) + L" customers Customer register",
      L"progress " + std::to_wstring(image.chunks[5].end()) + L" orders ",
  };
  EXPECT_EQ(progress_.calls, calls);
}

TEST_F(ReportTest, NoUnits) {
  std::wstring name = put(BackupWriter().build());
  EXPECT_EQ(report(name),
            document(name, {L" <finished bytesdone=\"264\" unitcount=\"0\" netbytes=\"0\" />"}));
}

TEST_F(ReportTest, MissingAndEmptyFilesGiveOnlyTheirError) {
  std::wstring name = dir_.wfile("missing & gone.bak");
  EXPECT_EQ(report(name), (Lines{L"<backup fname=\"" + name + L"\" >", L" <error code=\"2\">",
                                 L"  <text>BuSource open " + name + L"</text>",
                                 L"  <text>The system cannot find the file specified.</text>",
                                 L" </error>", L"</backup>"}));
  name = put(BackupImage{});
  EXPECT_EQ(report(name), (Lines{L"<backup fname=\"" + name + L"\" >", L" <error pf=\"19509\">",
                                 L"  <text>BuSource empty file " + name + L"</text>", L" </error>",
                                 L"</backup>"}));
  EXPECT_TRUE(progress_.calls.empty());
}

TEST_F(ReportTest, AbortInTheSecondUnit) {
  BackupWriter w = small();
  w.unit(L"stock", L"Stock").data("abc");
  BackupImage image = w.build();
  std::wstring name = put(image);
  progress_.rate = kestle_test::finestRate();
  // After Alice;Berlin and Bob in the first unit, #1001 in the second.
  progress_.progressAnswers = {true, true, false};
  FileFaultGuard guard(spin);
  EXPECT_EQ(report(name),
            document(name, {L" <error pf=\"99002\"", L"  unitsdone=\"1\"", L"  netbytes=\"20\">",
                            L"  <text>aborted</text>", L" </error>"}));
  ASSERT_EQ(progress_.calls.size(), 4u);
  EXPECT_EQ(progress_.calls[3],
            L"progress " + std::to_wstring(image.chunks[5].end()) + L" orders ");
}

TEST_F(ReportTest, ChecksumFailureInTheFirstDataChunk) {
  BackupImage image = small().build();
  image.changeDataWord(image.find(ChunkPlace::Kind::Data), 1);
  std::wstring name = put(image);
  EXPECT_EQ(report(name), document(name, {L" <error pf=\"10110\"", L"  unit=\"customers\"",
                                          L"  name=\"Customer register\"", L"  unitsdone=\"0\">",
                                          L"  <text>checksum failure</text>", L" </error>"}));
}

TEST_F(ReportTest, FaultInASecondUnitWithoutNameAndAPlatformCode) {
  BackupImage image = small().build();
  std::size_t const failing = image.chunks[image.find(ChunkPlace::Kind::UnitHeader, 1) + 1]
                                  .dataOffset();  // data of "#1001"
  FileFaultGuard guard(
      [failing](Platform::FileCall const& c) -> std::optional<Platform::FileFault> {
        if (c.op == Platform::FileOp::Read && c.position == failing)
          return Platform::FileFault{SysError::IoDevice, -1, {}};
        return std::nullopt;
      });
  std::wstring name = put(image);
  EXPECT_EQ(report(name),
            document(name, {L" <error code=\"1117\"", L"  unit=\"orders\"", L"  unitsdone=\"1\"",
                            L"  netbytes=\"15\">", L"  <text>BuSource read data</text>",
                            L"  <text>" + std::wstring(ErrorDescription::formatMessage(1117)) +
                                L"</text>",
                            L" </error>"}));
}

// ---- the error element on its own ---------------------------------------------------------

TEST(ErrorElementTest, CodesTextsDescriptionsAndUnitAttributes) {
  HeapCheck heap;
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
  EXPECT_TRUE(ok);
  EXPECT_EQ(error(0, nullptr), L"\n <error/>");
  EXPECT_EQ(error(0, L"note"), L"\n <error>\n  <text>note</text>\n </error>");
  EXPECT_TRUE(ok);
  EXPECT_EQ(error(BackupReadError, nullptr), L"\n <error pf=\"10110\"/>");
  EXPECT_FALSE(ok);
  EXPECT_EQ(error(0x20000000, L"t"), L"\n <error pf=\"0\">\n  <text>t</text>\n </error>");
  std::wstring description = static_cast<wchar_t const*>(ErrorDescription::formatMessage(5));
  EXPECT_EQ(error(5, L""),
            L"\n <error code=\"5\">\n  <text>" + description + L"</text>\n </error>");

  state.unit_ = L"u";
  EXPECT_EQ(error(BackupReadError, nullptr), L"\n <error pf=\"10110\"\n  unit=\"u\"/>");
  state.name_ = L"n";
  state.unitcount_ = 3;
  state.netbytes_ = 12345678901ull;
  EXPECT_EQ(
      error(0, nullptr),
      L"\n <error\n  unit=\"u\"\n  name=\"n\"\n  unitsdone=\"2\"\n  netbytes=\"12345678901\"/>");
  EXPECT_EQ(error(BackupAborted, L"aborted"),
            L"\n <error pf=\"99002\"\n  unitsdone=\"2\"\n  netbytes=\"12345678901\">\n"
            L"  <text>aborted</text>\n </error>");
  state.unit_ = L"";  // no unit: none of the four
  EXPECT_EQ(error(BackupReadError, nullptr), L"\n <error pf=\"10110\"/>");
}

}  // namespace
