// The library's own access to the platform's report operations. Library code reports through
// Reporter::PanicMe / TrapretMe with the argument orders of SysFailure, or through the public
// shorthands panic1, panic1Ec and panic2.
#pragma once

#include "kestle/failure.h"

namespace kestle_detail {
struct Reporter {
  using Text = wchar_t const*;
  static void PanicMe(bool flag, Text file, Text function, unsigned line, Text text1, Text text2,
                      unsigned long code) {
    SysFailure::PanicMe(flag, file, function, line, text1, text2, code);
  }
  static void TrapretMe(bool flag, Text file, Text function, unsigned line, Text expression,
                        unsigned long code, Text text1, Text text2) {
    SysFailure::TrapretMe(flag, file, function, line, expression, code, text1, text2);
  }
};
}  // namespace kestle_detail
