// The XML report of a backup: whole documents compared line by line, the error element's
// attributes and texts, and what the caller's progress object receives.
#include <gtest/gtest.h>

#include <sstream>
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
using kestle_test::HeapCheck;
using kestle_test::TempDir;
using Lines = std::vector<std::wstring>;

// Records what the report forwards to the caller.
class RecordingProgress final : public BuRdr::Progress {
 public:
  std::uint32_t total(unsigned long long size) override {
    calls.push_back(L"total " + std::to_wstring(size));
    return rate;
  }
  bool progress(unsigned long long bytesdone, wchar_t const* what) override {
    calls.push_back(L"progress " + std::to_wstring(bytesdone) + L" " + what);
    ++progressCalls;
    return progressCalls != abortAt;
  }
  std::vector<std::wstring> calls;
  std::uint32_t rate = 0;
  unsigned progressCalls = 0;
  unsigned abortAt = 0;  // the progress call (1-based) that answers false; 0 for none
};

Lines split(std::wstring const& text) {
  Lines lines;
  std::wstring::size_type start = 0;
  for (;;) {
    auto lf = text.find(L'\n', start);
    lines.push_back(text.substr(start, lf == std::wstring::npos ? lf : lf - start));
    if (lf == std::wstring::npos)
      return lines;
    start = lf + 1;
  }
}

std::uint32_t finestRate() {
  return static_cast<std::uint32_t>(
      std::min<unsigned long long>(SystemTimer::frequency(), 0xFFFFFFFFull));
}

class ReportTest : public ::testing::Test {
 protected:
  std::wstring put(BackupImage const& image, std::string const& file = "report.bak") {
    image.writeTo(dir_.file(file));
    return dir_.wfile(file);
  }
  std::wstring report(std::wstring const& name) {
    WString doc = BuRdr::report(name.c_str(), progress_);
    return static_cast<wchar_t const*>(doc);
  }
  static BackupWriter small() {
    BackupWriter w;
    w.unit(L"customers", L"Customer register", Bytes{1, 2, 3}).data("Alice;Berlin").data("Bob");
    w.unit(L"orders", L"").data("#1001");
    return w;
  }
  static std::wstring fname(std::wstring const& name) {
    return L"<backup fname=\"" + name + L"\" >";
  }

  TempDir dir_;
  HeapCheck heap_;
  RecordingProgress progress_;
};

TEST_F(ReportTest, SmallBackupDocument) {
  BackupImage image = small().build();
  std::wstring name = put(image);
  std::wstring size = std::to_wstring(image.bytes.size());
  Lines expected{
      fname(name),
      L" <start bustart=\"2024-05-17T13:45:30.25Z\" productcode=\"KESTLE TEST\" />",
      L" <total size=\"" + size + L"\" />",
      L" <finished bytesdone=\"" + size + L"\" unitcount=\"2\" netbytes=\"20\" />",
      L"</backup>",
  };
  std::wstring doc = report(name);
  EXPECT_EQ(split(doc), expected);
  EXPECT_NE(doc.back(), L'\n');
  EXPECT_EQ(progress_.calls, Lines{L"total " + size});
}

TEST_F(ReportTest, MissingFile) {
  std::wstring name = dir_.wfile("missing & gone.bak");
  Lines expected{
      fname(name),
      L" <error code=\"2\">",
      L"  <text>BuSource open " + name + L"</text>",
      L"  <text>The system cannot find the file specified.</text>",
      L" </error>",
      L"</backup>",
  };
  EXPECT_EQ(split(report(name)), expected);
  EXPECT_TRUE(progress_.calls.empty());
}

TEST_F(ReportTest, EmptyFileHasOneTextAndNoDescription) {
  kestle_test::writeFile(dir_.file("empty.bak"), {});
  std::wstring name = dir_.wfile("empty.bak");
  Lines expected{
      fname(name),
      L" <error pf=\"19509\">",
      L"  <text>BuSource empty file " + name + L"</text>",
      L" </error>",
      L"</backup>",
  };
  EXPECT_EQ(split(report(name)), expected);
  EXPECT_TRUE(progress_.calls.empty());
}

