// A tour of Kestle: strings and number formatting, and a failure check whose report is captured.
#include <cstdio>

#include "kestle/kestle.h"

namespace {
void print(wchar_t const* label, WString const& text) {
  std::printf("%ls%ls\n", label, static_cast<wchar_t const*>(text));
}
}  // namespace

int main() {
  std::printf("== strings ==\n");
  WString greeting(L"record files", L" and ", L"backups");
  greeting.ins(L"Kestle: ");
  print(L"joined:   ", greeting);
  print(L"numbered: ", WString(L"record #", 42ULL));
  print(L"hex:      ", FString::numstr(0xBEEF, 16, 8, L'0'));
  print(L"signed:   ", FString::signednumstr(-1234, 10, 0, L' '));

  std::printf("== failure checks ==\n");
  Platform::setReportHandler([](Platform::Report const& r) {
    std::printf("report from %ls at line %u: %ls / %ls\n", r.function.c_str(), r.line,
                r.text1 ? r.text1->c_str() : L"(none)", r.text2 ? r.text2->c_str() : L"(none)");
  });
  SysFailure::assure2(false, L"example", L"main", __LINE__, 2 + 2 == 4, 1LL, 2LL);   // passes
  SysFailure::assure2(false, L"example", L"main", __LINE__, 2 + 2 == 5, 5LL, -6LL);  // reports
  Platform::setReportHandler({});

  std::printf("accounted heap now holds %lld bytes\n", Heapwick::bytesHeld());
  return 0;
}
