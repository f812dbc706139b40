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
using Hook = Platform::FileFaultHook;

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

// Fails the read of the data chunk that follows the second unit's header.
Hook failSecondUnitsData(BackupImage const& image) {
  std::size_t const at = image.chunks[image.find(ChunkPlace::Kind::UnitHeader, 1) + 1].dataOffset();
  return [at](Platform::FileCall const& c) -> std::optional<Platform::FileFault> {
    if (c.op == Platform::FileOp::Read && c.position == at)
      return Platform::FileFault{SysError::IoDevice, -1, {}};
    return std::nullopt;
  };
}

// Whole documents after the header; at rate 0 the progress object hears only the total.
TEST_F(ReportTest, Documents) {
  BackupImage const good = small().build();
  BackupImage checksum = good;
  checksum.changeDataWord(checksum.find(ChunkPlace::Kind::Data), 1);
  std::wstring const description =
      static_cast<wchar_t const*>(ErrorDescription::formatMessage(1117));
  struct Case {
    char const* what;
    BackupImage image;
    Hook hook;
    Lines body;
  } const cases[] = {
      {"two units",
       good,
       {},
       {L" <finished bytesdone=\"" + std::to_wstring(good.bytes.size()) +
        L"\" unitcount=\"2\" netbytes=\"20\" />"}},
      {"no units",
       BackupWriter().build(),
       {},
       {L" <finished bytesdone=\"264\" unitcount=\"0\" netbytes=\"0\" />"}},
      {"checksum failure in the first data chunk",
       checksum,
       {},
       {L" <error pf=\"10110\"", L"  unit=\"customers\"", L"  name=\"Customer register\"",
        L"  unitsdone=\"0\">", L"  <text>checksum failure</text>", L" </error>"}},
      {"platform code in a second unit without name",
       good,
       failSecondUnitsData(good),
       {L" <error code=\"1117\"", L"  unit=\"orders\"", L"  unitsdone=\"1\"", L"  netbytes=\"15\">",
        L"  <text>BuSource read data</text>", L"  <text>" + description + L"</text>",
        L" </error>"}},
  };
  for (Case const& c : cases) {
    SCOPED_TRACE(c.what);
    FileFaultGuard guard(c.hook);
    std::wstring name = put(c.image);
    progress_.calls.clear();
    EXPECT_EQ(report(name), document(name, c.body));
    EXPECT_EQ(progress_.calls, Lines{L"total " + size_});
  }
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

// The caller's progress object sees the current unit, a blank and the name, with the bytes done
// so far, and its false ends the document with the aborted error.
TEST_F(ReportTest, ProgressReachesTheCallerAndItsFalseAborts) {
  BackupWriter w = small();
  w.unit(L"stock", L"Stock").data("abc");
  BackupImage image = w.build();
  std::wstring name = put(image);
  progress_.rate = kestle_test::finestRate();
  progress_.progressAnswers = {true, true, false};  // false after #1001 in the second unit
  // The report has no data hook: to let the clock pass a one-tick interval between two chunks,
  // every file call spins.
  FileFaultGuard guard([](Platform::FileCall const&) -> std::optional<Platform::FileFault> {
    kestle_test::spinTicks(1);
    return std::nullopt;
  });
  EXPECT_EQ(report(name),
            document(name, {L" <error pf=\"99002\"", L"  unitsdone=\"1\"", L"  netbytes=\"20\">",
                            L"  <text>aborted</text>", L" </error>"}));
  auto at = [&](std::size_t chunk) { return std::to_wstring(image.chunks[chunk].end()); };
  EXPECT_EQ(progress_.calls,
            (Lines{L"total " + size_, L"progress " + at(1) + L" customers Customer register",
                   L"progress " + at(2) + L" customers Customer register",
                   L"progress " + at(5) + L" orders "}));
}

// ---- the error element on its own ---------------------------------------------------------

// What the documents above do not reach: notes under code 0, the application bit alone, a
// description without a text, and counts beyond 32 bits.
TEST(ErrorElementTest, NotesBareCodesAndLargeCounts) {
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
  EXPECT_EQ(error(0, nullptr), L"\n <error/>");
  EXPECT_EQ(error(0, L"note"), L"\n <error>\n  <text>note</text>\n </error>");
  EXPECT_TRUE(ok);
  EXPECT_EQ(error(0x20000000, L"t"), L"\n <error pf=\"0\">\n  <text>t</text>\n </error>");
  EXPECT_FALSE(ok);
  std::wstring description = static_cast<wchar_t const*>(ErrorDescription::formatMessage(5));
  EXPECT_EQ(error(5, L""),
            L"\n <error code=\"5\">\n  <text>" + description + L"</text>\n </error>");
  state.unit_ = L"u";
  state.unitcount_ = 3;
  state.netbytes_ = 12345678901ull;
  EXPECT_EQ(
      error(BackupReadError, nullptr),
      L"\n <error pf=\"10110\"\n  unit=\"u\"\n  unitsdone=\"2\"\n  netbytes=\"12345678901\"/>");
}

}  // namespace
