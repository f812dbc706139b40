#include "support/guards.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <sstream>

namespace kestle_test {

std::vector<std::wstring> ReportCapture::lines() const {
  static wchar_t const* const kOps[] = {L"PanicMe",     L"TrapretMe", L"Panic1Text",
                                        L"Panic1Value", L"Panic1Ec",  L"Panic2"};
  auto text = [](std::optional<std::wstring> const& t) { return t ? *t : std::wstring(L"-"); };
  std::vector<std::wstring> out;
  for (auto const& r : reports()) {
    std::wostringstream line;
    line << kOps[static_cast<int>(r.op)] << ' ' << r.flag << ' ' << r.file << ':' << r.line << ' '
         << r.function << ' ' << text(r.expression) << ' ' << text(r.text1) << ' ' << text(r.text2)
         << ' ' << r.code << ' ' << r.value;
    out.push_back(line.str());
  }
  return out;
}

std::vector<std::wstring> LogCapture::texts() const {
  std::vector<std::wstring> out;
  for (auto const& e : entries())
    out.push_back(e.text);
  return out;
}

HeapCheck::~HeapCheck() {
  EXPECT_EQ(held(), 0) << "accounted heap not back where it was";
}

TempDir::TempDir() {
  static std::atomic<unsigned> counter{0};
  char const* base = std::getenv("KESTLE_TEST_TMP");
  std::filesystem::path root =
      base != nullptr ? std::filesystem::path(base) : std::filesystem::temp_directory_path();
  path_ = root / ("kestle-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
  std::filesystem::remove_all(path_);
  std::filesystem::create_directories(path_);
}
TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

}  // namespace kestle_test
