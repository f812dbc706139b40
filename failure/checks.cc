// The exported check families. Each tests first and returns at once when no report is due, so a
// passing check formats nothing and allocates nothing. Integer values become text only for the
// one report that is made, and the formatted strings live until the platform call returns.
#include "kestle/failure.h"
#include "kestle/strings.h"

namespace {
using Text = wchar_t const*;

// Signed decimal, the form of every integer value but assure1's.
WString signedText(long long v) {
  return FString::signednumstr(v, 10, 0, L' ');
}
// Unsigned decimal of the same 64 bits, the form of assure1(..., long long).
WString unsignedText(long long v) {
  return FString::numstr(static_cast<unsigned long long>(v), 10, 0, L' ');
}
}  // namespace

// ---- assure / avoid ------------------------------------------------------------------------

void SysFailure::assure0(bool flag, Text file, Text function, unsigned line, bool condition) {
  if (condition)
    return;
  PanicMe(flag, file, function, line, nullptr, nullptr, 0);
}

void SysFailure::assure1(bool flag, Text file, Text function, unsigned line, bool condition,
                         long long a) {
  if (condition)
    return;
  WString ta = unsignedText(a);
  PanicMe(flag, file, function, line, ta, nullptr, 0);
}

void SysFailure::assure1(bool flag, Text file, Text function, unsigned line, bool condition,
                         Text a) {
  if (condition)
    return;
  PanicMe(flag, file, function, line, a, nullptr, 0);
}

void SysFailure::assure2(bool flag, Text file, Text function, unsigned line, bool condition,
                         long long a, long long b) {
  if (condition)
    return;
  WString ta = signedText(a), tb = signedText(b);
  PanicMe(flag, file, function, line, ta, tb, 0);
}

void SysFailure::assure2(bool flag, Text file, Text function, unsigned line, bool condition,
                         long long a, Text b) {
  if (condition)
    return;
  WString ta = signedText(a);
  PanicMe(flag, file, function, line, ta, b, 0);
}

void SysFailure::assure2(bool flag, Text file, Text function, unsigned line, bool condition, Text a,
                         long long b) {
  if (condition)
    return;
  WString tb = signedText(b);
  PanicMe(flag, file, function, line, a, tb, 0);
}

void SysFailure::assure2(bool flag, Text file, Text function, unsigned line, bool condition, Text a,
                         Text b) {
  if (condition)
    return;
  PanicMe(flag, file, function, line, a, b, 0);
}

// avoid is assure with the condition turned round.
void SysFailure::avoid0(bool flag, Text file, Text function, unsigned line, bool condition) {
  if (!condition)
    return;
  PanicMe(flag, file, function, line, nullptr, nullptr, 0);
}

void SysFailure::avoid1(bool flag, Text file, Text function, unsigned line, bool condition,
                        long long a) {
  if (!condition)
    return;
  WString ta = signedText(a);
  PanicMe(flag, file, function, line, ta, nullptr, 0);
}

void SysFailure::avoid1(bool flag, Text file, Text function, unsigned line, bool condition,
                        Text a) {
  if (!condition)
    return;
  PanicMe(flag, file, function, line, a, nullptr, 0);
}

void SysFailure::avoid2(bool flag, Text file, Text function, unsigned line, bool condition,
                        long long a, long long b) {
  assure2(flag, file, function, line, !condition, a, b);
}

void SysFailure::avoid2(bool flag, Text file, Text function, unsigned line, bool condition,
                        long long a, Text b) {
  assure2(flag, file, function, line, !condition, a, b);
}

void SysFailure::avoid2(bool flag, Text file, Text function, unsigned line, bool condition, Text a,
                        long long b) {
  assure2(flag, file, function, line, !condition, a, b);
}

void SysFailure::avoid2(bool flag, Text file, Text function, unsigned line, bool condition, Text a,
                        Text b) {
  assure2(flag, file, function, line, !condition, a, b);
}

// ---- trapret / trapec ----------------------------------------------------------------------

void SysFailure::trapret0(bool flag, Text file, Text function, unsigned line, Text expression,
                          unsigned long code) {
  if (code == 0)
    return;
  TrapretMe(flag, file, function, line, expression, code, nullptr, nullptr);
}

void SysFailure::trapret1(bool flag, Text file, Text function, unsigned line, Text expression,
                          unsigned long code, long long a) {
  if (code == 0)
    return;
  WString ta = signedText(a);
  TrapretMe(flag, file, function, line, expression, code, ta, nullptr);
}

void SysFailure::trapret1(bool flag, Text file, Text function, unsigned line, Text expression,
                          unsigned long code, Text a) {
  if (code == 0)
    return;
  TrapretMe(flag, file, function, line, expression, code, a, nullptr);
}

void SysFailure::trapret2(bool flag, Text file, Text function, unsigned line, Text expression,
                          unsigned long code, long long a, long long b) {
  if (code == 0)
    return;
  WString ta = signedText(a), tb = signedText(b);
  TrapretMe(flag, file, function, line, expression, code, ta, tb);
}

void SysFailure::trapret2(bool flag, Text file, Text function, unsigned line, Text expression,
                          unsigned long code, long long a, Text b) {
  if (code == 0)
    return;
  WString ta = signedText(a);
  TrapretMe(flag, file, function, line, expression, code, ta, b);
}

void SysFailure::trapret2(bool flag, Text file, Text function, unsigned line, Text expression,
                          unsigned long code, Text a, long long b) {
  if (code == 0)
    return;
  WString tb = signedText(b);
  TrapretMe(flag, file, function, line, expression, code, a, tb);
}

void SysFailure::trapret2(bool flag, Text file, Text function, unsigned line, Text expression,
                          unsigned long code, Text a, Text b) {
  if (code == 0)
    return;
  TrapretMe(flag, file, function, line, expression, code, a, b);
}

// trapec is trapret without an expression.
void SysFailure::trapec0(bool flag, Text file, Text function, unsigned line, unsigned long code) {
  trapret0(flag, file, function, line, nullptr, code);
}

void SysFailure::trapec1(bool flag, Text file, Text function, unsigned line, unsigned long code,
                         long long a) {
  trapret1(flag, file, function, line, nullptr, code, a);
}

void SysFailure::trapec1(bool flag, Text file, Text function, unsigned line, unsigned long code,
                         Text a) {
  trapret1(flag, file, function, line, nullptr, code, a);
}

void SysFailure::trapec2(bool flag, Text file, Text function, unsigned line, unsigned long code,
                         long long a, long long b) {
  trapret2(flag, file, function, line, nullptr, code, a, b);
}

void SysFailure::trapec2(bool flag, Text file, Text function, unsigned line, unsigned long code,
                         long long a, Text b) {
  trapret2(flag, file, function, line, nullptr, code, a, b);
}

void SysFailure::trapec2(bool flag, Text file, Text function, unsigned line, unsigned long code,
                         Text a, long long b) {
  trapret2(flag, file, function, line, nullptr, code, a, b);
}

void SysFailure::trapec2(bool flag, Text file, Text function, unsigned line, unsigned long code,
                         Text a, Text b) {
  trapret2(flag, file, function, line, nullptr, code, a, b);
}
