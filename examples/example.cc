// A tour of Kestle: strings and number formatting, a failure check whose report is captured, an
// enciphered record file written through the write buffer and read back, and the report of a
// small sample backup.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "backup_demo.h"
#include "kestle/kestle.h"
#include "record_read_demo.h"

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

  std::printf("== record files ==\n");
  bool readBackOk = true;
  {
    std::string dir = (std::filesystem::temp_directory_path() / "kestle-example-XXXXXX").string();
    if (::mkdtemp(dir.data()) == nullptr)
      return 1;
    std::wstring const name = (std::filesystem::path(dir) / "records.dat").wstring();
    FioFile* file = nullptr;
    unsigned long code = FopenName(name.c_str(), 16, true, Sharing::AllowRead, Access::ReadWrite,
                                   OpenFlag::CreateOrTruncate, file, false);
    if (code != 0) {
      print(L"cannot open: ", ErrorDescription::formatMessage(code));
      return 1;
    }
    char written[5][16];
    for (unsigned rec = 1; rec <= 5; ++rec) {
      std::snprintf(written[rec - 1], sizeof written[rec - 1], "record number %u", rec);
      Fbufwrite(file, rec, 8, written[rec - 1]);  // gathered, written as one run
    }
    Fflush(file);
    unsigned nrecs = 0;
    Fsize(file, nrecs);
    std::printf("%u enciphered records of 16 bytes, %u bytes each in the file\n", nrecs,
                static_cast<unsigned>(std::filesystem::file_size(std::filesystem::path(name)) /
                                      (nrecs == 0 ? 1 : nrecs)));
    readBackOk = runRecordReadDemo(file, nrecs, &written[0][0]);
    Fclose(file);
    std::filesystem::remove_all(dir);
  }

  std::printf("== backup report ==\n");
  runBackupDemo(KESTLE_SAMPLE_BACKUP);

  std::printf("accounted heap now holds %lld bytes\n", Heapwick::bytesHeld());
  return readBackOk ? 0 : 1;
}
