// The platform's log writer.
#pragma once

// The kind of a log entry; the record layer writes errors (1) and warnings (2).
enum LogType : int { LogTypeError = 1, LogTypeWarning = 2 };

// Writes one entry to the named log file: by default one line appended to the file, written with
// one write call so that lines of concurrent threads never mix. Platform::setLogHandler
// replaces the default.
void doWriteLog(char const* sourceFile, char const* category, unsigned int line, LogType type,
                wchar_t const* logFile, wchar_t const* text, wchar_t const* text2,
                unsigned long code);
