// SysFailure: the library's one way of reporting an impossible state or a failed operation.
//
// The check families (assure, avoid, trapret, trapec) test their condition first; only when it
// calls for a report do they format their integer values and make exactly one platform report.
// A check that passes formats nothing and allocates nothing. Every check takes the leading flag
// and the caller's source position (file, qualified function, line) and passes them on
// unchanged. Integer values become signed decimal text, except in assure1(..., long long),
// which reads the value as unsigned; an empty formatted text is passed as "", never null. Text
// values are passed on as they are, null included.
//
// What a report does (show, log, return) is the platform's: by default it writes one line to
// standard error and to ERROR.LOG and returns; Platform::setReportHandler replaces that.
// The functions hold no state: any thread may call them at any time.
#pragma once

#include "kestle/export.h"

namespace kestle_detail {
struct Reporter;
}

class KESTLE_API SysFailure {
 public:
  using Text = wchar_t const*;

  SysFailure() = default;
  SysFailure(SysFailure const&) = default;
  SysFailure& operator=(SysFailure const&) { return *this; }
  SysFailure& operator=(SysFailure&&) { return *this; }

  // Reports when the condition is false.
  static void assure0(bool flag, Text file, Text function, unsigned line, bool condition);
  static void assure1(bool flag, Text file, Text function, unsigned line, bool condition,
                      long long a);
  static void assure1(bool flag, Text file, Text function, unsigned line, bool condition, Text a);
  static void assure2(bool flag, Text file, Text function, unsigned line, bool condition,
                      long long a, long long b);
  static void assure2(bool flag, Text file, Text function, unsigned line, bool condition,
                      long long a, Text b);
  static void assure2(bool flag, Text file, Text function, unsigned line, bool condition, Text a,
                      long long b);
  static void assure2(bool flag, Text file, Text function, unsigned line, bool condition, Text a,
                      Text b);

  // Reports when the condition is true.
  static void avoid0(bool flag, Text file, Text function, unsigned line, bool condition);
  static void avoid1(bool flag, Text file, Text function, unsigned line, bool condition,
                     long long a);
  static void avoid1(bool flag, Text file, Text function, unsigned line, bool condition, Text a);
  static void avoid2(bool flag, Text file, Text function, unsigned line, bool condition,
                     long long a, long long b);
  static void avoid2(bool flag, Text file, Text function, unsigned line, bool condition,
                     long long a, Text b);
  static void avoid2(bool flag, Text file, Text function, unsigned line, bool condition, Text a,
                     long long b);
  static void avoid2(bool flag, Text file, Text function, unsigned line, bool condition, Text a,
                     Text b);

  // Report when the code is not 0, with the expression text.
  static void trapret0(bool flag, Text file, Text function, unsigned line, Text expression,
                       unsigned long code);
  static void trapret1(bool flag, Text file, Text function, unsigned line, Text expression,
                       unsigned long code, long long a);
  static void trapret1(bool flag, Text file, Text function, unsigned line, Text expression,
                       unsigned long code, Text a);
  static void trapret2(bool flag, Text file, Text function, unsigned line, Text expression,
                       unsigned long code, long long a, long long b);
  static void trapret2(bool flag, Text file, Text function, unsigned line, Text expression,
                       unsigned long code, long long a, Text b);
  static void trapret2(bool flag, Text file, Text function, unsigned line, Text expression,
                       unsigned long code, Text a, long long b);
  static void trapret2(bool flag, Text file, Text function, unsigned line, Text expression,
                       unsigned long code, Text a, Text b);

  // Report when the code is not 0, without an expression text (it is passed as null).
  static void trapec0(bool flag, Text file, Text function, unsigned line, unsigned long code);
  static void trapec1(bool flag, Text file, Text function, unsigned line, unsigned long code,
                      long long a);
  static void trapec1(bool flag, Text file, Text function, unsigned line, unsigned long code,
                      Text a);
  static void trapec2(bool flag, Text file, Text function, unsigned line, unsigned long code,
                      long long a, long long b);
  static void trapec2(bool flag, Text file, Text function, unsigned line, unsigned long code,
                      long long a, Text b);
  static void trapec2(bool flag, Text file, Text function, unsigned line, unsigned long code,
                      Text a, long long b);
  static void trapec2(bool flag, Text file, Text function, unsigned line, unsigned long code,
                      Text a, Text b);

  // The platform's report shorthands. Each makes one report and returns when the report does.
  static void panic1(bool flag, Text file, Text function, unsigned line, Text text);
  static void panic1(bool flag, Text file, Text function, unsigned line, long long value);
  static void panic1Ec(bool flag, Text file, Text function, unsigned line, Text text,
                       unsigned long code);
  static void panic2(bool flag, Text file, Text function, unsigned line, Text text,
                     long long value);

 private:
  friend struct kestle_detail::Reporter;

  // The platform's two report operations. Library code reaches them through
  // kestle_detail::Reporter (platform/report.h), with these argument orders.
  static void PanicMe(bool flag, Text file, Text function, unsigned line, Text text1, Text text2,
                      unsigned long code);
  static void TrapretMe(bool flag, Text file, Text function, unsigned line, Text expression,
                        unsigned long code, Text text1, Text text2);
};