TEST_F(ReportTest, NoUnits) {
  std::wstring name = put(BackupWriter().build());
  Lines expected{
      fname(name),
      L" <start bustart=\"2024-05-17T13:45:30.25Z\" productcode=\"KESTLE TEST\" />",
      L" <total size=\"264\" />",
      L" <finished bytesdone=\"264\" unitcount=\"0\" netbytes=\"0\" />",
      L"</backup>",
  };
  EXPECT_EQ(split(report(name)), expected);
}

TEST_F(ReportTest, AbortInTheSecondUnit) {
  BackupWriter w = small();
  w.unit(L"stock", L"Stock").data("abc");
  BackupImage image = w.build();
  std::wstring name = put(image);
  progress_.rate = finestRate();
  progress_.abortAt = 3;  // after Alice;Berlin and Bob in the first unit, #1001 in the second
  // Without a pause the clock might not pass the one-tick interval between two chunks; the
  // report has no data hook, so the interval is forced open by a fault hook on every read.
  kestle_test::FileFaultGuard guard(
      [](Platform::FileCall const&) -> std::optional<Platform::FileFault> {
        kestle_test::spinTicks(1);
        return std::nullopt;
      });
  std::wstring size = std::to_wstring(image.bytes.size());
  Lines expected{
      fname(name),
      L" <start bustart=\"2024-05-17T13:45:30.25Z\" productcode=\"KESTLE TEST\" />",
      L" <total size=\"" + size + L"\" />",
      L" <error pf=\"99002\"",
      L"  unitsdone=\"1\"",
      L"  netbytes=\"20\">",
      L"  <text>aborted</text>",
      L" </error>",
      L"</backup>",
  };
  EXPECT_EQ(split(report(name)), expected);
  ASSERT_EQ(progress_.calls.size(), 4u);
  EXPECT_EQ(progress_.calls[3],
            L"progress " + std::to_wstring(image.chunks[5].end()) + L" orders ");
}

TEST_F(ReportTest, ChecksumFailureInTheFirstDataChunk) {
  BackupImage image = small().build();
  image.changeDataWord(image.find(ChunkPlace::Kind::Data), 1);
  std::wstring name = put(image);
  std::wstring size = std::to_wstring(image.bytes.size());
  Lines expected{
      fname(name),
      L" <start bustart=\"2024-05-17T13:45:30.25Z\" productcode=\"KESTLE TEST\" />",
      L" <total size=\"" + size + L"\" />",
      L" <error pf=\"10110\"",
      L"  unit=\"customers\"",
      L"  name=\"Customer register\"",
      L"  unitsdone=\"0\">",
      L"  <text>checksum failure</text>",
      L" </error>",
      L"</backup>",
  };
  EXPECT_EQ(split(report(name)), expected);
}

TEST_F(ReportTest, FaultInASecondUnitWithoutNameAndAPlatformCode) {
  BackupImage image = small().build();
  std::size_t const second = image.find(ChunkPlace::Kind::UnitHeader, 1);
  std::size_t const failing = image.chunks[second + 1].offset + 4;  // data of "#1001"
  kestle_test::FileFaultGuard guard(
      [failing](Platform::FileCall const& c) -> std::optional<Platform::FileFault> {
        if (c.op == Platform::FileOp::Read && c.position == failing)
          return Platform::FileFault{SysError::IoDevice, -1, {}};
        return std::nullopt;
      });
  std::wstring name = put(image);
  std::wstring size = std::to_wstring(image.bytes.size());
  Lines expected{
      fname(name),
      L" <start bustart=\"2024-05-17T13:45:30.25Z\" productcode=\"KESTLE TEST\" />",
      L" <total size=\"" + size + L"\" />",
      L" <error code=\"1117\"",
      L"  unit=\"orders\"",
      L"  unitsdone=\"1\"",
      L"  netbytes=\"15\">",
      L"  <text>BuSource read data</text>",
      L"  <text>" + std::wstring(ErrorDescription::formatMessage(1117)) + L"</text>",
      L" </error>",
      L"</backup>",
  };
  EXPECT_EQ(split(report(name)), expected);
}

