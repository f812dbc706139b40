// What every command of the kestle program shares: turning arguments into the library's wide
// texts and texts back into safe terminal output, one-line errors, where the library's reports
// and log entries go, and the progress bar.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kestle_tool {

// Exit statuses of every command.
inline constexpr int kSound = 0;     // everything read and found sound
inline constexpr int kDamaged = 1;   // the command ran, and found damage or could not finish
inline constexpr int kUnusable = 2;  // a usage error, or the file could not be opened at all

// A command-line argument as the library's wide text. Arguments are UTF-8 (the platform writes
// file names back as UTF-8, so this round-trips); nullopt for bytes that are not UTF-8.
std::optional<std::wstring> widen(std::string const& arg);
// widen for a file name argument; says so when it is not UTF-8.
std::optional<std::wstring> fileName(std::string const& arg);

// UTF-8 of a text for the terminal: control characters (C0, DEL, C1) become \n, \t, \xNN, so a
// name read from a file cannot move the cursor or forge an output line.
std::string shown(std::wstring_view text);
inline std::string shown(wchar_t const* text) {
  return shown(std::wstring_view(text));
}

// "kestle: <subject>: <text>" on standard error, with the code and its description when code is
// not 0: "(code 2: The system cannot find the file specified.)"; the library's own codes, which
// have bit 29 set, in hexadecimal.
void fail(std::string const& subject, std::string const& text, unsigned long code = 0);

// Sends the library's reports and log entries to standard error, one line each, instead of the
// default ERROR.LOG in the working directory. Not called when the user asks for ERROR.LOG.
void reportToStandardError();

// A bar on standard error for work that lasts: it appears only when standard error is a terminal
// and the work has run for a second, and is redrawn at most ten times a second.
class ProgressBar {
 public:
  explicit ProgressBar(unsigned long long total);
  ~ProgressBar();  // clears the bar's line, if one was drawn
  ProgressBar(ProgressBar const&) = delete;
  ProgressBar& operator=(ProgressBar const&) = delete;

  void update(unsigned long long done, std::wstring_view what = {});
  // Erases the bar before other output; the next update draws it again.
  void clear();

 private:
  using Clock = std::chrono::steady_clock;
  unsigned long long total_;
  Clock::time_point started_ = Clock::now();
  Clock::time_point drawn_{};
  bool terminal_;
  bool shown_ = false;
};

}  // namespace kestle_tool
