// The platform's log writer: each entry goes to the installed handler, or by default becomes one
// line appended to its log file.
#include "platform/log.h"

#include <string>

#include "kestle/platform/control.h"
#include "platform/hooks.h"
#include "platform/text_util.h"

namespace {

void defaultWrite(Platform::LogEntry const& e) {
  using kestle_detail::lineUtf8;
  // Built by appending: GCC 12 at -O3 warns (-Wrestrict) on long chains of operator+.
  std::string line = kestle_detail::nowText();
  line.append(" ").append(std::to_string(e.type));
  line.append(" ").append(lineUtf8(e.category));
  line.append(" ").append(lineUtf8(e.sourceFile)).append(":").append(std::to_string(e.line));
  line.append(" ").append(lineUtf8(e.text));
  if (e.text2)
    line.append(" ").append(lineUtf8(*e.text2));
  if (e.code != 0)
    line.append(" code=").append(std::to_string(e.code));
  kestle_detail::appendLine(kestle_detail::logPath(e.logFile.c_str()), line);
}
}  // namespace

namespace Platform {
LogHandler setLogHandler(LogHandler h) {
  return kestle_detail::exchangeHook(std::move(h));
}
}  // namespace Platform

void doWriteLog(char const* sourceFile, char const* category, unsigned int line, LogType type,
                wchar_t const* logFile, wchar_t const* text, wchar_t const* text2,
                unsigned long code) {
  Platform::LogEntry e;
  e.sourceFile = sourceFile ? sourceFile : "";
  e.category = category ? category : "";
  e.line = line;
  e.type = static_cast<int>(type);
  e.logFile = logFile ? logFile : L"";
  e.text = text ? text : L"";
  if (text2 != nullptr)
    e.text2 = std::wstring(text2);
  e.code = code;
  if (Platform::LogHandler const& handler = kestle_detail::hookSlot<Platform::LogHandler>()) {
    handler(e);
  } else {
    defaultWrite(e);
  }
}
