#include "output.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "kestle/kestle.h"

namespace kestle_tool {

std::optional<std::wstring> widen(std::string const& arg) {
  std::wstring wide(arg.size() + 1, L'\0');
  std::size_t n = std::mbstowcs(wide.data(), arg.c_str(), wide.size());
  if (n == static_cast<std::size_t>(-1))
    return std::nullopt;
  wide.resize(n);
  return wide;
}

std::optional<std::wstring> fileName(std::string const& arg) {
  auto name = widen(arg);
  if (!name)
    fail(arg, "the file name is not UTF-8");
  return name;
}

std::string shown(std::wstring_view text) {
  std::wstring safe;
  for (wchar_t c : text) {
    auto const u = static_cast<std::uint32_t>(c);
    if (u == L'\n') {
      safe += L"\\n";
    } else if (u == L'\t') {
      safe += L"\\t";
    } else if (u < 0x20 || (u >= 0x7F && u < 0xA0)) {
      safe += L"\\x";
      safe += static_cast<wchar_t const*>(FString::numstr(u, 16, 2, L'0'));
    } else {
      safe += c;
    }
  }
  return FString::utf8(safe.c_str());
}

namespace {
std::string codeText(unsigned long code) {
  char number[32];
  std::snprintf(number, sizeof number, code & 0x20000000 ? "0x%lX" : "%lu", code);
  return std::string("code ") + number + ": " + shown(ErrorDescription::formatMessage(code));
}
}  // namespace

void fail(std::string const& subject, std::string const& text, unsigned long code) {
  std::string line = "kestle: " + subject + ": " + text;
  if (code != 0)
    line.append(" (").append(codeText(code)).append(")");
  std::fprintf(stderr, "%s\n", line.c_str());
}

void reportToStandardError() {
  Platform::setReportHandler([](Platform::Report const& r) {
    std::string line =
        "library report from " + shown(r.function) + " line " + std::to_string(r.line) + ":";
    // Appended piece by piece: GCC 12 at -O3 warns falsely about "literal" + temporary.
    for (auto const* text : {&r.expression, &r.text1, &r.text2})
      if (*text && !(*text)->empty())
        line.append(" ").append(shown(**text));
    if (r.op == Platform::Report::Op::Panic1Value || r.op == Platform::Report::Op::Panic2)
      line.append(" ").append(std::to_string(r.value));
    if (r.code != 0)
      line.append(" (").append(codeText(r.code)).append(")");
    std::fprintf(stderr, "kestle: %s\n", line.c_str());
  });
  Platform::setLogHandler([](Platform::LogEntry const& e) {
    std::fprintf(stderr, "kestle: library log %s: %s\n", e.category.c_str(), shown(e.text).c_str());
  });
}

ProgressBar::ProgressBar(unsigned long long total)
    : total_(total), terminal_(::isatty(STDERR_FILENO) != 0) {}

ProgressBar::~ProgressBar() {
  clear();
}

void ProgressBar::clear() {
  if (shown_)
    std::fprintf(stderr, "\r%*s\r", 79, "");
  shown_ = false;
  drawn_ = {};
}

void ProgressBar::update(unsigned long long done, std::wstring_view what) {
  auto const now = Clock::now();
  if (!terminal_ || now - started_ < std::chrono::seconds(1) ||
      now - drawn_ < std::chrono::milliseconds(100))
    return;
  constexpr int kCells = 40;
  unsigned long long const percent = total_ == 0 || done >= total_ ? 100 : done * 100 / total_;
  std::string bar(static_cast<std::size_t>(percent * kCells / 100), '#');
  bar.resize(kCells, ' ');
  std::string label = shown(what.substr(0, 30));
  std::fprintf(stderr, "\r[%s] %3llu%%  %-30s", bar.c_str(), percent, label.c_str());
  std::fflush(stderr);
  drawn_ = now;
  shown_ = true;
}

}  // namespace kestle_tool
