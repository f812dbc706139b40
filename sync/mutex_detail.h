// Helpers shared by the two mutex classes: the name copy and the self-test reports.
#pragma once

#include <cwchar>

namespace kestle_detail {

// Keeps at most 30 characters of name in a 31-character field, zero-filling the rest (a null
// name is taken as ""), so the field is always terminated.
inline void copyMutexName(wchar_t (&field)[31], wchar_t const* name) {
  std::size_t n = 0;
  if (name != nullptr) {
    while (n < 30 && name[n] != L'\0') {
      field[n] = name[n];
      ++n;
    }
  }
  for (; n < 31; ++n)
    field[n] = L'\0';
}

// The report of an obtain by the thread that already holds the mutex: the name and the owner id
// in signed decimal.
void reportRecursiveObtain(wchar_t const* file, wchar_t const* function, unsigned line,
                           wchar_t const* name, int owner);

}  // namespace kestle_detail
