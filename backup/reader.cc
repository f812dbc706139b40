// BuRdr::reader: drives a Source through a whole backup and hands its units to a Restore.
//
// Everything the reader holds lives in scoped objects (the Source, the Memo, the per-unit texts
// and info buffer), so an exception from a callback releases it all and closes the file on its
// way out, and each unit's storage is gone before the next unit begins.
#include <cstdint>

#include "kestle/backup.h"
#include "kestle/errors.h"
#include "kestle/timer.h"

namespace BuRdr {

namespace {

// Reads the unit-header chunk: unit text, name text and the nested info buffer; anything after
// them is ignored. Reads past the chunk's end give empty values, never bytes beyond it.
void readUnitHeader(Source::Memo const& memo, WString& unit, WString& name, XBuffer& info) {
  XBufferC view(memo.length(), memo.data());
  view.getWStr(unit);
  view.getWStr(name);
  view >> info;
}

}  // namespace

void reader(wchar_t const* file, ErrorSink& sink, Restore& restore) {
  Source source(sink, file);
  Clock::UniversalTime stamp;
  WString productcode;
  if (!source.start(stamp, productcode))
    return;
  if (!restore.start(stamp, productcode))
    return;

  std::uint32_t const rate = restore.total(source.totalbytes());
  SystemTimer::timer timer(true);
  // A rate of 0, or one the timer cannot resolve (interval 0), asks for no progress at all.
  unsigned long long const interval = rate != 0 ? SystemTimer::frequency() / rate : 0;

  std::uint32_t mask = source.unmask();
  Source::Memo memo;
  for (;;) {
    if (!source.read(mask, memo, true)) {
      if (sink.ok())
        sink.error(BackupFormatError, L"unknown read problem 0");
      return;
    }
    if (memo.length() == 0) {
      // The final empty chunk must also be the end of the file: otherwise a damaged unit header
      // that happens to read as an empty chunk would pass as a complete backup with its
      // remaining units silently lost.
      if (source.done() < source.totalbytes()) {
        if (sink.ok())
          sink.error(BackupFormatError,
                     WString(L"data after end of backup ", source.totalbytes() - source.done()));
        return;
      }
      restore.finished(source.done());
      return;
    }

    {
      WString unit;
      WString name;
      XBuffer info;
      readUnitHeader(memo, unit, name, info);
      restore.unit(unit, name, info);

      for (;;) {
        if (!source.read(mask, memo, true)) {
          if (sink.ok())
            sink.error(BackupFormatError, L"unknown read problem 1");
          return;
        }
        std::uint32_t const length = memo.length();
        restore.data(length, memo.data());
        if (length == 0)
          break;  // the unit's closing chunk
        if (interval == 0 || timer.elapsed() <= interval)
          continue;
        if (!restore.progress(source.done(), WString(unit, L" ", name))) {
          if (sink.ok())
            sink.error(BackupAborted, L"aborted");
          return;
        }
        timer.reset();
      }
    }
    memo.clear();  // releases the unit's heap storage
    mask = source.unmask();
  }
}

}  // namespace BuRdr
