// BuRdr::report: the XML report of a backup file, built by one pass of the reader.
#include "backup/report_parts.h"
#include "kestle/backup.h"

namespace BuRdr {

WString report(wchar_t const* file, Progress& progress) {
  WString out(L"<backup fname=\"", file, L"\" >");
  {
    ReportState state;
    ReportSink sink(out, state);
    ReportStore store(out, state, progress);
    reader(file, sink, store);
  }
  out += L"\n</backup>";
  return out;
}

}  // namespace BuRdr
