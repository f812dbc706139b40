// The platform control interface: process-wide hooks through which an application or a test
// captures reports and log lines, injects file faults, records sleeps and tones, and reads the
// statistics and the accounted heap total.
//
// Each set... call installs its hook for the whole process and returns the previous one; an empty
// function restores the default. Make these calls while no library operation is running (a hook
// is read without a lock). Hooks may be called from any thread that runs a library operation, so
// a hook that records must guard its own state.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <type_traits>
#include <utility>

#include "kestle/export.h"
#include "kestle/stat.h"

namespace Platform {

// One report of SysFailure, as the platform received it. A null text pointer is std::nullopt.
struct Report {
  enum class Op { PanicMe, TrapretMe, Panic1Text, Panic1Value, Panic1Ec, Panic2 } op;
  bool flag;
  std::wstring file, function;
  unsigned line;
  std::optional<std::wstring> expression, text1, text2;
  long long value;  // panic1's or panic2's number
  unsigned long code;
};
using ReportHandler = std::function<void(Report const&)>;
// Default: one line to standard error, appended to ERROR.LOG in the log directory; then returns.
KESTLE_API ReportHandler setReportHandler(ReportHandler h);

// One entry of doWriteLog.
struct LogEntry {
  std::string sourceFile, category;
  unsigned line;
  int type;
  std::wstring logFile, text;
  std::optional<std::wstring> text2;
  unsigned long code;
};
using LogHandler = std::function<void(LogEntry const&)>;
// Default: one line appended to the named log file (relative names resolve against the log
// directory).
KESTLE_API LogHandler setLogHandler(LogHandler h);
// The directory of relative log file names: the working directory until set, and again after
// an empty or null name. Callers pass a std::filesystem::path (or a std::string, or a C string);
// the path form is a template so that this header does without <filesystem>, which any caller
// that holds a path has included already.
KESTLE_API void setLogDirectory(char const* dir);
template <class Path>
requires std::is_convertible_v<decltype(std::declval<Path const&>().c_str()), char const*>
void setLogDirectory(Path const& dir) {
  setLogDirectory(static_cast<char const*>(dir.c_str()));
}

enum class FileOp { Open, Close, SetPos, Read, Read2, Write, Flush, Size, SetSize, GetStamp };
struct FileCall {
  FileOp op;
  void* handle;
  std::wstring name;
  unsigned long long position;
  unsigned length;
};
// An injected fault. code != 0: the primitive returns code and does nothing. code == 0 and
// count >= 0: a transfer moves only count bytes (from the start of its range) and reports count.
// alter, when set, runs after a read has filled its buffers (copy is null for a plain read).
struct FileFault {
  unsigned long code = 0;
  long long count = -1;
  std::function<void(char* buffer, char* copy, unsigned count)> alter;
};
using FileFaultHook = std::function<std::optional<FileFault>(FileCall const&)>;
// The hook is asked before every file primitive the library calls; no answer lets it run.
KESTLE_API FileFaultHook setFileFaultHook(FileFaultHook hook);

using SleepHook = std::function<void(unsigned ms)>;
// When set, SleepMs calls the hook instead of sleeping.
KESTLE_API SleepHook setSleepHook(SleepHook hook);
using ToneHook = std::function<void(unsigned, unsigned)>;
// When set, Celesta::tone calls the hook (the default makes no sound).
KESTLE_API ToneHook setToneHook(ToneHook hook);

using ClockHook = std::function<unsigned long long()>;
// When set, SystemTimer::counter answers the hook's tick count instead of the monotonic clock's
// (still SystemTimer::frequency ticks per second), so that a test moves the time that timers and
// timed rules such as the backup reader's progress interval see.
KESTLE_API ClockHook setClockHook(ClockHook hook);

// The counts added under id (Stat::incCount and each Stat::Call scope) and the ticks timed.
KESTLE_API unsigned long long statCount(Stat::Id id);
KESTLE_API unsigned long long statTicks(Stat::Id id);

// The code path of the record cipher and the backup checksum: Auto (the default) runs the widest
// the processor has; Bytes, Sse2 and Avx2 force one, so that every path can be run and compared
// on one machine. Forcing a tier the processor lacks gives the widest it has. Every path produces
// the same bytes. Returns the previous setting.
enum class CpuTier { Auto, Bytes, Sse2, Avx2 };
KESTLE_API CpuTier setCpuTier(CpuTier tier);
// The tier that runs now (never Auto).
KESTLE_API CpuTier cpuTier();

}  // namespace Platform

namespace Heapwick {
// Bytes the library holds through the accounted allocation now (blocks and their headers).
KESTLE_API long long bytesHeld();
}  // namespace Heapwick
