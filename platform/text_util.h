// Conversions the platform needs at its boundaries (log files, standard error).
#pragma once

#include <string>

namespace kestle_detail {
// UTF-8 of a wide text; null gives "".
std::string toUtf8(wchar_t const* text);
std::string toUtf8(std::wstring const& text);
// Appends one line (text + '\n') to the file with one write call. Returns false on failure.
bool appendLine(std::string const& path, std::string const& line);
// The path of a log file: relative names resolve against the log directory.
std::string logPath(wchar_t const* logFile);
// The current local time as "YYYY-MM-DD hh:mm:ss".
std::string nowText();
}  // namespace kestle_detail