// The progress object sees the current unit, a blank and the name, with the bytes done so far.
TEST_F(ReportTest, ProgressIsForwarded) {
  progress_.rate = finestRate();
  kestle_test::FileFaultGuard guard(
      [](Platform::FileCall const&) -> std::optional<Platform::FileFault> {
        kestle_test::spinTicks(1);
        return std::nullopt;
      });
  BackupImage image = small().build();
  std::wstring name = put(image);
  std::wstring doc = report(name);
  Lines expected{
      L"total " + std::to_wstring(image.bytes.size()),
      L"progress " + std::to_wstring(image.chunks[1].end()) + L" customers Customer register",
      L"progress " + std::to_wstring(image.chunks[2].end()) + L" customers Customer register",
      L"progress " + std::to_wstring(image.chunks[5].end()) + L" orders ",
  };
  EXPECT_EQ(progress_.calls, expected);
  EXPECT_NE(doc.find(L"<finished"), std::wstring::npos);
}

// ---- the error element on its own ---------------------------------------------------------

class ErrorElementTest : public ::testing::Test {
 protected:
  std::wstring error(unsigned long code, wchar_t const* text) {
    WString out;
    BuRdr::ReportSink sink(out, state_);
    sink.error(code, text);
    ok_ = sink.ok();
    return static_cast<wchar_t const*>(out);
  }
  HeapCheck heap_;
  BuRdr::ReportState state_;
  bool ok_ = true;
};

TEST_F(ErrorElementTest, CodeZeroWithoutTextHasNoAttributesAndKeepsTheSinkOk) {
  EXPECT_EQ(error(0, L""), L"\n <error/>");
  EXPECT_TRUE(ok_);
  EXPECT_EQ(error(0, nullptr), L"\n <error/>");
  EXPECT_EQ(error(0, L"note"), L"\n <error>\n  <text>note</text>\n </error>");
  EXPECT_TRUE(ok_);
}

TEST_F(ErrorElementTest, CodesAndDescriptions) {
  EXPECT_EQ(error(BackupReadError, nullptr), L"\n <error pf=\"10110\"/>");
  EXPECT_FALSE(ok_);
  EXPECT_EQ(error(0x20000000, L"t"), L"\n <error pf=\"0\">\n  <text>t</text>\n </error>");
  std::wstring description = static_cast<wchar_t const*>(ErrorDescription::formatMessage(5));
  EXPECT_EQ(error(5, L""),
            L"\n <error code=\"5\">\n  <text>" + description + L"</text>\n </error>");
}

TEST_F(ErrorElementTest, UnitAttributesFollowTheState) {
  state_.unit_ = L"u";
  EXPECT_EQ(error(BackupReadError, nullptr), L"\n <error pf=\"10110\"\n  unit=\"u\"/>");
  state_.name_ = L"n";
  state_.unitcount_ = 3;
  state_.netbytes_ = 12345678901ull;
  EXPECT_EQ(
      error(0, nullptr),
      L"\n <error\n  unit=\"u\"\n  name=\"n\"\n  unitsdone=\"2\"\n  netbytes=\"12345678901\"/>");
  EXPECT_EQ(error(BackupAborted, L"aborted"),
            L"\n <error pf=\"99002\"\n  unitsdone=\"2\"\n  netbytes=\"12345678901\">\n"
            L"  <text>aborted</text>\n </error>");
  state_.unit_ = L"";  // no unit: none of the four
  EXPECT_EQ(error(BackupReadError, nullptr), L"\n <error pf=\"10110\"/>");
}

}  // namespace
