// The platform's report operations: every SysFailure report becomes a Platform::Report and goes
// to the installed handler.
#include <cstdio>
#include <mutex>
#include <string>

#include "kestle/failure.h"
#include "kestle/platform/control.h"
#include "platform/hooks.h"
#include "platform/text_util.h"

namespace {

using Platform::Report;

std::optional<std::wstring> opt(wchar_t const* text) {
  if (text == nullptr)
    return std::nullopt;
  return std::wstring(text);
}

char const* opName(Report::Op op) {
  switch (op) {
    case Report::Op::PanicMe:
      return "PanicMe";
    case Report::Op::TrapretMe:
      return "TrapretMe";
    case Report::Op::Panic1Text:
    case Report::Op::Panic1Value:
      return "panic1";
    case Report::Op::Panic1Ec:
      return "panic1Ec";
    case Report::Op::Panic2:
      return "panic2";
  }
  return "report";
}

// Writes one line to standard error and appends it to ERROR.LOG, then returns. Texts are escaped,
// so one report is always one line.
void defaultHandler(Report const& r) {
  using kestle_detail::lineUtf8;
  // Built by appending: GCC 12 at -O3 warns (-Wrestrict) on long chains of operator+.
  std::string line = kestle_detail::nowText();
  line.append(" ").append(opName(r.op)).append(r.flag ? " [1] " : " [0] ");
  line.append(lineUtf8(r.file)).append(":").append(std::to_string(r.line));
  line.append(" ").append(lineUtf8(r.function));
  if (r.expression)
    line.append(" expr=\"").append(lineUtf8(*r.expression)).append("\"");
  if (r.text1)
    line.append(" text1=\"").append(lineUtf8(*r.text1)).append("\"");
  if (r.text2)
    line.append(" text2=\"").append(lineUtf8(*r.text2)).append("\"");
  if (r.op == Report::Op::Panic1Value || r.op == Report::Op::Panic2) {
    line.append(" value=").append(std::to_string(r.value));
  }
  if (r.code != 0)
    line.append(" code=").append(std::to_string(r.code));
  static std::mutex out;
  std::lock_guard<std::mutex> lock(out);
  std::fprintf(stderr, "%s\n", line.c_str());
  kestle_detail::appendLine(kestle_detail::logPath(L"ERROR.LOG"), line);
}

void deliver(Report const& r) {
  if (Platform::ReportHandler const& handler = kestle_detail::hookSlot<Platform::ReportHandler>()) {
    handler(r);
  } else {
    defaultHandler(r);
  }
}

Report make(Report::Op op, bool flag, wchar_t const* file, wchar_t const* function, unsigned line) {
  Report r{};
  r.op = op;
  r.flag = flag;
  r.file = file ? file : L"";
  r.function = function ? function : L"";
  r.line = line;
  r.value = 0;
  r.code = 0;
  return r;
}

}  // namespace

namespace Platform {
ReportHandler setReportHandler(ReportHandler h) {
  return kestle_detail::exchangeHook(std::move(h));
}
}  // namespace Platform

void SysFailure::PanicMe(bool flag, Text file, Text function, unsigned line, Text text1, Text text2,
                         unsigned long code) {
  Report r = make(Report::Op::PanicMe, flag, file, function, line);
  r.text1 = opt(text1);
  r.text2 = opt(text2);
  r.code = code;
  deliver(r);
}

void SysFailure::TrapretMe(bool flag, Text file, Text function, unsigned line, Text expression,
                           unsigned long code, Text text1, Text text2) {
  Report r = make(Report::Op::TrapretMe, flag, file, function, line);
  r.expression = opt(expression);
  r.code = code;
  r.text1 = opt(text1);
  r.text2 = opt(text2);
  deliver(r);
}

void SysFailure::panic1(bool flag, Text file, Text function, unsigned line, Text text) {
  Report r = make(Report::Op::Panic1Text, flag, file, function, line);
  r.text1 = opt(text);
  deliver(r);
}

void SysFailure::panic1(bool flag, Text file, Text function, unsigned line, long long value) {
  Report r = make(Report::Op::Panic1Value, flag, file, function, line);
  r.value = value;
  deliver(r);
}

void SysFailure::panic1Ec(bool flag, Text file, Text function, unsigned line, Text text,
                          unsigned long code) {
  Report r = make(Report::Op::Panic1Ec, flag, file, function, line);
  r.text1 = opt(text);
  r.code = code;
  deliver(r);
}

void SysFailure::panic2(bool flag, Text file, Text function, unsigned line, Text text,
                        long long value) {
  Report r = make(Report::Op::Panic2, flag, file, function, line);
  r.text1 = opt(text);
  r.value = value;
  deliver(r);
}
