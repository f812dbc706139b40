// Conversions the platform needs at its boundaries (log files, standard error).
#pragma once

#include <string>

namespace kestle_detail {
// UTF-8 of a wide text; null gives "".
std::string toUtf8(wchar_t const* text);
std::string toUtf8(std::wstring const& text);
// The UTF-8 of a text that goes into one line of a report or log: carriage return and line feed
// become \r and \n, every other control character \xNN, so that no text (a file name, say) can
// end a line early or forge one. The narrow form escapes the control bytes of a byte text.
std::string lineUtf8(std::wstring const& text);
std::string lineUtf8(std::string const& text);
// Appends one line (text + '\n') to the file with one write call. Returns false on failure.
bool appendLine(std::string const& path, std::string const& line);
// The path of a log file: relative names resolve against the log directory.
std::string logPath(wchar_t const* logFile);
// The current local time as "YYYY-MM-DD hh:mm:ss".
std::string nowText();
}  // namespace kestle_detail
